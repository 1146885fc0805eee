#!/usr/bin/env bash
# The main job on the bundled sample: installs what the build needs, builds zovinfo (Release, in
# build/, or in $ZOV_BUILD_DIR when set), lists the frames of tests/data/sample-teapot-zov2.avi
# and decodes every frame to raw pictures and PNG images in out/demo/, then prints a report.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
sample=tests/data/sample-teapot-zov2.avi
out=out/demo

bash scripts/install-deps.sh
build=${ZOV_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target zovinfo -j"$(nproc)"
zovinfo=$build/tools/zovinfo

rm -rf "$out"
mkdir -p "$out"
echo
echo "== zovinfo frames $sample"
"$zovinfo" frames "$sample" | tee "$out/frames.txt"
echo
echo "== zovinfo decode $sample --out $out --png"
"$zovinfo" decode "$sample" --out "$out" --png

frames=$(ls "$out"/*.png | wc -l)
size=$(head -n 1 "$out/frames.txt" | awk '{print $2}')
echo
echo "== report"
echo "sample:         $sample ($(stat -c %s "$sample") bytes)"
echo "frames decoded: $frames"
echo "picture size:   $size"
echo "PNG images:     $root/$out/000000.png .. $(printf '%06d' $((frames - 1))).png"
echo "raw pictures:   $root/$out/NNNNNN.raw (5-5-5, 16-bit little-endian, bottom row first)"
echo "frame listing:  $root/$out/frames.txt"
