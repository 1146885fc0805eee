#!/bin/sh
# Pictures of the compressor window for the documentation: builds the window tests, runs the
# screenshot case under a virtual X server during a compression with every view open, and
# writes docs/screenshots/compressor-main.png (compressor-main-2x.png with ZOV_SCREENSHOT_SCALE=2).
#   scripts/screenshots-compressor.sh [BUILD_DIR]   (default: build)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
cmake --build "$build" -j2 --target compressor_gui_tests zovcod32
mkdir -p "$root/docs/screenshots"
scale=${ZOV_SCREENSHOT_SCALE:-1}
suffix=""
[ "$scale" = 1 ] || suffix="-${scale}x"
out="$root/docs/screenshots/compressor-main$suffix.png"
rm -f "$out"
QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale" ZOV_SCREENSHOT="$out" \
  xvfb-run -a -s "-screen 0 $((1400 * scale))x$((1000 * scale))x24" \
  "$build/tests/compressor_gui/compressor_gui_tests" --gtest_filter='MainWindowScreenshot.*'
test -s "$out"
echo "wrote $out"
