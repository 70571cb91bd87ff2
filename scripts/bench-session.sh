#!/bin/bash
# Runs the capture benchmark in a session of its own: one virtual X display
# and one wineserver, as for the tests, and writes its tables to a results
# file (bench/RESULTS.md; the soak to bench/SOAK.md) under a heading with the
# command, the architecture and the date. Extra arguments go to the
# benchmark (for example --quick, --feed=SECONDS, --soak=SECONDS); with
# --results=PATH the tables go to PATH and the committed results stay.
#   usage: bench-session.sh BUILD_DIR [benchmark arguments...]
set -u
export BUILD_DIR="$(cd "$1" && pwd)"; shift
# The Wine side (display, server, benchmark) runs below the line's programs,
# as quorvel-tap runs its monitor (nice 10); run_to_file starts the line's
# programs at the ordinary priority where it may (root).
renice -n 10 -p $$ >/dev/null
source "$(dirname "${BASH_SOURCE[0]}")/wine-session.sh"
repo="$(cd "$here/.." && pwd)"

command="make bench${*:+ BENCH_ARGS='$*'}"
results="$repo/bench/RESULTS.md"
case " $* " in
    *" --soak="*) command="make soak"; results="$repo/bench/SOAK.md" ;;
esac
for argument in "$@"; do
    case "$argument" in --results=*) results="$(realpath -m "${argument#--results=}")" ;; esac
done
{
    echo "# Capture benchmark results"
    echo
    echo "- command: \`$command\`"
    echo "- architecture: $QUORVEL_ARCH build under $( [ "$QUORVEL_ARCH" = x86_64 ] && echo 64 || echo 32)-bit Wine, on a $(uname -m) machine with $(nproc) cores"
    echo "- date: $(date -u '+%Y-%m-%d %H:%M UTC')"
    if [ "$QUORVEL_ARCH" = x86_64 ] && [ "$("$here/machine-arch.sh" "$BUILD_DIR")" = x86_64 ]; then
        echo "- i686, the product's build: not run, this machine refuses 32-bit programs; no figure here is of it"
    fi
    echo
    echo "Every figure stands beside a limit measured in the same run (table 0); the machines are shared"
    echo "and noisy, so the ratios, not the absolute figures, are what carries over between runs."
    echo
} > "$results"

cd "$BUILD_DIR"
arguments=()
for argument in "$@"; do [[ "$argument" == --results=* ]] || arguments+=("$argument"); done
# Beside the benchmark, a record of when the whole machine stood still (it
# needs root; without it the tables say the stalls were not measured).
stalls="$(mktemp "${TMPDIR:-/tmp}/quorvel-machine-stalls.XXXXXX")"
"$BUILD_DIR/linux/machine_stalls" "$stalls" &
stalls_pid=$!
stop_stall_record() { kill -TERM "$stalls_pid" 2>/dev/null; wait "$stalls_pid" 2>/dev/null; rm -f "$stalls"; }
trap 'stop_stall_record; wineserver -k >/dev/null 2>&1; stop_virtual_display' EXIT
wine bench/capture_bench.exe --results="Z:${results//\//\\}" --machine-stalls="Z:${stalls//\//\\}" \
    "${arguments[@]}" </dev/null
status=$?

# Table 11, natively: what quorvel-watch costs (it needs root and a kernel
# with BTF; without them the table says it was not run).
only=; line_seconds=30
for argument in "${arguments[@]}"; do
    case "$argument" in
        --only=*) only="${argument#--only=}" ;;
        --quick) line_seconds=5 ;;
        --soak=*) only=soak ;;
        --limits) only=limits ;;
    esac
done
# Table 11 is native, measured at the ordinary priority again (as root).
renice -n 0 -p $$ >/dev/null 2>&1
if [ -z "$only" ] || [ "$only" = 11 ]; then
    if [ -x "$BUILD_DIR/linux/watch_bench" ]; then
        "$BUILD_DIR/linux/watch_bench" --line-seconds "$line_seconds" | tee -a "$results"
    else
        printf '\n### 11. quorvel-watch\n\nNot run: it is not built here (this kernel has no BTF).\n' | tee -a "$results"
    fi
fi
exit $status
