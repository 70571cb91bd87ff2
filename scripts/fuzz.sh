#!/bin/bash
# Builds the program's pure code natively with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer (tests/fuzz), runs every libFuzzer target over
# its committed seeds and findings (tests/fuzz/corpus/TARGET: a regression
# test), then fuzzes each for SECONDS more. A crash or a failed check is
# kept in build/fuzz/findings/ and ends the run with status 1; copy the input
# into the target's corpus folder once it is fixed.
#   usage: fuzz.sh [SECONDS] [BUILD_DIR]
set -u
seconds="${1:-3}"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/.." && pwd)"
build="${2:-$repo/build}/fuzz"
targets=(property_reply capture_runs command_line scenario terminal capture_file watch_text telnet)

cmake -S "$repo/tests/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ >/dev/null || exit 1
cmake --build "$build" -j "${JOBS:-2}" >/dev/null || { cmake --build "$build" -j 1; exit 1; }
mkdir -p "$build/findings"
failed=0
for target in "${targets[@]}"; do
    work="$build/work/$target"  # what the run adds; the committed corpus stays as it is
    mkdir -p "$work"
    log="$build/$target.log"
    if "$build/${target}_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
            -artifact_prefix="$build/findings/$target-" "$work" "$repo/tests/fuzz/corpus/$target" >"$log" 2>&1; then
        runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
        echo "ok   $target: ${runs:-?} inputs in ${seconds} s, no finding"
    else
        failed=1
        echo "FAIL $target: see $log and $build/findings/"
        grep -E 'ERROR|check failed|SUMMARY' "$log" | head -5
    fi
done
exit $failed
