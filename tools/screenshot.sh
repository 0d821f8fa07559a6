#!/usr/bin/env bash
# Starts Quorvix under a virtual X server and saves a picture of the screen:
#   tools/screenshot.sh [output.png] [build dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/docs/screenshot.png}
build=${2:-$root/build}

source "$root/tools/setup.sh"
quorvix_install_packages xvfb imagemagick x11-utils
quorvix_build "$build"

display=:97
Xvfb $display -screen 0 800x700x24 -nolisten tcp &
xvfb=$!
settings=$(mktemp -d)
trap 'kill $app 2>/dev/null; wait $app 2>/dev/null; kill $xvfb 2>/dev/null; rm -rf "$settings"' EXIT
sleep 1

# A settings store of its own, so the picture shows the defaults.
DISPLAY=$display XDG_CONFIG_HOME=$settings QT_QPA_PLATFORM=xcb "$build/quorvix" &
app=$!
sleep 3
mkdir -p "$(dirname "$out")"
DISPLAY=$display import -window root -crop 620x590+0+0 "$out"
echo "saved $out"
