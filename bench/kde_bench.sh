#!/usr/bin/env bash
# The desktop program measured from outside on a headless KWin (KDE Plasma's compositor; run inside
# tests/support/with-kwin.sh, trusting quenlit and desk_probe), with a native GTK window in front:
#  - Meta+Space to the launcher shown and holding the keyboard: from the moment desk_probe hands
#    the Space press to KWin's fake input (Meta is already held; the pause before is not counted)
#    until KWin makes the launcher its active window, which a KWin script prints into KWin's log;
#  - Control+C in a GTK entry to its text in the history: Control+A selects the text, then the clock
#    runs from the C press handed to KWin until the program logs the text captured;
#  - process start to the first picture (its Wayland protocol log) and resident memory after start.
# Each timed figure is the median of seven runs, with the fastest and the slowest beside it.
#   with-kwin.sh --trust BIN_DIR/quenlit --trust BIN_DIR/desk_probe bash bench/kde_bench.sh BIN_DIR
set -u
bin=$(cd "${1:?usage: kde_bench.sh BIN_DIR}" && pwd)
runs=7
for tool in zenity gdbus; do
    command -v "$tool" >/dev/null 2>&1 || { echo "kde_bench.sh: $tool is not installed — skipped" >&2; exit 77; }
done
kwin_runtime=$XDG_RUNTIME_DIR
kwin_log=${QUENLIT_KWIN_LOG:?kde_bench.sh runs inside with-kwin.sh}
source "$(dirname "$0")/../tests/e2e/common.sh" bench-kde
source "$(dirname "$0")/figures.sh"
export XDG_RUNTIME_DIR=$kwin_runtime
gtk_env=(env XDG_DATA_DIRS=/usr/local/share:/usr/share GDK_BACKEND=wayland)

# "median fastest slowest" of the numbers on standard input.
verdict() {  # VALUE BUDGET
    if [ -n "$1" ] && awk -v v="$1" -v b="$2" 'BEGIN {exit !(v <= b)}'; then echo "within budget"; else
        echo "OVER BUDGET"
        touch "$root/over-budget"
    fi
}

# Every activation KWin makes, as "quenlit-bench-active<TAB>caption" in its log.
cat >"$root/active.js" <<'JS'
function report(w) { print("quenlit-bench-active\t" + (w ? w.caption : "")); }
(workspace.windowActivated || workspace.clientActivated).connect(report);
JS
gdbus call --session -d org.kde.KWin -o /Scripting -m org.kde.kwin.Scripting.loadScript \
    "$root/active.js" quenlit-bench-active >/dev/null
gdbus call --session -d org.kde.KWin -o /Scripting -m org.kde.kwin.Scripting.start >/dev/null
activated() { printf 'quenlit-bench-active\t%s' "$1"; }
# Waits until KWin activates the window of that caption (or a caption beginning with it).
wait_active() {  # OFFSET CAPTION
    "$bin/desk_probe" watch "$kwin_log" "$1" "$(activated "$2")" >/dev/null
}
log_size() { stat -c %s "$1" 2>/dev/null || echo 0; }

# --- process start to the first picture, and memory: each run a fresh process ---
mapfile -t started < <(measure_wayland_start "$bin/quenlit")
read -r start_ms _ <<<"${started[0]:-}"
read -r rss _ <<<"${started[1]:-}"

# --- a GTK window in front, the program started over it ---
offset=$(log_size "$kwin_log")
"${gtk_env[@]}" zenity --info --title "bench front" --text "in front" >/dev/null 2>&1 &
pids+=($!)
wait_active "$offset" "bench front" || echo "    the GTK window did not come to the front" >&2
offset=$(log_size "$kwin_log")
"$bin/quenlit" >"$root/quenlit.out" 2>&1 &
pids+=($!)
wait_active "$offset" "Quenlit launcher" || echo "    the launcher did not show at start" >&2
sleep 0.5
offset=$(log_size "$kwin_log")
"$bin/desk_probe" keys "$kwin_log" - Escape
wait_active "$offset" "bench front"
sleep 0.5

# --- Meta+Space to the launcher with the keyboard, Escape back to the GTK window ---
hotkeys=()
for ((i = 0; i < runs; i++)); do
    ms=$("$bin/desk_probe" keys "$kwin_log" "$(activated "Quenlit launcher")" +Super_L '*space' -Super_L)
    [ -n "$ms" ] && hotkeys+=("$ms")
    sleep 0.3
    offset=$(log_size "$kwin_log")
    "$bin/desk_probe" keys "$kwin_log" - Escape
    wait_active "$offset" "bench front" || echo "    Escape did not give the GTK window the keyboard back" >&2
    sleep 0.3
done
read -r hotkey hotkey_min hotkey_max < <(printf '%s\n' "${hotkeys[@]}" | stats)
[ "${#hotkeys[@]}" -eq "$runs" ] || { echo "    the launcher showed ${#hotkeys[@]} times of $runs" >&2; hotkey=""; }

# --- Control+A, Control+C in a GTK entry; the copy to the entry in the history ---
copies=()
for ((i = 0; i < runs; i++)); do
    offset=$(log_size "$kwin_log")
    "${gtk_env[@]}" zenity --entry --title "bench copy $i" --text "copy" --entry-text "bench copy $i $RANDOM" \
        >/dev/null 2>&1 &
    zenity_pid=$!
    if wait_active "$offset" "bench copy $i"; then
        sleep 0.3
        ms=$("$bin/desk_probe" keys "$log" "clipboard: captured text" +Control_L a '*c' -Control_L)
        [ -n "$ms" ] && copies+=("$ms")
    fi
    kill "$zenity_pid" 2>/dev/null
    wait "$zenity_pid" 2>/dev/null
    sleep 0.2
done
read -r copy copy_min copy_max < <(printf '%s\n' "${copies[@]}" | stats)
[ "${#copies[@]}" -eq "$runs" ] || { echo "    ${#copies[@]} copies of $runs reached the history" >&2; copy=""; }

printf '\n%-46s %10s %18s %8s  %s\n' "on KDE Plasma (KWin), headless, median of $runs" "quenlit" "fastest – slowest" "budget" "verdict"
printf '%-46s %7s ms %18s %5s ms  %s\n' "Meta+Space to launcher shown, keys held" "${hotkey:-n/a}" \
    "${hotkey_min:-?} – ${hotkey_max:-?} ms" 20 "$(verdict "${hotkey:-}" 20)"
printf '%-46s %7s ms %18s %5s ms  %s\n' "Ctrl+C in a GTK entry to the entry in history" "${copy:-n/a}" \
    "${copy_min:-?} – ${copy_max:-?} ms" 100 "$(verdict "${copy:-}" 100)"
printf '%-46s %7s ms %18s %8s  %s\n' "process start to first picture" "${start_ms:-n/a}" "" "-" "-"
printf '%-46s %7s MB %18s %8s  %s\n' "resident memory after start-up" "${rss:-n/a}" "" "-" "-"
[ ! -e "$root/over-budget" ]
