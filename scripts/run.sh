#!/bin/bash
# Runs quorvel-emu.exe with its default scenario. On $DISPLAY when there is
# one; otherwise on a virtual display, where it saves a screenshot after a
# few seconds and ends the program.   usage: run.sh BUILD_DIR [arguments...]
set -u
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export BUILD_DIR="$(cd "$1" && pwd)"; shift
source "$here/wine-env.sh"
"$here/ensure-prefix.sh" || exit 1

if [ -n "${DISPLAY:-}" ]; then
    exec "$WINELOADER" "$BUILD_DIR/quorvel-emu.exe" "$@"
fi

source "$here/xvfb.sh"
start_virtual_display || exit 1
trap 'wineserver -k >/dev/null 2>&1; stop_virtual_display' EXIT
wine "$BUILD_DIR/quorvel-emu.exe" "$@" </dev/null >/dev/null 2>&1 &
sleep "${QUORVEL_SCREENSHOT_DELAY:-8}"
shot="$BUILD_DIR/screenshot.png"
import -window root "$shot"
echo "No display: ran on a virtual one; screenshot saved to $shot"
