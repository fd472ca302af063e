#!/bin/sh
# Runs a command against a Secret Service of its own: a private D-Bus session bus with
# gnome-keyring-daemon on it, and a login keyring in a throwaway home folder, so the user's own
# keyrings are never touched.
#   usage: with-secret-service.sh COMMAND [ARGS...]
set -eu

if [ -z "${QUENLIT_SECRET_SERVICE_HOME:-}" ]; then
    home=$(mktemp -d "${TMPDIR:-/tmp}/quenlit-keyring-XXXXXX")
    trap 'rm -rf "$home"' EXIT INT TERM
    mkdir -m 700 "$home/run"
    # No display: nothing may prompt. No inherited keyring daemon: ours must start.
    unset DISPLAY WAYLAND_DISPLAY GNOME_KEYRING_CONTROL DBUS_SESSION_BUS_ADDRESS
    status=0
    QUENLIT_SECRET_SERVICE_HOME=$home HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config \
        XDG_CACHE_HOME=$home/cache XDG_RUNTIME_DIR=$home/run \
        dbus-run-session -- sh "$0" "$@" || status=$?
    exit $status
fi

# Inside the session. An empty password makes gnome-keyring ask through a prompter (and fail
# without a display), so the new login keyring gets a password of its own; --unlock creates it,
# makes it the default collection and unlocks it. The daemon leaves with the session bus.
printf '%s' quenlit-test-keyring | gnome-keyring-daemon --unlock --components=secrets >/dev/null
exec "$@"
