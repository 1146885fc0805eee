#!/usr/bin/env bash
# The main job on the bundled sample: installs what the build needs, builds zovinfo (Release, in
# build/, or in $ZOV_BUILD_DIR when set), lists the frames of tests/data/sample-teapot-zov2.avi
# and decodes every frame to raw pictures and PNG images in out/demo/; then builds zovcomp,
# compresses tests/data/teapot-256x256-rgb24.avi with verification into out/demo/teapot.avi, and
# prints a report of both.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
sample=tests/data/sample-teapot-zov2.avi
out=out/demo

bash scripts/install-deps.sh
build=${ZOV_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target zovinfo zovcomp -j"$(nproc)"
zovinfo=$build/tools/zovinfo
zovcomp=$build/compressor/zovcomp
source_avi=tests/data/teapot-256x256-rgb24.avi

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

echo
echo "== zovcomp compress $source_avi -o $out/teapot.avi --verify"
if ! "$zovcomp" compress "$source_avi" -o "$out/teapot.avi" --verify --log "$out/compress.log" \
  > "$out/compress.txt" 2> "$out/compress.err"; then
  cat "$out/compress.txt" "$out/compress.err"
  exit 1
fi
tail -n 4 "$out/compress.txt"
wrote=$(grep '^Wrote ' "$out/compress.txt")
verified=$(grep '^Verified ' "$out/compress.txt")
echo
echo "== compression report"
echo "source:         $source_avi ($(stat -c %s "$source_avi") bytes)"
echo "output:         $root/$out/teapot.avi ($(stat -c %s "$out/teapot.avi") bytes)"
echo "frames:         $(echo "$wrote" | sed -E 's/.*: ([0-9]+) frames.*/\1/')"
echo "ratio:          $(echo "$wrote" | sed -E 's/.*ratio ([0-9.]+:1).*/\1/') (15-bit pictures to output)"
echo "file ratio:     $(awk -v a="$(stat -c %s "$source_avi")" -v b="$(stat -c %s "$out/teapot.avi")" 'BEGIN{printf "%.2f:1", a/b}') (source file to output file)"
echo "PSNR:           $(echo "$verified" | sed -E 's/.*PSNR ([^ ]+ dB).*/\1/')"
echo "speed:          $(echo "$wrote" | sed -E 's/.*, ([0-9.]+ s), ([0-9.]+ frames\/s).*/\2 (\1)/')"
echo "run messages:   $root/$out/compress.txt"
