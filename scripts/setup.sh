#!/usr/bin/env bash
# Installs every Debian package the project needs, then configures and builds.
# Idempotent: installs nothing and prints nothing from apt when all is present.
#   scripts/setup.sh            install packages, build the release tree in build/
#   scripts/setup.sh --deps     install packages only
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config git
  libavformat-dev libavcodec-dev libavdevice-dev libavutil-dev libswscale-dev libswresample-dev
  libavfilter-dev
  zlib1g-dev libyuv-dev libturbojpeg0-dev libsqlite3-dev
  libx11-dev libxext-dev libxrandr-dev
  linux-libc-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  ffmpeg xvfb xauth x11-xserver-utils
  nginx libnginx-mod-rtmp
  pulseaudio pulseaudio-utils
  qt6-base-dev fonts-wqy-microhei libcurl4-openssl-dev ca-certificates openssl
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

[ "${1:-}" = "--deps" ] && exit 0

root=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" -j"$(nproc)"
