#!/usr/bin/env bash
# Runs a command inside a private headless KWin (Plasma's compositor: its virtual backend, software
# rendering, XWayland) with a session D-Bus of its own, as an unprivileged user. Run as root, it
# uses the account quenlit-e2e (made when missing); otherwise the caller's own. The command gets
# WAYLAND_DISPLAY (an absolute path), DISPLAY (KWin's XWayland), DBUS_SESSION_BUS_ADDRESS,
# XDG_CURRENT_DESKTOP=KDE and XDG_DATA_HOME, a folder of the run's own where the command may install
# desktop entries. KWin, the bus and everything they started are stopped when the command ends,
# whatever its outcome. Without KWin, the command is skipped: exit status 77.
#
# --trust PROGRAM (repeatable) installs, before KWin starts, a desktop entry naming PROGRAM as its
# Exec and granting it what KWin keeps from ordinary clients: fake input, the window management
# protocol and the screenshot interface. KWin reads the entries once, when a program connects.
#   usage: with-kwin.sh [--trust PROGRAM]... COMMAND [ARGS...]
set -u
original=("$@")
trusted=()
while [ $# -ge 2 ] && [ "$1" = --trust ]; do
    trusted+=("$(realpath -m "$2")")
    shift 2
done
[ $# -ge 1 ] || { echo "usage: with-kwin.sh [--trust PROGRAM]... COMMAND [ARGS...]" >&2; exit 2; }
for tool in kwin_wayland dbus-daemon; do
    command -v "$tool" >/dev/null 2>&1 || { echo "with-kwin.sh: $tool is not installed — skipped" >&2; exit 77; }
done

. "$(dirname "$0")/test-user.sh"
open_checkout_to_test_user with-kwin.sh "${original[@]}"
user_id=$("${as_user[@]}" id -u)
home=$(getent passwd "$user_id" | cut -d: -f6)

run=$(mktemp -d /tmp/quenlit-kwin-XXXXXX)
chmod 755 "$run"
mkdir -m 700 "$run/runtime"
mkdir -p "$run/data/applications" "$run/config"
[ "$(id -u)" = 0 ] && chown -R "$user_id" "$run/runtime" "$run/data" "$run/config"
# The packaged KWin carries a file capability (CAP_SYS_RESOURCE) that a container may refuse to
# grant, and then the binary does not start at all: a copy has none.
cp "$(command -v kwin_wayland)" "$run/kwin_wayland"
chmod 755 "$run/kwin_wayland"

for program in "${trusted[@]}"; do
    cat >"$run/data/applications/trusted-$(basename "$program").desktop" <<ENTRY
[Desktop Entry]
Type=Application
Name=$(basename "$program")
Exec=$program
X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input,org_kde_plasma_window_management
X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2
ENTRY
done
[ "$(id -u)" = 0 ] && chown -R "$user_id" "$run/data"

# KWin starts this once XWayland runs: it writes down the X display KWin chose.
cat >"$run/started.sh" <<STARTED
#!/bin/sh
echo "\$DISPLAY" >"$run/runtime/display.tmp" && mv "$run/runtime/display.tmp" "$run/runtime/display"
STARTED
chmod 755 "$run/started.sh"

kwin_pid="" bus_pid=""
cleanup() {
    [ -n "$kwin_pid" ] && kill "$kwin_pid" 2>/dev/null && wait "$kwin_pid" 2>/dev/null
    [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null && wait "$bus_pid" 2>/dev/null
    rm -rf "$run"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

bus="unix:path=$run/runtime/bus"
environment=(env -i "HOME=$home" "USER=$(id -nu "$user_id")" "PATH=/usr/local/bin:/usr/bin:/bin"
    "XDG_RUNTIME_DIR=$run/runtime" "XDG_DATA_HOME=$run/data" "XDG_CONFIG_HOME=$run/config"
    "XDG_DATA_DIRS=$run/data:/usr/local/share:/usr/share" "LANG=C.UTF-8" "DBUS_SESSION_BUS_ADDRESS=$bus"
    "XDG_CURRENT_DESKTOP=KDE" "XDG_SESSION_TYPE=wayland" "KDE_FULL_SESSION=true" "KDE_SESSION_VERSION=5")
for name in ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS; do
    [ -n "${!name:-}" ] && environment+=("$name=${!name}")
done
[ -n "${ASAN_OPTIONS:-}" ] && environment+=("ASAN_OPTIONS=$ASAN_OPTIONS:fast_unwind_on_malloc=0")

"${as_user[@]}" "${environment[@]}" dbus-daemon --session --address="$bus" --nofork --nopidfile \
    </dev/null >"$run/bus.log" 2>&1 &
bus_pid=$!
# In a session of its own, away from the caller's terminal.
setsid "${as_user[@]}" "${environment[@]}" "$run/kwin_wayland" --virtual --xwayland --width 1280 --height 800 \
    --socket quenlit-kwin --no-lockscreen "$run/started.sh" </dev/null >"$run/kwin.log" 2>&1 &
kwin_pid=$!

for ((i = 0; i < 400; i++)); do
    kill -0 "$kwin_pid" 2>/dev/null || break
    [ -S "$run/runtime/quenlit-kwin" ] && [ -s "$run/runtime/display" ] && break
    sleep 0.05
done
if [ ! -S "$run/runtime/quenlit-kwin" ] || [ ! -s "$run/runtime/display" ]; then
    echo "with-kwin.sh: KWin did not start:" >&2
    sed 's/^/    /' "$run/kwin.log" >&2
    exit 2
fi

# KWin runs its event loop once it answers on the bus: programs started earlier may find it too busy
# to answer their first round trip in time.
kwin_ready() {
    "${as_user[@]}" "${environment[@]}" gdbus call --session -d org.kde.KWin -o /KWin \
        -m org.kde.KWin.currentDesktop >/dev/null 2>&1
}
for ((i = 0; i < 200; i++)); do
    kwin_ready && break
    sleep 0.05
done

# QUENLIT_PRIVATE_COMPOSITOR tells tests that this session is theirs to take over.
"${as_user[@]}" "${environment[@]}" "WAYLAND_DISPLAY=$run/runtime/quenlit-kwin" \
    "DISPLAY=$(cat "$run/runtime/display")" QUENLIT_PRIVATE_COMPOSITOR=1 QUENLIT_KWIN_LOG="$run/kwin.log" "$@"
