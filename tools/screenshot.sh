#!/usr/bin/env bash
# Regenerates the README's pictures, docs/<mode>.png: the real window in each
# mode under a virtual X server, talking to peers on loopback or to a
# pseudo-terminal (tools/shots sets each scene up).
#   tools/screenshot.sh [build dir [scene...]]
# Needs xvfb, imagemagick and x11-utils; installs them when missing. The tests
# do not need any of them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
scenes=(tcp-client tcp-server udp serial quick-send find hex-view)
[ $# -gt 1 ] && scenes=("${@:2}")

source "$root/tools/setup.sh"
quorvix_install_packages xvfb imagemagick x11-utils
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build"
cmake --build "$build" --target quorvix_shots --parallel "$(nproc)"

work=$(mktemp -d)
shots='' xvfb=''
stop() {
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}
cleanup() {
    local pid
    for pid in $shots $xvfb; do stop "$pid"; done
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display and writes its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 800x700x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(cat "$work/display")
export QT_QPA_PLATFORM=xcb

mkdir -p "$root/docs"
for scene in "${scenes[@]}"; do
    # A settings store of its own, so every picture starts from the defaults.
    XDG_CONFIG_HOME=$work/config-$scene "$build/tools/shots/quorvix_shots" "$scene" \
        >"$work/$scene.id" 2>"$work/$scene.log" &
    shots=$!
    # The driver prints the window's id once the scene is complete.
    for _ in $(seq 300); do
        [ -s "$work/$scene.id" ] && break
        kill -0 "$shots" 2>/dev/null || break
        sleep 0.1
    done
    [ -s "$work/$scene.id" ] || { cat "$work/$scene.log" >&2; echo "scene $scene failed" >&2; exit 1; }

    # From the screen rather than the window, so that open popups are in it.
    read -r x y w h < <(xwininfo -id "$(cat "$work/$scene.id")" | awk '
        /Absolute upper-left X:/ {x=$4} /Absolute upper-left Y:/ {y=$4}
        /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}')
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$work/$scene.png"
    stop "$shots"
    shots=''

    # Without a compositor the main window's transparent shadow margin comes
    # out pure black: make it transparent again and draw a soft shadow in its
    # place. A tool window has no margin; it only gets the shadow.
    margin=()
    if [ "$(convert "$work/$scene.png" -format '%[fx:p{0,0}.intensity==0]' info:)" = 1 ]; then
        margin=(-fill none -draw 'color 0,0 floodfill' -trim +repage)
    fi
    convert "$work/$scene.png" -alpha set "${margin[@]}" \
        \( +clone -background black -shadow 35x8+0+3 \) +swap -background none -layers merge +repage \
        "$root/docs/$scene.png"
    echo "saved docs/$scene.png"
done
