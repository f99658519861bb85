#!/usr/bin/env bash
# Installs the Debian 12 packages the engine, its tools and its tests need.
# Packages already present are not installed again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config python3 clang
  libsdl2-dev libssl-dev zlib1g-dev libpng-dev libfreetype-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  libogg-dev libvorbis-dev libgl-dev libegl-dev libgl1-mesa-dri ffmpeg
  libgtest-dev libgmock-dev libbenchmark-dev libx11-dev xvfb
  fonts-ipafont-gothic fonts-ipafont-mincho fonts-dejavu-core fonts-dejavu-extra fonts-wqy-microhei
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
