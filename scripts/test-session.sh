#!/bin/bash
# Runs the whole test suite in one session: one virtual X display and one
# persistent wineserver for every test executable. The last line gives the
# number of test cases that passed and failed, and the architecture tested.
#   usage: test-session.sh BUILD_DIR [ctest arguments...]
set -u
export BUILD_DIR="$(cd "$1" && pwd)"; shift
source "$(dirname "${BASH_SOURCE[0]}")/wine-session.sh"

results="$BUILD_DIR/test-results"
rm -rf "$results"; mkdir -p "$results"
cd "$BUILD_DIR"
ctest --output-on-failure --no-tests=error "$@" 2>&1 | tee "$results/ctest.log"
ctest_status=${PIPESTATUS[0]}

python3 "$here/summarize-tests.py" "$results" "$QUORVEL_ARCH"
summary_status=$?
[ $ctest_status -eq 0 ] && [ $summary_status -eq 0 ]
