#!/usr/bin/env bash
# The desktop program measured from outside on a headless sway (run inside
# tests/support/with-sway.sh), beside fuzzel, a wlroots launcher: process start to the first
# picture on screen (read from each program's Wayland protocol log, the same way for both),
# resident memory after start-up, and for quenlit the time from Super+Space (typed by wtype, whose
# own start is part of the figure) and from `quenlit toggle launcher` to the launcher shown with
# the focus (sway's window events).
#   wayland_bench.sh BIN_DIR
set -u
bin=$(cd "${1:?usage: wayland_bench.sh BIN_DIR}" && pwd)
runs=7
root=$(mktemp -d /tmp/quenlit-wayland-bench-XXXXXX)
export HOME=$root/home XDG_DATA_HOME=$root/share XDG_CONFIG_HOME=$root/config XDG_STATE_HOME=$root/state
export XDG_CACHE_HOME=$root/cache
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME"
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$root"' EXIT

median() { sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
rss_mb() { awk '/^VmRSS/ {printf "%.1f", $2 / 1024}' "/proc/$1/status" 2>/dev/null; }

# A terminal in front, as on a desktop in use.
foot >/dev/null 2>&1 &
pids+=($!)
sleep 1

measure_start() {  # COMMAND...
    local starts=() memories=() ms pid
    for ((i = 0; i < runs; i++)); do
        read -r ms pid < <("$bin/sway_probe" start "$root/protocol.log" "$@" </dev/null)
        [ -n "${pid:-}" ] || { echo "    $1 showed nothing" >&2; return 1; }
        sleep 1
        starts+=("$ms")
        memories+=("$(rss_mb "$pid")")
        kill "$pid" 2>/dev/null
        while kill -0 "$pid" 2>/dev/null; do sleep 0.02; done
    done
    printf '%s\n' "${starts[@]}" | median
    printf '%s\n' "${memories[@]}" | median
}

mapfile -t q < <(measure_start "$bin/quenlit")
mapfile -t f < <(measure_start fuzzel)

"$bin/quenlit" >/dev/null 2>&1 &
pids+=($!)
for i in $(seq 200); do swaymsg -t get_tree 2>/dev/null | grep -q '"name": "Quenlit launcher"' && break; sleep 0.05; done
# The launcher shows at start: hide it, then time the way back.
"$bin/quenlit" toggle launcher
sleep 0.5
hotkey=$("$bin/sway_probe" shown "Quenlit launcher" 15 wtype -M logo -k space -m logo)
toggle=$("$bin/sway_probe" shown "Quenlit launcher" 15 "$bin/quenlit" toggle launcher)

printf '\n%-48s %12s %12s  %s\n' "on sway, headless (median of runs)" "quenlit" "fuzzel" "X11 budget"
printf '%-48s %9s ms %9s ms  %s\n' "process start to first picture" "${q[0]:-n/a}" "${f[0]:-n/a}" "150 ms"
printf '%-48s %9s MB %9s MB  %s\n' "resident memory after start-up" "${q[1]:-n/a}" "${f[1]:-n/a}" "40 MB"
printf '%-48s %9s ms %12s  %s\n' "Super+Space (wtype) to launcher shown, focused" "${hotkey:-n/a}" "-" "5 ms"
printf '%-48s %9s ms %12s  %s\n' "quenlit toggle launcher to shown, focused" "${toggle:-n/a}" "-" "-"
[ -n "${q[0]:-}" ] && [ -n "${hotkey:-}" ]
