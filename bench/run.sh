#!/usr/bin/env bash
# Builds the benchmarks in the release configuration (RelWithDebInfo) and runs
# them.
#
#   bash bench/run.sh [scan|decode|save|preview] [Google Benchmark options]
#
#   scan     only scan_bench: the page walk and catalog scan of a large file
#   decode   only decode_bench: every row of a large table decoded (save and
#            preview), beside mdb-export and a plain read of the same file
#   save     only save_bench: the whole repair of a large table into SQLite,
#            beside mdb-schema + mdb-export -I sqlite piped into sqlite3
#   memory   only memory_bench: the peak memory of the repair and the preview
#            of a large file, as processes
#   preview  only preview_bench: a large table previewed in the window's grid,
#            beside the command line's preview of it (needs Qt 6)
#   scale    only scale_bench: the repair at 100k, 1M, 3M and 10M rows of both
#            benchmark files in Jet 4 and ACE, as a table (rows per second,
#            peak memory, output size); not part of the default run, it
#            generates about 7 GB of inputs and takes several minutes
#   (none)   all five above but scale
#
# After the benchmarks it prints the ratios: the repair's speed against the
# mdbtools pipeline and its output's size against the pipeline's, decoding
# against mdb-export, and the peak memory against the 100 MiB allowed (the
# best time of each benchmark where they are repeated).
#
# Examples:
#   bash bench/run.sh
#   bash bench/run.sh decode --benchmark_repetitions=3
#   TALMERA_DECODE_ROWS=3000000 bash bench/run.sh decode --benchmark_filter=Decode
#
# Environment:
#   TALMERA_BENCH_ROWS   rows of scan_bench's big table (default 3000000)
#   TALMERA_DECODE_ROWS  rows of decode_bench's table (default 1000000)
#   TALMERA_SAVE_ROWS    rows of save_bench's table (default 1000000)
#   TALMERA_MEMORY_ROWS  rows of memory_bench's file (default 3000000)
#   TALMERA_PREVIEW_ROWS rows of preview_bench's table (default 1000000)
#   TALMERA_SCALE_ROWS   scale_bench's row counts (default 100000,1000000,3000000,10000000)
#   TALMERA_BUILD_DIR    build folder (default build/release in the repository)
#
# Input files are generated once with talmera-jetwriter and kept in the temp
# folder as talmera-<subcommand>-<format>-<rows>.mdb; delete them after
# changing the writer's benchmark tables.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${TALMERA_BUILD_DIR:-$repo/build/release}"
benches=(scan_bench decode_bench save_bench memory_bench preview_bench)
case "${1:-}" in
  scan) benches=(scan_bench); shift ;;
  decode) benches=(decode_bench); shift ;;
  save) benches=(save_bench); shift ;;
  memory) benches=(memory_bench); shift ;;
  preview) benches=(preview_bench); shift ;;
  scale) benches=(scale_bench); shift ;;
esac
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# preview_bench exists only where the window is built (Qt 6 Widgets).
if ! cmake --build "$build" --target help | grep -q '\bpreview_bench\b'; then
  kept=()
  for bench in "${benches[@]}"; do [[ $bench == preview_bench ]] || kept+=("$bench"); done
  benches=("${kept[@]}")
fi
cmake --build "$build" --target "${benches[@]}" -j2 >/dev/null
results="$(mktemp -d)"
trap 'rm -rf "$results"' EXIT
for bench in "${benches[@]}"; do
  "$build/bench/$bench" --benchmark_out="$results/$bench.json" --benchmark_out_format=json "$@"
done
python3 "$repo/bench/ratios.py" "$results"/*.json
