#!/usr/bin/env bash
# Cross-builds the engine and kestrel-cli for 64-bit Windows with Debian's mingw-w64,
# and the Windows tests. Leaves build/windows/bin/kestrel-cli.exe beside its Lib/, and
# the test executables in build/windows/bin; 'ctest --test-dir build/windows' runs
# them through Wine (tools/windows-stage.sh gives them their COM ports first). The
# window needs Qt, which Debian does not build for Windows: it stays Linux-only.
#
#   tools/build-windows.sh [BUILD_TYPE]     (default Release)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
tools/setup-deps.sh --windows
cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE="${1:-Release}" >/dev/null
cmake --build build/windows -j2
