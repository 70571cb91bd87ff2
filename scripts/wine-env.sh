# Sourced by the harness scripts: the environment in which Wine runs our
# executables. BUILD_DIR must be set by the caller.
: "${BUILD_DIR:?BUILD_DIR must be set}"
export WINEPREFIX="$BUILD_DIR/wineprefix"
export WINEARCH=win32
export WINEDEBUG=-all
# No Mono or Gecko installers: the prefix must come up without dialogs.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine takes the ANSI code page from the locale; this one gives code page 1252
# (a test checks it).
export LC_ALL=C.UTF-8
export LANG=C.UTF-8
