#!/usr/bin/env bash
# The codec as a program outside this tree drives it: libzovvfw and the codec installed into a
# fresh prefix, the example built through pkg-config (zovvfw), its header compiled as C99, and
# run from a copy of the prefix moved elsewhere, with no ZOV_CODEC_PATH and no library path for
# the codec, so the manager must find the codec beside itself. Its pictures equal zovinfo's.
# The installed codec and libzov32 export their interfaces and nothing more.
# Usage: installed_vfw_test.sh CMAKE CC BUILD_DIR SOURCE_DIR ZOVINFO
set -euo pipefail
cmake=$1 cc=$2 build=$3 src=$4 zovinfo=$5
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
for component in runtime zovvfw dev; do
  "$cmake" --install "$build" --component "$component" --prefix "$prefix" >/dev/null
done
pc=$(find "$prefix" -name zovvfw.pc)
[ -n "$pc" ] || { echo "no zovvfw.pc installed"; exit 1; }
export PKG_CONFIG_PATH=${pc%/*}

"$cc" -std=c99 -Wall -Wextra -pedantic -Werror "$src/examples/zovvfw_avi_to_png.c" \
  -o "$tmp/example" $(pkg-config --cflags --libs zovvfw libpng)
soname=$(readelf -d "$(pkg-config --variable=libdir zovvfw)/libzovvfw.so" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')
[[ "$soname" =~ ^libzovvfw\.so\.[0-9]+$ ]] || { echo "SONAME '$soname'"; exit 1; }
readelf -d "$tmp/example" | grep -qE "NEEDED.*\[${soname//./\\.}\]" ||
  { echo "the program does not name the library by its SONAME"; exit 1; }
# Only the C interface leaves the library.
if nm -D --defined-only "$(pkg-config --variable=libdir zovvfw)/$soname" | awk '{print $3}' |
  grep -vE '^(IC[A-Za-z]+|DefDriverProc)(@@ZOVVFW_0)?$|^ZOVVFW_0$'; then
  echo "libzovvfw exports more than its C interface"; exit 1
fi

# The codec exports the functions and classes its headers declare ZOVCOD32_API (the classes are
# used by the player and the compressor) and the toolchain's own std:: objects; libzov32 exactly
# the entry points the codec's bridge names. Nothing else, so no test hook.
libdir=$(pkg-config --variable=libdir zovvfw)
functions=$(grep -ohE '^ZOVCOD32_API [^(;]*\(' "$src"/include/zov/*.h |
  sed -E 's/.*[^A-Za-z0-9_]([A-Za-z0-9_]+)\($/\1/')
classes=$(grep -ohE '(class|struct) ZOVCOD32_API [A-Za-z0-9_]+' "$src"/include/zov/*.h |
  awk '{print $3}' | paste -sd'|')
[ -n "$functions" ] && [ -n "$classes" ] || { echo "no declarations found in include/zov"; exit 1; }
unexpected=$(nm -D --defined-only "$libdir/libzovcod32.so" | awk '{print $3}' | sed 's/@.*//' |
  while read -r symbol; do
    if [[ $symbol == _Z* ]]; then
      name=$(c++filt "$symbol")
      [[ $name =~ ^((typeinfo( name)?|vtable)\ for\ )?zov::[a-z]+::($classes)(::|$) ]] ||
        [[ $name =~ ^std:: ]] || echo "$name"
    else
      grep -qxF "$symbol" <<<"$functions" || echo "$symbol"
    fi
  done)
[ -z "$unexpected" ] ||
  { echo "libzovcod32 exports more than its interface:"; echo "$unexpected"; exit 1; }
entries=$(grep -ohE '\bZOV32Compress[A-Za-z]*' "$src/codec/compress_bridge.h" | sort -u)
exported=$(nm -D --defined-only "$libdir/libzov32.so" | awk '{print $3}' | sed 's/@.*//' | sort -u)
if [ "$exported" != "$entries" ]; then
  echo "libzov32 exports other than the bridge's entry points:"
  diff <(echo "$entries") <(echo "$exported") || true
  exit 1
fi

# The prefix moved: the build-time install folder does not exist, the program lives elsewhere.
libdir_rel=$(realpath --relative-to="$prefix" "$(pkg-config --variable=libdir zovvfw)")
mv "$prefix" "$tmp/moved"
mkdir "$tmp/png"
env -u ZOV_CODEC_PATH LD_LIBRARY_PATH="$tmp/moved/$libdir_rel" \
  "$tmp/example" "$src/tests/data/sample-teapot-zov2.avi" "$tmp/png"
"$zovinfo" decode "$src/tests/data/sample-teapot-zov2.avi" --out "$tmp/ref" --png >/dev/null
count=0
for ref in "$tmp/ref"/*.png; do
  cmp "$ref" "$tmp/png/${ref##*/}"
  count=$((count + 1))
done
[ "$count" -eq 10 ] && [ "$(ls "$tmp/png" | wc -l)" -eq 10 ] ||
  { echo "expected 10 pictures, compared $count"; exit 1; }
echo "10 pictures through the installed manager equal to zovinfo's"
