#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when missing.
# Safe to run again: it installs nothing that is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config        # the build
  libgtest-dev libgmock-dev               # unit tests
  clang libclang-rt-14-dev                # fuzzers and their sanitizer runtime
  srecord binutils binutils-arm-none-eabi # S-record tools the image tests compare against
  qt6-base-dev qt6-svg-dev                # the operator's window (Qt 6 Widgets, its SVG art)
  fonts-wqy-microhei fonts-dejavu-core    # fonts for the window's Chinese and Latin texts
  xvfb xauth xdotool x11-utils openbox    # the real-window test, benchmark and screenshots:
  imagemagick                             # a virtual display, a window manager, key presses
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
