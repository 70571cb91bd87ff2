#!/bin/bash
# What quorvel-tap makes and takes, from the outside, headless (--no-monitor)
# on pty pairs that socat makes: the capture file is only ever a new one,
# the user's alone, and a run on bad input removes only its own; a device
# that a tap holds is refused to a second one, whose settings never reach
# it; the tap's folder and FIFOs are the user's alone under any umask; the
# next run clears what taps killed with SIGKILL left (folders, FIFOs, links,
# COM ports), in $XDG_RUNTIME_DIR, in a --folder and under /tmp; a normal
# end leaves nothing; a frame gap is a plain decimal, a remote line's bad
# host or port is named, and a control character in a path keeps the error
# one line.
#   usage: tap_files_test.sh FOLDER   (the folder that holds quorvel-tap)
set -u
tap="$(cd "$1" && pwd)/quorvel-tap"
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"
work="$(mktemp -d)"
export XDG_RUNTIME_DIR="$work/runtime" WINEPREFIX="$work/prefix"
mkdir -m 700 "$XDG_RUNTIME_DIR" && mkdir -p "$WINEPREFIX/dosdevices"
socat pty,raw,echo=0,link="$work/line-a" pty,raw,echo=0,link="$work/line-b" & pair1=$!
socat pty,raw,echo=0,link="$work/line-c" pty,raw,echo=0,link="$work/line-d" & pair2=$!
for i in $(seq 100); do [ -e "$work/line-a" -a -e "$work/line-d" ] && break; sleep 0.05; done

leftovers() {  # what a tap may leave: in its runtime folder, its COM ports, its links and --folder
    ls -A "$XDG_RUNTIME_DIR" "$WINEPREFIX/dosdevices" | grep -v ':$' | grep .
    ls -d "$work"/app-* "$work/given" 2>/dev/null
}
refused() {  # refused EXPECTED-TEXT ARGUMENT...
    local expected="$1" out status shown before
    shift
    shown="${*//$'\n'/\\n}"
    before="$(leftovers)"
    out="$(timeout 10 "$tap" --no-monitor "$@" 2>&1)"; status=$?  # a tap that starts instead is ended
    check "$shown: exit code 2 (was $status)" [ "$status" -eq 2 ]
    check "$shown: one line naming it (${out//$'\n'/\\n})" \
        [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 -a -n "$(printf '%s' "$out" | grep -F -- "$expected")" ]
    check "$shown: nothing left behind" [ "$(leftovers)" = "$before" ]
}
start() {  # start LOG ARGUMENT...: a tap in the background; $pid once it prints its feed
    local log="$1"
    shift
    "$tap" --no-monitor "$@" >"$log" 2>&1 &
    pid=$!
    for i in $(seq 100); do grep -q "^Feed:" "$log" && break; sleep 0.1; done
}
mode() { stat -c %a "$1"; }

echo kept >"$work/keep.pcap"; echo target >"$work/target"; ln -s "$work/target" "$work/link.pcap"
refused "--capture $work/keep.pcap: exists; name a new file" --capture "$work/keep.pcap" /nonexistent
check "the existing capture file is kept" [ "$(cat "$work/keep.pcap")" = kept ]
refused "--capture $work/link.pcap: exists; name a new file" --capture "$work/link.pcap" "$work/line-a"
check "the link's target is untouched" [ "$(cat "$work/target")" = target -a -L "$work/link.pcap" ]
refused "/nonexistent: no such device" --capture "$work/new.pcap" /nonexistent
check "the capture file this run made is gone" [ ! -e "$work/new.pcap" ]
for gap in 0.0001 0x10 inf 1e3 60001; do refused "--frame-gap $gap: milliseconds" --frame-gap "$gap" "$work/line-a"; done
refused '/dev/no\x0Asuch: no such device' $'/dev/no\nsuch'
# A line on another machine: a host that does not resolve, a port that is
# not a number (nothing is tried on the network for either).
refused "rfc2217://quorvel-no-such-host.invalid:7000: the host quorvel-no-such-host.invalid does not resolve" \
    rfc2217://quorvel-no-such-host.invalid:7000
