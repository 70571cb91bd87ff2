# Sourced: starts and stops a private virtual X display (Xvfb).
#
# Xvfb picks a free display itself (-displayfd) and writes its number once it
# takes connections: a socket that a dead server left behind is its to
# clear, and no fixed range of numbers runs out.
start_virtual_display() {
    local number_file i
    number_file="$(mktemp)" || return 1
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
    XVFB_PID=$!
    for i in $(seq 1 100); do
        if grep -qx '[0-9][0-9]*' "$number_file"; then
            XVFB_DISPLAY=":$(cat "$number_file")"
            export DISPLAY="$XVFB_DISPLAY"
            rm -f "$number_file"
            return 0
        fi
        kill -0 "$XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    rm -f "$number_file"
    kill "$XVFB_PID" 2>/dev/null
    XVFB_PID=
    echo "could not start Xvfb" >&2
    return 1
}

# Ends the display and waits (3 s at most) until Xvfb has ended, and with it
# removed its socket: a caller whose process group is killed right after its
# end would otherwise leave the socket behind. The display may not have
# said its number yet (an end that comes while it starts).
stop_virtual_display() {
    [ -n "${XVFB_PID:-}" ] || return 0
    kill "$XVFB_PID" 2>/dev/null
    local i
    for i in $(seq 30); do
        # Gone, or a zombie of this shell's: either way it has finished.
        case "$(ps -o stat= -p "$XVFB_PID" 2>/dev/null)" in "" | Z*) break ;; esac
        sleep 0.1
    done
    XVFB_PID=
}
