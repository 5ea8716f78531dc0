#!/usr/bin/env bash
# Builds Kestrel and shows it at work on the virtual board, a pseudo-terminal that
# answers exactly as a real board would.
#
# With a display: the window opens with com1 wired to the virtual board (through the
# settings file of a scratch library folder) and the sample update files already
# opened; press Update (Alt+U) to flash them, as often as you like. Closing the
# window ends the demo and prints the board's report.
# Without a display (or with --headless): kestrel-cli flashes the samples and says
# where the board's flash image landed.
#
#   tools/run-demo.sh [--headless] [CRYSTAL]     (default 27M; 4M, 8M, 13.5M, 16M boot slower)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
headless=0
if [[ ${1:-} == --headless ]]; then headless=1; shift; fi
crystal=${1:-27M}
case $crystal in
  4M) xtlo=0 ;; 8M) xtlo=1 ;; 13.5M) xtlo=2 ;; 16M) xtlo=3 ;; 27M) xtlo=4 ;;
  *) echo "unknown crystal '$crystal' (4M, 8M, 13.5M, 16M or 27M)" >&2; exit 2 ;;
esac
[[ -n ${DISPLAY:-}${WAYLAND_DISPLAY:-} ]] || headless=1

tools/setup-deps.sh --build
cmake -S . -B build/plain -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/plain -j2 --target kestrel kestrel-cli kestrel-board-sim kestrel_lib_folder

bin=build/plain/bin
work=$(mktemp -d /tmp/kestrel-demo.XXXXXX)
flash=$work/board-flash.bin
samples=(res/samples/code.s res/samples/FONT.bin res/samples/BITMAP.bin res/samples/LOGO.bin)
once=()
[[ $headless -eq 1 ]] && once=(--once)
"$bin/kestrel-board-sim" --crystal "$crystal" --flash "$flash" "${once[@]}" >"$work/board.out" 2>"$work/board.log" &
board=$!
trap 'kill $board 2>/dev/null || true' EXIT
for _ in $(seq 100); do [[ -s $work/board.out ]] && break; sleep 0.05; done
device=$(head -n 1 "$work/board.out")
echo "Virtual board on $device (crystal $crystal)"

status=0
if [[ $headless -eq 0 ]]; then
  # A library folder of the demo's own: the build's loaders and flash layout, and
  # settings that make com1 the virtual board and pick its crystal.
  cp -r "$bin/Lib" "$work/Lib"
  printf '[COM]\r\nportno=0\r\n[PLANT]\r\nXTLO=%s\r\n[PORTS]\r\ncom1=%s\r\n' "$xtlo" "$device" >"$work/Lib/M850T.ini"
  echo "The window is open: press Update (Alt+U) to flash the sample files; close it to end."
  "$bin/kestrel" --lib "$work/Lib" "${samples[@]}" || status=$?
  kill -TERM $board 2>/dev/null || true
  wait $board || true
else
  "$bin/kestrel-cli" update --device "$device" --crystal "$crystal" --timeout 30 "${samples[@]}" || status=$?
  wait $board || status=$?
fi
trap - EXIT
echo "--- virtual board's report"
cat "$work/board.log"
if [[ $status -eq 0 ]]; then
  echo "The board's flash image is $flash"
else
  echo "Kestrel ended with status $status; the board's flash image is $flash"
fi
exit $status
