#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer and runs each for the given
# number of seconds (default 60), with AddressSanitizer and
# UndefinedBehaviorSanitizer stopping at the first report. Exits non-zero on
# any finding (a crash, a sanitizer report, a leak, a timeout, running out of
# memory); the inputs that caused them stay in build/fuzz/artifacts/.
#
#   fuzz/run.sh [SECONDS [TARGET...]]
#
# SECONDS is per target: every target of fuzz/CMakeLists.txt runs that long
# one after the other, or only the TARGETs named (fuzz_row or row). What each
# run found stays in build/fuzz/corpus/<structure>/ for the next run.
#
# Seeds are made at each run in fuzz/seeds/ (not kept in the repository):
# fuzz/seeds/file/ holds whole databases (the writer's, of every format,
# encrypted ones too, and the real files of the corpus up to the length the
# targets take); tools/talmera-seeds cuts fuzz/seeds/<structure>/ out of the
# same files, and fuzz/seeds/sql/ holds the SQL the msysqueries target
# rebuilds from its seeds. The whole-file target fuzz_scan takes
# fuzz/seeds/file/; any other target fuzz_<structure> takes
# fuzz/seeds/<structure>/ when there is one, else the whole files.
set -euo pipefail
seconds="${1:-60}"
shift || true
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$repo/build/fuzz"
max_len=1048576
CC=clang CXX=clang++ cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTALMERA_FUZZ=ON -DTALMERA_TESTS=OFF -DTALMERA_BENCH=OFF >/dev/null
all=$(sed -n 's/^talmera_fuzz_target(\([A-Za-z0-9_]*\) .*/fuzz_\1/p' "$repo/fuzz/CMakeLists.txt")
targets=""
if [ $# -eq 0 ]; then
  targets="$all"
else
  for name in "$@"; do
    name="fuzz_${name#fuzz_}"
    if ! grep -qx "$name" <<<"$all"; then
      echo "no fuzz target $name (there are: $(echo $all))" >&2
      exit 64
    fi
    targets="$targets $name"
  done
fi
# shellcheck disable=SC2086
cmake --build "$build" --target $targets fuzz_msysqueries talmera-jetwriter -j2 >/dev/null

seeds="$repo/fuzz/seeds"
files="$seeds/file"
rm -rf "$seeds"
mkdir -p "$files"
writer="$build/jetwriter/talmera-jetwriter"
for format in jet3 jet4 ace; do
  "$writer" demo --format "$format" "$files/demo-$format.mdb" >/dev/null
  "$writer" demo --object-storage --format "$format" "$files/objects-$format.mdb" >/dev/null
done
# Encrypted seeds, password "password" (the target answers it); a short spin
# keeps the agile key derivation quick.
"$writer" demo --format jet4 --encrypt rc4 "$files/rc4-jet4.mdb" >/dev/null
for method in standard standard-aes agile; do
  "$writer" demo --format ace --encrypt "$method" --password password --spin-count 100 \
    "$files/$method-ace.accdb" >/dev/null
done
# The real files: ../shared/ beside the repository, or TALMERA_SHARED_DIR.
shared="${TALMERA_SHARED_DIR:-$repo/../shared}"
corpus="$shared/corpus"
if [ -d "$corpus" ]; then
  # Every real file the targets take whole (a longer one would be cut to
  # max_len); the names are made unique by their folders.
  while IFS= read -r -d '' file; do
    name="${file#"$corpus"/}"
    cp "$file" "$files/${name//\//_}"
  done < <(find "$corpus" \( -name '*.mdb' -o -name '*.accdb' \) -size -$((max_len + 1))c -print0)
fi
# The structures, cut from the plain files (the encrypted ones hold no
# readable structure); the corpus's larger files are cut too.
plain=()
while IFS= read -r -d '' file; do plain+=("$file"); done \
  < <(find "$files" -type f ! -name 'rc4-*' ! -name 'standard*' ! -name 'agile-*' -print0)
if [ -d "$corpus" ]; then
  while IFS= read -r -d '' file; do plain+=("$file"); done \
    < <(find "$corpus" \( -name '*.mdb' -o -name '*.accdb' \) -size +"$max_len"c -print0)
fi
# The system's Python has olefile (python3-olefile), which opens the compound files.
python=/usr/bin/python3
[ -x "$python" ] || python=python3
encrypted=()
while IFS= read -r -d '' file; do encrypted+=("$file"); done \
  < <(find "$files" -type f \( -name 'rc4-*' -o -name 'standard*' -o -name 'agile-*' \) -print0)
if [ -d "$shared/encrypted" ]; then
  while IFS= read -r -d '' file; do encrypted+=("$file"); done \
    < <(find "$shared/encrypted" \( -name '*.mdb' -o -name '*.accdb' \) -print0)
fi
"$python" "$repo/tools/talmera-seeds" "$seeds" "${plain[@]}" --encrypted "${encrypted[@]}"
# The sql target's seeds: the statements the saved queries of the seeds rebuild to.
mkdir -p "$seeds/sql"
TALMERA_FUZZ_SQL_SEEDS="$seeds/sql" "$build/fuzz/fuzz_msysqueries" -runs=0 "$seeds/msysqueries" >/dev/null 2>&1 || true
echo "sql           $(find "$seeds/sql" -type f | wc -l) seeds"

artifacts="$build/artifacts"
rm -rf "$artifacts"
mkdir -p "$artifacts"
export ASAN_OPTIONS="${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}"
# The libraries are built with recovering checks: halting here makes a report
# of undefined behaviour a finding rather than a line of output.
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"

status=0
cd "$build"
for target in $targets; do
  structure="${target#fuzz_}"
  input="$files"
  if [ "$target" != fuzz_scan ] && [ -d "$seeds/$structure" ]; then
    input="$seeds/$structure"
  fi
  work="$build/corpus/$structure"
  mkdir -p "$work"
  echo "== $target: $seconds s, seeds from ${input#"$repo"/}"
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -max_len="$max_len" -timeout=30 \
      -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$artifacts/$target-" "$work" "$input"; then
    status=1
  fi
done

findings=$(find "$artifacts" -type f \( -name '*crash-*' -o -name '*leak-*' -o -name '*timeout-*' -o -name '*oom-*' \))
if [ -n "$findings" ]; then
  echo "Findings (kept in ${artifacts#"$repo"/}):" >&2
  echo "$findings" >&2
  status=1
fi
exit "$status"
