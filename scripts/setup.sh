#!/bin/bash
# Installs what the build and the tests need and is missing. As root it uses
# the system's package manager (apt-install.sh: it survives an index that
# fails to update); otherwise it names the missing packages and stops.
#   usage: setup.sh build|test|run|wine [i686|x86_64]
# build: what the 32-bit product needs (always built). test and run: that,
# and Wine with a display for the architecture that runs here: 32-bit Wine
# for i686, 64-bit Wine and the 64-bit cross-compiler for x86_64. wine: only
# that architecture's Wine (choose-arch.sh tries it). The i386 packages are
# installed only for i686, which runs only where the kernel runs 32-bit
# programs.
# Exit codes: 0 nothing missing any more; 1 something is still missing; 3
# only the i386 packages could not be installed (one line says why).
set -e
purpose="${1:-test}"
arch="${2:-i686}"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
missing=()
need() {  # need PACKAGE TEST-COMMAND...
    local package="$1"; shift
    "$@" >/dev/null 2>&1 || missing+=("$package")
}
if [ "$purpose" != wine ]; then
    need cmake command -v cmake
    need make command -v make
    need python3 command -v python3
    need g++-mingw-w64-i686-posix command -v i686-w64-mingw32-g++-posix
    need googletest test -f /usr/src/googletest/CMakeLists.txt
    # The Linux-side programs: quorvel-tap (with libpcap for its captures),
    # the modem on a pty, the tests' peer.
    need g++ command -v g++
    need libpcap-dev test -f /usr/include/pcap/pcap.h
    # quorvel-watch: its BPF programs (clang's BPF target), their skeleton
    # (bpftool) and its loader (libbpf).
    need clang command -v clang
    need bpftool sh -c 'command -v bpftool || test -x /usr/sbin/bpftool'
    need libbpf-dev test -f /usr/include/bpf/libbpf.h
fi
if [ "$purpose" != build ]; then
    case "$arch" in
        i686)
            if [ "$("$here/machine-arch.sh")" != i686 ]; then
                echo "This machine cannot run 32-bit programs: the i686 build cannot run here (use QUORVEL_ARCH=x86_64)." >&2
                exit 1
            fi
            need wine32:i386 test -x /usr/lib/wine/wine -a -x /usr/lib/wine/wineserver32
            ;;
        x86_64)
            [ "$purpose" != wine ] && need g++-mingw-w64-x86-64-posix command -v x86_64-w64-mingw32-g++-posix
            need wine64 test -x /usr/lib/wine/wine64 -a -x /usr/lib/wine/wineserver64
            ;;
        *)
            echo "Unknown architecture '$arch': i686 or x86_64." >&2
            exit 1
            ;;
    esac
fi
if [ "$purpose" != build ] && [ "$purpose" != wine ]; then
    need xvfb command -v Xvfb
    # Pty pairs for the relays on real serial lines (their tests, make tap).
    need socat command -v socat
    need xdotool command -v xdotool
    # A serial program that the watch's tests watch, as users run it.
    need picocom command -v picocom
    # Reads the tap's captures in the tests, as a user's Wireshark would.
    need tshark command -v tshark
    # A line on another machine: ser2net serves a pty over RFC 2217, and
    # pyserial's client is the second opinion the tests set it with.
    need ser2net sh -c 'command -v ser2net || test -x /usr/sbin/ser2net'
    need python3-serial /usr/bin/python3 -c 'import serial.rfc2217'
    # The pure code's native sanitizer and fuzzing build (with the clang above).
    need libclang-rt-14-dev sh -c 'test -f "$(clang++ -print-resource-dir)/lib/linux/libclang_rt.fuzzer-x86_64.a"'
fi
# Screenshots without a display: make run, make tap, and the test of make tap.
if [ "$purpose" = run ] || [ "$purpose" = test ]; then
    need imagemagick command -v import
    need procps command -v pgrep
fi

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}" >&2
    [ "$arch" = i686 ] && [ "$purpose" != build ] &&
        echo "Install them as root (wine32 needs: dpkg --add-architecture i386; apt-get update)." >&2
    exit 1
fi

echo "Installing: ${missing[*]}" >&2
exclude=()
if [ "$arch" = i686 ] && [ "$purpose" != build ]; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
elif dpkg --print-foreign-architectures | grep -qx i386 && ! dpkg -s wine32:i386 >/dev/null 2>&1; then
    # wine64 recommends wine32, which a 64-bit run never uses.
    exclude=(wine32:i386-)
fi
exec "$here/apt-install.sh" "scripts/setup.sh $purpose $arch" "${missing[@]}" "${exclude[@]}"
