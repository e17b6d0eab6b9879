#!/bin/bash
# Installs from Debian what the build and the tests need, when it is missing,
# and fetches the sources of libogg and libvorbis (Debian's source packages)
# into third_party/, which git ignores and the CMake build compiles.
# Quiet and quick when everything is there already.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
third_party="${KORVANTA_THIRD_PARTY_DIR:-$root/third_party}"

packages=(
  cmake ninja-build git python3
  # apt-get source unpacks and patches with dpkg-source.
  dpkg-dev xz-utils
  mingw-w64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64
  # Wine only recommends these, but Direct3D, display modes and input need them.
  libgl1 libxrandr2 libxi6 libxrender1 libxcursor1 libxinerama1
  xvfb xauth libgl1-mesa-dri x11-utils xdotool imagemagick
  # Wine only recommends it: the menu's faces ("Trebuchet MS", "Arial") and
  # their arrows and umlauts come from its sans face.
  fonts-liberation
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

# The decoder libraries are compiled from Debian's sources: apt-get source
# needs a deb-src entry, made from the machine's own deb entries.
have_sources() {
  compgen -G "$third_party/libogg-*/include/ogg/ogg.h" >/dev/null &&
    compgen -G "$third_party/libvorbis-*/lib/vorbisfile.c" >/dev/null
}

add_deb_src() {
  if grep -qs '^Types:.*deb-src' /etc/apt/sources.list.d/*.sources ||
     grep -qs '^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list; then
    return 1
  fi
  local made=0
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    sed -n '/^Types:.*\bdeb\b/,/^$/p' "$f" | sed 's/^Types:.*/Types: deb-src/' \
      >>/etc/apt/sources.list.d/korvanta-deb-src.sources
    echo >>/etc/apt/sources.list.d/korvanta-deb-src.sources
    made=1
  done
  if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >/etc/apt/sources.list.d/korvanta-deb-src.list
    made=1
  fi
  [ "$made" = 1 ]
}

fetch_sources() {
  local work
  work=$(mktemp -d "$third_party/.fetch.XXXXXX")
  if ! (cd "$work" && apt-get source -qq libogg libvorbis >/dev/null 2>&1); then
    rm -rf "$work"
    return 1
  fi
  for d in "$work"/libogg-* "$work"/libvorbis-*; do
    [ -d "$d" ] && rm -rf "$third_party/$(basename "$d")" && mv "$d" "$third_party/"
  done
  rm -rf "$work"
}

if ! have_sources; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: the libogg and libvorbis sources are missing (run as root to fetch them)" >&2
    exit 1
  fi
  mkdir -p "$third_party"
  # One fetch at a time on this machine: worktrees and builds may run side by side.
  exec 8>/var/lock/korvanta-setup.lock
  flock 8
  if ! have_sources; then
    echo "setup: fetching the libogg and libvorbis sources into $third_party"
    export DEBIAN_FRONTEND=noninteractive
    if add_deb_src; then
      apt-get update -qq
    fi
    if ! fetch_sources; then
      apt-get update -qq
      fetch_sources || { echo "setup: apt-get source libogg libvorbis failed" >&2; exit 1; }
    fi
  fi
  flock -u 8
fi
