#!/usr/bin/env bash
# Runs a command inside a private headless GNOME Shell on Wayland (one virtual 1280x800 monitor),
# as an unprivileged user, with its own home, a private session bus and a private system bus (GNOME
# Shell's login-manager code needs one). Quenlit's Shell extension is installed into that home and
# enabled before the shell starts, by the program of this checkout's debug build (QUENLIT_BIN
# names another). The shell is started with the overview closed, so the desktop is in front.
#
# The command gets WAYLAND_DISPLAY, DISPLAY and XAUTHORITY (XWayland's), DBUS_SESSION_BUS_ADDRESS,
# XDG_CURRENT_DESKTOP=GNOME and QUENLIT_PRIVATE_COMPOSITOR=1. The shell lets gdbus call the
# extension too (QUENLIT_SHELL_TEST_CALLER), so the test can type keys, read the windows and take
# screenshots through it; it refuses every other program but Quenlit. Everything started is stopped when the command ends. Without
# gnome-shell and the clients the tests use (foot, wl-clipboard), the command is skipped: exit
# status 77.
#   usage: with-gnome-shell.sh COMMAND [ARGS...]
set -u
[ $# -ge 1 ] || { echo "usage: with-gnome-shell.sh COMMAND [ARGS...]" >&2; exit 2; }
for tool in gnome-shell foot wl-copy dbus-daemon gdbus glib-compile-schemas; do
    command -v "$tool" >/dev/null 2>&1 ||
        { echo "with-gnome-shell.sh: $tool is not installed — skipped" >&2; exit 77; }
done
checkout=$(cd "$(dirname "$0")/../.." && pwd -P)
quenlit=${QUENLIT_BIN:-$checkout/build/bin/quenlit}
[ -x "$quenlit" ] || { echo "with-gnome-shell.sh: $quenlit is not built" >&2; exit 2; }

. "$(dirname "$0")/test-user.sh"
open_checkout_to_test_user with-gnome-shell.sh "$@"
user_id=$("${as_user[@]}" id -u)

run=$(mktemp -d /tmp/quenlit-gnome-XXXXXX)
chmod 755 "$run"
mkdir -m 700 "$run/runtime" "$run/home"
[ "$(id -u)" = 0 ] && chown "$user_id" "$run/runtime" "$run/home"
cat >"$run/system.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$run/runtime/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF

pids=()
cleanup() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null && wait "${pids[i]}" 2>/dev/null
    done
    rm -rf "$run"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

session_bus="unix:path=$run/runtime/bus"
environment=(env -i "HOME=$run/home" "USER=$(id -nu "$user_id")" "PATH=/usr/local/bin:/usr/bin:/bin"
    "XDG_RUNTIME_DIR=$run/runtime" "LANG=C.UTF-8" "XDG_CURRENT_DESKTOP=GNOME" "XDG_SESSION_TYPE=wayland"
    "DBUS_SESSION_BUS_ADDRESS=$session_bus" "DBUS_SYSTEM_BUS_ADDRESS=unix:path=$run/runtime/system_bus_socket")
for name in ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS; do
    [ -n "${!name:-}" ] && environment+=("$name=${!name}")
done

"${as_user[@]}" "${environment[@]}" dbus-daemon --nofork --nopidfile --config-file="$run/system.conf" \
    >"$run/system-bus.log" 2>&1 &
pids+=($!)
"${as_user[@]}" "${environment[@]}" dbus-daemon --nofork --nopidfile --session --address="$session_bus" \
    >"$run/session-bus.log" 2>&1 &
pids+=($!)
for ((i = 0; i < 100; i++)); do
    [ -S "$run/runtime/bus" ] && [ -S "$run/runtime/system_bus_socket" ] && break
    sleep 0.05
done

if ! "${as_user[@]}" "${environment[@]}" "$quenlit" --install-gnome-extension >"$run/install.log" 2>&1; then
    echo "with-gnome-shell.sh: the extension could not be installed:" >&2
    sed 's/^/    /' "$run/install.log" >&2
    exit 2
fi

display_name=gnome-test-$$
setsid "${as_user[@]}" "${environment[@]}" QUENLIT_SHELL_TEST_CALLER=gdbus \
    gnome-shell --headless --wayland --virtual-monitor 1280x800 --wayland-display "$display_name" \
    </dev/null >"$run/gnome-shell.log" 2>&1 &
shell_pid=$!
pids+=($shell_pid)

as_session() { "${as_user[@]}" "${environment[@]}" "$@"; }
shell_ready() {
    as_session gdbus call --session -d org.gnome.Shell -o /org/gnome/Shell \
        -m org.freedesktop.DBus.Properties.Get org.gnome.Shell ShellVersion >/dev/null 2>&1
}
ready=""
for ((i = 0; i < 300; i++)); do
    kill -0 "$shell_pid" 2>/dev/null || break
    if [ -S "$run/runtime/$display_name" ] && shell_ready; then ready=1; break; fi
    sleep 0.1
done
if [ -z "$ready" ]; then
    echo "with-gnome-shell.sh: gnome-shell did not start:" >&2
    tail -n 40 "$run/gnome-shell.log" | sed 's/^/    /' >&2
    exit 2
fi
# The shell opens the overview as it starts, and ignores a request to close it before its start-up
# animation ends: asked until it is closed.
overview() {
    as_session gdbus call --session -d org.gnome.Shell -o /org/gnome/Shell \
        -m org.freedesktop.DBus.Properties.Get org.gnome.Shell OverviewActive 2>/dev/null
}
for ((i = 0; i < 100; i++)); do
    as_session gdbus call --session -d org.gnome.Shell -o /org/gnome/Shell \
        -m org.freedesktop.DBus.Properties.Set org.gnome.Shell OverviewActive '<false>' >/dev/null 2>&1
    sleep 0.1
    [ "$(overview)" = "(<false>,)" ] && break
done

# XWayland: the display whose lock names mutter, and the authority file mutter wrote for it.
display=""
for ((i = 0; i < 100; i++)); do
    for lock in /tmp/.X*-lock; do
        [ -f "$lock" ] || continue
        if [ "$(tr -d ' \n' <"$lock")" = "$shell_pid" ]; then
            display=:$(basename "$lock" | sed 's/^\.X\([0-9]*\)-lock$/\1/')
        fi
    done
    [ -n "$display" ] && break
    sleep 0.05
done
xauthority=$(ls "$run/runtime"/.mutter-Xwaylandauth.* 2>/dev/null | head -n 1)
x_environment=()
[ -n "$display" ] && x_environment+=("DISPLAY=$display")
[ -n "$xauthority" ] && x_environment+=("XAUTHORITY=$xauthority")

# The extension came up when its object answers (refusing or not).
for ((i = 0; i < 50; i++)); do
    as_session gdbus introspect --session -d org.gnome.Shell -o /io/github/quenlit/Shell1 2>/dev/null |
        grep -q io.github.quenlit.Shell1 && break
    sleep 0.1
done

"${as_user[@]}" "${environment[@]}" "${x_environment[@]}" "WAYLAND_DISPLAY=$run/runtime/$display_name" \
    QUENLIT_PRIVATE_COMPOSITOR=1 "QUENLIT_GNOME_SHELL_LOG=$run/gnome-shell.log" "$@"
