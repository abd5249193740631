#!/usr/bin/env bash
# Builds talmera-repair-gui (build/release) and opens the window. With a FILE,
# the selection dialog that opens at start-up proposes it; without one, a
# freshly generated demo database (build/release/demo/demo.mdb) is proposed.
# Press Repair to read it.
#
#   bash scripts/gui.sh [FILE]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bash "$repo/scripts/setup.sh"

build="$repo/build/release"
echo "Building talmera-repair-gui in build/release ..." >&2
configure "$build" RelWithDebInfo
cmake --build "$build" --target talmera-repair-gui talmera-jetwriter -j2 >/dev/null

file="${1:-}"
if [ -z "$file" ]; then
  mkdir -p "$build/demo"
  file="$build/demo/demo.mdb"
  "$build/jetwriter/talmera-jetwriter" demo --format jet4 "$file" >/dev/null
fi
exec "$build/ui/talmera-repair-gui" "$file"
