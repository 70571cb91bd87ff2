#!/bin/bash
# make install: quorvel-tap, quorvel-watch (where it was built) and what they run (the monitor, its driver files,
# the simulated modem, the scripts that start them) and a man page, under
# PREFIX. It records every file and every folder that it made in
# PREFIX/lib/quorvel/installed, so that uninstall.sh removes exactly those.
#   usage: install.sh BUILD_DIR PREFIX
set -eu
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "$1" && pwd)"
prefix="$2"
home="$prefix/lib/quorvel"
manual="$prefix/share/man/man1"
manifest="$home/installed"
made=()
folder() {  # folder PATH: made, and recorded when it was not there
    local path="$1" missing=()
    while [ ! -d "$path" ]; do missing=("$path" "${missing[@]}"); path="$(dirname "$path")"; done
    for path in "${missing[@]}"; do mkdir "$path"; made+=("folder $path"); done
}
put() {  # put FILE FOLDER [MODE]
    folder "$2"
    install -m "${3:-644}" "$1" "$2/"
    made+=("file $2/$(basename "$1")")
}
folder "$home"
put "$build/linux/quorvel-tap" "$prefix/bin" 755
programs=(quorvel-tap)
if [ -x "$build/linux/quorvel-watch" ]; then
    put "$build/linux/quorvel-watch" "$prefix/bin" 755
    programs+=(quorvel-watch)
fi
for file in quorvel-emu.exe quorvel.sys tolvarik.sys quorvel-arch; do put "$build/$file" "$home"; done
put "$build/linux/quorvel-pty-modem" "$home/linux" 755
for script in tap-monitor.sh ensure-prefix.sh wine-env.sh xvfb.sh; do put "$here/$script" "$home/scripts" 755; done
folder "$manual"
for program in "${programs[@]}"; do
    page="$manual/$program.1"
    {
        echo ".TH ${program^^} 1 \"$(date -u +%Y-%m-%d)\" quorvel \"User commands\""
        echo ".SH NAME"
        case "$program" in
            quorvel-tap) echo "quorvel-tap \\- puts the serial port monitor on a real serial line" ;;
            *) echo "quorvel-watch \\- shows every serial device's traffic in the monitor, programs unchanged" ;;
        esac
        echo ".SH SYNOPSIS AND DESCRIPTION"
        echo ".nf"
        "$build/linux/$program" --help | sed -e 's/\\/\\\\/g' -e 's/^\./\\\&./'
        echo ".fi"
    } > "$page"
    made+=("file $page")
done
made+=("file $manifest")
printf '%s\n' "${made[@]}" > "$manifest"
echo "Installed under $prefix: ${programs[*]/#/$prefix/bin/} (their files in $home; man ${programs[*]})."
