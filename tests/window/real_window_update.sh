#!/usr/bin/env bash
# The shipped window in a real X server: kestrel starts with two update files against
# the virtual board (com1 mapped to the board's pty in a scratch library folder), Alt+U
# is pressed as an operator would, and the board must report a whole, correct update.
#
#   real_window_update.sh BIN_FOLDER SOURCE_FOLDER
set -euo pipefail
bin=$1
source=$2
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed (tools/setup-deps.sh)"; exit 77; }
done

work=$(mktemp -d /tmp/kestrel-xvfb.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

source "$source/tools/virtual-display.sh"
start_virtual_display
start_board_on_com1 "$bin" --crystal 27M --once --flash "$work/flash.bin"

"$bin/kestrel" --lib "$work/Lib" "$source/res/samples/FONT.bin" "$source/res/samples/LOGO.bin" \
  >"$work/kestrel.log" 2>&1 &
kestrel=$!
pids+=($kestrel)

window=""
wait_for 'window=$(xdotool search --onlyvisible --name "^Kestrel V1\.003 Build 08032116$" 2>/dev/null | head -n 1); [[ -n $window ]]' 30
xdotool windowfocus --sync "$window"
xdotool key --clearmodifiers alt+u

# The board ends by itself once the update is over; its status says whether every
# check of the tool held.
status=0
wait_for '! kill -0 $board 2>/dev/null' 120 || status=1
if [[ $status -eq 0 ]]; then wait "$board" || status=$?; fi
cat "$work/board.log"
if ! kill -0 "$kestrel" 2>/dev/null; then
  echo "the window ended on its own:"; cat "$work/kestrel.log"; status=1
fi
grep -q "update ended with 'D'" "$work/board.log" || status=1

# Alt+F4 asks the window manager to close the window; the process then ends with 0.
# The board leaving its line has made the window tell the operator ("Error": the
# serial line was lost), which is dismissed first, as an operator would.
if [[ $manager -eq 1 && $status -eq 0 ]]; then
  for _ in $(seq 20); do
    box=$(xdotool search --onlyvisible --name '^Error$' 2>/dev/null | head -n 1 || true)
    if [[ -n $box ]]; then
      xdotool windowfocus --sync "$box" key --clearmodifiers Return
    else
      xdotool windowfocus --sync "$window" key --clearmodifiers alt+F4
    fi
    wait_for '! kill -0 $kestrel 2>/dev/null' 1 2>/dev/null && break
  done
  closed=0
  if kill -0 "$kestrel" 2>/dev/null; then closed=-1; else wait "$kestrel" || closed=$?; fi
  echo "kestrel ended with status $closed once its window was closed"
  [[ $closed -eq 0 ]] || status=1
fi
[[ $status -eq 0 ]] && echo "PASS: the board was flashed through the window" || echo "FAIL (status $status)"
exit $status
