#!/bin/bash
# make install and make uninstall as a user meets them: quorvel-tap runs from
# any folder with its Wine prefix in the user's data folder, a session on
# the simulated modem answers AT, and uninstall leaves the prefix folder as
# empty as it was.
#   usage: install_test.sh BUILD_DIR
set -u
build="$(cd "$1" && pwd)"
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"
prefix="$(mktemp -d)"; data="$(mktemp -d)"; runtime="$(mktemp -d)"; log="$(mktemp)"; answer="$(mktemp)"
"$repo/scripts/install.sh" "$build" "$prefix" >/dev/null
cd /
check "--help runs from another folder" [ -n "$("$prefix/bin/quorvel-tap" --help | grep -F -- '--capture FILE')" ]
check "the man page is there" [ -s "$prefix/share/man/man1/quorvel-tap.1" ]

env -u DISPLAY -u WINEPREFIX XDG_DATA_HOME="$data" XDG_RUNTIME_DIR="$runtime" setsid "$prefix/bin/quorvel-tap" >"$log" 2>&1 &
tap=$!
for i in $(seq 600); do grep -q "^Feed:" "$log" && break; sleep 0.1; done
app="$(sed -n 's/^Application side: //p' "$log")"
check "a session starts, its Wine prefix in the user's data folder" [ -n "$app" -a -d "$data/quorvel/wineprefix/dosdevices" ]
sleep 3  # the monitor's window and its port
"$build/linux/serial_peer" "$app" --send 'AT\r' --expect 9 --timeout-ms 10000 --out "$answer" >/dev/null
check "AT on the installed tap is answered OK" [ "$(od -An -c "$answer" | tr -d ' \n')" = 'AT\r\r\nOK\r\n' ]
kill -TERM "$tap"; wait "$tap"
check "the session ends with a screenshot in the user's data folder" [ -s "$data/quorvel/tap-screenshot.png" ]

cd "$repo" && scripts/uninstall.sh "$prefix" >/dev/null
check "uninstall leaves the prefix folder empty" [ -z "$(ls -A "$prefix")" ]
WINEPREFIX="$data/quorvel/wineprefix" timeout 10 /usr/lib/wine/wineserver -w 2>/dev/null
rm -rf "$prefix" "$data" "$runtime" "$log" "$answer" "$answer.done"
checks_passed
