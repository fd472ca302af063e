#!/usr/bin/env bash
# The desktop program measured from outside on a private X server (run inside
# tests/support/with-xvfb.sh): start to launcher visible, resident memory after start-up, and hotkey
# to panel shown and holding the keyboard; rofi -dmenu, and rofi's application list with icons,
# measured the same way, side by side. Two programs run, so the launcher opens on a row of
# running applications with its icon (xterm's, a pixmap), as on a desktop in use. Then the typing
# figures of typing_bench.sh.
#   desktop_bench.sh BIN_DIR
set -u
bin=$(cd "${1:?usage: desktop_bench.sh BIN_DIR}" && pwd)
runs=7
root=$(mktemp -d /tmp/quenlit-bench-XXXXXX)
trap 'rm -rf "$root"' EXIT
export HOME=$root/home XDG_DATA_HOME=$root/share XDG_CONFIG_HOME=$root/config XDG_STATE_HOME=$root/state
export XDG_RUNTIME_DIR=$root/run
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

median() { sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
rss_mb() { awk '/^VmRSS/ {printf "%.1f", $2 / 1024}' "/proc/$1/status" 2>/dev/null; }

# Start to visible and memory: each run a fresh process.
measure_start() {  # CLASS COMMAND...
    local klass=$1
    shift
    local starts=() memories=()
    for ((i = 0; i < runs; i++)); do
        read -r ms pid < <("$bin/panel_probe" start "$klass" "$@" </dev/null)
        [ -n "${pid:-}" ] || { echo "    $klass did not show a window" >&2; return 1; }
        sleep 1
        starts+=("$ms")
        memories+=("$(rss_mb "$pid")")
        kill "$pid" 2>/dev/null
        while kill -0 "$pid" 2>/dev/null; do sleep 0.02; done
    done
    printf '%s\n' "${starts[@]}" | median
    printf '%s\n' "${memories[@]}" | median
}

# xterm behind ImageMagick's display: the launcher lists xterm (the application in front is not
# offered), with its icon.
others=()
if command -v xterm >/dev/null 2>&1 && command -v display >/dev/null 2>&1; then
    xterm -geometry 80x10 >/dev/null 2>&1 &
    others+=($!)
    for i in $(seq 100); do xdotool search --onlyvisible --classname '^xterm$' >/dev/null 2>&1 && break; sleep 0.05; done
    display -geometry +600+500 logo: >/dev/null 2>&1 &
    others+=($!)
    for i in $(seq 100); do xdotool search --onlyvisible --classname '^display' >/dev/null 2>&1 && break; sleep 0.05; done
fi
trap 'kill "${others[@]}" 2>/dev/null; rm -rf "$root"' EXIT

status=0
verdict() {  # VALUE BUDGET
    if awk -v v="$1" -v b="$2" 'BEGIN {exit !(v <= b)}'; then echo "within budget"; else echo "OVER BUDGET"; status=1; fi
}

mapfile -t q < <(measure_start quenlit "$bin/quenlit")
"$bin/quenlit" >/dev/null 2>&1 &
pid=$!
for i in $(seq 100); do xdotool search --onlyvisible --classname '^quenlit$' >/dev/null 2>&1 && break; sleep 0.05; done
hotkey=$("$bin/panel_probe" hotkey quenlit 15)
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null

rofi_start="n/a" rofi_rss="n/a" drun_start="n/a" drun_rss="n/a"
if command -v rofi >/dev/null 2>&1; then
    mapfile -t r < <(measure_start rofi rofi -dmenu -p run)
    rofi_start=${r[0]:-n/a} rofi_rss=${r[1]:-n/a}
    mapfile -t r < <(measure_start rofi rofi -show drun -show-icons)
    drun_start=${r[0]:-n/a} drun_rss=${r[1]:-n/a}
fi

printf '\n%-44s %12s %12s %12s %12s  %s\n' "desktop figure (median of runs)" "quenlit" "rofi -dmenu" "rofi drun+ic" "budget" "verdict"
printf '%-44s %9s ms %9s ms %9s ms %9s ms  %s\n' "hotkey to panel shown with icons, keys held" "$hotkey" "-" "-" 5 "$(verdict "$hotkey" 5)"
printf '%-44s %9s ms %9s ms %9s ms %9s ms  %s\n' "process start to launcher visible" "${q[0]}" "$rofi_start" "$drun_start" 150 "$(verdict "${q[0]}" 150)"
printf '%-44s %9s MB %9s MB %9s MB %9s MB  %s\n' "resident memory after start-up, icons shown" "${q[1]}" "$rofi_rss" "$drun_rss" 40 "$(verdict "${q[1]}" 40)"

# Typing through both keyboard taps: nothing lost, how long grabs freeze the keyboard, CPU per key.
bash "$(dirname "$0")/typing_bench.sh" "$bin" || status=1
exit $status
