#!/usr/bin/env bash
# Builds the Debian packages from a distribution build (prefix /usr, no RPATH, the hardening
# flags of dpkg-buildflags), checks them with lintian, then installs them into this machine with
# dpkg -i, runs the installed programs and plays a movie through the installed GStreamer plugin,
# and removes them again. --no-install stops after lintian.
set -euo pipefail
cd "$(dirname "$0")/.."
install=1
[ "${1:-}" = "--no-install" ] && install=0
bash scripts/install-deps.sh
build=build-package
out=$build/packages

# The distribution's flags, as a Debian build passes them (without -g: the packages are
# stripped, and debug information only slows the build).
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
CFLAGS=${CFLAGS//-g /} CXXFLAGS=${CXXFLAGS//-g /}
export CFLAGS CXXFLAGS
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DZOV_INSTALL_RPATH=OFF -DZOV_DEBIAN_DOCS=ON -DZOV_TESTS=OFF -DZOV_BENCH=OFF
cmake --build "$build" -j"$(nproc)"

# Every installed file belongs to a package.
stray=$(mktemp -d)
cmake --install "$build" --component Unspecified --prefix "$stray" >/dev/null
if [ -n "$(find "$stray" -type f)" ]; then
  echo "package.sh: files installed outside every package component:"
  find "$stray" -type f
  exit 1
fi
rm -rf "$stray"

rm -rf "$out"
(cd "$build" && cpack -G DEB -B "$PWD/packages")
ls -l "$out"/*.deb
for deb in "$out"/*.deb; do
  echo "== $(basename "$deb")"
  dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
done

# lintian: no errors; the warnings left are explained in docs/PACKAGING.md.
lintian --fail-on error --tag-display-limit 0 \
  "$out"/*.deb

[ "$install" = 1 ] || exit 0
packages=()
for deb in "$out"/*.deb; do packages+=("$(dpkg-deb --field "$deb" Package)"); done
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
cleanup() { $sudo dpkg -P "${packages[@]}" >/dev/null 2>&1 || true; }
trap cleanup EXIT
$sudo dpkg -i "$out"/*.deb

# The installed programs, from the system folders only.
libdir=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
export -n GST_PLUGIN_PATH ZOV_CODEC_PATH LD_LIBRARY_PATH
work=$(mktemp -d)
export ZOV_HOME=$work/home GST_REGISTRY=$work/registry.bin
for program in /usr/bin/zovcomp /usr/bin/zovinfo /usr/bin/brindle /usr/bin/zevserve \
    "/usr/lib/$libdir/zov/purgent"; do
  "$program" --version
done
man -w zovcomp zovinfo brindle zevserve purgent zovcomp.ini >/dev/null
# Both windows open from the installed files (an offscreen display; ended after 5 s).
for program in /usr/bin/zovcomp /usr/bin/brindle; do
  status=0
  QT_QPA_PLATFORM=offscreen timeout 5 "$program" >/dev/null 2>&1 || status=$?
  if [ "$status" != 124 ]; then
    echo "package.sh: the installed $program did not open its window (status $status)"
    exit 1
  fi
done
# A movie with sound compressed by the installed compressor plays through the installed plugin.
/usr/bin/zovcomp compress tests/data/pan-640x480-mjpeg-pcm.avi -o "$work/pan.avi" --last 30 -q
/usr/bin/zovinfo frames "$work/pan.avi" >/dev/null
if [ -n "$(find /usr/lib/"$libdir"/gstreamer-1.0 -name 'libgstzov.so' 2>/dev/null)" ]; then
  gst-inspect-1.0 zovdec >/dev/null
  timeout 120 gst-play-1.0 --no-interactive --videosink=fakesink --audiosink=fakesink "$work/pan.avi"
  echo "package.sh: the installed GStreamer plugin played $work/pan.avi"
fi
rm -rf "$work"
echo "package.sh: packages built, lint-clean, installed and run"
