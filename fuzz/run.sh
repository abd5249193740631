#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer and runs each for the given
# number of seconds (default 60), with AddressSanitizer and
# UndefinedBehaviorSanitizer stopping at the first report. Exits non-zero on
# any finding (a crash, a sanitizer report, a leak, a timeout, running out of
# memory); the inputs that caused them stay in build/fuzz/artifacts/.
#
# Seeds are made at each run in fuzz/seeds/ (not kept in the repository):
# fuzz/seeds/file/ holds whole databases (the writer's, of every format,
# encrypted ones too, and the real files of the corpus up to the length the
# targets take); tools/talmera-seeds cuts fuzz/seeds/<structure>/ out of the
# same files. The whole-file target fuzz_scan takes fuzz/seeds/file/; any
# other target fuzz_<structure> takes fuzz/seeds/<structure>/ when there is
# one, else the whole files.
set -euo pipefail
seconds="${1:-60}"
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$repo/build/fuzz"
max_len=1048576
CC=clang CXX=clang++ cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTALMERA_FUZZ=ON -DTALMERA_TESTS=OFF -DTALMERA_BENCH=OFF >/dev/null
targets=$(sed -n 's/^add_executable(\(fuzz_[A-Za-z0-9_]*\).*/\1/p' "$repo/fuzz/CMakeLists.txt")
# shellcheck disable=SC2086
cmake --build "$build" --target $targets talmera-jetwriter -j2 >/dev/null

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
corpus="$repo/../shared/corpus"
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
"$python" "$repo/tools/talmera-seeds" "$seeds" "${plain[@]}"

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
