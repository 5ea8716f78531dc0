#!/usr/bin/env bash
# Builds the Debian package and tries it the way an operator gets it: checks its files
# and dependencies, validates the desktop entry and metadata, unpacks it into a scratch
# root and, as an ordinary user, saves a flash image from the sample files and flashes
# the virtual board with settings taken from that user's own $XDG_CONFIG_HOME.
#
#   tools/test-package.sh          (as root it runs the programs as user $KESTREL_TEST_USER,
#                                   default kuser, made when missing)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

fail() { echo "test-package: FAILED: $*" >&2; exit 1; }

tools/make-package.sh
debs=(build/package/kestrel_*.deb)
[[ ${#debs[@]} -eq 1 ]] || fail "expected one package, found ${debs[*]}"
deb=${debs[0]}
version=$(sed -nE 's/^project\(Kestrel VERSION ([0-9][0-9.]*).*/\1/p' CMakeLists.txt)
# The window is part of the package whenever the tree has it.
window=no
[[ -f app/CMakeLists.txt ]] && window=yes

# --- the package's fields and files
info=$(dpkg-deb -I "$deb")
[[ $(dpkg-deb -f "$deb" Package) == kestrel ]] || fail "package name"
[[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "version is not $version from CMakeLists.txt"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6; do
  [[ $depends == *"$lib ("* ]] || fail "Depends lacks $lib: $depends"
done
[[ $window == no || $depends == *libqt6widgets6* ]] || fail "the window's Qt libraries are not in Depends: $depends"
listing=$(dpkg-deb -c "$deb" | awk '{ $1=$2=$3=$4=$5=""; sub(/^ +/, ""); print }')
expected=(
  "./usr/bin/kestrel-cli -> ../lib/kestrel/kestrel-cli"
  "./usr/bin/kestrel-board-sim -> ../lib/kestrel/kestrel-board-sim"
  ./usr/lib/kestrel/kestrel-cli ./usr/lib/kestrel/kestrel-board-sim
  ./usr/lib/kestrel/Lib/.shipped ./usr/lib/kestrel/Lib/FlashAddrAssign.h ./usr/lib/kestrel/Lib/M850T.ini
  ./usr/lib/kestrel/Lib/Pgm_4M.bin ./usr/lib/kestrel/Lib/Pgm_27M.bin ./usr/lib/kestrel/Lib/Pgm_M850T.bin
  ./usr/share/man/man1/kestrel-cli.1.gz ./usr/share/man/man1/kestrel-board-sim.1.gz
  ./usr/share/bash-completion/completions/kestrel-cli
  ./usr/share/doc/kestrel/README.Debian ./usr/share/doc/kestrel/copyright
)
if [[ $window == yes ]]; then
  expected+=("./usr/bin/kestrel -> ../lib/kestrel/kestrel" ./usr/lib/kestrel/kestrel
    ./usr/share/man/man1/kestrel.1.gz ./usr/share/applications/org.kestrel.Kestrel.desktop
    ./usr/share/metainfo/org.kestrel.Kestrel.metainfo.xml ./usr/share/icons/hicolor/scalable/apps/kestrel.svg
    ./usr/share/icons/hicolor/48x48/apps/kestrel.png ./usr/share/icons/hicolor/256x256/apps/kestrel.png)
fi
for f in "${expected[@]}"; do
  grep -qxF -- "$f" <<<"$listing" || fail "the package lacks $f"
done
grep -v '^\./usr/' <<<"$listing" | grep -qvx '\./' && fail "files outside /usr: $(grep -v '^\./usr/' <<<"$listing")"

# --- desktop entry and metadata (also before the window exists)
desktop-file-validate tools/package/org.kestrel.Kestrel.desktop || fail "desktop entry"
metainfo=$(mktemp --suffix=.metainfo.xml)
sed "s/@VERSION@/$version/; s/@DATE@/$(date -u +%F)/" tools/package/org.kestrel.Kestrel.metainfo.xml >"$metainfo"
appstreamcli validate --no-net "$metainfo" >/dev/null || fail "AppStream metadata"
rm -f "$metainfo"

# --- bash completion offers the commands and each command's values
completion=$(bash -c 'source /usr/share/bash-completion/bash_completion
  source "$1"
  offer() { COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    COMPREPLY=(); _kestrel_cli; echo "${COMPREPLY[*]}"; }
  offer kestrel-cli p; offer kestrel-cli update --crystal 1; offer kestrel-cli ports -' _ tools/package/kestrel-cli.bash-completion)
[[ $completion == $'ports\n13.5M 16M\n--lib --help' ]] || fail "bash completion offered: $completion"

# --- unpacked into a scratch root, run as an ordinary user
scratch=$(mktemp -d /tmp/kestrel-package-test.XXXXXX)
board=""
cleanup() {
  [[ -n $board ]] && kill "$board" 2>/dev/null
  [[ -n ${KEEP_SCRATCH:-} ]] || rm -rf "$scratch"
}
trap cleanup EXIT
dpkg-deb -x "$deb" "$scratch/root"
mkdir -p "$scratch/home/.config" "$scratch/work"
cp res/samples/* "$scratch/work/"
as_user=()
if [[ $(id -u) -eq 0 ]]; then
  user=${KESTREL_TEST_USER:-kuser}
  id "$user" >/dev/null 2>&1 || useradd -m "$user"
  chown -R "$user:" "$scratch/home" "$scratch/work"
  chmod 0755 "$scratch"
  as_user=(runuser -u "$user" --)
fi
export_env=(env XDG_CONFIG_HOME="$scratch/home/.config" HOME="$scratch/home")
run() { "${as_user[@]}" "${export_env[@]}" "$@"; }
cli=$scratch/root/usr/bin/kestrel-cli
before=$(find "$scratch/root" -printf '%p %s %T@\n' | sort)

run "$cli" --help | grep -qF "settings $scratch/home/.config/kestrel/M850T.ini" ||
  fail "kestrel-cli --help does not name the user's settings file"

# save: the same image as the build tree's own kestrel-cli makes
samples=(code.s FONT.bin BITMAP.bin LOGO.bin)
(cd "$scratch/work" && run "$cli" save --output packaged.bin "${samples[@]}") || fail "save from the package"
(cd "$scratch/work" && "$root/build/package-bin/bin/kestrel-cli" save --output built.bin "${samples[@]}") ||
  fail "save from the build"
cmp -s "$scratch/work/packaged.bin" "$scratch/work/built.bin" || fail "the packaged save differs from the build's"

# update: the COM port and the crystal come from the user's own settings file
run "$scratch/root/usr/bin/kestrel-board-sim" --crystal 27M --flash "$scratch/work/board.bin" --once \
  >"$scratch/work/board.out" 2>"$scratch/work/board.log" &
board=$!
for _ in $(seq 200); do [[ -s $scratch/work/board.out ]] && break; sleep 0.05; done
device=$(head -n 1 "$scratch/work/board.out")
[[ -n $device ]] || fail "the virtual board did not start: $(cat "$scratch/work/board.log")"
settings=$scratch/home/.config/kestrel/M850T.ini
run mkdir -p "$(dirname "$settings")"
run sh -c "printf '[COM]\nportno=0\n[PLANT]\nXTLO=4\n[PORTS]\ncom7=%s\n' '$device' >'$settings'"
(cd "$scratch/work" && run "$cli" update --port 7 --timeout 30 "${samples[@]}") >"$scratch/work/update.log" 2>&1 ||
  fail "update from the package: $(tail -n 5 "$scratch/work/update.log")"
wait "$board" || fail "the virtual board's checks: $(tail -n 5 "$scratch/work/board.log")"
board=""

after=$(find "$scratch/root" -printf '%p %s %T@\n' | sort)
[[ $before == "$after" ]] || fail "running the programs changed the installed files"
echo "test-package: $deb ($(du -k "$deb" | cut -f1) KiB) checked: files, Depends ($depends), desktop entry," \
  "save and an update against the virtual board as $(run id -un) with settings in its \$XDG_CONFIG_HOME"
