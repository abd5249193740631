# Shared by repair.sh and test.sh: the repository's location and the
# configure step of a build folder. Sourced, not run.

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# configure DIR BUILD_TYPE [CMAKE_ARGS...]
# Ninja when it is installed; an already configured folder keeps its generator,
# since CMake refuses to switch.
configure() {
  local dir="$1" type="$2"
  shift 2
  local generator=()
  if [ ! -f "$dir/CMakeCache.txt" ] && command -v ninja >/dev/null 2>&1; then
    generator=(-G Ninja)
  fi
  cmake -S "$repo" -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE="$type" "$@" >/dev/null
}
