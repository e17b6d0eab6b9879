#!/bin/bash
# Configures (once) and builds Korvanta for Windows x64 into build/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${KORVANTA_BUILD_DIR:-$root/build}"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" >/dev/null
fi
cmake --build "$build"
