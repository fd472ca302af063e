#!/usr/bin/env bash
# End-to-end run of the desktop program on a headless sway, driven as a person would: keys from
# wtype (each call adds a virtual keyboard whose first keys can be lost, so each interaction is one
# call after a short pause), the clipboard through wl-copy, windows read from sway's tree, foot as
# the terminal and the project's Qt text field, screenshots from grim.
# Run inside tests/support/with-sway.sh:
#   with-sway.sh bash tests/e2e/wayland.sh BIN_DIR OUTPUT_DIR
set -u
bin=$(cd "${1:?usage: wayland.sh BIN_DIR OUTPUT_DIR}" && pwd)
out=$(mkdir -p "${2:?usage: wayland.sh BIN_DIR OUTPUT_DIR}" && cd "$2" && pwd)

# The runtime folder is sway's: the hotkeys' `quenlit toggle` runs in sway's environment and looks
# for the program's socket there, as in a real session.
sway_runtime=$XDG_RUNTIME_DIR
source "$(dirname "$0")/common.sh" e2e-wayland
export XDG_RUNTIME_DIR=$sway_runtime
unset DISPLAY

# --- sway's tree ---
tree() { swaymsg -r -t get_tree; }
# The windows as "app_id<TAB>title<TAB>focused<TAB>x y w h" (the outer frame, title bar included).
windows() {
    tree | jq -r '.. | objects | select((.type == "con" or .type == "floating_con") and .pid != null)
        | [(.app_id // .window_properties.class), .name, .focused,
           "\(.rect.x) \(.rect.y - .deco_rect.height) \(.rect.width) \(.rect.height + .deco_rect.height)"] | @tsv'
}
panel_line() { windows | awk -F'\t' -v t="$1" '$1 == "quenlit" && $2 == t'; }
panel_shown() { [ -n "$(panel_line "$1")" ]; }
panel_hidden() { [ -z "$(panel_line "$1")" ]; }
panel_focused() { panel_line "$1" | awk -F'\t' '$3 == "true"' | grep -q .; }
focused_app() { windows | awk -F'\t' '$3 == "true" { print $1 }'; }
focused_is() { [ "$(focused_app)" = "$1" ]; }
count_app() { windows | awk -F'\t' -v a="$1" '$1 == a' | wc -l; }
frame_of() { windows | awk -F'\t' -v a="$1" '$1 == a { print $4; exit }'; }
frame_is() { [ "$(frame_of "$1")" = "$2" ]; }
focus_app() { swaymsg "[app_id=\"^$1\$\"] focus" >/dev/null && wait_until 3 focused_is "$1"; }

# One interaction: a pause, then the keys (wtype's own arguments).
keys() {
    sleep 0.3
    wtype "$@"
}
launcher_keys() { keys -M logo -k space -m logo -s 250 "$@"; }
clipboard_keys() { keys -M logo -k Escape -m logo -s 250 "$@"; }

shot() {  # NAME TITLE: the panel alone
    local geometry
    geometry=$(panel_line "$2" | awk -F'\t' '{ split($4, r, " "); printf "%d,%d %dx%d", r[1], r[2], r[3], r[4] }')
    [ -n "$geometry" ] && grim -g "$geometry" "$out/e2e-wayland-$1.png" 2>/dev/null
}
e2e_failure_details() {
    windows | sed 's/^/    window: /'
    tail -n 5 "$root/quenlit.out" 2>/dev/null | sed 's/^/    out: /'
}

# --- fixtures ---
add_terminal_sink "$root/term.txt"

# --- start ---
"$bin/quenlit" >"$root/quenlit.out" 2>&1 &
pids+=($!)
check "the program starts on the Wayland backend of sway" \
    wait_until 10 log_has "desktop: Wayland (sway)"
check "the log says once that the expander and the app toggles are off" \
    log_has "wayland: the text expander and the app toggles are off"

# Through XWayland only when asked, and this sway runs none: a clear refusal, not a start.
x11_refused() {
    "$bin/quenlit" --backend x11 >"$root/x11.out" 2>&1
    [ $? -eq 2 ] && grep -q "no XWayland to run through" "$root/x11.out"
}
check "--backend x11 without XWayland exits 2 and says why" x11_refused

# --- the launcher ---
check "the launcher shows at start, floating with the focus" wait_until 10 panel_focused "Quenlit launcher"
# 640 wide on the 1280-wide output: centred, its left edge at 320.
launcher_centred() { [ "$(frame_of quenlit | cut -d' ' -f1,3)" = "320 640" ]; }
check "the launcher is centred across the output" launcher_centred
keys -k Escape
check "Escape hides it" wait_until 5 panel_hidden "Quenlit launcher"
launcher_keys "calc"
check "Super+Space shows it again" wait_until 5 panel_focused "Quenlit launcher"
shot launcher "Quenlit launcher"
keys -k Escape
check "… and Escape hides it" wait_until 5 panel_hidden "Quenlit launcher"

launcher_keys "fixture terminal" -s 300 -k Return
check "typing a name and Return launch its desktop entry" wait_until 10 focused_is foot
check "the launcher is gone after launching" panel_hidden "Quenlit launcher"

foot --app-id=other-term >/dev/null 2>&1 &
pids+=($!)
check "another terminal takes the focus" wait_until 10 focused_is other-term
launcher_keys "fixture terminal" -s 300 -k Return
check "choosing a running program switches to it" wait_until 5 focused_is foot
check "… without starting it again" test "$(count_app foot)" = 1

launcher_keys "left half" -s 300 -k Return
# The two terminals were tiled side by side, foot on the left: placed, it floats over the other,
# which then fills the output.
placed_left() { frame_is foot "0 0 640 800" && frame_is other-term "0 0 1280 800"; }
check "\"left half\" places the window the launcher came from" wait_until 5 placed_left

# The whole output, for the README: the launcher over the two terminals.
launcher_keys "term"
if wait_until 5 panel_focused "Quenlit launcher"; then
    sleep 0.3
    grim "$out/e2e-wayland-desktop.png" 2>/dev/null
fi
keys -k Escape
check "Escape gives the focus back to the terminal" wait_until 5 focused_is foot

# --- the clipboard ---
wl-copy "wayland copy one"
check "a copy made with wl-copy appears in the history" wait_until 10 history_has "wayland copy one"
wl-copy "something else"
check "… and the next one" wait_until 10 history_has "something else"

convert -size 12x8 xc:red "$root/red.png"
wl-copy --type image/png <"$root/red.png"
history_has_image() { "$bin/quenlit" history --json 2>/dev/null | grep -q '"kind":"image"'; }
check "an image copied with wl-copy is kept as an image" wait_until 10 history_has_image
wl-copy "something else"

focus_app foot
clipboard_keys
check "Super+Escape shows the clipboard history" wait_until 5 panel_focused "Quenlit clipboard"
shot clipboard "Quenlit clipboard"
keys "copy one" -s 300 -k Return
check "a filter and Return paste into foot (Control+Shift+V)" wait_until 5 file_is "$root/term.txt" "wayland copy one"
check "the focus is back in the terminal" focused_is foot

QT_QPA_PLATFORM=wayland "$bin/text_sink" --out "$root/sink.txt" --title "Sink" >"$root/sink.ready" 2>&1 &
pids+=($!)
check "the Qt text field takes the focus" wait_until 10 sh -c "[ -s '$root/sink.ready' ] && swaymsg -r -t get_tree | grep -q '\"name\": \"Sink\"'"
swaymsg '[title="^Sink$"] focus' >/dev/null
clipboard_keys "else" -s 300 -k Return
check "… and into a Qt text field (Control+V)" wait_until 5 file_is "$root/sink.txt" "something else"

# xterm through sway's XWayland (started by sway, which gives it the X display): its only paste key
# is Shift+Insert, for the primary selection, which the entry becomes too.
if command -v xterm >/dev/null && command -v Xwayland >/dev/null; then
    swaymsg exec "xterm -e sh -c 'stty raw -echo; exec cat >\"$root/xterm.txt\"'" >/dev/null
    xterm_shown() { swaymsg -t get_tree | grep -q '"class": "XTerm"'; }
    if wait_until 15 xterm_shown; then
        swaymsg '[class="^XTerm$"] focus' >/dev/null
        clipboard_keys "copy one" -s 300 -k Return
        check "… and into xterm through XWayland (Shift+Insert, the primary selection)" \
            wait_until 5 file_is "$root/xterm.txt" "wayland copy one"
    else
        check "xterm starts through sway's XWayland" false
    fi
else
    echo "skipped: xterm or Xwayland is not installed"
fi

# Copies in quick succession, a copy whose program quits at once, and a clear.
wl-copy "wayland pair one"
sleep 0.2
wl-copy "wayland pair two"
pair_kept() { history_has "wayland pair one" && history_has "wayland pair two"; }
check "two copies 0.2 s apart are both kept" wait_until 5 pair_kept
wl-copy --foreground "wayland fleeting" &
fleeting=$!
sleep 0.3
kill "$fleeting" 2>/dev/null
wait "$fleeting" 2>/dev/null
check "a copy whose program exits 0.3 s later is kept" wait_until 3 history_has "wayland fleeting"
wl-copy "wayland before clear"
wait_until 5 history_has "wayland before clear"
wl-copy --clear
sleep 4
clipboard_empty() { [ -z "$(wl-paste --no-newline 2>/dev/null)" ]; }
check "wl-copy --clear leaves the clipboard empty 4 s later" clipboard_empty

# --- a second output beside the first, drawn at twice the size ---
# Its layout is 1280 x 800 logical pixels at x 1280: with the focus there, the launcher opens on it,
# 640 x 400 like everywhere, centred and 80 below its top.
swaymsg create_output >/dev/null 2>&1
second=$(swaymsg -r -t get_outputs | jq -r '.[] | select(.name != "HEADLESS-1") | .name' | head -n 1)
if [ -n "$second" ]; then
    swaymsg output "$second" resolution 2560x1600 position 1280 0 scale 2 >/dev/null
    swaymsg focus output "$second" >/dev/null
    launcher_keys
    on_second() { [ "$(frame_of quenlit)" = "1600 80 640 400" ]; }
    check "on a scale-2 output beside the first, the launcher opens there, centred" wait_until 5 on_second
    shot launcher-scale2-output "Quenlit launcher"
    keys -k Escape
    wait_until 5 panel_hidden "Quenlit launcher"
    swaymsg focus output HEADLESS-1 >/dev/null
    launcher_keys
    back_on_first() { [ "$(frame_of quenlit)" = "320 80 640 400" ]; }
    check "… and back on the first output with the focus" wait_until 5 back_on_first
    keys -k Escape
    wait_until 5 panel_hidden "Quenlit launcher"
else
    check "sway makes a second headless output" false
fi

# --- a compositor without the wlroots protocols: weston, with XWayland ---
# The program runs through XWayland there, says what does not reach native windows, and shows its
# launcher as an X window. Everything of its own (runtime folder, data, log) is apart from the run
# above, which goes on.
if command -v weston >/dev/null && command -v Xwayland >/dev/null; then
    westonRuntime=$root/weston-run
    mkdir -m 700 "$westonRuntime"
    XDG_RUNTIME_DIR=$westonRuntime weston --backend=headless-backend.so --xwayland --socket=wayland-weston \
        --width=1280 --height=800 >"$root/weston.log" 2>&1 &
    pids+=($!)
    weston_x_display() { sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$root/weston.log"; }
    wait_until 10 grep -q "xserver listening on display" "$root/weston.log"
    westonState=$root/weston-state
    mkdir -p "$westonState"
    XDG_RUNTIME_DIR=$westonRuntime WAYLAND_DISPLAY=wayland-weston DISPLAY=$(weston_x_display) \
        SWAYSOCK= XDG_STATE_HOME=$westonState XDG_DATA_HOME=$root/weston-share "$bin/quenlit" \
        >"$root/weston-quenlit.out" 2>&1 &
    pids+=($!)
    westonLog=$westonState/quenlit/focus.log
    says_xwayland() {
        grep -qF "wayland: the compositor does not offer wlr-data-control and virtual-keyboard — running through XWayland" \
            "$westonLog" 2>/dev/null
    }
    x_launcher_shown() {
        DISPLAY=$(weston_x_display) xdotool search --onlyvisible --classname '^quenlit$' >/dev/null 2>&1
    }
    check "on weston (no wlroots protocols) it runs through XWayland and says what does not work" \
        wait_until 10 says_xwayland
    check "… and shows its launcher there as an X window" wait_until 10 x_launcher_shown
else
    echo "skipped: weston or Xwayland is not installed"
fi

echo "wayland: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
