#!/usr/bin/env bash
# Installs what building and testing ZOV needs on Debian 12 (run as root, or with sudo available).
set -euo pipefail
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libpng-dev libturbojpeg0-dev
  # The windows (Qt 6 Widgets, SVG icons and QTest) and the player's audio output.
  qt6-base-dev qt6-svg-dev libsdl2-dev fonts-dejavu-core
  # Benchmarks only: the H.264 encoder library the encoder benchmark compares against, and the
  # AV1 (libaom to make the stream, libdav1d to decode it) and VP8/VP9 libraries the decoder
  # comparison (bench/peer_decoders_bench) uses.
  libx264-dev libdav1d-dev libaom-dev libvpx-dev
  # Test tools only: third-party AVI parsers that check our output files.
  gstreamer1.0-tools gstreamer1.0-plugins-good mediainfo
  # Test tools only: the TCP load balancer of the movie server's scale-out test.
  haproxy
  # Test tools only: a private session bus for the player's screen saver test.
  dbus-daemon
  # The GStreamer plugin (zovdec element), and the players and elements its tests run
  # (decodebin, playbin, videoconvert, gst-play-1.0). Never GStreamer's libav plugin.
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-plugins-base
  gstreamer1.0-plugins-base-apps
  # Screenshots of the windows (scripts/screenshots.sh).
  xvfb xauth
  # Manual pages (generated from --help), and the package checks (scripts/package.sh).
  help2man man-db dpkg-dev file lintian appstream
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=600 "${missing[@]}"
fi
