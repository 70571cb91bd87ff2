#!/bin/bash
# make tap's script from the outside, as a user meets it: wrong settings are
# a one-line message naming them, exit code 2 and nothing left behind; and
# without a device and without a display, the printed path answers AT with
# OK from the simulated modem, and the end leaves no process, link or pty
# behind but a screenshot.
#   usage: tap_script_test.sh BUILD_DIR
set -u
build="$(cd "$1" && pwd)"
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
tap="$repo/scripts/tap.sh"
failures=0
check() {  # check WHAT CONDITION...
    local what="$1"; shift
    if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
leftovers() {  # what a tap may leave: its folder, its port links, its processes
    ls -d "$build/tap" "$build"/wineprefix/dosdevices/com4[0-4] 2>/dev/null
    pgrep -f "socat pty,raw,echo=0,link=$build/tap" 
    pgrep -f quorvel-pty-modem
}

refused() {  # refused "SETTINGS" EXPECTED-TEXT
    local out status
    out="$(env -u DEVICE -u SNIFF_TX -u SNIFF_RX $1 "$tap" "$build" 2>&1)"; status=$?
    check "$1: exit code 2 (was $status)" [ "$status" -eq 2 ]
    check "$1: one line naming it ($out)" [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 -a -n "$(printf '%s' "$out" | grep -F -- "$2")" ]
    check "$1: nothing left behind" [ -z "$(leftovers)" ]
}
refused "DEVICE=/dev/quorvel-no-such-device" "DEVICE=/dev/quorvel-no-such-device: no such device"
refused "DEVICE=/dev/null" "DEVICE=/dev/null: not a serial device"
refused "DEVICE=$repo/README.md" "not a serial device"
refused "BAUD=fast" "BAUD=fast"
refused "FORMAT=9X3" "FORMAT=9X3"
refused "SNIFF_TX=/dev/null" "needs both SNIFF_TX and SNIFF_RX"

# The demonstration: no device, no display.
log="$(mktemp)"
env -u DISPLAY -u DEVICE -u SNIFF_TX -u SNIFF_RX setsid "$tap" "$build" >"$log" 2>&1 &
script=$!
for i in $(seq 200); do grep -q "^Windows programs:" "$log" && break; sleep 0.1; done
app="$(sed -n 's/^Application side: //p' "$log")"
check "it prints the application side and the Windows programs' port" [ -n "$app" -a -n "$(grep '^Windows programs: COM42$' "$log")" ]
answer="$(mktemp)"
sleep 3  # the monitor's window and its port
"$build/linux/serial_peer" "$app" --send 'AT\r' --expect 9 --timeout-ms 10000 --out "$answer" >/dev/null
check "AT on $app is answered OK" [ "$(od -An -c "$answer" | tr -d ' \n')" = 'AT\r\r\nOK\r\n' ]
rm -f "$build/tap-screenshot.png"
kill -TERM "$script"; wait "$script"
check "the end saves a screenshot" [ -s "$build/tap-screenshot.png" ]
check "the end leaves nothing behind" [ -z "$(leftovers)" ]
rm -f "$log" "$answer" "$answer.done"
exit $((failures > 0))
