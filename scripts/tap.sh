#!/bin/bash
# Puts the monitor on a real serial line: the stand-in taps DEVICE (or, with
# SNIFF_TX and SNIFF_RX, sniffs a line on two read-only ports) and the
# monitor shows every byte. Without DEVICE the device is the simulated modem
# on a pty, so that it works without hardware.
#   usage: tap.sh BUILD_DIR | --check   (settings from the environment:
#          DEVICE=/dev/ttyUSB0 BAUD=115200 FORMAT=8N1, or SNIFF_TX=... SNIFF_RX=...)
# --check only checks the settings: a wrong one is a one-line message and
# exit code 2.
# The application side is a pty pair: a Linux program opens the printed
# path, a Windows program under the same Wine prefix the printed COM port.
# Runs until the window is closed or Ctrl+C, then removes what it made.
set -u
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

DEVICE="${DEVICE:-}"; SNIFF_TX="${SNIFF_TX:-}"; SNIFF_RX="${SNIFF_RX:-}"
BAUD="${BAUD:-115200}"; FORMAT="${FORMAT:-8N1}"

fail() { echo "make tap: $*" >&2; exit 2; }

# A device that the relay can open: present, a terminal, readable and writable.
check_device() {  # check_device NAME PATH
    [ -e "$2" ] || fail "$1=$2: no such device"
    [ -c "$2" ] || fail "$1=$2: not a serial device (not a character device)"
    [ -r "$2" ] && [ -w "$2" ] || fail "$1=$2: no permission to read and write it (is your user in the group that owns it, often dialout?)"
    stty -F "$2" >/dev/null 2>&1 || fail "$1=$2: not a serial device (it answers no terminal settings)"
}

[[ "$BAUD" =~ ^[0-9]+$ ]] && [ "$BAUD" -ge 50 ] && [ "$BAUD" -le 4000000 ] || fail "BAUD=$BAUD: a rate from 50 to 4000000"
[[ "$FORMAT" =~ ^[5-8][NOEMSnoems](1|1\.5|2)$ ]] || fail "FORMAT=$FORMAT: data bits, parity and stop bits, such as 8N1 or 7E1"
if [ -n "$SNIFF_TX$SNIFF_RX" ]; then
    [ -n "$SNIFF_TX" ] && [ -n "$SNIFF_RX" ] || fail "sniffing needs both SNIFF_TX and SNIFF_RX"
    [ -z "$DEVICE" ] || fail "DEVICE and SNIFF_TX/SNIFF_RX do not go together"
    check_device SNIFF_TX "$SNIFF_TX"
    check_device SNIFF_RX "$SNIFF_RX"
elif [ -n "$DEVICE" ]; then
    check_device DEVICE "$DEVICE"
fi
command -v socat >/dev/null || fail "socat is missing (scripts/setup.sh run installs it)"
[ "$1" = --check ] && exit 0

export BUILD_DIR="$(cd "$1" && pwd)"
source "$here/wine-env.sh"

tap="$BUILD_DIR/tap"
dosdevices="$WINEPREFIX/dosdevices"
pids=()
links=()
cleanup() {
    trap - EXIT INT TERM
    if [ -n "${XVFB_PID:-}" ] && [ -n "${DISPLAY:-}" ] && command -v import >/dev/null; then
        import -window root "$BUILD_DIR/tap-screenshot.png" 2>/dev/null &&
            echo "Screenshot of the monitor: $BUILD_DIR/tap-screenshot.png"
    fi
    if [ -n "${monitor:-}" ] && kill -0 "$monitor" 2>/dev/null; then
        # Closed as a user closes it (its window asked to close), so that the
        # relay passes on what it has read before the program ends.
        wine taskkill /im quorvel-emu.exe >/dev/null 2>&1
        local i
        for i in $(seq 50); do kill -0 "$monitor" 2>/dev/null || break; sleep 0.1; done
        kill "$monitor" 2>/dev/null
        wait "$monitor" 2>/dev/null
    fi
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
    rm -f "${links[@]}"
    rm -rf "$tap"
    [ -n "${XVFB_PID:-}" ] && stop_virtual_display
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A pty pair whose ends are the links A and B.
pty_pair() {  # pty_pair A B
    socat "pty,raw,echo=0,link=$1" "pty,raw,echo=0,link=$2" </dev/null >/dev/null 2>&1 &
    pids+=($!)
    local i
    for i in $(seq 100); do [ -e "$1" ] && [ -e "$2" ] && return 0; sleep 0.05; done
    fail "socat made no pty pair"
}

# Maps the Wine serial port to a Unix path.
map_port() {  # map_port comN PATH
    ln -sfn "$2" "$dosdevices/$1"
    links+=("$dosdevices/$1")
}

# The settings text takes a slash as \x2F: "/d" in it would mean uninstall.
escape() { printf '%s' "$1" | sed -e 's/\\/\\\\/g' -e 's|/|\\x2F|g' -e 's/;/\\;/g'; }

"$here/ensure-prefix.sh" || exit 1
rm -rf "$tap"; mkdir -p "$tap"
keys="baud=$BAUD format=$FORMAT"
if [ -n "$SNIFF_TX" ]; then
    map_port com43 "$SNIFF_TX"
    map_port com44 "$SNIFF_RX"
    scenario="sniff COM43 COM44 $keys =Sniff of $(escape "$SNIFF_TX") and $(escape "$SNIFF_RX")"
    echo "Sniffing: TX on $SNIFF_TX, RX on $SNIFF_RX"
else
    pty_pair "$tap/app" "$tap/app-wine"
    map_port com40 "$tap/app-wine"
    map_port com42 "$tap/app"
    if [ -n "$DEVICE" ]; then
        map_port com41 "$DEVICE"
        name="Tap of $(escape "$DEVICE")"
    else
        pty_pair "$tap/modem" "$tap/device"
        "$BUILD_DIR/linux/quorvel-pty-modem" "$tap/modem" &
        pids+=($!)
        map_port com41 "$tap/device"
        name="Tap of the simulated modem"
    fi
    scenario="tap COM41 COM40 $keys =$name"
    echo "Application side: $tap/app"
    echo "Windows programs: COM42"
fi

if [ -z "${DISPLAY:-}" ]; then
    source "$here/xvfb.sh"
    start_virtual_display || exit 1
    echo "No display: the monitor runs on a virtual one; Ctrl+C ends it and saves a screenshot."
fi
wine "$BUILD_DIR/quorvel-emu.exe" "/s=$scenario" </dev/null >/dev/null 2>&1 &
monitor=$!
wait "$monitor"
