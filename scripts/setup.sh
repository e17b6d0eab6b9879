#!/bin/bash
# Installs from Debian what the build and the tests need, when it is missing.
# Quiet and quick when everything is there already.
set -euo pipefail

packages=(
  cmake ninja-build git python3
  mingw-w64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64
  # Wine only recommends these, but Direct3D, display modes and input need them.
  libgl1 libxrandr2 libxi6 libxrender1 libxcursor1 libxinerama1
  xvfb xauth libgl1-mesa-dri x11-utils xdotool imagemagick
  googletest
  python3-pyftpdlib
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi
