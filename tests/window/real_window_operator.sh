#!/usr/bin/env bash
# The shipped window in a real X server, driven by keys as an operator drives it,
# against a succession of virtual boards on one adapter that is pulled and plugged in
# again between boards (the line reached through a link that follows the adapter):
#   - Alt+O during an update does nothing, and the update ends whole;
#   - Alt+F4 during an update asks first: No goes on (the update ends whole), Yes
#     stops the update and the window ends with status 0;
#   - an "initflash" typed at the console erases the board, and Update then asks for
#     files instead of erasing again;
#   - the line lost while idle: Update while the adapter is still out says "Can't open
#     port!" and is ready again; once it is back, Update opens it and flashes the board;
#   - a window that cannot start (a library folder that is not there) says so in a box;
#   - at scale 2 the window with the engineering controls fits its screen.
#
#   real_window_operator.sh BIN_FOLDER SOURCE_FOLDER
set -euo pipefail
bin=$1
source=$2
for tool in Xvfb xdotool xprop xwininfo; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed (tools/setup-deps.sh)"; exit 77; }
done

work=$(mktemp -d /tmp/kestrel-xvfb-operator.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  [[ -z ${KESTREL_FAIL_SHOT:-} ]] || import -window root "$KESTREL_FAIL_SHOT" || true
  echo "--- board events"; cat "$work/board.out" 2>/dev/null || true
  echo "--- window"; cat "$work/kestrel.log" 2>/dev/null || true
  exit 1
}

source "$source/tools/virtual-display.sh"
KESTREL_SCREEN=1280x1024x24 start_virtual_display
[[ $manager -eq 1 ]] || { echo "skipped: no window manager (openbox) to close windows with"; exit 77; }

# A window that cannot start says why where an operator looks: in a box.
"$bin/kestrel" --lib "$work/no such folder" >"$work/refused.log" 2>&1 &
refused=$!
pids+=($refused)
box=""
wait_for 'box=$(xdotool search --onlyvisible --name "^Error$" 2>/dev/null | head -n 1); [[ -n $box ]]' 30 ||
  fail "no box when the library folder is missing"
xdotool windowfocus --sync "$box" key --clearmodifiers Return
status=0
wait "$refused" || status=$?
[[ $status -eq 2 ]] || fail "a refused start ended with $status, not 2"
grep -q "does not exist" "$work/refused.log" || fail "a refused start said nothing on standard error"
echo "ok: a refused start shows its box and ends with 2"

# Boards in succession; after each board the adapter is pulled and stays out 8 s.
"$bin/kestrel-board-sim" --crystal 27M --boards 5 --off 0 --swap 0.3 --swap-replug --unplugged 8 \
  --link "$work/tty.board" --flash "$work/flash.bin" --reply-gap-ms 100 --progress-gap-ms 20 \
  >"$work/board.out" 2>"$work/board.log" &
board=$!
pids+=($board)
wait_for '[[ -L $work/tty.board ]]' 30 || fail "the board's line did not appear"
cp -r "$bin/Lib" "$work/Lib"
printf '[COM]\r\nportno=0\r\n[PLANT]\r\nXTLO=4\r\n[VIEW]\r\nengineering=1\r\n[PORTS]\r\ncom1=%s\r\n' "$work/tty.board" \
  >"$work/Lib/M850T.ini"

event() {  # waits for a line of the board's events
  wait_for "grep -q -- '$1' '$work/board.out'" "${2:-60}" || fail "the board never said: $1"
}
box_named() {  # waits for a box captioned $1 and sets `box`
  caption=$1
  box=""
  wait_for 'box=$(xdotool search --onlyvisible --name "^$caption\$" 2>/dev/null | head -n 1); [[ -n $box ]]' 30 ||
    fail "no \"$caption\" box"
}
no_box() {  # no box (or file dialog) of the window is up beside it
  local all
  all=$(xdotool search --onlyvisible --pid "$kestrel" 2>/dev/null | grep -vx "$window" || true)
  [[ -z $all ]] || fail "$1: a window is up beside the main one ($(for w in $all; do xdotool getwindowname "$w"; done))"
}
dismiss() { xdotool windowfocus --sync "$box" key --clearmodifiers "${1:-Return}"; }
press() { xdotool windowfocus --sync "$window" key --clearmodifiers "$@"; }

"$bin/kestrel" --lib "$work/Lib" "$source/res/samples/FONT.bin" "$source/res/samples/LOGO.bin" \
  >"$work/kestrel.log" 2>&1 &
