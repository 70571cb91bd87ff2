#!/bin/bash
# The monitor of quorvel-tap: quorvel-emu.exe with the tap's settings text,
# under the build's Wine prefix, on $DISPLAY, or on a virtual display of its
# own when there is none (then a screenshot is saved when it is ended).
# quorvel-tap starts it in a process group of its own, below the line in
# priority (nice 10), and ends it with TERM.
#   usage: tap-monitor.sh BUILD_DIR SETTINGS-TEXT
set -u
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export BUILD_DIR="$(cd "$1" && pwd)"
source "$here/wine-env.sh"
"$here/ensure-prefix.sh" || exit 1

monitor=
end() {
    trap - TERM INT HUP
    local shot="${QUORVEL_SCREENSHOT:-$BUILD_DIR/tap-screenshot.png}"
    if [ -n "${XVFB_PID:-}" ] && command -v import >/dev/null; then
        import -window root "$shot" 2>/dev/null && echo "Screenshot of the monitor: $shot" >&2
    fi
    [ -n "$monitor" ] && kill "$monitor" 2>/dev/null
    # The display goes next, before anything waits: the tap ends this
    # script's whole group 5 s after asking, and Xvfb cut short would leave
    # its socket behind. Without its display the monitor ends at once too.
    [ -n "${XVFB_PID:-}" ] && stop_virtual_display
    if [ -n "$monitor" ]; then
        local i
        for i in $(seq 30); do kill -0 "$monitor" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$monitor" 2>/dev/null
        wait "$monitor" 2>/dev/null
    fi
    # Wine's server of this prefix ends a few seconds after its last program.
    timeout 5 "$WINESERVER" -w 2>/dev/null
    exit 0
}
trap end TERM INT HUP

if [ -z "${DISPLAY:-}" ]; then
    source "$here/xvfb.sh"
    start_virtual_display || exit 1
    echo "No display: the monitor runs on a virtual one; its screenshot is saved at the end." >&2
fi
# The loader itself, so that $! is the monitor's own process.
"$WINELOADER" "$BUILD_DIR/quorvel-emu.exe" "/s=$2" </dev/null >/dev/null 2>&1 &
monitor=$!
# Ended by its window (a TERM meanwhile runs end at once).
wait "$monitor"
monitor=
end
