#!/usr/bin/env bash
# Starts Quorvix under a virtual X server and saves a picture of its window:
#   tools/screenshot.sh [output.png] [build dir]
# Needs xvfb, imagemagick and x11-utils; installs them when missing. The tests
# do not need any of them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/docs/screenshot.png}
build=${2:-$root/build}

source "$root/tools/setup.sh"
quorvix_install_packages xvfb imagemagick x11-utils
# Only the program: a half-finished test elsewhere must not stop the picture.
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build"
cmake --build "$build" --target quorvix --parallel "$(nproc)"

work=$(mktemp -d)
app='' xvfb=''
cleanup() {
    local pid
    for pid in $app $xvfb; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display and writes its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 800x700x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(cat "$work/display")

# A settings store of its own, so the picture shows the defaults.
XDG_CONFIG_HOME=$work QT_QPA_PLATFORM=xcb "$build/quorvix" >/dev/null 2>&1 &
app=$!
for _ in $(seq 100); do xwininfo -name Quorvix >/dev/null 2>&1 && break; sleep 0.1; done
window=$(xwininfo -name Quorvix 2>/dev/null | awk '/Window id:/ {print $4}') || true
[ -n "$window" ] || { echo "the Quorvix window did not appear" >&2; exit 1; }
sleep 1 # let the first paint finish

# Without a compositor the window's transparent shadow margin comes out pure
# black: make it transparent again and draw a soft shadow in its place.
mkdir -p "$(dirname "$out")"
import -window "$window" "$work/window.png"
convert "$work/window.png" -alpha set -fill none -draw 'color 0,0 floodfill' -trim +repage \
    \( +clone -background black -shadow 35x8+0+3 \) +swap -background none -layers merge +repage \
    "$out"
echo "saved $out"
