#!/usr/bin/env bash
# Builds talmera-repair (build/release) and scans the given Access files, or,
# without a file, a freshly generated demo database.
#
#   bash scripts/repair.sh [FILE...] [SCAN OPTIONS...]
#
# The leading arguments that do not start with "-" are files; everything from
# the first option on is passed to each scan (e.g. --deleted --codepage 1251).
# The exit status is the highest status of the scans.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bash "$repo/scripts/setup.sh"

files=()
while [ $# -gt 0 ] && [ "${1:0:1}" != "-" ]; do
  files+=("$1")
  shift
done

# The writer is needed only for the demo database.
targets=(talmera-repair)
if [ ${#files[@]} -eq 0 ]; then targets+=(talmera-jetwriter); fi

build="$repo/build/release"
echo "Building ${targets[*]} in build/release ..." >&2
configure "$build" RelWithDebInfo
cmake --build "$build" --target "${targets[@]}" -j2 >/dev/null

if [ ${#files[@]} -eq 0 ]; then
  demo_dir="$(mktemp -d)"
  trap 'rm -rf "$demo_dir"' EXIT
  "$build/jetwriter/talmera-jetwriter" demo --format jet4 "$demo_dir/demo.mdb" >/dev/null
  files=("$demo_dir/demo.mdb")
fi

result=0
for file in "${files[@]}"; do
  status=0
  "$build/cli/talmera-repair" scan "$file" "$@" || status=$?
  if [ "$status" -gt "$result" ]; then result=$status; fi
done
exit "$result"
