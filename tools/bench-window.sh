#!/usr/bin/env bash
# Builds and runs the window's benchmark: the time from starting kestrel to its first
# painted window, and the longest stall of its event loop during a real-time update
# against the virtual board. Uses the display there is, or a virtual one (Xvfb).
# `bench-window.sh station [SECONDS]` runs the station view's benchmark instead: start
# to first painted view, the longest stall with 16 ports flashing, and the CPU of 16
# armed ports over SECONDS (default 60).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
tools/setup-deps.sh
cmake -S . -B build/plain -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
bench=kestrel-bench-window
args=()
if [[ ${1:-} == station ]]; then
  bench=kestrel-bench-station-view
  args=("${@:2}")
fi
cmake --build build/plain -j2 --target "$bench"
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d /tmp/kestrel-runtime.XXXXXX)}
if [[ -n ${DISPLAY:-} ]]; then
  exec "build/plain/bin/$bench" "${args[@]}"
fi
exec xvfb-run -a -s "-screen 0 1920x1200x24 -nolisten tcp" "build/plain/bin/$bench" "${args[@]}"
