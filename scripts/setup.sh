#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, when they are
# missing. Prints nothing when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  nlohmann-json3-dev libcli11-dev
  zlib1g-dev libsqlite3-dev
  # Encrypted databases: the ciphers and digests, and the agile encryption's XML.
  nettle-dev libexpat1-dev
  mdbtools sqlite3
  # The manual page is checked with groff and man; the completion script with bash.
  groff-base man-db bash
  # The export's sql dumps are loaded into real servers by tests/export.
  postgresql mariadb-server mariadb-client
  python3-olefile
  # The damage tool and matrix; the output-fault tests mount a small tmpfs in a namespace of their own.
  python3 util-linux mount
  clang libclang-rt-14-dev
  # The window (talmera-repair-gui), its tests, and its screenshots under a virtual display.
  qt6-base-dev xvfb xauth
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg -s "$package" 2>/dev/null | grep -q '^Status: install ok installed'; then
    missing+=("$package")
  fi
done
# Node and npm for the mdb-reader test oracle (the build installs the package
# into its folder). A Node that brings its own npm is kept as it is.
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  missing+=(nodejs npm)
fi
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "setup.sh: missing packages: ${missing[*]}; run this as root or install sudo" >&2
  exit 1
fi

echo "setup.sh: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
