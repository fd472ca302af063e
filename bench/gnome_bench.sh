#!/usr/bin/env bash
# The desktop program measured from outside on a headless GNOME Shell (run inside
# tests/support/with-gnome-shell.sh, with QUENLIT_BIN naming the measured build), foot in front.
# The extension of a private test session writes each step from a key to a panel with the keyboard
# into the shell's log, on the monotonic clock: the figures are read from there.
#  - Super+Space to the launcher shown and holding the keyboard: from the moment the shell's virtual
#    keyboard (the extension's, typing for the test) hands it the Space press, Super being held
#    already, until the shell gives the launcher the focus; the steps between are shown beside;
#  - a copy made with wl-copy to its text in the history: from the shell seeing the new owner of the
#    clipboard until the program logs the text captured (desk_probe, on the same clock);
#  - process start to the first picture (its Wayland protocol log) and resident memory after start.
# Each timed figure is the median of seven runs, with the fastest and the slowest beside it.
#   QUENLIT_BIN=BIN_DIR/quenlit with-gnome-shell.sh bash bench/gnome_bench.sh BIN_DIR
set -u
bin=$(cd "${1:?usage: gnome_bench.sh BIN_DIR}" && pwd)
runs=7
shell_runtime=$XDG_RUNTIME_DIR
shell_log=${QUENLIT_GNOME_SHELL_LOG:?gnome_bench.sh runs inside with-gnome-shell.sh}
source "$(dirname "$0")/../tests/e2e/common.sh" bench-gnome
source "$(dirname "$0")/figures.sh"
export XDG_RUNTIME_DIR=$shell_runtime
unset DISPLAY

# "median fastest slowest" of the numbers on standard input.
verdict() {  # VALUE BUDGET
    if [ -n "$1" ] && awk -v v="$1" -v b="$2" 'BEGIN {exit !(v <= b)}'; then echo "within budget"; else
        echo "OVER BUDGET"
        touch "$root/over-budget"
    fi
}
log_size() { stat -c %s "$1" 2>/dev/null || echo 0; }

send() {  # KEYSYM:true|false ...: typed by the extension, about 20 ms apart
    local list="" k
    for k in "$@"; do list+="${list:+, }(uint32 ${k%%:*}, ${k##*:})"; done
    gdbus call --session -d org.gnome.Shell -o /io/github/quenlit/Shell1 -m io.github.quenlit.Shell1.SendKeys \
        "[$list]" >/dev/null
}
# The shell's steps since OFFSET, "microseconds step...", one a line.
steps() { tail -c "+$(($1 + 1))" "$shell_log" | sed -n 's/.*quenlit-trace \([0-9]*\) \(.*\)$/\1 \2/p'; }
# Waits until the shell gives the focus to the window of that title.
wait_focus() {  # OFFSET TITLE
    "$bin/desk_probe" watch "$shell_log" "$1" "quenlit-trace" >/dev/null || return 1
    local deadline=$((SECONDS + 10))
    while ((SECONDS <= deadline)); do
        steps "$1" | grep -q " focus $2\$" && return 0
        sleep 0.02
    done
    return 1
}

# --- process start to the first picture, and memory: each run a fresh process ---
mapfile -t started < <(measure_wayland_start "$bin/quenlit")
read -r start_ms _ <<<"${started[0]:-}"
read -r rss _ <<<"${started[1]:-}"

# --- foot in front, the program started over it ---
offset=$(log_size "$shell_log")
foot >/dev/null 2>&1 &
pids+=($!)
wait_focus "$offset" foot || echo "    foot did not take the focus" >&2
offset=$(log_size "$shell_log")
"$bin/quenlit" >"$root/quenlit.out" 2>&1 &
pids+=($!)
wait_focus "$offset" "Quenlit launcher" || echo "    the launcher did not show at start" >&2
sleep 0.5
offset=$(log_size "$shell_log")
send 0xff1b:true 0xff1b:false
wait_focus "$offset" foot
sleep 0.5

