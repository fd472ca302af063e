# Shared by the end-to-end scripts and the desktop benchmarks: a private home with its own XDG
# folders (removed at the end with every process listed in `pids`), and the polling and reporting
# helpers. Source it after `set -u`:
#   source "$(dirname "$0")/common.sh" NAME
# A script may define e2e_failure_details to print more when a check fails.

passed=0
failed=0
pids=()
root=$(mktemp -d "/tmp/quenlit-${1:-e2e}-XXXXXX")
e2e_cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$root"
}
trap e2e_cleanup EXIT

export HOME=$root/home
export XDG_DATA_HOME=$root/share XDG_CONFIG_HOME=$root/config XDG_STATE_HOME=$root/state
export XDG_CACHE_HOME=$root/cache XDG_DATA_DIRS=$root/none XDG_RUNTIME_DIR=$root/run
mkdir -p "$HOME" "$XDG_DATA_HOME/applications" "$XDG_CONFIG_HOME/quenlit" "$XDG_STATE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
# The programs the tests start run on X11 whatever the session says.
unset QT_QPA_PLATFORM
log=$XDG_STATE_HOME/quenlit/focus.log

# Runs a command every 50 ms until it succeeds, for at most $1 seconds. (Pass a function, not a
# "$(…)" in the arguments: that would be read once, before the first try.)
wait_until() {
    local seconds=$1
    shift
    local deadline=$((SECONDS + seconds))
    while ((SECONDS <= deadline)); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.05
    done
    return 1
}

# check NAME COMMAND...: counts and reports one expectation; on failure, the log's last lines.
check() {
    local name=$1
    shift
    if "$@"; then
        echo "ok: $name"
        passed=$((passed + 1))
    else
        echo "FAILED: $name"
        failed=$((failed + 1))
        declare -F e2e_failure_details >/dev/null && e2e_failure_details
        [ -f "$log" ] && tail -n 12 "$log" | sed 's/^/    log: /'
    fi
}

log_has() { grep -qF -- "$1" "$log" 2>/dev/null; }
file_is() { [ "$(cat "$1" 2>/dev/null)" = "$2" ]; }
# The history holds an entry of exactly this text, as the program lists it ($bin: its folder).
history_has() { "$bin/quenlit" history --json 2>/dev/null | grep -qF "\"text\":\"$1\""; }

# A terminal whose input goes, unbuffered, to FILE: what a paste typed into it. Its app id is
# foot's own, by which the paste key is chosen. Started by $root/bin/term-sink, and offered by the
# launcher as "Fixture Terminal".
add_terminal_sink() {  # FILE
    mkdir -p "$root/bin"
    cat >"$root/bin/term-sink" <<SCRIPT
#!/bin/sh
exec foot -- sh -c 'stty raw -echo; exec cat >"\$1"' sh "$1"
SCRIPT
    chmod +x "$root/bin/term-sink"
    cat >"$XDG_DATA_HOME/applications/quenlit-fixture-term.desktop" <<ENTRY
[Desktop Entry]
Type=Application
Name=Fixture Terminal
Exec=$root/bin/term-sink
StartupWMClass=foot
ENTRY
}
active_window() { xprop -root _NET_ACTIVE_WINDOW | sed -n 's/.*# \(0x[0-9a-f]*\).*/\1/p'; }
active_is() { [ "$(active_window)" = "$1" ]; }
