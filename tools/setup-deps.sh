#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when missing.
# Safe to run again: it installs nothing that is already there, and asks for no
# privileges when nothing is missing.
#
#   tools/setup-deps.sh            everything the build and all tests need
#   tools/setup-deps.sh --build    only what building the programs needs (the demo)
#   tools/setup-deps.sh --windows  only what the Windows build and its tests need
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config        # the build
  libgtest-dev libgmock-dev               # unit tests (the build looks for them too)
  qt6-base-dev qt6-svg-dev                # the operator's window (Qt 6 Widgets, its SVG art)
  fonts-wqy-microhei fonts-dejavu-core    # fonts for the window's Chinese and Latin texts
)
# The Windows build (mingw-w64, posix threads) and its tests under Wine; strace shows
# that no test opens a real serial device; zip packs kestrel-cli.exe for Windows.
windows=(cmake ninja-build g++-mingw-w64-x86-64-posix wine wine64 strace zip)
if [[ ${1:-} == --windows ]]; then
  packages=("${windows[@]}")
elif [[ ${1:-} != --build ]]; then
  packages+=("${windows[@]}")
  packages+=(
    clang libclang-rt-14-dev                # fuzzers and their sanitizer runtime
    srecord binutils binutils-arm-none-eabi # S-record tools the image tests compare against
    xvfb xauth xdotool x11-utils openbox    # the real-window test, benchmark and screenshots:
    imagemagick                             # a virtual display, a window manager, key presses
    dpkg-dev help2man                       # the Debian package: dependencies, manual pages
    desktop-file-utils appstream librsvg2-bin bash-completion  # checks of the desktop files and completion; icon sizes
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
if [[ $(id -u) -ne 0 ]]; then
  if ! command -v sudo >/dev/null; then
    echo "Missing packages, and installing them needs root. Ask an administrator to run:" >&2
    echo "  apt-get install --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
  sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
