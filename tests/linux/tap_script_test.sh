#!/bin/bash
# quorvel-tap from the outside, as a user meets it: bad input is one line
# that names it and exit code 2, with nothing left behind; without a device
# and without a display, the printed path answers AT with OK from the
# simulated modem, a second tap beside it takes the next COM port, and TERM,
# INT or HUP (twice, even) end each with its signal's code, leaving no
# process, link, folder or display socket behind but a screenshot.
#   usage: tap_script_test.sh BUILD_DIR
set -u
build="$(cd "$1" && pwd)"
tap="$build/linux/quorvel-tap"
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"
runtime="$(mktemp -d)"
export XDG_RUNTIME_DIR="$runtime"
displays_before="$(ls /tmp/.X11-unix 2>/dev/null)"
leftovers() {  # what a tap may leave: its folder, its port links, its processes, its virtual display
    ls -d "$runtime"/quorvel-tap-* "$build"/wineprefix/dosdevices/com4[2-9] 2>/dev/null
    pgrep -f "$build/linux/quorvel-(tap|pty-modem)"
    pgrep -f "quorvel-emu.exe /s=tap"
    comm -13 <(printf '%s\n' "$displays_before") <(ls /tmp/.X11-unix 2>/dev/null)
}

refused() {  # refused "ARGUMENTS" EXPECTED-TEXT
    local out status
    out="$(env -u DISPLAY $tap $1 2>&1)"; status=$?
    check "$1: exit code 2 (was $status)" [ "$status" -eq 2 ]
    check "$1: one line naming it ($out)" [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 -a -n "$(printf '%s' "$out" | grep -F -- "$2")" ]
    check "$1: nothing left behind" [ -z "$(leftovers)" ]
}
refused "/dev/quorvel-no-such-device" "/dev/quorvel-no-such-device: no such device"
refused "/dev/null" "/dev/null: not a terminal"
refused "--baud fast" "--baud fast"
refused "--format 9X3" "--format 9X3"
refused "--sniff /dev/null" "--sniff: needs two devices"
refused "--frobnicate" "--frobnicate: unknown option"
out="$($tap --help)"
check "--help names every option and the pty's limit" \
    [ -n "$(printf '%s' "$out" | grep -F -- '--no-monitor')" -a -n "$(printf '%s' "$out" | grep -F 'a pty keeps neither')" ]

# start LOG: a tap on the simulated modem, without a display, in a session
# of its own; sets $pid once it says where its application side is.
start() {
    env -u DISPLAY setsid "$tap" >"$1" 2>&1 &
    pid=$!
    for i in $(seq 300); do grep -q "^Feed:" "$1" && break; sleep 0.1; done
}
first="$(mktemp)"; second="$(mktemp)"
start "$first"; one=$pid
start "$second"; two=$pid
app="$(sed -n 's/^Application side: //p' "$first")"
check "it prints the application side and the Windows programs' port" [ -n "$app" -a -n "$(grep '^Windows programs: COM42$' "$first")" ]
check "a second tap beside it takes the next port" [ -n "$(grep '^Windows programs: COM43$' "$second")" ]
answer="$(mktemp)"
sleep 3  # the monitors' windows and their ports
# The monitor runs below the line: every process of it at nice 10, the tap at its own.
monitor_nice="$(ps -o ni=,args= -s "$one" | awk '/quorvel-emu/ {print $1}' | sort -u | tr '\n' ' ')"
check "the first tap's monitor runs at nice 10, the tap at 0 ($monitor_nice)" \
    [ "$monitor_nice" = "10 " -a "$(ps -o ni= -p "$one" | tr -d ' ')" = 0 ]
"$build/linux/serial_peer" "$app" --send 'AT\r' --expect 9 --timeout-ms 10000 --out "$answer" >/dev/null
check "AT on $app is answered OK" [ "$(od -An -c "$answer" | tr -d ' \n')" = 'AT\r\r\nOK\r\n' ]
rm -f "$build/tap-screenshot.png"
kill -TERM "$one"; kill -INT "$one"; wait "$one"; code=$?
check "TERM (and an INT behind it) ends the first with 143 (was $code)" [ "$code" -eq 143 ]
check "the end saves a screenshot" [ -s "$build/tap-screenshot.png" ]
kill -HUP "$two"; wait "$two"; code=$?
check "HUP ends the second with 129 (was $code)" [ "$code" -eq 129 ]
check "the ends leave nothing behind" [ -z "$(leftovers)" ]
# A tap killed outright takes its monitor, its modem and its display with
# it; the next run clears its folder and its port.
third="$(mktemp)"; fourth="$(mktemp)"
start "$third"; three=$pid
sleep 3  # its monitor's window
kill -KILL "$three"; wait "$three" 2>/dev/null
start "$fourth"; four=$pid
check "the next run after a killed tap takes COM42 again" [ -n "$(grep -a '^Windows programs: COM42$' "$fourth")" ]
kill -TERM "$four"; wait "$four"
# The killed one's monitor ends as a TERM ends it: a screenshot, then its
# display, then Wine's server, within about 12 s.
for i in $(seq 200); do [ -z "$(leftovers)" ] && break; sleep 0.1; done
left="$(leftovers)"
check "a killed tap's monitor and display end with it, and nothing is left ($left)" [ -z "$left" ]
rm -rf "$first" "$second" "$third" "$fourth" "$answer" "$answer.done" "$runtime"
checks_passed
