#!/bin/bash
# The set-up's installer against an apt-get that fails as a mirror in the
# middle of a sync does: an index that fails to update for a while or for
# good, and foreign-architecture packages that cannot be installed then.
# Each case: the exit code, the one line said, and the calls apt-get got.
#   usage: apt_install_test.sh
set -u
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"

# apt-get: `update` fails while $work/update-failures holds a count above 0
# (and counts it down); `install` fails when a package matches $FAIL_INSTALL.
mkdir "$work/bin"
cat > "$work/bin/apt-get" <<'EOF'
#!/bin/bash
echo "$*" >> "$WORK/calls"
if [ "$1" = update ]; then
    left="$(cat "$WORK/update-failures")"
    [ "$left" -gt 0 ] || exit 0
    echo $((left - 1)) > "$WORK/update-failures"
    echo "E: Failed to fetch http://mirror/binary-i386/Packages.xz  File has unexpected size (1 != 2). Mirror sync in progress?" >&2
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
    exit 100
fi
for package in "$@"; do
    if [ -n "$FAIL_INSTALL" ] && [[ "$package" == $FAIL_INSTALL ]]; then
        echo "E: Unable to correct problems, you have held broken packages." >&2
        exit 100
    fi
done
exit 0
EOF
chmod +x "$work/bin/apt-get"

# run NAME UPDATE-FAILURES FAIL-INSTALL PACKAGE...: runs the installer, keeps
# its exit code in $status, what it said in $said, apt-get's calls in $calls.
run() {
    local name="$1" updates="$2" fail="$3"; shift 3
    echo "$updates" > "$work/update-failures"
    : > "$work/calls"
    said="$(PATH="$work/bin:$PATH" WORK="$work" FAIL_INSTALL="$fail" APT_RETRY_PAUSE=0 \
        "$repo/scripts/apt-install.sh" "scripts/setup.sh test i686" "$@" 2>&1)"
    status=$?
    calls="$(cat "$work/calls")"
    echo "--- $name: exit $status; said: $said"
}
lines() { printf '%s' "$1" | grep -c ''; }

run "a passing index" 0 "" cmake wine32:i386
check "installs, own packages first, and says nothing" [ $status -eq 0 -a -z "$said" -a \
    "$calls" = $'update -qq\ninstall -y -qq cmake\ninstall -y -qq wine32:i386' ]

run "an index that fails twice" 2 "" cmake
check "tries a third time, installs, says nothing" [ $status -eq 0 -a -z "$said" -a \
    "$calls" = $'update -qq\nupdate -qq\nupdate -qq\ninstall -y -qq cmake' ]

run "an index that keeps failing" 9 "" cmake wine32:i386 wine32:i386-
check "three tries, then installs, and one line names the index" [ $status -eq 0 -a "$(lines "$said")" -eq 1 -a \
    "$(printf '%s\n' "$calls" | grep -c '^update')" -eq 3 ]
check "the line quotes apt" [ -n "$(printf '%s' "$said" | grep -F 'Mirror sync in progress?')" ]
check "a package kept out goes with the own ones" [ -n "$(printf '%s\n' "$calls" | grep -x 'install -y -qq cmake wine32:i386-')" ]

run "i386 packages that cannot be installed" 9 "*:i386" cmake wine32:i386
check "exit 3 once the own packages are in" [ $status -eq 3 -a -n "$(printf '%s\n' "$calls" | grep -x 'install -y -qq cmake')" ]
check "one line: which packages, why, and what it means" [ "$(lines "$said")" -eq 1 -a -n \
    "$(printf '%s' "$said" | grep -F 'The i386 packages (wine32:i386) cannot be installed (Unable to correct problems, you have held broken packages.; an index failed to update: Failed to fetch')" -a -n \
    "$(printf '%s' "$said" | grep -F 'only the x86_64 build can run here.')" ]

run "nothing installable" 0 "cmake" cmake wine32:i386
check "exit 1, one line naming the packages and the command that retries" [ $status -eq 1 -a "$(lines "$said")" -eq 1 -a -n \
    "$(printf '%s' "$said" | grep -F 'Could not install cmake (Unable to correct problems, you have held broken packages.); to try again: scripts/setup.sh test i686')" ]
check "and tries no foreign package" [ -z "$(printf '%s\n' "$calls" | grep 'i386')" ]

checks_passed
