#!/usr/bin/env bash
# Builds talmera-repair (build/release) and repairs the given Access files:
# each is scanned and what was found is saved into a new SQLite database,
# Repaired_<name>.sqlite beside it (or in --output-dir DIR). Without a file it
# repairs a freshly generated demo database into build/release/demo-output.
#
#   bash scripts/repair.sh [FILE...] [REPAIR OPTIONS...]
#
# The leading arguments that do not start with "-" are files; everything from
# the first option on is passed to each repair (e.g. --deleted --codepage 1251
# --overwrite --log report). The last line of each repair says where its
# output is. The exit status is the highest status of the repairs.
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

options=("$@")
if [ ${#files[@]} -eq 0 ]; then
  demo_dir="$(mktemp -d)"
  trap 'rm -rf "$demo_dir"' EXIT
  "$build/jetwriter/talmera-jetwriter" demo --format jet4 --object-storage "$demo_dir/demo.mdb" >/dev/null
  files=("$demo_dir/demo.mdb")
  # The demo's output goes to the build folder, where the next run replaces
  # it (unless the options say otherwise).
  case " ${options[*]} " in
    *" --output-dir "*) ;;
    *)
      mkdir -p "$build/demo-output"
      options+=(--output-dir "$build/demo-output")
      ;;
  esac
  case " ${options[*]} " in
    *" --overwrite "* | *" --rename "*) ;;
    *) options+=(--overwrite) ;;
  esac
fi

result=0
for file in "${files[@]}"; do
  status=0
  "$build/cli/talmera-repair" repair "$file" "${options[@]}" || status=$?
  if [ "$status" -gt "$result" ]; then result=$status; fi
done
exit "$result"
