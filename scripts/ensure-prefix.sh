#!/bin/bash
# Creates the project's private Wine prefix on first use (about 10 seconds)
# and applies the settings the tests rely on. BUILD_DIR comes from the caller
# or defaults to ../build.
set -e
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
BUILD_DIR="${BUILD_DIR:-${QUORVEL_BUILD_DIR:-$here/../build}}"
source "$here/wine-env.sh"
# The stamp names the version of the settings below; a change re-creates.
stamp="$WINEPREFIX/.quorvel-prefix-ready-3"
[ -f "$stamp" ] && exit 0

# Serialise first-time creation between concurrent callers.
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$(dirname "$WINEPREFIX")/.wineprefix.lock"
flock 9
[ -f "$stamp" ] && exit 0

echo "Creating the Wine prefix in $WINEPREFIX ..." >&2
rm -rf "$WINEPREFIX"
wineboot -i >/dev/null 2>&1
# A crashing test must not open winedbg's dialog and hang the run: print the
# crash and end the process instead.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
# There is no window manager in the virtual display; unmanaged windows spare
# the 2 seconds that hiding or destroying a shown window otherwise costs.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
wineserver -w
# Plain scroll bars: Wine's default theme takes about ten milliseconds to
# draw a list box's scroll bars, which a pane does whenever its lines show,
# and dozens of busy panes would then need more than the main thread has.
# Set once the prefix's first start has ended, and tried a second time: a
# first try has been seen to fail. Without it the prefix still works, slower.
theme='HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager'
wine reg add "$theme" /v ThemeActive /t REG_SZ /d 0 /f >/dev/null 2>&1 ||
    { sleep 1; wine reg add "$theme" /v ThemeActive /t REG_SZ /d 0 /f >/dev/null 2>&1; } ||
    echo "warning: the prefix keeps Wine's themed scroll bars (slower panes)" >&2
wineserver -w
touch "$stamp"
