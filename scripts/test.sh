#!/bin/bash
# Sets up, builds and runs every test under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${KORVANTA_BUILD_DIR:-$root/build}"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" "$@"
