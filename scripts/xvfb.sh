# Sourced: starts and stops a private virtual X display (Xvfb).
start_virtual_display() {
    local n
    for n in $(seq 90 140); do
        [ -e "/tmp/.X${n}-lock" ] || [ -e "/tmp/.X11-unix/X${n}" ] && continue
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        XVFB_PID=$!
        local i
        for i in $(seq 1 50); do
            [ -e "/tmp/.X11-unix/X${n}" ] && { export DISPLAY=":$n"; return 0; }
            kill -0 "$XVFB_PID" 2>/dev/null || break
            sleep 0.1
        done
        kill "$XVFB_PID" 2>/dev/null
    done
    echo "could not start Xvfb" >&2
    return 1
}

stop_virtual_display() {
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
    XVFB_PID=
}
