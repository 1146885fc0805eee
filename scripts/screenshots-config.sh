#!/usr/bin/env bash
# Pictures of the compressor's configuration dialog (every page, the filter preview zoomed in),
# the filter selection and level dialogs and the edit-list dialog, written to
# docs/screenshots/config-*.png. Builds the window tests (in build/, or in $ZOV_BUILD_DIR) and
# runs their screenshot case on a virtual X display (xvfb-run).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${ZOV_BUILD_DIR:-build}
out=docs/screenshots
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target compressor_gui_tests -j2
mkdir -p "$out"
tests=${ZOV_GUI_TESTS:-$build/tests/compressor_gui/compressor_gui_tests}
ZOV_SCREENSHOT_DIR="$PWD/$out" QT_QPA_PLATFORM=xcb SDL_AUDIODRIVER=dummy \
  ZOV_TEST_DATA_DIR="$PWD/tests/data" \
  xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$tests" --gtest_filter='ConfigScreenshots.*'
ls -1 "$out"/config-*.png
