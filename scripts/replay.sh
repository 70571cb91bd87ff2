#!/bin/bash
# A captured session (quorvel-tap --capture) in the monitor: quorvel-emu.exe
# replays the file in a pane of its own, at the file's pace or as fast as
# the monitor takes it. On $DISPLAY, or on a virtual display with a
# screenshot (as make run).
#   usage: replay.sh BUILD_DIR FILE [max]
set -u
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
file="${2:-}"
[ -n "$file" ] || { echo "make replay: FILE=session.pcap names the capture to replay" >&2; exit 2; }
[ -f "$file" ] || { echo "make replay: FILE=$file: no such file" >&2; exit 2; }
path="$(cd "$(dirname "$file")" && pwd)/$(basename "$file")"
case "$path" in *[[:space:]\;]*) echo "make replay: FILE=$file: the path may hold no blank and no ';'" >&2; exit 2 ;; esac
speed=""
[ "${3:-}" = max ] && speed=" speed=max"
exec "$here/run.sh" "$1" "/s=replay Z:${path//\//\\}$speed"
