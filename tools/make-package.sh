#!/usr/bin/env bash
# Builds the Debian package build/package/kestrel_<version>_<arch>.deb from this tree:
# the executables under /usr/lib/kestrel/ beside their read-only Lib/, commands in
# /usr/bin, manual pages made from each command's own --help, bash completion for
# kestrel-cli, and - once the window is built - its desktop entry, icons and AppStream
# metadata. Dependencies are worked out by dpkg-shlibdeps from the executables.
#
#   tools/make-package.sh
#
# Environment:
#   KESTREL_ICON        the application icon, an SVG. Default: res/art/kestrel.svg
#                       (the window's art).
#   KESTREL_MAINTAINER  the package's Maintainer field.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
umask 022

tools/setup-deps.sh

# The product version has one home: project(Kestrel VERSION ...) in CMakeLists.txt.
version=$(sed -nE 's/^project\(Kestrel VERSION ([0-9][0-9.]*).*/\1/p' CMakeLists.txt)
if [[ -z $version ]]; then
  echo "make-package: no 'project(Kestrel VERSION ...)' in CMakeLists.txt" >&2
  exit 1
fi
arch=$(dpkg --print-architecture)
maintainer=${KESTREL_MAINTAINER:-Kestrel developers <kestrel@localhost>}
icon=${KESTREL_ICON:-res/art/kestrel.svg}
[[ -f $icon ]] || { echo "make-package: no application icon at $icon" >&2; exit 1; }
files=tools/package

# A build of its own without the tests, so a test or sanitizer build is never packaged.
build=build/package-bin
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_TESTS=OFF "${launcher[@]}" >/dev/null
targets=(kestrel-cli kestrel-board-sim kestrel_lib_folder)
# (The list is taken whole first: grep -q leaving the pipe early would fail it.)
all_targets=$(ninja -C "$build" -t targets all)
grep -q '^kestrel:' <<<"$all_targets" && targets+=(kestrel)
cmake --build "$build" -j2 --target "${targets[@]}"
bin=$build/bin
programs=(kestrel-cli kestrel-board-sim)
[[ -x $bin/kestrel ]] && programs=(kestrel "${programs[@]}")

out=build/package
stage=$(pwd)/$out/root
rm -rf "$stage" "$out/help"
mkdir -p "$stage/DEBIAN" "$stage/usr/bin" "$stage/usr/lib/kestrel/Lib" "$stage/usr/share/man/man1" \
  "$stage/usr/share/doc/kestrel" "$stage/usr/share/bash-completion/completions" "$out/help"

for p in "${programs[@]}"; do
  strip --strip-unneeded --remove-section=.comment --remove-section=.note -o "$stage/usr/lib/kestrel/$p" "$bin/$p"
  chmod 0755 "$stage/usr/lib/kestrel/$p"
  ln -s "../lib/kestrel/$p" "$stage/usr/bin/$p"
