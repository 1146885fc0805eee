#!/bin/sh
# Every picture of the windows for the documentation, at the normal scale and at twice it
# (QT_SCALE_FACTOR=2, as on a high-density screen): the compressor during a compression, the
# settings pages and dialogs, the player. Needs xvfb-run (scripts/install-deps.sh).
#   scripts/screenshots.sh [BUILD_DIR]   (default: build)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
for scale in 1 2; do
  ZOV_SCREENSHOT_SCALE=$scale sh "$here/screenshots-compressor.sh" "$build"
  ZOV_SCREENSHOT_SCALE=$scale ZOV_BUILD_DIR="$build" bash "$here/screenshots-config.sh"
  ZOV_SCREENSHOT_SCALE=$scale sh "$here/screenshots-player.sh" "$build"
done
