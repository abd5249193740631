#!/usr/bin/env bash
# Builds the release configuration and runs the benchmarks. Arguments go to
# Google Benchmark (for example --benchmark_repetitions=3).
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$repo/build/release"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target scan_bench -j2 >/dev/null
"$build/bench/scan_bench" "$@"
