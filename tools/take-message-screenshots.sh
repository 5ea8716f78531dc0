#!/usr/bin/env bash
# Takes a screenshot of each message the window gives an operator when something
# stands in the way, in a virtual X server against the virtual board: a start that is
# refused, a settings value beyond its list, a board that says it finished too early,
# files that were all refused, closing during an update, Update on a lost line, Update
# after an erase, a wire trace over an update file, settings that cannot be kept, and
# the window at scale 2 and 1.5. Writes OUTPUT_FOLDER/*.png.
#
#   tools/take-message-screenshots.sh [OUTPUT_FOLDER]     (default build/message-shots)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
out=$(mkdir -p "${1:-build/message-shots}" && cd "${1:-build/message-shots}" && pwd)
bin=${KESTREL_BIN:-$root/build/plain/bin}
[[ -x $bin/kestrel ]] || { tools/setup-deps.sh; cmake -S . -B build/plain -G Ninja >/dev/null;
  cmake --build build/plain -j2 --target kestrel kestrel-board-sim kestrel_lib_folder; }

work=$(mktemp -d /tmp/kestrel-message-shots.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
source tools/virtual-display.sh
KESTREL_SCREEN=1280x1024x24 start_virtual_display
xsetroot -solid '#3a6ea5' 2>/dev/null || true
samples=$root/res/samples

shot_screen() {  # name: the whole screen, cut to what the windows cover
  import -window root -trim +repage "$out/$1.png"
  echo "$out/$1.png"
}
box_named() {
  caption=$1
  box=""
  wait_for 'box=$(xdotool search --onlyvisible --name "^$caption\$" 2>/dev/null | head -n 1); [[ -n $box ]]' 60
  sleep 0.3  # painted
}
dismiss() { xdotool windowfocus --sync "$box" key --clearmodifiers "${1:-Return}"; }
press() { xdotool windowfocus --sync "$window" key --clearmodifiers "$@"; }
start_window() {  # settings text, then files
  local settings=$1
  shift
  rm -rf "$work/Lib"
  cp -r "$bin/Lib" "$work/Lib"
  printf '%b' "$settings" >"$work/Lib/M850T.ini"
  "$bin/kestrel" --lib "$work/Lib" "$@" >>"$work/kestrel.log" 2>&1 &
  kestrel=$!
  pids+=($kestrel)
  window=""
  wait_for 'window=$(xdotool search --onlyvisible --pid "$kestrel" --name "^Kestrel V" 2>/dev/null | head -n 1); [[ -n $window ]]' 30
  xdotool windowmove "$window" 40 40
  sleep 0.5
}
stop_window() { kill "$kestrel" 2>/dev/null || true; wait "$kestrel" 2>/dev/null || true; }
start_board() {  # options
  "$bin/kestrel-board-sim" "$@" --link "$work/tty.board" --flash "$work/flash.bin" >"$work/board.out" 2>"$work/board.log" &
  board=$!
  pids+=($board)
  wait_for '[[ -L $work/tty.board ]]' 30
}
stop_board() { kill "$board" 2>/dev/null || true; wait "$board" 2>/dev/null || true; rm -f "$work/tty.board"; }
event() { wait_for "grep -q -- '$1' '$work/board.out'" "${2:-60}"; }
line="[COM]\r\nportno=0\r\n[PLANT]\r\nXTLO=4\r\n[PORTS]\r\ncom1=$work/tty.board\r\n"
engineering="[VIEW]\r\nengineering=1\r\n"

# A start that is refused.
"$bin/kestrel" --lib "$work/no such folder" >/dev/null 2>&1 &
refused=$!
pids+=($refused)
box_named Error
shot_screen start-refused
dismiss

# A settings value beyond its list, named where the port cannot open.
start_board --crystal 27M
start_window "[COM]\r\nbaudrate=99\r\n[PORTS]\r\ncom1=$work/tty.board\r\n"
box_named Error
shot_screen port-settings-unlisted
dismiss
stop_window
stop_board

# A board that says it finished before it was sent FONT and LOGO.
start_board --crystal 27M --once --fault skip-sections --reply-gap-ms 100 --progress-gap-ms 20
start_window "$line" "$samples/code.s" "$samples/FONT.bin" "$samples/LOGO.bin"
press alt+u
box_named Warning
shot_screen finished-early
dismiss
stop_window
stop_board

# Files that were all refused, then Update.
printf 'not an update file\n' >"$work/notes.txt"
start_board --crystal 27M
start_window "$line" "$work/notes.txt"
box_named Error  # the refusal itself
dismiss
press alt+u
box_named Warning
shot_screen nothing-taken
dismiss
stop_window
stop_board

# Closing during an update; the line lost while idle and Update before it is back;
# Update after an erase.
start_board --crystal 27M --boards 3 --off 0 --swap 0.3 --swap-replug --unplugged 6 --reply-gap-ms 300 --progress-gap-ms 60
start_window "$line$engineering" "$samples/FONT.bin" "$samples/LOGO.bin"
event "board 1 .* on"
press alt+u
event "board 1 .* woken"
sleep 1.5  # into the update
shot_screen updating-engineering
press alt+F4
box_named Warning
shot_screen close-question
dismiss alt+n
event "board 1 .* done finished" 120
event "^unplugged"
box_named Error
shot_screen line-lost
dismiss
press alt+u
box_named Error
shot_screen cant-open-after-loss
dismiss
sleep 0.3
shot_screen did-not-start-log
wait_for "[[ \$(grep -c '^line ' '$work/board.out') -ge 1 ]]" 30
event "board 2 .* on"
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --window "$window" $((WIDTH * 90 / 242)) $((HEIGHT * 212 / 302)) click 1
press ctrl+a
xdotool type --window "$window" --delay 20 initflash
press alt+d
event "board 2 .* done" 120
# The adapter is pulled after each board: its box first.
wait_for "[[ \$(grep -c '^unplugged' '$work/board.out') -ge 2 ]]" 30
box_named Error
dismiss
press alt+u
box_named Warning
shot_screen update-after-erase
dismiss
stop_window
stop_board

# A wire trace asked for over the update file that is open.
cp "$samples/FONT.bin" "$work/FONT.bin"
start_board --crystal 27M
start_window "$line" "$work/FONT.bin"
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --window "$window" $((WIDTH / 2)) $((HEIGHT * 140 / 144)) click 3
sleep 0.5
xdotool key t
dialog=""
wait_for 'dialog=$(xdotool search --onlyvisible --pid "$kestrel" 2>/dev/null | grep -vx "$window" | head -n 1); [[ -n $dialog ]]' 30
xdotool windowfocus --sync "$dialog" key ctrl+a
xdotool windowfocus --sync "$dialog" type --delay 20 "$work/FONT.bin"
xdotool windowfocus --sync "$dialog" key Return
sleep 0.5
# The file dialog asks whether to replace the file: yes, and the window refuses.
confirm=$(xdotool search --onlyvisible --pid "$kestrel" 2>/dev/null | grep -vx "$window" | grep -vx "$dialog" | head -n 1 || true)
[[ -z $confirm ]] || xdotool windowfocus --sync "$confirm" key --clearmodifiers alt+y
box_named Error
shot_screen trace-refused
dismiss
stop_window
stop_board

# Settings that cannot be kept: the settings file is a folder here.
start_board --crystal 27M
start_window "$line"
rm -f "$work/Lib/M850T.ini"
mkdir "$work/Lib/M850T.ini"
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --window "$window" $((WIDTH * 68 / 242)) $((HEIGHT * 110 / 144)) click 1
sleep 0.3
xdotool key Down Return
sleep 0.5
shot_screen settings-not-kept
stop_window
stop_board

# The window at scale 2 (engineering controls scrolled) and at 1.5 (144 dpi).
for scale in 2 1.5; do
  start_board --crystal 27M
  QT_SCALE_FACTOR=$scale start_window "$line$engineering" "$samples/FONT.bin"
  shot_screen "scale-$scale"
  stop_window
  stop_board
done
