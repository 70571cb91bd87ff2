#!/bin/bash
# Runs one Windows executable of a build folder in a session of its own (one
# virtual X display and one wineserver, as for the tests), without CTest and
# its time-outs: for the long runs of `make soak`.
#   usage: run-in-session.sh BUILD_DIR EXECUTABLE [arguments...]
set -u
export BUILD_DIR="$(cd "$1" && pwd)"; shift
source "$(dirname "${BASH_SOURCE[0]}")/wine-session.sh"
cd "$BUILD_DIR"
"$WINELOADER" "$@" </dev/null
