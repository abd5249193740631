#!/usr/bin/env bash
# Writes what one build of talmera-repair makes of a set of Access files, in a
# form that two builds can be compared by: the catalog and queries as JSON, the
# preview of every table (deleted-record tables too), and the repair's output
# database (schema, rows and metadata tables, dumped by sqlite3) with its log.
# Time stamps are blanked, since they differ from run to run.
#
#   bash tools/behaviour-snapshot.sh REPAIR_BINARY OUT_DIR FILE...
#
# Used by tools/compare-behaviour.sh; see there.
set -uo pipefail
repair="$1"
out="$2"
shift 2
mkdir -p "$out"

# Blank what changes from run to run: dates in log lines, the run's folder.
normalise() {
  sed -E \
    -e 's/(Monday|Tuesday|Wednesday|Thursday|Friday|Saturday|Sunday), [A-Z][a-z]+ [0-9]{2}, [0-9]{4},? +[0-9]{2}:[0-9]{2}:[0-9]{2} +(AM|PM)/<time>/g' \
    -e "s/('created_utc',)'[^']*'/\\1'<time>'/" \
    -e "s#$work#<work>#g"
}

for file in "$@"; do
  name="$(basename "$file")"
  dir="$out/$name"
  mkdir -p "$dir/preview"
  work="$(mktemp -d)"
  cp "$file" "$work/$name"
  src="$work/$name"
  "$repair" catalog "$src" --json --deleted >"$dir/catalog.json" 2>/dev/null
  echo "status $?" >>"$dir/status"
  "$repair" queries "$src" --json >"$dir/queries.json" 2>/dev/null
  echo "status $?" >>"$dir/status"
  # Every table the catalog lists, deleted-record tables included.
  python3 - "$dir/catalog.json" >"$work/tables" <<'EOF' || true
import json, sys
try:
    doc = json.load(open(sys.argv[1]))
except Exception:
    sys.exit(0)
for t in doc.get("tables", []):
    print(t["name"])
EOF
  n=0
  while IFS= read -r table; do
    n=$((n + 1))
    "$repair" preview "$src" "$table" --deleted >"$dir/preview/$n.tsv" 2>/dev/null
    echo "$table: status $?" >>"$dir/preview/index"
  done <"$work/tables"
  mkdir -p "$work/out"
  "$repair" repair "$src" --output-dir "$work/out" --overwrite --deleted 2>/dev/null | normalise >"$dir/repair.log"
  echo "repair status ${PIPESTATUS[0]}" >>"$dir/status"
  for db in "$work/out"/*.sqlite; do
    [ -f "$db" ] || continue
    sqlite3 "$db" .dump | normalise >"$dir/output.sql"
  done
  for folder in "$work/out"/*_objects; do
    [ -d "$folder" ] || continue
    (cd "$folder" && find . -type f -exec sha1sum {} + | sort -k2) >"$dir/objects.sha1"
  done
  rm -rf "$work"
done