done
install -m 0644 "$bin"/Lib/* "$stage/usr/lib/kestrel/Lib/"
# Marks the library as the shipped, read-only one: settings and own loaders go per user.
: >"$stage/usr/lib/kestrel/Lib/.shipped"
chmod 0644 "$stage/usr/lib/kestrel/Lib/.shipped"

# Manual pages from the programs' own --help, run from the staged tree as a user would
# see them (the stage's folder and this user's home left out). kestrel-cli's page
# carries every command's help.
help_env="env -u XDG_CONFIG_HOME HOME='~' QT_QPA_PLATFORM=offscreen"
for p in "${programs[@]}"; do
  {
    echo '#!/bin/sh'
    echo '[ "$1" = --help ] || exit 1'
    echo "{ $help_env '$stage/usr/lib/kestrel/$p' --help | sed 's/^usage:/Usage:/; s/^In use:/\\nIn use:/'"
    if [[ $p == kestrel-cli ]]; then
      for c in update erase console save ports station; do
        echo "echo; echo 'Command $c:'; echo; $help_env '$stage/usr/lib/kestrel/$p' $c --help | grep -v '^In use:'"
      done
    fi
    # A usage line's continuation lines join it, so the synopsis is whole.
    echo "} | sed 's|$stage||g' | awk '/^[Uu]sage:/ { u = 1; l = \$0; next }
      u && /^ +[[(]/ { sub(/^ +/, \" \"); l = l \$0; next }
      u { print l; print \"\"; u = 0 } { print } END { if (u) print l }'"
  } >"$out/help/$p"
  chmod 0755 "$out/help/$p"
done
declare -A summary=(
  [kestrel]="flash firmware into a set-top-box board over a serial line"
  [kestrel-cli]="flash, erase and talk to a set-top-box board from scripts"
  [kestrel-board-sim]="a virtual set-top-box board on a pseudo-terminal"
)
for p in "${programs[@]}"; do
  help2man --no-info --no-discard-stderr --version-string="$version" --section=1 \
    --name="${summary[$p]}" --output="$out/help/$p.1" "$out/help/$p"
  gzip -9n <"$out/help/$p.1" >"$stage/usr/share/man/man1/$p.1.gz"
done

install -m 0644 "$files/kestrel-cli.bash-completion" "$stage/usr/share/bash-completion/completions/kestrel-cli"
install -m 0644 "$files/README.Debian" "$stage/usr/share/doc/kestrel/README.Debian"
cat >"$stage/usr/share/doc/kestrel/copyright" <<COPYRIGHT
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Kestrel

Files: *
Copyright: $(date -u +%Y) the Kestrel developers
License: LicenseRef-proprietary
 All rights reserved.
COPYRIGHT
{
  echo "kestrel ($version) stable; urgency=medium"
  echo
  echo "  * Built from the Kestrel source tree, $(git -C "$root" describe --always --dirty 2>/dev/null || echo 'outside git')."
  echo
  echo " -- $maintainer  $(date -R)"
} | gzip -9n >"$stage/usr/share/doc/kestrel/changelog.gz"

# The desktop side comes with the window only: an entry without its program would be a
# broken launcher.
if [[ -x $bin/kestrel ]]; then
  mkdir -p "$stage/usr/share/applications" "$stage/usr/share/metainfo" "$stage/usr/share/icons/hicolor/scalable/apps"
  install -m 0644 "$files/org.kestrel.Kestrel.desktop" "$stage/usr/share/applications/"
  desktop-file-validate "$stage/usr/share/applications/org.kestrel.Kestrel.desktop"
  sed "s/@VERSION@/$version/; s/@DATE@/$(date -u +%F)/" "$files/org.kestrel.Kestrel.metainfo.xml" \
    >"$stage/usr/share/metainfo/org.kestrel.Kestrel.metainfo.xml"
  chmod 0644 "$stage/usr/share/metainfo/org.kestrel.Kestrel.metainfo.xml"
  appstreamcli validate --no-net "$stage/usr/share/metainfo/org.kestrel.Kestrel.metainfo.xml"
  install -m 0644 "$icon" "$stage/usr/share/icons/hicolor/scalable/apps/kestrel.svg"
  for size in 16 24 32 48 64 128 256; do
    mkdir -p "$stage/usr/share/icons/hicolor/${size}x${size}/apps"
    rsvg-convert -w "$size" -h "$size" -o "$stage/usr/share/icons/hicolor/${size}x${size}/apps/kestrel.png" "$icon"
    chmod 0644 "$stage/usr/share/icons/hicolor/${size}x${size}/apps/kestrel.png"
  done
fi

# Depends: the libraries the executables link, by the packages that ship them.
shlibs=$out/shlibs
rm -rf "$shlibs"
mkdir -p "$shlibs/debian"
printf 'Source: kestrel\n\nPackage: kestrel\nArchitecture: any\n' >"$shlibs/debian/control"
executables=()
for p in "${programs[@]}"; do executables+=("-e$stage/usr/lib/kestrel/$p"); done
depends=$(cd "$shlibs" && dpkg-shlibdeps -O "${executables[@]}" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
if [[ -z $depends ]]; then
  echo "make-package: dpkg-shlibdeps found no dependencies" >&2
  exit 1
fi

# The window's Chinese texts want a CJK font.
recommends=""
[[ -x $bin/kestrel ]] && recommends=$'\nRecommends: fonts-wqy-microhei'
cat >"$stage/DEBIAN/control" <<CONTROL
Package: kestrel
Version: $version
Architecture: $arch
Maintainer: $maintainer
Installed-Size: $(du -sk --exclude=DEBIAN "$stage" | cut -f1)
Depends: $depends${recommends}
Section: electronics
Priority: optional
Description: flash firmware into set-top-box boards over a serial line
 Kestrel loads update files (code, font, bitmap and logo sections, or a
 complete flash map) into a flash image and writes it into a set-top-box
 board's flash over RS-232. It also erases the flash, shows the board's
 console and saves flash images.
 .
 kestrel-cli does the same from scripts and factory lines and lists the
 serial devices present; kestrel-board-sim is a virtual board on a
 pseudo-terminal for trying it all without hardware.
CONTROL
(cd "$stage" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$stage/DEBIAN/md5sums"
chmod 0644 "$stage/DEBIAN/control" "$stage/DEBIAN/md5sums"

deb=$out/kestrel_${version}_${arch}.deb
rm -f "$out"/kestrel_*.deb
dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
echo "Built $deb ($(du -k "$deb" | cut -f1) KiB): ${programs[*]}"
[[ -x $bin/kestrel ]] || echo "  (no window in this build: desktop entry, icons and metadata left out)"
echo "Depends: $depends"
