#!/usr/bin/env bash
# Runs a command inside a private headless sway: a runtime folder of its own, one 1280x800 output
# and no input devices but the virtual ones clients make. sway refuses to run as root, and the
# tests need foot and wtype: without them the command is skipped (exit status 77). sway is stopped
# when the command ends, whatever its outcome.
#   usage: with-sway.sh COMMAND [ARGS...]
set -u
[ $# -ge 1 ] || { echo "usage: with-sway.sh COMMAND [ARGS...]" >&2; exit 2; }
if [ "$(id -u)" -eq 0 ]; then
    echo "with-sway: sway does not run as root — skipped" >&2
    exit 77
fi
for tool in sway foot wtype; do
    command -v "$tool" >/dev/null 2>&1 || { echo "with-sway: $tool is not installed — skipped" >&2; exit 77; }
done

runtime=$(mktemp -d "${TMPDIR:-/tmp}/quenlit-sway.XXXXXX")
chmod 700 "$runtime"
printf 'output HEADLESS-1 resolution 1280x800\n' > "$runtime/config"
sway_pid=""
cleanup() {
    [ -n "$sway_pid" ] && kill "$sway_pid" 2>/dev/null && wait "$sway_pid" 2>/dev/null
    rm -rf "$runtime"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

env -u WAYLAND_DISPLAY -u SWAYSOCK -u DISPLAY XDG_RUNTIME_DIR="$runtime" WLR_BACKENDS=headless \
    WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway -c "$runtime/config" > "$runtime/sway.log" 2>&1 &
sway_pid=$!
socket=""
for ((i = 0; i < 200; i++)); do
    kill -0 "$sway_pid" 2>/dev/null || break
    socket=$(ls "$runtime"/sway-ipc.*.sock 2>/dev/null | head -n 1)
    display=$(cd "$runtime" && ls -d wayland-[0-9]* 2>/dev/null | grep -v '\.lock$' | head -n 1)
    [ -n "$socket" ] && [ -n "$display" ] && break
    socket=""
    sleep 0.05
done
if [ -z "$socket" ]; then
    echo "with-sway: sway did not start:" >&2
    cat "$runtime/sway.log" >&2
    exit 1
fi
export XDG_RUNTIME_DIR=$runtime WAYLAND_DISPLAY=$display SWAYSOCK=$socket
unset DISPLAY
"$@"
