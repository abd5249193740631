#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer and runs them, seeded with
# generated databases and, when present, the real files of the corpus: the
# whole scan for the given number of seconds (default 60), then the slot
# table and row frame for a third of that (at least 10 seconds), on the data
# pages of the same files. Exits non-zero on any finding.
set -euo pipefail
seconds="${1:-60}"
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$repo/build/fuzz"
CC=clang CXX=clang++ cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTALMERA_FUZZ=ON -DTALMERA_TESTS=OFF -DTALMERA_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_scan fuzz_page_rows talmera-jetwriter -j2 >/dev/null

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

# Page seeds: each data page (first byte 0x01) of the seed files, after the
# byte that chooses its layout (0x00 Jet 3, 0x01 Jet 4).
pageSeeds="$build/page-seeds"
pageWork="$build/page-corpus"
rm -rf "$pageSeeds"
mkdir -p "$pageSeeds" "$pageWork"
for file in "$seeds"/*; do
  version="$(od -An -tu1 -j20 -N1 "$file" | tr -d ' ')"
  if [ "${version:-0}" = "0" ]; then size=2048 choice='\x00'; else size=4096 choice='\x01'; fi
  pages=$(( $(stat -c %s "$file") / size ))
  for ((p = 0; p < pages && p < 64; p++)); do
    [ "$(od -An -tx1 -j$((p * size)) -N1 "$file" | tr -d ' ')" = "01" ] || continue
    { printf "$choice"; dd if="$file" bs="$size" skip="$p" count=1 2>/dev/null; } >"$pageSeeds/$(basename "$file")-$p"
  done
done
pageSeconds=$(( seconds / 3 > 10 ? seconds / 3 : 10 ))
"$build/fuzz/fuzz_page_rows" -max_total_time="$pageSeconds" -max_len=4097 -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 "$pageWork" "$pageSeeds"
