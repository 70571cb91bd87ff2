# Sourced by the harness scripts: the environment in which Wine runs our
# executables. BUILD_DIR must be set by the caller.
#
# The build folder says which architecture it holds (its file quorvel-arch,
# written when CMake configures it): i686 runs under 32-bit Wine in a win32
# prefix, x86_64 under 64-bit Wine in a win64 prefix. Both loaders are called
# by their own paths: Debian's `wine` launcher picks the 32-bit loader
# whenever wine32 is installed, even where the kernel cannot start it.
: "${BUILD_DIR:?BUILD_DIR must be set}"
if [ -f "$BUILD_DIR/quorvel-arch" ]; then
    QUORVEL_ARCH="$(cat "$BUILD_DIR/quorvel-arch")"
fi
export QUORVEL_ARCH="${QUORVEL_ARCH:-i686}"
if [ "$QUORVEL_ARCH" = x86_64 ]; then
    export WINEARCH=win64
    export WINELOADER=/usr/lib/wine/wine64
    export WINESERVER=/usr/lib/wine/wineserver64
else
    export WINEARCH=win32
    export WINELOADER=/usr/lib/wine/wine
    export WINESERVER=/usr/lib/wine/wineserver32
fi
# The build's own prefix, unless the caller names another (an installed
# quorvel-tap keeps its prefix in the user's data folder).
export WINEPREFIX="${QUORVEL_WINEPREFIX:-$BUILD_DIR/wineprefix}"
export WINEDEBUG=-all
# No Mono or Gecko installers: the prefix must come up without dialogs.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine takes the ANSI code page from the locale; this one gives code page 1252
# (a test checks it).
export LC_ALL=C.UTF-8
export LANG=C.UTF-8

wine() { "$WINELOADER" "$@"; }
wineserver() { "$WINESERVER" "$@"; }
wineboot() { "$WINELOADER" wineboot "$@"; }
