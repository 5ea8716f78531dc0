#!/usr/bin/env bash
# The shipped station view in a real X server, driven by keys as an operator drives it:
# four virtual boards on four ports, each powered a moment after Start, all flashed
# with a record each in the results file named on the command line; the view stays up
# for the next boards; Alt+F4 while a board is under way is refused with a word, and
# at rest it closes the program with status 0.
#
#   real_station_window.sh BIN_FOLDER SOURCE_FOLDER
set -euo pipefail
bin=$1
source=$2
for tool in Xvfb xdotool xprop; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed (tools/setup-deps.sh)"; exit 77; }
done

work=$(mktemp -d /tmp/kestrel-xvfb-station.XXXXXX)
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
  for n in 1 2 3 4; do echo "--- board $n"; cat "$work/board$n.out" 2>/dev/null || true; done
  echo "--- records"; cat "$work/results.jsonl" 2>/dev/null || true
  echo "--- window"; cat "$work/kestrel.log" 2>/dev/null || true
  exit 1
}

source "$source/tools/virtual-display.sh"
KESTREL_SCREEN=1280x1024x24 start_virtual_display
[[ $manager -eq 1 ]] || { echo "skipped: no window manager (openbox) to close windows with"; exit 77; }

cp -r "$bin/Lib" "$work/Lib"
{
  printf '[COM]\r\nportno=0\r\n[PORTS]\r\n'
  for n in 1 2 3 4; do printf 'com%d=%s\r\n' "$n" "$work/line$n"; done
  printf '[STATION]\r\ncrystal=4\r\nwakeevery=0.2\r\nrearmafter=0.3\r\nexpect=firmware OK\r\nwithin=2\r\n'
} >"$work/Lib/M850T.ini"

"$bin/kestrel" --station --lib "$work/Lib" --results "$work/results.jsonl" \
  "$source/res/samples/code.s" "$source/res/samples/FONT.bin" >"$work/kestrel.log" 2>&1 &
kestrel=$!
pids+=($kestrel)
window=""
wait_for 'window=$(xdotool search --onlyvisible --name "^Kestrel Station" 2>/dev/null | head -n 1); [[ -n $window ]]' 30 ||
  fail "the station view did not come up"
press() { xdotool windowfocus --sync "$window" key --clearmodifiers "$@"; }
records() { cat "$work/results.jsonl" 2>/dev/null | wc -l; }

# Two boards in turn on each line, the first powered a moment after Start.
for n in 1 2 3 4; do
  "$bin/kestrel-board-sim" --crystal 27M --boards 2 --off 1.5 --swap 1.5 --link "$work/line$n" \
    --flash "$work/flash$n" --reply-gap-ms 40 --progress-gap-ms 15 >"$work/board$n.out" 2>"$work/board$n.log" &
  pids+=($!)
done
for n in 1 2 3 4; do wait_for "[[ -L $work/line$n ]]" 30 || fail "line $n did not appear"; done
sleep 0.5  # the files are taken in
press alt+s

# Alt+F4 while boards are being flashed: the view stays, and says why.
wait_for 'xdotool search --onlyvisible --name "^Kestrel Station - [0-9]+ flashing$" >/dev/null 2>&1' 60 ||
  fail "the view never said boards were being flashed"
press alt+F4
box=""
wait_for 'box=$(xdotool search --onlyvisible --name "^Warning$" 2>/dev/null | head -n 1); [[ -n $box ]]' 30 ||
  fail "closing while flashing said nothing"
xdotool windowfocus --sync "$box" key --clearmodifiers Return
kill -0 "$kestrel" 2>/dev/null || fail "the view went while boards were being flashed"
echo "ok: closing while boards are flashed is refused with a word"

wait_for '[[ $(records) -ge 4 ]]' 120 || fail "four boards were not recorded"
echo "ok: four boards flashed, $(records) records"
kill -0 "$kestrel" 2>/dev/null || fail "the view went after the first boards"
xdotool search --onlyvisible --name "^Kestrel Station" >/dev/null || fail "the view is no longer shown"

# The next board of each line is flashed too: the view stayed armed.
wait_for '[[ $(records) -ge 8 ]]' 120 || fail "the second boards were not recorded"
for n in 1 2 3 4; do
  [[ $(grep -c "\"port\":$n," "$work/results.jsonl") -eq 2 ]] || fail "port $n has no two records"
done
[[ $(grep -c '"result":"passed"' "$work/results.jsonl") -eq 8 ]] || fail "not every board passed"
grep -qi "^results=$work/results.jsonl" "$work/Lib/M850T.ini" || fail "--results was not kept in [STATION]"
echo "ok: every port flashed its next board, and the records name them"

# At rest, Alt+F4 ends the program with status 0.
for n in 1 2 3 4; do
  wait_for "grep -q 'board 2 .* done' '$work/board$n.out'" 60 || fail "board 2 of line $n did not end"
done
sleep 0.5
press alt+F4
wait_for '! kill -0 $kestrel 2>/dev/null' 30 || fail "the view stayed after Alt+F4 at rest"
status=0
wait "$kestrel" || status=$?
[[ $status -eq 0 ]] || fail "the view ended with $status"
echo "ok: closed at rest, status 0"
echo "PASS: the station view under the operator's keys"
