#!/usr/bin/env bash
# Takes the README's screenshots of the window in a virtual X server (Xvfb, with
# openbox drawing the title bars when it is installed): the sample files opened, an
# update under way and finished against the virtual board, the engineering controls
# with the board's console, the window's menu and the about box. Writes docs/*.png.
#
#   tools/take-screenshots.sh [OUTPUT_FOLDER]     (default docs)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
out=$(mkdir -p "${1:-docs}" && cd "${1:-docs}" && pwd)

tools/setup-deps.sh
cmake -S . -B build/plain -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/plain -j2 --target kestrel kestrel-board-sim kestrel_lib_folder
bin=$root/build/plain/bin

work=$(mktemp -d /tmp/kestrel-shots.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
source tools/virtual-display.sh
start_virtual_display
xsetroot -solid '#3a6ea5' 2>/dev/null || true
start_board_on_com1 "$bin" --crystal 27M --flash "$work/flash.bin"

samples=("$root/res/samples/code.s" "$root/res/samples/FONT.bin" "$root/res/samples/BITMAP.bin" "$root/res/samples/LOGO.bin")
start_window() {
  "$bin/kestrel" --lib "$work/Lib" "$@" >>"$work/kestrel.log" 2>&1 &
  kestrel=$!
  pids+=($kestrel)
  window=""
  wait_for 'window=$(xdotool search --onlyvisible --name "^Kestrel V" 2>/dev/null | head -n 1); [[ -n $window ]]' 30
  xdotool windowmove "$window" 40 40
  xdotool windowfocus --sync "$window"
  sleep 0.5  # the files and the first paint
}
shot() {  # name, window
  import -frame -window "$2" "$out/$1.png"
  echo "$out/$1.png"
}

start_window "${samples[@]}"
shot window "$window"
# The pointer on Open File: its orange hover rim (the button sits at 119,86 of the
# dialog's 242x144 units).
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --window "$window" $((WIDTH * 147 / 242)) $((HEIGHT * 92 / 144))
sleep 0.5
shot window-hover "$window"
xdotool mousemove --window "$window" 2 2
xdotool key --clearmodifiers alt+u
sleep 5.5
shot window-updating "$window"
sleep 6
shot window-finished "$window"

# The window's own menu, and the about box from it.
xdotool mousemove $((X + 8)) $((Y + 110)) click 3
sleep 0.5
# The menu is a window of its own over the main one: cut the frame's area from the screen.
frame=$(xwininfo -frame -id "$window")
fx=$(awk '/Absolute upper-left X/ {print $4}' <<<"$frame")
fy=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$frame")
fw=$(awk '/Width:/ {print $2}' <<<"$frame")
fh=$(awk '/Height:/ {print $2}' <<<"$frame")
import -window root -crop "${fw}x${fh}+${fx}+${fy}" +repage "$out/window-menu.png"
echo "$out/window-menu.png"
xdotool key a
about=""
wait_for 'about=$(xdotool search --onlyvisible --name "^关于 Kestrel$" 2>/dev/null | head -n 1); [[ -n $about ]]' 10
sleep 0.3
shot about "$about"
xdotool key Return
kill "$kestrel"

# The engineering controls, with the board's answer to the reset command.
printf '[VIEW]\r\nengineering=1\r\n' >>"$work/Lib/M850T.ini"
start_window
xdotool key --clearmodifiers alt+d
sleep 1
shot window-engineering "$window"