refused "rfc2217://127.0.0.1:telnet: the port telnet is not a number" rfc2217://127.0.0.1:telnet
refused "rfc2217://127.0.0.1: no port" rfc2217://127.0.0.1
refused '\x0Ab: the folder' --folder "$work/a"$'\n'"b" "$work/line-a"

log1="$work/tap1.log"
(umask 0277 && exec "$tap" --no-monitor --capture "$work/session.pcap" --link "$work/app-1" "$work/line-a" >"$log1" 2>&1) &
tap1=$!
for i in $(seq 100); do grep -q "^Feed:" "$log1" && break; sleep 0.1; done
feed="$(sed -n 's/^Feed: //p' "$log1")"
check "under umask 0277 the capture is 0600, the folder 0700, its FIFOs 0600" \
    [ "$(mode "$work/session.pcap") $(mode "$feed") $(mode "$feed/feed") $(mode "$feed/commands")" = "600 700 600 600" ]
refused "$work/line-a: busy: another program has it open exclusively" --baud 9600 "$work/line-a"
check "the tapped device keeps its speed" [ "$(stty -F "$work/line-a" speed)" = 115200 ]
check "the first tap runs on" kill -0 "$tap1"
kill -TERM "$tap1"; wait "$tap1"; code=$?
check "TERM ends the first tap with 143 (was $code) and leaves nothing but its capture" \
    [ "$code" -eq 143 -a -z "$(leftovers)" -a -s "$work/session.pcap" ]
rm -f "$work/session.pcap"

# Two taps killed: one in the runtime folder with a --link and COM42, one
# in a --folder with COM43. The next run with the same --link and --folder
# starts, and what the two left is gone.
start "$work/tap3.log" --link "$work/app-k" "$work/line-b"; tap3=$pid
start "$work/tap4.log" --folder "$work/given" "$work/line-c"; tap4=$pid
kill -KILL "$tap3" "$tap4"; wait "$tap3" "$tap4" 2>/dev/null
check "the killed taps left their folders, FIFOs and links" \
    [ -p "$XDG_RUNTIME_DIR/quorvel-tap-$tap3/feed" -a -p "$work/given/feed" -a -L "$work/app-k" -a \
      -L "$WINEPREFIX/dosdevices/com42" -a -L "$WINEPREFIX/dosdevices/com43" ]
start "$work/tap5.log" --link "$work/app-k" --folder "$work/given" "$work/line-d"; tap5=$pid
check "the next run with the same --link and --folder starts and takes COM42 again" \
    [ -n "$(grep '^Windows programs: COM42$' "$work/tap5.log")" -a -c "$work/app-k" ]
check "the killed taps' folders and COM43 are gone" \
    [ ! -e "$XDG_RUNTIME_DIR/quorvel-tap-$tap3" -a ! -e "$WINEPREFIX/dosdevices/com43" -a \
      "$(ls -A "$XDG_RUNTIME_DIR")" = "" -a "$(ls -A "$work/given" | tr '\n' ' ')" = "commands feed made " ]
kill -TERM "$tap5"; wait "$tap5"
check "a normal end leaves nothing" [ -z "$(leftovers)" ]

# Without $XDG_RUNTIME_DIR the folders go under /tmp/quorvel-tap-UID: the
# run that made it removes it at its end, and so does the run after a
# killed one that made it (checked only when no other tap of this user's
# has it now).
base="/tmp/quorvel-tap-$(id -u)"
if [ -e "$base" ]; then
    echo "skip $base is there already (another tap's): its removal is not checked"
else
    unset XDG_RUNTIME_DIR
    start "$work/tap6.log" "$work/line-a"; tap6=$pid
    kill -KILL "$tap6"; wait "$tap6" 2>/dev/null
    check "a killed tap leaves $base" [ -d "$base" ]
    start "$work/tap7.log" "$work/line-d"; tap7=$pid
    check "the next run clears the killed tap's folder" [ ! -e "$base/quorvel-tap-$tap6" -a -n "$(grep '^Feed:' "$work/tap7.log")" ]
    kill -TERM "$tap7"; wait "$tap7"
    check "its end removes $base" [ ! -e "$base" ]
fi
kill "$pair1" "$pair2"; wait "$pair1" "$pair2" 2>/dev/null
rm -rf "$work"
checks_passed
