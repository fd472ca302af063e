#!/usr/bin/env bash
# Runs a command inside a private headless sway (wlroots' headless backend, software rendering, no
# input devices), as an unprivileged user: sway refuses to run as root. Run as root, it uses the
# account quenlit-e2e (made when missing); otherwise the caller's own. The command gets
# WAYLAND_DISPLAY (an absolute path, so it survives a changed XDG_RUNTIME_DIR) and SWAYSOCK. Sway is
# stopped when the command ends, whatever its outcome. Without sway and the clients the tests use
# (foot, wtype, wl-clipboard), the command is skipped: exit status 77.
#   usage: with-sway.sh COMMAND [ARGS...]
set -u
[ $# -ge 1 ] || { echo "usage: with-sway.sh COMMAND [ARGS...]" >&2; exit 2; }
for tool in sway foot wtype wl-copy; do
    command -v "$tool" >/dev/null 2>&1 || { echo "with-sway.sh: $tool is not installed — skipped" >&2; exit 77; }
done

. "$(dirname "$0")/test-user.sh"
open_checkout_to_test_user with-sway.sh "$@"
user_id=$("${as_user[@]}" id -u)
home=$(getent passwd "$user_id" | cut -d: -f6)

run=$(mktemp -d /tmp/quenlit-sway-XXXXXX)
chmod 755 "$run"
mkdir -m 700 "$run/runtime"
[ "$(id -u)" = 0 ] && chown "$user_id" "$run/runtime"
cat >"$run/config" <<'CONFIG'
output HEADLESS-1 resolution 1280x800 position 0 0
default_border pixel 2
focus_follows_mouse no
CONFIG

sway_pid=""
cleanup() {
    [ -n "$sway_pid" ] && kill "$sway_pid" 2>/dev/null && wait "$sway_pid" 2>/dev/null
    rm -rf "$run"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

environment=(env -i "HOME=$home" "USER=$(id -nu "$user_id")" "PATH=/usr/local/bin:/usr/bin:/bin"
    "XDG_RUNTIME_DIR=$run/runtime" "LANG=C.UTF-8")
# The sanitizers' settings (the suppressions of leaks inside system libraries) reach the command.
# Qt windows on Wayland load the GPU driver, which is unloaded before the leak check: only the slow
# unwinder gets past its frames to the library a suppression names.
for name in ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS; do
    [ -n "${!name:-}" ] && environment+=("$name=${!name}")
done
[ -n "${ASAN_OPTIONS:-}" ] && environment+=("ASAN_OPTIONS=$ASAN_OPTIONS:fast_unwind_on_malloc=0")
# In a session of its own, away from the caller's terminal: sway otherwise may exit at once.
setsid "${as_user[@]}" "${environment[@]}" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    sway -c "$run/config" </dev/null >"$run/sway.log" 2>&1 &
sway_pid=$!

socket="" display=""
for ((i = 0; i < 200; i++)); do
    kill -0 "$sway_pid" 2>/dev/null || break
    socket=$(ls "$run/runtime"/sway-ipc.*.sock 2>/dev/null | head -n 1)
    display=$(ls "$run/runtime" 2>/dev/null | grep -m 1 -x 'wayland-[0-9]*')
    [ -n "$socket" ] && [ -n "$display" ] && break
    sleep 0.05
done
if [ -z "$socket" ] || [ -z "$display" ]; then
    echo "with-sway.sh: sway did not start:" >&2
    sed 's/^/    /' "$run/sway.log" >&2
    exit 2
fi

# QUENLIT_PRIVATE_COMPOSITOR tells tests that this session is theirs to take over.
"${as_user[@]}" "${environment[@]}" "WAYLAND_DISPLAY=$run/runtime/$display" "SWAYSOCK=$socket" \
    QUENLIT_PRIVATE_COMPOSITOR=1 "$@"
