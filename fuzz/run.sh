#!/usr/bin/env bash
# Builds the fuzz target with clang and libFuzzer and runs it for the given
# number of seconds (default 60), seeded with generated databases and, when
# present, the real files of the corpus. Exits non-zero on any finding.
set -euo pipefail
seconds="${1:-60}"
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$repo/build/fuzz"
CC=clang CXX=clang++ cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTALMERA_FUZZ=ON -DTALMERA_TESTS=OFF -DTALMERA_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_scan talmera-jetwriter -j2 >/dev/null

seeds="$build/seeds"
work="$build/corpus"
rm -rf "$seeds"
mkdir -p "$seeds" "$work"
for format in jet3 jet4 ace; do
  "$build/jetwriter/talmera-jetwriter" demo --format "$format" "$seeds/demo-$format.mdb" >/dev/null
  "$build/jetwriter/talmera-jetwriter" demo --object-storage --format "$format" "$seeds/objects-$format.mdb" >/dev/null
done
# Encrypted seeds, password "password" (the target answers it); a short spin
# keeps the agile key derivation quick.
"$build/jetwriter/talmera-jetwriter" demo --format jet4 --encrypt rc4 "$seeds/rc4-jet4.mdb" >/dev/null
for method in standard standard-aes agile; do
  "$build/jetwriter/talmera-jetwriter" demo --format ace --encrypt "$method" --password password --spin-count 100 \
    "$seeds/$method-ace.accdb" >/dev/null
done
corpus="$repo/../shared/corpus"
if [ -d "$corpus" ]; then
  find "$corpus" \( -name '*.mdb' -o -name '*.accdb' \) -size -1M -exec cp {} "$seeds/" \; 2>/dev/null || true
fi
cd "$build"
"$build/fuzz/fuzz_scan" -max_total_time="$seconds" -max_len=1048576 -timeout=30 \
  -rss_limit_mb=4096 -print_final_stats=1 "$work" "$seeds"
