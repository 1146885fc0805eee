#!/usr/bin/env bash
# libzovdec as another program meets it: installed into a fresh prefix, found through its
# pkg-config file, its header compiled as C99, the example program linked against the SONAME
# and run on the bundled sample, its pictures equal to zovinfo's.
# With GSTREAMER set to 1, the installed GStreamer plugin must load from the prefix too.
# Usage: installed_library_test.sh CMAKE CC BUILD_DIR SOURCE_DIR ZOVINFO GSTREAMER
set -euo pipefail
cmake=$1 cc=$2 build=$3 src=$4 zovinfo=$5 gstreamer=$6
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
for component in runtime zovdec dev; do
  "$cmake" --install "$build" --component "$component" --prefix "$prefix" >/dev/null
done
pc=$(find "$prefix" -name zovdec.pc)
[ -n "$pc" ] || { echo "no zovdec.pc installed"; exit 1; }
export PKG_CONFIG_PATH=${pc%/*}
[ "$(realpath "$(pkg-config --variable=prefix zovdec)")" = "$(realpath "$prefix")" ] ||
  { echo "wrong prefix in $pc"; exit 1; }

"$cc" -std=c99 -Wall -Wextra -pedantic -Werror "$src/examples/zovdec_avi_to_png.c" \
  -o "$tmp/example" $(pkg-config --cflags --libs zovdec libpng)
soname=$(readelf -d "$(pkg-config --variable=libdir zovdec)/libzovdec.so" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')
[[ "$soname" =~ ^libzovdec\.so\.[0-9]+$ ]] || { echo "SONAME '$soname'"; exit 1; }
readelf -d "$tmp/example" | grep -qE "NEEDED.*\[${soname//./\\.}\]" ||
  { echo "the program does not name the library by its SONAME"; exit 1; }

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

if [ "$gstreamer" = 1 ]; then
  "$cmake" --install "$build" --component gstreamer --prefix "$prefix" >/dev/null
  plugin=$(find "$prefix" -name libgstzov.so)
  [ -n "$plugin" ] || { echo "no plugin installed"; exit 1; }
  # It finds libzovdec beside it in the prefix, without any library path.
  GST_REGISTRY=$tmp/registry.bin GST_PLUGIN_PATH=${plugin%/*} gst-inspect-1.0 zovdec >"$tmp/inspect.txt" 2>&1 ||
    { cat "$tmp/inspect.txt"; exit 1; }
  grep -q "Filename *$plugin" "$tmp/inspect.txt" || { cat "$tmp/inspect.txt"; exit 1; }
  echo "the plugin loads from ${plugin%/*}"
fi
