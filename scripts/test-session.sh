#!/bin/bash
# Runs the whole test suite in one session: one virtual X display and one
# persistent wineserver for every test executable. The last line gives the
# number of test cases that passed and failed.
#   usage: test-session.sh BUILD_DIR [ctest arguments...]
set -u
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export BUILD_DIR="$(cd "$1" && pwd)"; shift
export QUORVEL_BUILD_DIR="$BUILD_DIR"
source "$here/wine-env.sh"
source "$here/xvfb.sh"

start_virtual_display || exit 1
trap 'wineserver -k >/dev/null 2>&1; stop_virtual_display' EXIT

"$here/ensure-prefix.sh" || { echo "could not create the Wine prefix" >&2; exit 1; }
wineserver -p   # stays up for the whole run
# Start Wine's own background processes (services, explorer) now, detached
# from CTest's output pipes: started by the first test, they would inherit
# its pipe and CTest would wait for them until its time-out.
wine cmd /c exit </dev/null >/dev/null 2>&1

results="$BUILD_DIR/test-results"
rm -rf "$results"; mkdir -p "$results"
cd "$BUILD_DIR"
ctest --output-on-failure --no-tests=error "$@" 2>&1 | tee "$results/ctest.log"
ctest_status=${PIPESTATUS[0]}

python3 "$here/summarize-tests.py" "$results"
summary_status=$?
[ $ctest_status -eq 0 ] && [ $summary_status -eq 0 ]
