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
wineserver -p   # stays up for the whole run
# Start Wine's own background processes (services, explorer) now, detached
# from the caller's output pipes: started by the first test, they would
# inherit its pipe, and CTest would wait for them until its time-out.
wine cmd /c exit </dev/null >/dev/null 2>&1