# --- Super+Space to the launcher with the keyboard, Escape back to foot ---
hotkeys=() to_hotkey=() to_call=() to_focus=()
for ((i = 0; i < runs; i++)); do
    offset=$(log_size "$shell_log")
    send 0xffeb:true 0x20:true 0x20:false 0xffeb:false
    if wait_focus "$offset" "Quenlit launcher"; then
        read -r total a b c < <(steps "$offset" | awk '
            / key 32 pressed$/ && !k {k = $1}
            / hotkey launcher-hotkey$/ && k && !h {h = $1}
            / show-panel Quenlit launcher$/ && h && !s {s = $1}
            / focus Quenlit launcher$/ && k && !f {f = $1}
            END {if (k && f) printf "%.1f %.1f %.1f %.1f\n", (f - k) / 1000, h ? (h - k) / 1000 : -1,
                     s ? (s - h) / 1000 : -1, s ? (f - s) / 1000 : -1}')
        [ -n "${total:-}" ] && hotkeys+=("$total") to_hotkey+=("$a") to_call+=("$b") to_focus+=("$c")
    fi
    sleep 0.3
    offset=$(log_size "$shell_log")
    send 0xff1b:true 0xff1b:false
    wait_focus "$offset" foot || echo "    Escape did not give foot the focus back" >&2
    sleep 0.3
done
read -r hotkey hotkey_min hotkey_max < <(printf '%s\n' "${hotkeys[@]}" | stats)
read -r step_hotkey _ < <(printf '%s\n' "${to_hotkey[@]}" | stats)
read -r step_call _ < <(printf '%s\n' "${to_call[@]}" | stats)
read -r step_focus _ < <(printf '%s\n' "${to_focus[@]}" | stats)
[ "${#hotkeys[@]}" -eq "$runs" ] || { echo "    the launcher showed ${#hotkeys[@]} times of $runs" >&2; hotkey=""; }

# --- a copy with wl-copy to the entry in the history ---
# wl-copy needs the keyboard focus for a moment on GNOME (it has no data-control): a copy the shell
# never saw is made again; one it saw that the history misses is a lost copy.
copies=() lost=0 attempts=0
while [ "${#copies[@]}" -lt "$runs" ] && [ "$attempts" -lt $((runs + 3)) ]; do
    attempts=$((attempts + 1))
    offset=$(log_size "$shell_log")
    "$bin/desk_probe" watch "$log" "$(log_size "$log")" "clipboard: captured text" >"$root/captured" &
    watcher=$!
    text="bench copy $attempts $RANDOM"
    wl-copy "$text"
    owned=""
    for ((j = 0; j < 50; j++)); do
        owned=$(steps "$offset" | awk '/ clipboard-owner other$/ {print $1; exit}')
        [ -n "$owned" ] && break
        sleep 0.02
    done
    if [ -z "$owned" ]; then
        kill "$watcher" 2>/dev/null
        wait "$watcher" 2>/dev/null
        echo "    wl-copy's copy did not reach the shell: made again" >&2
        continue
    fi
    if wait "$watcher"; then
        copies+=("$(awk -v a="$owned" -v b="$(cat "$root/captured")" 'BEGIN {printf "%.1f", (b - a) / 1000}')")
    else
        lost=$((lost + 1))
        echo "    the shell saw the copy \"$text\", the history did not record it" >&2
    fi
    sleep 0.2
done
read -r copy copy_min copy_max < <(printf '%s\n' "${copies[@]}" | stats)
[ "${#copies[@]}" -eq "$runs" ] && [ "$lost" -eq 0 ] || { echo "    ${#copies[@]} copies reached the history, $lost were lost" >&2; copy=""; }

printf '\n%-46s %10s %18s %8s  %s\n' "on GNOME Shell, headless, median of $runs" "quenlit" "fastest – slowest" "budget" "verdict"
printf '%-46s %7s ms %18s %5s ms  %s\n' "Super+Space to launcher shown, keys held" "${hotkey:-n/a}" \
    "${hotkey_min:-?} – ${hotkey_max:-?} ms" 30 "$(verdict "${hotkey:-}" 30)"
printf '%-46s %7s ms\n' "  the key to the shell's hotkey" "${step_hotkey:-n/a}"
printf '%-46s %7s ms\n' "  the hotkey to Quenlit asking for the panel" "${step_call:-n/a}"
printf '%-46s %7s ms\n' "  that to the panel with the focus" "${step_focus:-n/a}"
printf '%-46s %7s ms %18s %5s ms  %s\n' "wl-copy's copy to the entry in history" "${copy:-n/a}" \
    "${copy_min:-?} – ${copy_max:-?} ms" 100 "$(verdict "${copy:-}" 100)"
printf '%-46s %7s ms %18s %8s  %s\n' "process start to first picture" "${start_ms:-n/a}" "" "-" "-"
printf '%-46s %7s MB %18s %8s  %s\n' "resident memory after start-up" "${rss:-n/a}" "" "-" "-"
[ ! -e "$root/over-budget" ]
