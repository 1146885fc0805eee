#!/bin/sh
# The player playing the bundled teapot sample, for the documentation: builds the player's
# tests, runs the screenshot case on a virtual X display, and writes
# docs/screenshots/player-playing.png (player-playing-2x.png with ZOV_SCREENSHOT_SCALE=2).
#   scripts/screenshots-player.sh [BUILD_DIR]   (default: build)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target player_tests zovcod32
mkdir -p "$root/docs/screenshots"
scale=${ZOV_SCREENSHOT_SCALE:-1}
suffix=""
[ "$scale" = 1 ] || suffix="-${scale}x"
out="$root/docs/screenshots/player-playing$suffix.png"
rm -f "$out"
QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale" SDL_AUDIODRIVER=dummy ZOV_SCREENSHOT="$out" \
  ZOV_TEST_DATA_DIR="$root/tests/data" \
  xvfb-run -a -s "-screen 0 $((1024 * scale))x$((768 * scale))x24" \
  "$build/tests/player/player_tests" --gtest_filter='PlayerScreenshot.*'
test -s "$out"
echo "wrote $out"
