#!/usr/bin/env bash
# Installs every Debian package Lockvane needs to build and test, then configures and builds.
#   ./setup.sh               release build in ./build
#   BUILD_DIR=build-asan CMAKE_ARGS=-DLOCKVANE_SANITIZE=ON ./setup.sh
set -euo pipefail
cd "$(dirname "$0")"

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libxcb1-dev libbotan-2-dev zlib1g-dev libdeflate-dev googletest libgtest-dev
  # the windows under test: a real X server, a private session bus, fonts and icons
  xvfb xauth dbus desktop-file-utils shared-mime-info fonts-dejavu-core adwaita-icon-theme
  # keys and clicks sent through the X server to the running program (XTest), once more under a
  # window manager
  xdotool openbox
  # tools the tests use to check archives from the outside
  unzip zip libarchive-tools 7zip macutils python3 attr argon2 python3-cryptography
  # bench/compare.sh times the program beside zip | openssl, tar | pigz | openssl and 7zz
  openssl pigz time
  # the zip reader's fuzz target (skipped when absent)
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Run ./setup.sh as root (or install sudo) to install: ${missing[*]}" >&2; exit 1; }
    sudo_cmd=(sudo)
  fi
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi

build_dir=${BUILD_DIR:-build}
# shellcheck disable=SC2086
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} ${CMAKE_ARGS:-}
cmake --build "$build_dir" -j"$(nproc)"
