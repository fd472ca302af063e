#!/usr/bin/env bash
# The desktop program measured from outside on a headless sway (run inside
# tests/support/with-sway.sh), beside fuzzel, a wlroots launcher: process start to the first
# picture on screen (read from each program's Wayland protocol log, the same way for both),
# resident memory after start-up, and for quenlit the time from Super+Space (typed by wtype; timed
# from sway's binding event, the moment the key reached sway) and from `quenlit toggle launcher`
# (timed from the command's start) to the launcher shown with the focus (sway's window events).
# Each figure is the median of seven runs, with the fastest and the slowest beside it.
#   wayland_bench.sh BIN_DIR
set -u
bin=$(cd "${1:?usage: wayland_bench.sh BIN_DIR}" && pwd)
runs=7
root=$(mktemp -d /tmp/quenlit-wayland-bench-XXXXXX)
export HOME=$root/home XDG_DATA_HOME=$root/share XDG_CONFIG_HOME=$root/config XDG_STATE_HOME=$root/state
export XDG_CACHE_HOME=$root/cache
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME"
pids=()
source "$(dirname "$0")/figures.sh"
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$root"' EXIT


# A terminal in front, as on a desktop in use.
foot >/dev/null 2>&1 &
pids+=($!)
sleep 1

mapfile -t q < <(measure_wayland_start "$bin/quenlit")
mapfile -t f < <(measure_wayland_start fuzzel)

"$bin/quenlit" >/dev/null 2>&1 &
pids+=($!)
for i in $(seq 200); do swaymsg -t get_tree 2>/dev/null | grep -q '"name": "Quenlit launcher"' && break; sleep 0.05; done
# The launcher shows at start: hide it, then time the way back.
"$bin/quenlit" toggle launcher
sleep 0.5
read -r -a hotkey < <("$bin/sway_probe" key-shown "Quenlit launcher" 15 wtype -M logo -k space -m logo)
read -r -a toggle < <("$bin/sway_probe" shown "Quenlit launcher" 15 "$bin/quenlit" toggle launcher)

over=0
verdict() {  # VALUE BUDGET
    if [ -n "$1" ] && awk -v v="$1" -v b="$2" 'BEGIN {exit !(v <= b)}'; then echo "within budget"; else echo "OVER BUDGET"; fi
}
read -r -a qs <<<"${q[0]:-}"
read -r -a fs <<<"${f[0]:-}"
read -r -a qm <<<"${q[1]:-}"
read -r -a fm <<<"${f[1]:-}"
twice_fuzzel=$(awk -v f="${fs[0]:-0}" 'BEGIN {printf "%.1f", 2 * f}')
row() {  # LABEL UNIT QUENLIT... -- FUZZEL... -- BUDGET
    local label=$1 unit=$2 budget=$5
    local -a ours=($3) theirs=($4)
    local v="-"
    if [ "$budget" != "-" ]; then
        v=$(verdict "${ours[0]:-}" "$budget")
        [ "$v" = "within budget" ] || over=1
    fi
    printf '%-46s %8s %-3s %8s %-3s %9s  %-13s  %s\n' "$label" "${ours[0]:-n/a}" "$unit" "${theirs[0]:--}" "$unit" \
        "$budget" "$v" "quenlit ${ours[1]:-?}-${ours[2]:-?}${theirs[1]:+, fuzzel ${theirs[1]}-${theirs[2]}}"
}
printf '\n%-46s %12s %12s %9s  %-13s  %s\n' "on sway, headless (median of 7 runs)" "quenlit" "fuzzel" "budget" "verdict" "spread (fastest-slowest)"
row "process start to first picture (2x fuzzel)" ms "${qs[*]}" "${fs[*]}" "$twice_fuzzel"
row "resident memory after start-up" MB "${qm[*]}" "${fm[*]}" 40
row "Super+Space reaching sway to launcher focused" ms "${hotkey[*]}" "" 10
row "quenlit toggle launcher to shown, focused" ms "${toggle[*]}" "" -
[ -n "${q[0]:-}" ] && [ -n "${hotkey[0]:-}" ] && [ "$over" = 0 ]
