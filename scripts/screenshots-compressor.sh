#!/bin/sh
# Pictures of the compressor window for the documentation: builds the window tests, runs the
# screenshot case under a virtual X server during a compression with every view open, and
# writes docs/screenshots/compressor-main.png.
#   scripts/screenshots-compressor.sh [BUILD_DIR]   (default: build)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
cmake --build "$build" -j2 --target compressor_gui_tests zovcod32
mkdir -p "$root/docs/screenshots"
out="$root/docs/screenshots/compressor-main.png"
rm -f "$out"
QT_QPA_PLATFORM=xcb ZOV_SCREENSHOT="$out" \
  xvfb-run -a -s "-screen 0 1400x1000x24" \
  "$build/tests/compressor_gui/compressor_gui_tests" --gtest_filter='MainWindowScreenshot.*'
test -s "$out"
echo "wrote $out"
