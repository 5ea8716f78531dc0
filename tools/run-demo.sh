#!/usr/bin/env bash
# Builds Kestrel and flashes the sample update files into the virtual board over a
# pseudo-terminal, exactly as a real board would be flashed, then says where the
# board's flash landed.
#
#   tools/run-demo.sh [CRYSTAL]     (default 27M; 4M, 8M, 13.5M, 16M boot slower)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
crystal=${1:-27M}

tools/setup-deps.sh --build
cmake -S . -B build/plain -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/plain -j2 --target kestrel-cli kestrel-board-sim kestrel_lib_folder

bin=build/plain/bin
work=$(mktemp -d /tmp/kestrel-demo.XXXXXX)
flash=$work/board-flash.bin
"$bin/kestrel-board-sim" --crystal "$crystal" --flash "$flash" --once >"$work/board.out" 2>"$work/board.log" &
board=$!
trap 'kill $board 2>/dev/null || true' EXIT
for _ in $(seq 100); do [[ -s $work/board.out ]] && break; sleep 0.05; done
device=$(head -n 1 "$work/board.out")
echo "Virtual board on $device (crystal $crystal)"

status=0
"$bin/kestrel-cli" update --device "$device" --crystal "$crystal" --timeout 30 \
  res/samples/code.s res/samples/FONT.bin res/samples/BITMAP.bin res/samples/LOGO.bin || status=$?
wait $board || status=$?
trap - EXIT
echo "--- virtual board's report"
cat "$work/board.log"
if [[ $status -eq 0 ]]; then
  echo "Flashed. The board's flash image is $flash"
else
  echo "The update failed (status $status); the board's flash is $flash"
fi
exit $status
