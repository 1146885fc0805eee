#!/usr/bin/env bash
# Pictures of the compressor's configuration dialog (every page, the filter preview zoomed in),
# the filter selection and level dialogs and the edit-list dialog, written to
# docs/screenshots/config-*.png. Builds the window tests (in build/, or in $ZOV_BUILD_DIR) and
# runs their screenshot case on a virtual X display (xvfb-run). ZOV_SCREENSHOT_SCALE=2 makes the
# pictures at twice the scale (config-*-2x.png).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${ZOV_BUILD_DIR:-build}
out=docs/screenshots
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target compressor_gui_tests -j2
mkdir -p "$out"
tests=${ZOV_GUI_TESTS:-$build/tests/compressor_gui/compressor_gui_tests}
scale=${ZOV_SCREENSHOT_SCALE:-1}
suffix=""
[ "$scale" = 1 ] || suffix="-${scale}x"
ZOV_SCREENSHOT_DIR="$PWD/$out" ZOV_SCREENSHOT_SUFFIX="$suffix" QT_QPA_PLATFORM=xcb \
  QT_SCALE_FACTOR="$scale" SDL_AUDIODRIVER=dummy ZOV_TEST_DATA_DIR="$PWD/tests/data" \
  xvfb-run -a -s "-screen 0 $((1280 * scale))x$((1024 * scale))x24" \
  "$tests" --gtest_filter='ConfigScreenshots.*'
ls -1 "$out"/config-*"$suffix".png
