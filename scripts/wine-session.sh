# Sourced by the session scripts: one virtual X display and one persistent
# wineserver for a whole run, both ended when the calling script exits.
# Expects BUILD_DIR to be exported; leaves the Wine environment set.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export QUORVEL_BUILD_DIR="$BUILD_DIR"
source "$here/wine-env.sh"
source "$here/xvfb.sh"

start_virtual_display || exit 1
trap 'wineserver -k >/dev/null 2>&1; stop_virtual_display' EXIT

"$here/ensure-prefix.sh" || { echo "could not create the Wine prefix" >&2; exit 1; }
# The server stays up for the whole run. Its own output goes to a log: it
# opens the serial devices of the relays' tests itself, a pty can become its
# controlling terminal, and a pty's end then sends it a hangup, on which it
# prints its whole object table.
wineserver -p 2>>"$BUILD_DIR/wineserver.log"
# Start Wine's own background processes (services, explorer) now, detached
# from the caller's output pipes: started by the first test, they would
# inherit its pipe, and CTest would wait for them until its time-out.
wine cmd /c exit </dev/null >/dev/null 2>&1
