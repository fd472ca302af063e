#!/usr/bin/env bash
# Runs a command against a private X server with a window manager: Xvfb on the first free display
# from :90 upward, then openbox. Both are stopped when the command ends, whatever its outcome.
#   usage: with-xvfb.sh COMMAND [ARGS...]
set -u
[ $# -ge 1 ] || { echo "usage: with-xvfb.sh COMMAND [ARGS...]" >&2; exit 2; }

xvfb_pid=""
wm_pid=""
cleanup() {
    [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null && wait "$wm_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Runs a command every 50 ms until it succeeds, at most $1 times.
wait_for() {
    local attempts=$1
    shift
    for ((i = 0; i < attempts; i++)); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.05
    done
    return 1
}

display=""
for n in $(seq 90 140); do
    # A lock file or a socket means the number is taken (possibly by a server of another session).
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    # -noreset: the server would otherwise reset when xdpyinfo, its first client, disconnects, and
    # refuse the window manager meanwhile.
    Xvfb ":$n" -screen 0 1440x900x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    xvfb_pid=$!
    # The lock file names the server that won the number: another run starting at the same moment
    # must not be mistaken for ours.
    for ((i = 0; i < 200; i++)); do
        kill -0 "$xvfb_pid" 2>/dev/null || break
        owner=$({ tr -d ' ' </tmp/.X$n-lock; } 2>/dev/null)
        if [ "$owner" = "$xvfb_pid" ] && xdpyinfo -display ":$n" >/dev/null 2>&1; then
            display=":$n"
            break 2
        fi
        sleep 0.05
    done
    # Lost a race for the number, or the server failed: try the next one.
    kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=""
done
[ -n "$display" ] || { echo "with-xvfb: could not start Xvfb" >&2; exit 1; }
export DISPLAY=$display

openbox --sm-disable >/dev/null 2>&1 &
wm_pid=$!
if ! wait_for 200 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'; then
    echo "with-xvfb: openbox did not start" >&2
    exit 1
fi

"$@"
