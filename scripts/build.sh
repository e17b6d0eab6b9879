#!/bin/bash
# Configures (once) and builds Korvanta for Windows x64 into build/: all of it,
# or only the targets named as arguments (passed on to cmake --build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${KORVANTA_BUILD_DIR:-$root/build}"
# The build compiles libogg and libvorbis from sources that setup fetches.
if ! compgen -G "${KORVANTA_THIRD_PARTY_DIR:-$root/third_party}/libvorbis-*/lib" >/dev/null ||
   ! compgen -G "${KORVANTA_THIRD_PARTY_DIR:-$root/third_party}/libogg-*/src" >/dev/null; then
  "$root/scripts/setup.sh"
fi
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" >/dev/null
fi
# The build runs the content builder under Wine: on a private Xvfb display of
# its own (wine-run.sh makes one when DISPLAY is not set), never on the user's.
env -u DISPLAY cmake --build "$build" "$@"
