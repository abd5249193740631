#!/usr/bin/env bash
# Builds and runs every test twice: an optimised build (build/release) and a
# Debug build with AddressSanitizer and UndefinedBehaviorSanitizer
# (build/asan); the window's run-and-message tests under ThreadSanitizer
# (build/tsan); then the short fuzz run when fuzz/run.sh exists. Every stage
# runs even after a failure; the exit status is non-zero if any failed.
#
# Tests that need the real Access files look for them in ../shared/corpus
# beside the repository and skip when it is absent.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bash "$repo/scripts/setup.sh"

export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"

failed=()

# run_build NAME BUILD_TYPE [CMAKE_ARGS...]
run_build() {
  local name="$1" type="$2"
  shift 2
  local dir="$repo/build/$name"
  echo "== $name: build ($type)"
  if ! configure "$dir" "$type" "$@" || ! cmake --build "$dir" -j2; then
    failed+=("$name build")
    return
  fi
  echo "== $name: tests"
  # Tests labelled "pending" assert behaviour still to be built; they run on
  # demand (ctest -L pending).
  if ! (cd "$dir" && ctest --output-on-failure -j2 -LE pending); then
    failed+=("$name tests")
  fi
}

run_build release RelWithDebInfo -DTALMERA_SANITIZE=OFF
run_build asan Debug -DTALMERA_SANITIZE=ON

# ThreadSanitizer over the window's runs, messages and row feed: the window tests only,
# in their own build folder (only what they need is built).
echo "== tsan: window tests"
tsan_dir="$repo/build/tsan"
if ! configure "$tsan_dir" Debug -DTALMERA_TSAN=ON -DTALMERA_SANITIZE=OFF -DTALMERA_BENCH=OFF ||
   ! cmake --build "$tsan_dir" -j2 --target ui_window_tests ui_preview_tests ||
   ! (cd "$tsan_dir" && ctest --output-on-failure -R '^ui_(window|preview)_tests$'); then
  failed+=("tsan window tests")
fi

if [ -f "$repo/fuzz/run.sh" ]; then
  # A few seconds of each structure's target: enough to replay the seeds and
  # mutate them a little; the campaigns run longer by hand.
  echo "== fuzz: 5 s per target"
  if ! bash "$repo/fuzz/run.sh" 5; then
    failed+=("fuzz")
  fi
fi

if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]}" >&2
  exit 1
fi
echo "All stages passed."
