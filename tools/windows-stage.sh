#!/usr/bin/env bash
# The Windows stage of the tests: kestrel-cli.exe and the Windows tests, built with
# mingw-w64, run under Wine against ptys that stand in for COM ports.
#
# - A fresh Wine prefix (build/windows-stage/wine) whose COM ports are mapped in its
#   registry before anything else runs in it: COM1 is the virtual board (the native
#   Linux kestrel-board-sim, through a link that each board run renews), COM2-COM3 a
#   null-modem cable, COM4-COM5 a line that hangs up, COM9 a device that is absent.
#   The mapping is checked, and the wineserver, which opens every device for Wine's
#   programs, runs under strace where it is installed: the stage fails if anything
#   reached a real /dev/ttyS* or /dev/ttyUSB*.
# - The image, engine and Win32 line tests through CTest (Wine is its emulator).
# - kestrel-cli.exe updates the virtual board (the board's own checks must hold, and
#   its flash must equal what the Linux kestrel-cli writes into another board), erases
#   it, and refuses a bad file without touching the board; the wire traces of the
#   Linux and the Windows update are compared byte for byte, times aside.
#
#   tools/windows-stage.sh        (after a plain build in build/plain)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
stage_start=$(date +%s.%N)

tools/build-windows.sh
cmake --build build/plain -j2 --target kestrel-cli kestrel-board-sim kestrel-null-modem kestrel_lib_folder >/dev/null

plain=build/plain/bin
win=build/windows/bin
work=build/windows-stage
rm -rf "$work"
mkdir -p "$work/wine"
work=$(cd "$work" && pwd)

export WINEPREFIX=$work/wine WINEDEBUG=-all
# No Mono or Gecko installer on the first start, and no window: these are console
# programs.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

pids=()
cleanup() {
  wineserver -k 2>/dev/null || true
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
}
trap cleanup EXIT

# Waits (at most a generous minute) until the file has N lines.
wait_lines() {
  local file=$1 n=$2
  for _ in $(seq 1200); do
    [[ -f $file && $(wc -l <"$file") -ge $n ]] && return 0
    sleep 0.05
  done
  echo "windows stage: $file never had $n lines" >&2
  return 1
}

# The null-modem cable and the line that hangs up; they live until their input ends.
mkfifo "$work/modem.in"
"$plain/kestrel-null-modem" cable hangup <"$work/modem.in" >"$work/modem.out" &
pids+=($!)
exec 7>"$work/modem.in"
wait_lines "$work/modem.out" 2
read -r cable_a cable_b < <(sed -n 1p "$work/modem.out")
read -r hangup_a hangup_b < <(sed -n 2p "$work/modem.out")

# The board for the Windows runs; COM1 is the link it keeps to its pty.
board_link=$work/board-line
start_board() {  # flash file, output stem
  "$plain/kestrel-board-sim" --crystal 27M --flash "$1" --link "$board_link" >"$2.out" 2>"$2.log" &
  board=$!
  pids+=($board)
  wait_lines "$2.out" 1
}
start_board "$work/windows-flash.bin" "$work/windows-board"

# The wineserver opens every file and device for Wine's programs: it runs, under
# strace where there is one, before anything else starts Wine in the new prefix.
tracer=()
if command -v strace >/dev/null; then
  tracer=(strace -f -qq -e trace=open,openat)
