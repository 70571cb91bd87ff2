#!/bin/bash
# Installs Debian packages through apt, as root, and survives a mirror that
# is halfway through a sync: the package index is updated up to three times
# with a pause between (APT_RETRY_PAUSE seconds, 5 by default), and an index
# that still fails is left behind while the install goes on with the others.
# The machine's own packages are installed first, then those of a foreign
# architecture (NAME:i386), which an index that failed may have made
# impossible: their versions must match those of the machine's own.
#   usage: apt-install.sh RETRY-COMMAND PACKAGE...
# A PACKAGE ending in '-' is kept out of the install (apt's own notation).
# Exit codes: 0 everything installed; 1 the machine's own packages could not
# be installed (one line names them and RETRY-COMMAND); 3 only the foreign
# ones could not (one line names them and says why).
set -u
retry="$1"; shift
pause="${APT_RETRY_PAUSE:-5}"
native=(); foreign=()
for package in "$@"; do
    case "$package" in
        *-) native+=("$package") ;;
        *:*) foreign+=("$package") ;;
        *) native+=("$package") ;;
    esac
done
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
export DEBIAN_FRONTEND=noninteractive

# apt's first error line, without its leading "E: ".
first_error() { sed -n 's/^E: //p' "$log" | head -n 1; }

index_problem=""
for try in 1 2 3; do
    if apt-get update -qq >/dev/null 2>"$log"; then
        index_problem=""
        break
    fi
    index_problem="$(first_error)"
    [ "$try" -lt 3 ] && sleep "$pause"
done

installs() {  # installs PACKAGE...: true when apt installed them all
    [ $# -eq 0 ] || apt-get install -y -qq "$@" >/dev/null 2>"$log"
}
# Why an install failed: apt's word, and the index's failure behind it.
why() {
    local why="$(first_error)"
    [ -n "$index_problem" ] && why="$why; an index failed to update: $index_problem"
    printf '%s' "$why"
}

if ! installs "${native[@]}"; then
    echo "Could not install ${native[*]} ($(why)); to try again: $retry" >&2
    exit 1
fi
if ! installs "${foreign[@]}"; then
    arch="${foreign[0]##*:}"
    echo "The $arch packages (${foreign[*]}) cannot be installed ($(why)); without them only the x86_64 build can run here." >&2
    exit 3
fi
[ -n "$index_problem" ] &&
    echo "Installed, though the package index did not update after three tries ($index_problem)." >&2
exit 0
