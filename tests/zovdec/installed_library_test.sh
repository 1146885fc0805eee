#!/usr/bin/env bash
# libzovdec as another program meets it: installed into a fresh prefix, found through its
# pkg-config file, its header compiled as C99, the example program linked against the SONAME
# and run on the bundled sample, its pictures equal to zovinfo's.
# Usage: installed_library_test.sh CMAKE CC BUILD_DIR SOURCE_DIR ZOVINFO
set -euo pipefail
cmake=$1 cc=$2 build=$3 src=$4 zovinfo=$5
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
for component in runtime dev; do
  "$cmake" --install "$build" --component "$component" --prefix "$prefix" >/dev/null
done
pc=$(find "$prefix" -name zovdec.pc)
[ -n "$pc" ] || { echo "no zovdec.pc installed"; exit 1; }
export PKG_CONFIG_PATH=${pc%/*}
[ "$(pkg-config --variable=prefix zovdec)" = "$prefix" ] || { echo "wrong prefix in $pc"; exit 1; }

"$cc" -std=c99 -Wall -Wextra -pedantic -Werror "$src/examples/zovdec_avi_to_png.c" \
  -o "$tmp/example" $(pkg-config --cflags --libs zovdec libpng)
soname=$(readelf -d "$(pkg-config --variable=libdir zovdec)/libzovdec.so" |
  sed -n 's/.*SONAME.*\[\(libzovdec\.so\.[0-9]*\)\]/\1/p')
[ -n "$soname" ] || { echo "the installed library has no versioned SONAME"; exit 1; }
readelf -d "$tmp/example" | grep -qF "NEEDED" && readelf -d "$tmp/example" | grep -qF "[$soname]" ||
  { echo "the program does not name the library by its SONAME $soname"; exit 1; }

sample=$src/tests/data/sample-teapot-zov2.avi
mkdir "$tmp/png"
LD_LIBRARY_PATH=$(pkg-config --variable=libdir zovdec) "$tmp/example" "$sample" "$tmp/png"
"$zovinfo" decode "$sample" --out "$tmp/ref" --png >/dev/null
count=0
for ref in "$tmp/ref"/*.png; do
  cmp "$ref" "$tmp/png/${ref##*/}"
  count=$((count + 1))
done
[ "$count" -eq 10 ] || { echo "expected 10 pictures, compared $count"; exit 1; }
echo "10 pictures equal to zovinfo's"
