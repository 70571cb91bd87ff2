#!/bin/bash
# Runs the capture benchmark in a session of its own: one virtual X display
# and one wineserver, as for the tests. Extra arguments go to the benchmark
# (for example --quick, --cap=SECONDS, --feed=SECONDS).
#   usage: bench-session.sh BUILD_DIR [benchmark arguments...]
set -u
export BUILD_DIR="$(cd "$1" && pwd)"; shift
source "$(dirname "${BASH_SOURCE[0]}")/wine-session.sh"

cd "$BUILD_DIR"
wine bench/capture_bench.exe "$@" </dev/null