fi
# Starts the prefix's wineserver (under strace, where there is one) and waits until
# it takes clients, so that no Wine program starts one of its own meanwhile.
start_wineserver() {  # strace log
  local run=(wineserver -f -p)
  [[ ${#tracer[@]} -gt 0 ]] && run=("${tracer[@]}" -o "$1" "${run[@]}")
  "${run[@]}" >>"$work/wineserver.out" 2>&1 &
  wineserver_pid=$!
  pids+=($wineserver_pid)
  # Its socket is in a folder named after the prefix's device and inode, under
  # /tmp/.wine-UID or a temporary folder of its own.
  local server
  server=server-$(printf '%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
  for _ in $(seq 1200); do
    compgen -G "${TMPDIR:-/tmp}/.wine-$(id -u)/$server/socket" >/dev/null && return 0
    compgen -G "${TMPDIR:-/tmp}/wine-*/$server/socket" >/dev/null && return 0
    sleep 0.05
  done
  echo "windows stage: the wineserver never started" >&2
  return 1
}
stop_wineserver() {
  wineserver -k 2>/dev/null || true
  wait "$wineserver_pid" 2>/dev/null || true
}
start_wineserver "$work/wineserver-1.strace"

declare -A ports=([COM1]=$board_link [COM2]=$cable_a [COM3]=$cable_b [COM4]=$hangup_a [COM5]=$hangup_b
                  [COM9]=$work/no-such-device)
for port in "${!ports[@]}"; do
  wine reg add 'HKLM\Software\Wine\Ports' /v "$port" /d "${ports[$port]}" /f >/dev/null
done
# The mapping takes effect when Wine's devices are made anew: restart the services.
stop_wineserver
start_wineserver "$work/wineserver-2.strace"
wine reg query 'HKLM\Software\Wine\Ports' >"$work/ports.reg"
for port in "${!ports[@]}"; do
  grep -q "$port.*REG_SZ.*${ports[$port]}" "$work/ports.reg" || { echo "windows stage: $port is not mapped" >&2; exit 1; }
done
# Each test port leads where it was mapped. Wine also gives the machine's own serial
# devices the first free COM numbers (COM6 -> /dev/ttyS0): no test names those, and
# the strace of the wineserver, which opens every device for Wine's programs, shows
# at the end that none was opened.
for port in "${!ports[@]}"; do
  link=$WINEPREFIX/dosdevices/$(tr A-Z a-z <<<"$port")
  [[ $(readlink "$link") == "${ports[$port]}" ]] || { echo "windows stage: $link does not lead to ${ports[$port]}" >&2; exit 1; }
done
for link in "$WINEPREFIX"/dosdevices/com*; do
  name=$(basename "$link" | tr a-z A-Z)
  [[ -n ${ports[$name]:-} ]] || echo "windows stage: $name leads to $(readlink "$link"); no test uses it"
done

status=0
summary=()
check() {  # description, command...
  local what=$1
  shift
  if "$@"; then summary+=("ok      $what"); else summary+=("FAILED  $what"); status=1; fi
}

# --- the Windows unit tests
tests_start=$(date +%s.%N)
export KESTREL_TEST_CABLE="2 3" KESTREL_TEST_HANGUP="4 5" KESTREL_TEST_ABSENT=9
check "image, engine, platform and Win32 line tests under Wine" \
  ctest --test-dir build/windows --output-on-failure --timeout 300
tests_end=$(date +%s.%N)

# What an idle open line costs under Wine: kestrel-cli.exe's console on the cable for
# five seconds, the processor time of the program (not of the wineserver).
mkfifo "$work/console.in"
(sleep 5 >"$work/console.in" &)
TIMEFORMAT='%U %S'
{ time wine "$win/kestrel-cli.exe" console --device COM2 <"$work/console.in" >"$work/console.out" 2>&1; } 2>"$work/idle.time" || true
idle_cpu=$(awk '{ printf "%.2f", $1 + $2 }' "$work/idle.time")

wine "$win/kestrel-cli.exe" ports >"$work/ports.out" 2>&1 || true
check "kestrel-cli.exe ports lists the COM ports Wine has (their devices unopened)" \
  bash -c "grep -q '^COM2 *\\\\\\\\\.\\\\COM2 ' '$work/ports.out' && grep -q '^COM5 ' '$work/ports.out'"

samples=(res/samples/code.s res/samples/FONT.bin res/samples/BITMAP.bin res/samples/LOGO.bin)

# --- the Linux reference: the same update with the Linux kestrel-cli
"$plain/kestrel-board-sim" --crystal 27M --flash "$work/linux-flash.bin" --once \
  >"$work/linux-board.out" 2>"$work/linux-board.log" &
linux_board=$!
pids+=($linux_board)
wait_lines "$work/linux-board.out" 1
check "Linux kestrel-cli update (the reference)" \
  "$plain/kestrel-cli" update --device "$(head -n 1 "$work/linux-board.out")" --crystal 27M --timeout 60 \
  --trace "$work/linux.trace" "${samples[@]}"
check "the reference board's own checks" wait "$linux_board"

# --- kestrel-cli.exe on COM1
update_start=$(date +%s.%N)
check "kestrel-cli.exe update on COM1" \
  wine "$win/kestrel-cli.exe" update --device COM1 --crystal 27M --timeout 60 \
  --trace "$work/windows.trace" "${samples[@]}"
update_end=$(date +%s.%N)
cp "$work/windows-flash.bin" "$work/windows-flash-updated.bin"
check "the board's flash equals the Linux build's" cmp "$work/linux-flash.bin" "$work/windows-flash-updated.bin"

# Both traces with the times, the devices and the trace's start date taken out.
normalise() {
  sed -E -e 's/^[0-9]+\.[0-9]{6} //' -e 's/^OPEN [^ ]+ /OPEN - /' -e '/^NOTE trace began /d' "$1"
}
normalise "$work/linux.trace" >"$work/linux.trace.cmp"
normalise "$work/windows.trace" >"$work/windows.trace.cmp"
check "the wire traces of both updates are the same, byte for byte" \
  cmp "$work/linux.trace.cmp" "$work/windows.trace.cmp"

check "kestrel-cli.exe erase on COM1" wine "$win/kestrel-cli.exe" erase --port 1 --crystal 27M --timeout 60
check "the erased flash holds nothing but 0xFF" \
  bash -c "[[ -z \$(tr -d '\\377' <'$work/windows-flash.bin' | head -c 1) ]]"

head -c 1000 /dev/urandom >"$work/refused.bin"
refused_status=0
wine "$win/kestrel-cli.exe" update --device '\\.\COM1' --crystal 27M --trace "$work/refused.trace" \
  "$work/refused.bin" >"$work/refused.out" 2>&1 || refused_status=$?
check "a refused file ends with status 1" test "$refused_status" -eq 1
check "a refused file sends nothing to the board" \
  bash -c "test -s '$work/refused.trace' && ! grep -Eq '^[0-9.]+ TX' '$work/refused.trace'"

kill -TERM "$board" 2>/dev/null || true
check "the board's own checks over the update and the erase" wait "$board"

stop_wineserver
exec 7>&-
if [[ ${#tracer[@]} -gt 0 ]]; then
  # The wineserver opens a COM port through its link in dosdevices: every port opened
  # must be a test line, and the trace must show them, or it would prove nothing.
  grep -ohE '"[^"]*/dosdevices/com[0-9]+"' "$work"/wineserver-*.strace | sed -E 's/.*\/com([0-9]+)"/COM\1/' |
    sort -u >"$work/opened-ports"
  check "the wineserver's trace shows the test lines opened" grep -qx COM2 "$work/opened-ports"
  stray=$(grep -vxE "$(IFS='|'; echo "${!ports[*]}")" "$work/opened-ports" || true)
  check "no COM port but the test lines was opened under Wine" test -z "$stray"
  check "no real serial device was opened under Wine by its own name" \
    bash -c "! grep -hE '\"/dev/tty(S|USB|ACM)[0-9]' '$work'/wineserver-*.strace"
else
  summary+=("skipped no real serial device opened (strace is not installed; the mapping was checked)")
fi

stage_end=$(date +%s.%N)
echo
echo "--- Windows stage"
printf '%s\n' "${summary[@]}"
awk -v a="$stage_start" -v b="$stage_end" -v t1="$tests_start" -v t2="$tests_end" -v u1="$update_start" -v u2="$update_end" \
  -v idle="$idle_cpu" \
  'BEGIN { printf "stage %.0f s (tests under Wine %.0f s, one update under Wine %.0f s; an idle open line: %s s of processor in 5 s)\n", b - a, t2 - t1, u2 - u1, idle }'
exit $status
