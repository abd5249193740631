#!/usr/bin/env bash
# Starts the window under a virtual X server (Xvfb), drives it through its
# main states on the demo database and saves a picture of each state into
# docs/screenshots/ (or the folder given).
#
#   bash tools/screenshots.sh [OUTPUT_FOLDER]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"

bash "$repo/scripts/setup.sh"
out="$(realpath -m "${1:-$repo/docs/screenshots}")"
build="$repo/build/release"
configure "$build" RelWithDebInfo
cmake --build "$build" -j2 --target talmera-gui-screenshots talmera-jetwriter

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/demo" "$work/saved"
# The demo database with one page of Orders zeroed, so that the report and
# the page map have a loss to show.
layout="$("$build/jetwriter/talmera-jetwriter" demo --format jet4 --print-layout "$work/demo/plain.mdb")"
page="$(printf '%s' "$layout" | python3 -c 'import json, sys
layout = json.loads(sys.stdin.read().split("\nwrote")[0])
pages = next(t for t in layout["tables"] if t["name"] == "Orders")["dataPages"]
print(pages[len(pages) // 2])')"
rm "$work/demo/plain.mdb"
"$build/jetwriter/talmera-jetwriter" demo --format jet4 --zero-page "$page" "$work/demo/shop.mdb" >/dev/null

# A display of its own; the window fills it.
export QT_QPA_PLATFORM=xcb
xvfb-run --auto-servernum --server-args="-screen 0 1360x860x24" \
  "$build/ui/talmera-gui-screenshots" "$work/demo/shop.mdb" "$out" "$work/saved"
