#!/bin/bash
# Sets up, builds and starts the game: on the user's display when DISPLAY is
# set, otherwise on a private Xvfb display (nothing to see, but it runs).
# The game runs from its install folder (the build folder, beside its Data folder)
# in the Wine prefix build/wineprefix, or the one KORVANTA_WINEPREFIX names.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${KORVANTA_BUILD_DIR:-$root/build}"
"$root/scripts/setup.sh"
# Only the game and its data: the tests and benchmarks are the test command's.
"$root/scripts/build.sh" --target Korvanta GameData
if [ ! -f "$build/Korvanta.exe" ]; then
  echo "play: $build/Korvanta.exe was not built" >&2
  exit 1
fi
mkdir -p "$build/Data"
cd "$build"
if [ -z "${DISPLAY:-}" ]; then
  echo "play: no DISPLAY set, so the game runs on a private Xvfb display; end it with Ctrl+C."
elif ! xdpyinfo >/dev/null 2>&1; then
  echo "play: the display '$DISPLAY' (from DISPLAY) cannot be opened." >&2
  echo "play: set DISPLAY to a display you can open (for example DISPLAY=:0 scripts/play.sh)," >&2
  echo "play: or unset it to run the game on a private Xvfb display, where there is nothing to see." >&2
  exit 1
fi
exec "$build/wine-run.sh" ./Korvanta.exe
