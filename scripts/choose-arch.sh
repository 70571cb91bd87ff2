#!/bin/bash
# Prints the architecture whose build `make test`, `make run` and `make
# bench` use here: what the machine runs (machine-arch.sh), except that a
# machine that runs 32-bit programs but cannot get 32-bit Wine installed
# (its i386 packages: a mirror in the middle of a sync makes their versions
# disagree with the machine's own) uses x86_64, after one line that says why.
# As root the i386 Wine is installed here when it is missing; otherwise the
# choice stays i686 and the set-up names what is missing.
#   usage: choose-arch.sh [FOLDER-FOR-THE-PROBE]
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
arch="$("$here/machine-arch.sh" "$@")"
if [ "$arch" = i686 ] && [ "$(id -u)" -eq 0 ]; then
    "$here/setup.sh" wine i686 >&2
    [ $? -eq 3 ] && arch=x86_64
fi
echo "$arch"
