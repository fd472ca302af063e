#!/usr/bin/env bash
# The desktop program measured from outside on a private X server (run inside
# tests/support/with-xvfb.sh): start to launcher visible, resident memory after start-up, and hotkey
# to panel shown and holding the keyboard; rofi -dmenu, and rofi's application list with icons,
# measured the same way, side by side. Two programs run, so the launcher opens on a row of
# running applications with its icon (xterm's, a pixmap), as on a desktop in use.
# Then the clipboard panel over the largest history the program keeps (written by
# write_clipboard_history before the program starts): Super+Escape to the panel shown and holding the
# keyboard, "quenlit toggle clipboard" to the panel shown, and resident memory once it has shown;
# a filtering keystroke, measured inside the process by clipboard_panel_offscreen; CopyQ holding 200
# short entries as the peer ("copyq show" to its main window, and its server's memory).
# Then a burst of copies: 200 texts copied with xclip 50 ms apart, how many the history records and
# how long capture holds the main thread per copy (clipboard_burst_probe, inside the process).
# Then the typing figures of typing_bench.sh.
#   desktop_bench.sh BIN_DIR
set -u
bin=$(cd "${1:?usage: desktop_bench.sh BIN_DIR}" && pwd)
runs=7
root=$(mktemp -d /tmp/quenlit-bench-XXXXXX)
trap 'rm -rf "$root"' EXIT
export HOME=$root/home XDG_DATA_HOME=$root/share XDG_CONFIG_HOME=$root/config XDG_STATE_HOME=$root/state
export XDG_RUNTIME_DIR=$root/run
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

