#!/bin/bash
# Prints the architecture whose build tests, `make run` and `make bench` use
# on this machine: i686 when the kernel runs 32-bit programs (32-bit Wine is
# one), x86_64 otherwise. Decided by trying: a minimal static 32-bit program
# (96 bytes, no library needed) is run once and must exit with 42.
#   usage: machine-arch.sh [FOLDER-FOR-THE-PROBE]
folder="${1:-${TMPDIR:-/tmp}}"
mkdir -p "$folder" 2>/dev/null
probe="$(mktemp "$folder/.arch-probe.XXXXXX" 2>/dev/null)" || { echo x86_64; exit 0; }
trap 'rm -f "$probe"' EXIT
{
    # ELF header: 32-bit, little-endian, executable, i386, entry 0x08048054.
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
    printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
    printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'
    printf '\x00\x00\x00\x00'
    # One loadable segment: the whole file at 0x08048000, readable and executable.
    printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
    printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
    # mov eax, 1 (exit); mov ebx, 42; int 0x80
    printf '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80'
} > "$probe"
chmod +x "$probe"
"$probe" >/dev/null 2>&1
if [ $? -eq 42 ]; then echo i686; else echo x86_64; fi
