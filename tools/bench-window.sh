#!/usr/bin/env bash
# Builds and runs the window's benchmark: the time from starting kestrel to its first
# painted window, and the longest stall of its event loop during a real-time update
# against the virtual board. Uses the display there is, or a virtual one (Xvfb).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
tools/setup-deps.sh
cmake -S . -B build/plain -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/plain -j2 --target kestrel-bench-window
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d /tmp/kestrel-runtime.XXXXXX)}
if [[ -n ${DISPLAY:-} ]]; then
  exec build/plain/bin/kestrel-bench-window
fi
exec xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" build/plain/bin/kestrel-bench-window
