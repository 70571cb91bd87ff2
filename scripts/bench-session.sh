#!/bin/bash
# Runs the capture benchmark in a session of its own: one virtual X display
# and one wineserver, as for the tests. Extra arguments go to the benchmark
# (for example --quick, --cap=SECONDS, --feed=SECONDS).
#   usage: bench-session.sh BUILD_DIR [benchmark arguments...]
set -u
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export BUILD_DIR="$(cd "$1" && pwd)"; shift
export QUORVEL_BUILD_DIR="$BUILD_DIR"
source "$here/wine-env.sh"
source "$here/xvfb.sh"

start_virtual_display || exit 1
trap 'wineserver -k >/dev/null 2>&1; stop_virtual_display' EXIT

"$here/ensure-prefix.sh" || { echo "could not create the Wine prefix" >&2; exit 1; }
wineserver -p
# Wine's own background processes start now, not inside the measurements.
wine cmd /c exit </dev/null >/dev/null 2>&1

cd "$BUILD_DIR"
wine bench/capture_bench.exe "$@" </dev/null
