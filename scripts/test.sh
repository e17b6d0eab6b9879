#!/bin/bash
# Sets up, builds and runs every test under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${KORVANTA_BUILD_DIR:-$root/build}"
"$root/scripts/setup.sh"
# The built-in text tables are generated from their sources: both must agree.
python3 "$root/Resources/Text/make_tables.py" --check
"$root/scripts/build.sh"
# The device tests keep the views they check here.
export KORVANTA_SCREENSHOTS="$(realpath -m "$build")/screenshots"
rm -rf "$KORVANTA_SCREENSHOTS"
mkdir -p "$KORVANTA_SCREENSHOTS"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" "$@"
