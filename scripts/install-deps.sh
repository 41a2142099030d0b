#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs the Debian packages that Quarnix's build, tests, benchmarks,
# packaging and fuzzing need: only those missing, with sudo when not root.
# Idempotent.
set -euo pipefail

packages=(
  g++ cmake ninja-build make pkg-config
  qt6-base-dev qt6-svg-dev libgl-dev
  libpng-dev libjpeg-dev libtiff-dev zlib1g-dev libwmf-dev libexpat1-dev libemf2svg-dev libsquish-dev libstb-dev libdeflate-dev
  fonts-urw-base35
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev
  xvfb xauth fonts-liberation xdotool imagemagick
  help2man dpkg-dev file desktop-file-utils appstream shared-mime-info
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