source "$(dirname "$0")/figures.sh"
first() { echo "${1%% *}"; }
spread() { local -a v=($1); [ ${#v[@]} -ge 3 ] && echo "${v[1]}-${v[2]}" || echo "-"; }

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
    printf '%s\n' "${starts[@]}" | stats
    printf '%s\n' "${memories[@]}" | stats
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
# Called in the table's command substitutions, which are subshells: a figure over budget leaves a
# mark on disk for the exit status.
verdict() {  # VALUE BUDGET
    if awk -v v="$1" -v b="$2" 'BEGIN {exit !(v <= b)}'; then echo "within budget"; else echo "OVER BUDGET"; touch "$root/over-budget"; fi
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

# ---- The clipboard panel, with a data folder of its own: the launcher's figures above are those of
# a program without a history.
clip_share=$root/clipboard-share clip_state=$root/clipboard-state
"$bin/write_clipboard_history" "$clip_share/quenlit" >/dev/null || status=1
clip_log=$clip_state/quenlit/focus.log
clip_hotkey="n/a" clip_toggle="n/a" clip_rss="n/a"
XDG_DATA_HOME=$clip_share XDG_STATE_HOME=$clip_state "$bin/quenlit" >/dev/null 2>&1 &
pid=$!
for i in $(seq 200); do grep -q "clipboard: loaded" "$clip_log" 2>/dev/null && break; sleep 0.05; done
if grep -q "clipboard: loaded 200 items" "$clip_log" 2>/dev/null; then
    # Shown once (the launcher that shows at start is dismissed first), the pictures of its rows
    # decoded and the texts lower-cased in the background meanwhile.
    "$bin/panel_probe" hotkey quenlit:680 1 super+Escape >/dev/null
    sleep 1
    clip_rss=$(rss_mb "$pid")
    clip_hotkey=$("$bin/panel_probe" hotkey quenlit:680 15 super+Escape)
    toggles=()
    for ((i = 0; i < runs; i++)); do
        xdotool search --onlyvisible --classname '^quenlit$' >/dev/null 2>&1 && xdotool key Escape
        for j in $(seq 100); do xdotool search --onlyvisible --classname '^quenlit$' >/dev/null 2>&1 || break; sleep 0.02; done
        sleep 0.15
        read -r ms _ < <(XDG_DATA_HOME=$clip_share XDG_STATE_HOME=$clip_state \
            "$bin/panel_probe" start quenlit:680 "$bin/quenlit" toggle clipboard </dev/null)
        toggles+=("${ms:-}")
    done
    clip_toggle=$(printf '%s\n' "${toggles[@]}" | stats)
else
    echo "    quenlit did not load the clipboard history:" >&2
    grep "clipboard:" "$clip_log" >&2
    status=1
fi
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null

# One keystroke of a query over the same history, from key to rows painted, inside the process.
keystroke="n/a" keystroke_budget="n/a" first_keystroke="n/a" first_keystroke_budget=16
# (Its reporter colours its lines whatever it is told.)
out=$("$bin/clipboard_panel_offscreen" 2>&1 | sed "s/\x1b\[[0-9;]*m//g")
# Budget.h's table gives "<measured> <unit> <budget> <unit> <verdict in two words> <fastest> <unit> - <slowest>
# <unit>"; Google Benchmark's
# own line "<time> <unit> <cpu> <unit> <iterations>".
in_ms() { awk -v v="$1" -v u="$2" 'BEGIN {f = u == "us" ? 1e-3 : u == "ns" ? 1e-6 : u == "s" ? 1e3 : 1; printf "%.2f", v * f}'; }
row=$(grep '^ClipboardPanelView keystroke/' <<<"$out" | tail -1)
if [ -n "$row" ]; then
    read -r -a f <<<"$row"
    n=${#f[@]}
    keystroke=$(in_ms "${f[n - 11]}" "${f[n - 10]}")
    keystroke_budget=$(in_ms "${f[n - 9]}" "${f[n - 8]}")
fi
row=$(grep '^ClipboardPanelView first keystroke after loading/' <<<"$out" | tail -1)
if [ -n "$row" ]; then
    read -r -a f <<<"$row"
    n=${#f[@]}
    first_keystroke=$(in_ms "${f[n - 11]}" "${f[n - 10]}")
    first_keystroke_budget=$(in_ms "${f[n - 9]}" "${f[n - 8]}")
fi
if [ "$keystroke" = "n/a" ]; then
    echo "    clipboard_panel_offscreen gave no figure:" >&2
    echo "$out" >&2
    keystroke="n/a" keystroke_budget=4
fi

# CopyQ with 200 short entries: its main window shown by "copyq show", the server's memory after.
copyq_show="n/a" copyq_rss="n/a"
if command -v copyq >/dev/null 2>&1; then
    copyq >/dev/null 2>&1 &
    copyq_pid=$!
    for i in $(seq 200); do copyq size >/dev/null 2>&1 && break; sleep 0.05; done
    entries=()
    for i in $(seq 200); do entries+=("clipboard entry $i, a short line of text"); done
    copyq add "${entries[@]}" >/dev/null 2>&1
    shows=()
    for ((i = 0; i < runs; i++)); do
        copyq hide >/dev/null 2>&1
        for j in $(seq 100); do xdotool search --onlyvisible --classname '^copyq$' >/dev/null 2>&1 || break; sleep 0.02; done
        sleep 0.15
        read -r ms _ < <("$bin/panel_probe" start copyq copyq show </dev/null)
        shows+=("${ms:-}")
    done
    copyq_show=$(printf '%s\n' "${shows[@]}" | stats)
    sleep 1
    copyq_rss=$(rss_mb "$copyq_pid")
    copyq exit >/dev/null 2>&1
    wait "$copyq_pid" 2>/dev/null
fi

# Start-up is held to rofi -dmenu's, measured in the same run.
start_budget=$(first "$rofi_start")
[ "$start_budget" = "n/a" ] && start_budget=150
printf '\n%-44s %12s %12s %12s %12s  %-13s  %s\n' "desktop figure (median of 7 runs)" "quenlit" "rofi -dmenu" "rofi drun+ic" "budget" "verdict" "spread: quenlit (rofi -dmenu)"
printf '%-44s %9s ms %9s ms %9s ms %9s ms  %-13s  %s\n' "hotkey to panel shown with icons, keys held" "$(first "$hotkey")" "-" "-" 5 "$(verdict "$(first "$hotkey")" 5)" "$(spread "$hotkey")"
printf '%-44s %9s ms %9s ms %9s ms %9s ms  %-13s  %s\n' "process start to launcher visible (1x rofi)" "$(first "${q[0]}")" "$(first "$rofi_start")" "$(first "$drun_start")" "$start_budget" "$(verdict "$(first "${q[0]}")" "$start_budget")" "$(spread "${q[0]}") ($(spread "$rofi_start"))"
printf '%-44s %9s MB %9s MB %9s MB %9s MB  %-13s  %s\n' "resident memory after start-up, icons shown" "$(first "${q[1]}")" "$(first "$rofi_rss")" "$(first "$drun_rss")" 40 "$(verdict "$(first "${q[1]}")" 40)" "$(spread "${q[1]}")"

printf '\n%-44s %12s %12s %12s  %s\n' "clipboard panel, largest history (median)" "quenlit" "copyq" "budget" "verdict"
printf '%-44s %9s ms %9s ms %9s ms  %-13s  %s\n' "Super+Escape to panel shown, keys held" "$(first "$clip_hotkey")" "-" 10 "$(verdict "$(first "$clip_hotkey")" 10)" "spread $(spread "$clip_hotkey")"
printf '%-44s %9s ms %9s ms %9s ms  %s\n' "command to panel shown (toggle / copyq show)" "$(first "$clip_toggle")" "$(first "$copyq_show")" "-" "-"
printf '%-44s %9s ms %9s ms %9s ms  %s\n' "filtering keystroke, rows rebuilt, painted" "$keystroke" "-" "$keystroke_budget" "$(verdict "$keystroke" "$keystroke_budget")"
printf '%-44s %9s ms %9s ms %9s ms  %s\n' "  the first one after loading" "$first_keystroke" "-" "$first_keystroke_budget" "$(verdict "$first_keystroke" "$first_keystroke_budget")"
printf '%-44s %9s MB %9s MB %9s MB  %s\n' "resident memory after the panel showed once" "$clip_rss" "$copyq_rss" 75 "$(verdict "$clip_rss" 75)"

# A burst of copies: each announced owner read at once, none lost.
burst_recorded="n/a" burst_copies=200 burst_longest="n/a" burst_median="n/a" burst_p95="n/a"
if command -v xclip >/dev/null 2>&1 && [ -x "$bin/clipboard_burst_probe" ]; then
    read -r burst_recorded burst_copies burst_longest burst_median burst_p95 _ < <("$bin/clipboard_burst_probe" 200 50 2>/dev/null)
fi
burst_verdict() {
    if [ "${burst_recorded:-0}" = "$burst_copies" ]; then echo "within budget"; else echo "OVER BUDGET"; touch "$root/over-budget"; fi
}
printf '\n%-44s %12s %12s  %s\n' "clipboard capture, 200 copies 50 ms apart" "quenlit" "budget" "verdict"
printf '%-44s %12s %12s  %s\n' "copies recorded" "${burst_recorded:-n/a}" "$burst_copies" "$(burst_verdict)"
printf '%-44s %9s ms %9s ms  %s\n' "longest main-thread block by one capture" "$burst_longest" 8 "$(verdict "$burst_longest" 8)"
printf '%-44s %9s ms %9s ms  %s\n' "  median / 95th percentile" "$burst_median" "$burst_p95" "-"
[ -e "$root/over-budget" ] && status=1

# Typing through both keyboard taps: nothing lost, how long grabs freeze the keyboard, CPU per key.
bash "$(dirname "$0")/typing_bench.sh" "$bin" || status=1
exit $status
