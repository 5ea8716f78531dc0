#!/usr/bin/env bash
# Photographs the widget gallery on a virtual X display, with the pointer resting on the
# live lamp button, into docs/widgets.png (or the file given).
#
#   tools/widget-gallery-screenshot.sh [OUTPUT.png] [BUILD_DIR]
#
# Needs the Debian packages xvfb, xdotool and imagemagick.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
output=${1:-$root/docs/widgets.png}
build=${2:-$root/build/plain}

for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: apt-get install xvfb xdotool imagemagick" >&2; exit 1; }
done
cmake --build "$build" --target kestrel-widget-gallery >/dev/null

display=:$((100 + $$ % 400))
positions=$(mktemp)
Xvfb "$display" -screen 0 1280x1000x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
gallery=""
cleanup() {
  [[ -n $gallery ]] && kill "$gallery" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -f "$positions"
}
trap cleanup EXIT

export DISPLAY=$display
for _ in $(seq 100); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
QT_QPA_PLATFORM=xcb "$build/bin/kestrel-widget-gallery" --print-live >"$positions" &
gallery=$!
window=$(xdotool search --sync --name '^Kestrel widgets$' | head -1)
for _ in $(seq 100); do grep -q CFlatImageButton "$positions" && break; sleep 0.1; done
read -r _ x y < <(grep CFlatImageButton "$positions")
xdotool mousemove --window "$window" "$x" "$y"
sleep 0.5  # let the hover repaint reach the screen
mkdir -p "$(dirname "$output")"
import -window "$window" "$output"
echo "wrote $output"
