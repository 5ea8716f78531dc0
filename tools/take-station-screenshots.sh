#!/usr/bin/env bash
# Takes the station view's screenshots in a virtual X server (openbox drawing the
# title bars when it is installed): 1, 4 and 16 ports against virtual boards, at rest,
# under way and finished, at scale 1 and (for 16 ports) scale 2, with the files and the
# results file in folders of Chinese names. Writes docs/station-*.png.
#
#   tools/take-station-screenshots.sh [OUTPUT_FOLDER]     (default docs)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
out=$(mkdir -p "${1:-docs}" && cd "${1:-docs}" && pwd)

if [[ -z ${KESTREL_NO_BUILD:-} ]]; then
  cmake -S . -B build/plain -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build/plain -j2 --target kestrel kestrel-board-sim kestrel_lib_folder
fi
bin=$root/build/plain/bin

work=$(mktemp -d /tmp/kestrel-station-shots.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
source tools/virtual-display.sh
KESTREL_SCREEN=${KESTREL_SCREEN:-1920x1200x24} start_virtual_display
xsetroot -solid '#3a6ea5' 2>/dev/null || true

files="$work/固件"
mkdir -p "$files"
for f in code.s FONT.bin LOGO.bin; do cp "res/samples/$f" "$files/"; done

shot() {  # name
  import -frame -window "$window" "$out/station-$1.png"
  echo "$out/station-$1.png"
}

# Ports $1 on boards that are powered $2 seconds after Start, at scale $3.
run() {
  local ports=$1 off=$2 scale=$3 name=$4
  local lib="$work/Lib-$name"
  cp -r "$bin/Lib" "$lib"
  {
    printf '[COM]\r\nportno=0\r\n[PORTS]\r\n'
    for ((n = 1; n <= ports; n++)); do printf 'com%d=%s\r\n' "$n" "$work/$name.line$n"; done
    printf '[STATION]\r\ncrystal=4\r\nwakeevery=0.2\r\nrearmafter=30\r\nexpect=firmware OK\r\nwithin=3\r\n'
    printf 'results=%s\r\nlogdir=%s\r\n' "$work/结果/$name.jsonl" "$work/日志"
  } >"$lib/M850T.ini"
  for ((n = 1; n <= ports; n++)); do
    "$bin/kestrel-board-sim" --crystal 27M --boards 1 --off "$off" --link "$work/$name.line$n" \
      --flash "$work/$name.flash$n" --reply-gap-ms 60 --progress-gap-ms 25 >"$work/$name.board$n.out" 2>&1 &
    pids+=($!)
  done
  for ((n = 1; n <= ports; n++)); do wait_for "[[ -e $work/$name.line$n ]]" 30; done
  mkdir -p "$work/结果"
  QT_SCALE_FACTOR=$scale "$bin/kestrel" --station --lib "$lib" "$files/code.s" "$files/FONT.bin" "$files/LOGO.bin" \
    >>"$work/kestrel-$name.log" 2>&1 &
  local kestrel=$!
  pids+=($kestrel)
  window=""
  wait_for 'window=$(xdotool search --onlyvisible --name "^Kestrel Station" 2>/dev/null | head -n 1); [[ -n $window ]]' 30
  xdotool windowmove "$window" 0 0
  xdotool windowfocus --sync "$window"
  sleep 1
  shot "$name-rest"
  xdotool key --clearmodifiers alt+s
  sleep $(awk "BEGIN {print $off + 2.5}")
  shot "$name-under-way"
  wait_for "[[ \$(cat '$work/结果/$name.jsonl' 2>/dev/null | wc -l) -ge $ports ]]" 120
  sleep 1.5
  shot "$name-finished"
  kill "$kestrel"
}

[[ -n ${KESTREL_ONLY:-} ]] || KESTREL_ONLY="1-port 4-ports 16-ports 16-ports-scale2"
wanted() { [[ " $KESTREL_ONLY " == *" $1 "* ]]; }
! wanted 1-port || run 1 1 1 1-port
! wanted 4-ports || run 4 1 1 4-ports
! wanted 16-ports || run 16 1.5 1 16-ports
! wanted 16-ports-scale2 || run 16 1.5 2 16-ports-scale2