kestrel=$!
pids+=($kestrel)
window=""
wait_for 'window=$(xdotool search --onlyvisible --name "^Kestrel V1\.003 Build 08032116$" 2>/dev/null | head -n 1); [[ -n $window ]]' 30 ||
  fail "the window did not come up"

# Alt+O while the board is being written: nothing opens, and the update ends whole.
event "board 1 .* on"
press alt+u
event "board 1 .* woken"
press alt+o
no_box "Alt+O during an update"
event "board 1 .* done finished" 120
no_box "after the update"
echo "ok: Open File is refused during an update, which ends whole"

# The adapter is pulled while nothing runs; Update before it is back cannot open it,
# says so, and is ready again.
event "^unplugged"
box_named Error  # the line was lost
dismiss
press alt+u
box_named Error  # Can't open port!
dismiss
echo "ok: Update on a line that is gone says so"
event "^line "
event "board 2 .* on"
press alt+u  # still Update (Alt+C had it been left on Cancel): the line opens and the board is woken
event "board 2 .* woken"
echo "ok: Update on a line that is back opens it first"

# Alt+F4 during the update asks; No lets it end whole.
press alt+F4
box_named Warning
dismiss alt+n
event "board 2 .* done finished" 120
kill -0 "$kestrel" 2>/dev/null || fail "the window went although the operator said No"
echo "ok: closing during an update asks, and No lets it finish"

# An erase typed at the console; Update then asks for files instead of erasing again.
event "board 3 .* on" 60
box_named Error  # the line was lost once more
dismiss
event "board 3 .* on"
wait_for "[[ \$(grep -c '^line ' '$work/board.out') -ge 2 ]]" 30 || fail "the line did not come back"
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --window "$window" $((WIDTH * 90 / 242)) $((HEIGHT * 212 / 302)) click 1
press ctrl+a
xdotool type --window "$window" --delay 20 initflash
press alt+d
event "board 3 .* woken" 60
event "board 3 .* done finished" 120
press alt+u
box_named Warning  # Please open file first!
dismiss
echo "ok: after an erase, Update asks for files"

# Alt+F4 during an update again; Yes stops it and the window ends with status 0.
event "board 4 .* on" 60
box_named Error  # the line was lost after the erase's board
dismiss
wait_for "[[ \$(grep -c '^line ' '$work/board.out') -ge 3 ]]" 30 || fail "the line did not come back"
press alt+o
box=""
wait_for 'box=$(xdotool search --onlyvisible --pid "$kestrel" 2>/dev/null | grep -vx "$window" | head -n 1); [[ -n $box ]]' 30 ||
  fail "Open File showed no file dialog"
xdotool windowfocus --sync "$box" type --delay 20 "$source/res/samples/FONT.bin"
xdotool windowfocus --sync "$box" key --clearmodifiers Return
wait_for '! xdotool search --onlyvisible --pid "$kestrel" 2>/dev/null | grep -vxq "$window"' 30 || fail "the file dialog stayed"
press alt+u
event "board 4 .* woken" 60
press alt+F4
box_named Warning
dismiss alt+y
wait_for '! kill -0 $kestrel 2>/dev/null' 30 || fail "the window stayed after Yes"
closed=0
wait "$kestrel" || closed=$?
[[ $closed -eq 0 ]] || fail "the window ended with $closed"
event "board 4 .* done" 60
grep -q "board 4 .* done finished" "$work/board.out" && fail "board 4 was flashed to its end although the operator stopped it"
echo "ok: Yes stops the update and the window ends with 0"

# At scale 2, with the engineering controls, the window fits the 1024-pixel screen.
QT_SCALE_FACTOR=2 "$bin/kestrel" --lib "$work/Lib" >"$work/kestrel2.log" 2>&1 &
kestrel=$!
pids+=($kestrel)
window=""
wait_for 'window=$(xdotool search --onlyvisible --pid "$kestrel" --name "^Kestrel V" 2>/dev/null | head -n 1); [[ -n $window ]]' 30 ||
  fail "the window at scale 2 did not come up"
wait_for 'xprop -id "$window" _NET_FRAME_EXTENTS 2>/dev/null | grep -q =' 30 || fail "no frame at scale 2"
read -r _ _ top bottom < <(xprop -id "$window" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
info=$(xwininfo -id "$window")
y=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$info")
height=$(awk '/Height:/ {print $2}' <<<"$info")
echo "scale 2: the window at y $y, $height high, its title bar $top and lower frame $bottom"
((y - top >= 0 && y + height + bottom <= 1024)) || fail "at scale 2 the window does not fit the screen"
echo "ok: at scale 2 the window fits its screen"
echo "PASS: the window under the operator's keys"
