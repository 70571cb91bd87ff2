#!/bin/bash
# Installs what the build and the tests need and is missing. As root it uses
# the system's package manager; otherwise it names the missing packages and
# stops.   usage: setup.sh [test|run]
set -e
purpose="${1:-test}"
missing=()
need() {  # need PACKAGE TEST-COMMAND...
    local package="$1"; shift
    "$@" >/dev/null 2>&1 || missing+=("$package")
}
need cmake command -v cmake
need make command -v make
need python3 command -v python3
need g++-mingw-w64-i686-posix command -v i686-w64-mingw32-g++-posix
need googletest test -f /usr/src/googletest/CMakeLists.txt
need wine command -v wine
need wine32:i386 dpkg -s wine32:i386
need xvfb command -v Xvfb
need xdotool command -v xdotool
if [ "$purpose" = run ]; then
    need imagemagick command -v import
fi

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "Install them as root (wine32 needs: dpkg --add-architecture i386; apt-get update)." >&2
    exit 1
fi

echo "Installing: ${missing[*]}" >&2
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
