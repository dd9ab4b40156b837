#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Vorna need.
# Safe to run repeatedly; skips the install when everything is already present.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config ninja-build
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
  libgl-dev libxkbcommon-dev
  libxcb1-dev libxcb-shm0-dev libxcb-xfixes0-dev libxcb-composite0-dev libxcb-xtest0-dev
  libxcb-res0-dev libxcb-keysyms1-dev libxcb-randr0-dev libxcb-image0-dev libxcb-util-dev
  libjpeg62-turbo-dev libtiff-dev libheif-dev libwebp-dev libpng-dev libdeflate-dev libisal-dev
  libcanberra-dev sound-theme-freedesktop
  libtesseract-dev tesseract-ocr-eng
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev llvm
  xvfb xauth xdotool x11-utils scrot xcompmgr picom xfwm4
  desktop-file-utils
  fonts-dejavu-core
  dbus-daemon
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
