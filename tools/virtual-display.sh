# Sourced by the scripts that show the window in a display of their own (the
# real-window test, the screenshots, the window benchmark): a virtual X server with a
# window manager, and the virtual board wired to com1 of a scratch library folder.
# The sourcing script sets `work` (a scratch folder) and the array `pids` (background
# processes it ends on exit).

# Waits (at most $2 seconds) until the command $1 succeeds.
wait_for() {
  local deadline=$((SECONDS + $2))
  until eval "$1"; do
    ((SECONDS < deadline)) || { echo "gave up waiting for: $1" >&2; return 1; }
    sleep 0.05
  done
}

# Starts Xvfb (it tells its display number once it is ready; KESTREL_SCREEN sets its
# screen, 1024x768x24 without it) and exports DISPLAY; with
# openbox installed a window manager runs on it too, so windows can be closed as an
# operator closes them, and `manager` is 1.
start_virtual_display() {
  Xvfb -displayfd 3 -screen 0 "${KESTREL_SCREEN:-1024x768x24}" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  pids+=($!)
  wait_for '[[ -s $work/display ]]' 30
  export DISPLAY=:$(head -n 1 "$work/display")
  export XDG_RUNTIME_DIR=$work
  manager=0
  if command -v openbox >/dev/null && command -v xprop >/dev/null; then
    openbox --sm-disable >"$work/openbox.log" 2>&1 &
    pids+=($!)
    wait_for 'xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"' 30
    manager=1
  fi
}

# Starts the virtual board of bin folder $1 with the options $2...; sets `board` (its
# pid) and `device` (its pty), and makes $work/Lib, the build's library folder with
# settings that make com1 the board and pick the crystal of XTLO index ${xtlo:-4}.
start_board_on_com1() {
  local bin=$1
  shift
  "$bin/kestrel-board-sim" "$@" >"$work/board.out" 2>"$work/board.log" &
  board=$!
  pids+=($board)
  wait_for '[[ -s $work/board.out ]]' 30
  device=$(head -n 1 "$work/board.out")
  cp -r "$bin/Lib" "$work/Lib"
  printf '[COM]\r\nportno=0\r\n[PLANT]\r\nXTLO=%s\r\n[PORTS]\r\ncom1=%s\r\n' "${xtlo:-4}" "$device" >"$work/Lib/M850T.ini"
}
