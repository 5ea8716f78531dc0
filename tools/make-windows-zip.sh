#!/usr/bin/env bash
# Packs kestrel-cli.exe for Windows: build/kestrel-cli-windows-VERSION.zip holds a
# folder with kestrel-cli.exe, its Lib/ and a short README. The program needs no DLL
# and no installer: unpack it anywhere the user may write (its settings file lives in
# Lib/) and run it from a command prompt.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
tools/build-windows.sh
version=$(sed -nE 's/^project\(Kestrel VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
name=kestrel-cli-windows-$version
stage=build/windows-zip/$name
rm -rf build/windows-zip
mkdir -p "$stage/Lib"
x86_64-w64-mingw32-strip -o "$stage/kestrel-cli.exe" build/windows/bin/kestrel-cli.exe
cp build/windows/bin/Lib/* "$stage/Lib/"
sed 's/$/\r/' tools/windows-zip-README.txt >"$stage/README.txt"
(cd build/windows-zip && zip -q -r "../$name.zip" "$name")
echo "build/$name.zip"
