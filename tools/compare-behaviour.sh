#!/usr/bin/env bash
# Shows that a change of structure changed no behaviour: builds talmera-repair
# at an earlier commit (in a temporary worktree) and in this working tree, runs
# both on the same files (every file of ../shared/corpus beside the repository
# or its main checkout, or of TALMERA_SHARED_DIR/corpus, and demo databases of
# each format written by this tree's talmera-jetwriter), and compares what they
# print and save (tools/behaviour-snapshot.sh). Exits 0 when they agree; else
# prints the differences and exits 1.
#
#   bash tools/compare-behaviour.sh [REV] [--keep DIR]
#
# REV defaults to HEAD (compare the uncommitted work with the last commit).
# Extra files to compare can be given with TALMERA_COMPARE_FILES="a.mdb b.accdb".
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"

rev="HEAD"
keep=""
while [ $# -gt 0 ]; do
  case "$1" in
    --keep) keep="$2"; shift 2 ;;
    *) rev="$1"; shift ;;
  esac
done

work="${keep:-$(mktemp -d)}"
mkdir -p "$work"
[ -n "$keep" ] || trap 'git -C "$repo" worktree remove --force "$work/before-src" >/dev/null 2>&1; rm -rf "$work"' EXIT

echo "Building this tree ..." >&2
configure "$repo/build/release" RelWithDebInfo
cmake --build "$repo/build/release" --target talmera-repair talmera-jetwriter -j2 >/dev/null

echo "Building $rev ..." >&2
if [ ! -d "$work/before-src" ]; then
  git -C "$repo" worktree add --detach "$work/before-src" "$rev" >/dev/null 2>&1
fi
cmake -S "$work/before-src" -B "$work/before-build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTALMERA_TESTS=OFF -DTALMERA_BENCH=OFF -DTALMERA_SKIP=ui >/dev/null
cmake --build "$work/before-build" --target talmera-repair -j2 >/dev/null

inputs="$work/inputs"
mkdir -p "$inputs"
writer="$repo/build/release/jetwriter/talmera-jetwriter"
for format in jet3 jet4 ace; do
  "$writer" demo --format "$format" --object-storage "$inputs/demo-$format.mdb" >/dev/null
done
files=("$inputs"/*)
# The real files: ../shared/ beside the repository (or, from a worktree, beside
# its main checkout), or TALMERA_SHARED_DIR.
shared="${TALMERA_SHARED_DIR:-$repo/../shared}"
if [ -z "${TALMERA_SHARED_DIR:-}" ] && [ ! -d "$shared" ]; then
  common="$(git -C "$repo" rev-parse --path-format=absolute --git-common-dir 2>/dev/null || true)"
  [ -n "$common" ] && shared="$(dirname "$common")/../shared"
fi
corpus="$shared/corpus"
if [ -d "$corpus" ]; then
  while IFS= read -r f; do files+=("$f"); done < <(find "$corpus" -type f \( -name '*.mdb' -o -name '*.accdb' \) | sort)
fi
for f in ${TALMERA_COMPARE_FILES:-}; do files+=("$f"); done

snapshot="$(dirname "${BASH_SOURCE[0]}")/behaviour-snapshot.sh"
echo "Running both on ${#files[@]} files ..." >&2
rm -rf "$work/before" "$work/after"
bash "$snapshot" "$work/before-build/cli/talmera-repair" "$work/before" "${files[@]}"
bash "$snapshot" "$repo/build/release/cli/talmera-repair" "$work/after" "${files[@]}"

if diff -r "$work/before" "$work/after" >"$work/differences"; then
  echo "Same behaviour on ${#files[@]} files: catalog, queries, previews and repaired output agree."
  exit 0
fi
head -n 200 "$work/differences"
echo "Behaviour differs (full list: $work/differences with --keep)." >&2
exit 1
