#!/usr/bin/env bash
# End-to-end run of the desktop program on a headless GNOME Shell (Wayland), driven as a person
# would: keys typed through the Shell's own virtual keyboard (the extension's, which this private
# shell lets the test use: GNOME offers ordinary programs no way to type into others), windows read
# through the extension, the clipboard through wl-copy, foot as the native terminal, screenshots
# taken by the Shell.
# Run inside tests/support/with-gnome-shell.sh:
#   with-gnome-shell.sh bash tests/e2e/gnome.sh BIN_DIR OUTPUT_DIR
set -u
bin=$(cd "${1:?usage: gnome.sh BIN_DIR OUTPUT_DIR}" && pwd)
out=$(mkdir -p "${2:?usage: gnome.sh BIN_DIR OUTPUT_DIR}" && cd "$2" && pwd)

shell_runtime=$XDG_RUNTIME_DIR
x_display=${DISPLAY:-}
source "$(dirname "$0")/common.sh" e2e-gnome
export XDG_RUNTIME_DIR=$shell_runtime
unset DISPLAY

# --- the Shell, through Quenlit's extension ---
shell() {  # METHOD [ARGS...]
    local method=$1
    shift
    gdbus call --session -d org.gnome.Shell -o /io/github/quenlit/Shell1 -m "io.github.quenlit.Shell1.$method" "$@"
}
# The windows as "class<TAB>title<TAB>focused<TAB>x y w h<TAB>id", most recently used first.
windows() {
    shell ListWindows | python3 -c '
import ast, sys
text = sys.stdin.read().replace("uint64 ", "").replace("true", "True").replace("false", "False")
for w in ast.literal_eval(text)[0]:
    print("%s\t%s\t%s\t%d %d %d %d\t%d" % (w[2], w[3], "true" if w[8] else "false", w[4], w[5], w[6], w[7], w[0]))'
}
panel_line() { windows | awk -F'\t' -v t="$1" '$2 == t'; }
panel_focused() { panel_line "$1" | awk -F'\t' '$3 == "true"' | grep -q .; }
panel_hidden() { [ -z "$(panel_line "$1")" ]; }
focused_class() { windows | awk -F'\t' '$3 == "true" { print $1 }'; }
focused_is() { [ "$(focused_class)" = "$1" ]; }
count_class() { windows | awk -F'\t' -v a="$1" '$1 == a' | wc -l; }
frame_of() { windows | awk -F'\t' -v a="$1" '$1 == a { print $4; exit }'; }
frame_is() { [ "$(frame_of "$1")" = "$2" ]; }
focus_class() {
    local id
    id=$(windows | awk -F'\t' -v a="$1" '$1 == a { print $5; exit }')
    [ -n "$id" ] && shell ActivateWindow "$id" >/dev/null && wait_until 3 focused_is "$1"
}

# Keys by keysym, pressed and released in order, about 20 ms apart.
send() {  # KEYSYM:true|false ...
    local list="" k
    for k in "$@"; do list+="${list:+, }(uint32 ${k%%:*}, ${k##*:})"; done
    shell SendKeys "[$list]" >/dev/null
}
press() { send "$1:true" "$1:false"; }
text() {  # TEXT: lower-case letters, digits and spaces
    local s=$1 i c keys=()
    for ((i = 0; i < ${#s}; i++)); do
        c=$(printf '%d' "'${s:i:1}")
        keys+=("$(printf '0x%x' "$c"):true" "$(printf '0x%x' "$c"):false")
    done
    send "${keys[@]}"
}
super_space() { sleep 0.3; send 0xffeb:true 0x20:true 0x20:false 0xffeb:false; }
super_escape() { sleep 0.3; send 0xffeb:true 0xff1b:true 0xff1b:false 0xffeb:false; }
escape() { sleep 0.3; press 0xff1b; }
enter() { sleep 0.3; press 0xff0d; }

shot() { shell Screenshot "$out/e2e-gnome-$1.png" >/dev/null 2>&1; }
e2e_failure_details() {
    windows | sed 's/^/    window: /'
    tail -n 5 "$root/quenlit.out" 2>/dev/null | sed 's/^/    out: /'
}

# --- fixtures ---
add_terminal_sink "$root/term.txt"

# --- start ---
"$bin/quenlit" >"$root/quenlit.out" 2>&1 &
pids+=($!)
check "the program starts on GNOME's own backend, through the extension" \
    wait_until 10 log_has "desktop: Wayland (GNOME Shell, through Quenlit's extension)"
check "the log says once that the expander and the app toggles are off" \
    log_has "wayland: the text expander and the app toggles are off"
check "the launcher shows at start with the keyboard" wait_until 10 panel_focused "Quenlit launcher"
# 640 wide on the 1280-wide monitor: centred, its left edge at 320.
launcher_centred_by_title() { [ "$(panel_line "Quenlit launcher" | cut -f4 | cut -d' ' -f1,3)" = "320 640" ]; }
check "the launcher is centred across the monitor" launcher_centred_by_title
escape
check "Escape hides it" wait_until 5 panel_hidden "Quenlit launcher"

"$root/bin/term-sink" >/dev/null 2>&1 &
pids+=($!)
check "foot starts with the focus" wait_until 10 focused_is foot

super_space
check "Super+Space over foot shows the launcher, with the keyboard" wait_until 5 panel_focused "Quenlit launcher"
text "calc"
sleep 0.5
shot launcher
check "typed keys reach the launcher, not foot" test ! -s "$root/term.txt"
escape
check "Escape gives the focus back to foot" wait_until 5 focused_is foot

foot --app-id=other-term >/dev/null 2>&1 &
pids+=($!)
check "another terminal takes the focus" wait_until 10 focused_is other-term
super_space
wait_until 5 panel_focused "Quenlit launcher"
text "fixture terminal"
sleep 0.3
enter
check "choosing a running program switches to it" wait_until 5 focused_is foot
check "… without starting it again" test "$(count_class foot)" = 1

super_space
wait_until 5 panel_focused "Quenlit launcher"
text "left half"
sleep 0.3
enter
# The work area is the monitor less the top bar (32 pixels).
check "\"left half\" places the window the launcher came from" wait_until 5 frame_is foot "0 32 640 768"

# --- the clipboard ---
wl-copy "gnome copy one"
check "a copy made with wl-copy appears in the history" wait_until 10 history_has "gnome copy one"
wl-copy "something else"
check "… and the next one" wait_until 10 history_has "something else"

focus_class foot
super_escape
check "Super+Escape shows the clipboard history" wait_until 5 panel_focused "Quenlit clipboard"
text "copy one"
sleep 0.5
shot clipboard
enter
check "a filter and Return paste into foot (Control+Shift+V)" \
    wait_until 5 file_is "$root/term.txt" "gnome copy one"
check "the focus is back in the terminal" focused_is foot
QT_QPA_PLATFORM=wayland "$bin/text_sink" --out "$root/sink.txt" --title "Sink" >"$root/sink.ready" 2>&1 &
pids+=($!)
sink_focused() { windows | awk -F'\t' '$2 == "Sink" && $3 == "true"' | grep -q .; }
check "a native Qt text field takes the focus" wait_until 10 sink_focused
super_escape
wait_until 5 panel_focused "Quenlit clipboard"
text "else"
sleep 0.3
enter
check "… and Return pastes into it (Control+V)" wait_until 5 file_is "$root/sink.txt" "something else"
focus_class foot
check "the pasted entry is the clipboard of native and X11 programs alike" \
    wait_until 3 sh -c "[ \"\$(wl-paste --no-newline)\" = 'something else' ] && [ \"\$(DISPLAY=$x_display xclip -o -selection clipboard)\" = 'something else' ]"

# xterm through XWayland: its only paste key is Shift+Insert, for the primary selection, which the
# entry becomes too.
if command -v xterm >/dev/null && [ -n "$x_display" ]; then
    DISPLAY=$x_display xterm -e sh -c "stty raw -echo; exec cat >'$root/xterm.txt'" >/dev/null 2>&1 &
    pids+=($!)
    check "xterm starts through XWayland with the focus" wait_until 15 focused_is XTerm
    super_escape
    wait_until 5 panel_focused "Quenlit clipboard"
    text "copy one"
    sleep 0.3
    enter
    check "… and Return pastes into it (Shift+Insert, the primary selection)" \
        wait_until 5 file_is "$root/xterm.txt" "gnome copy one"
else
    echo "skipped: xterm is not installed, or XWayland did not start"
fi

convert -size 12x8 xc:red "$root/red.png"
wl-copy --type image/png <"$root/red.png"
history_has_image() { "$bin/quenlit" history --json 2>/dev/null | grep -q '"kind":"image"'; }
check "an image copied with wl-copy is kept as an image" wait_until 10 history_has_image

# Only Quenlit (and, in this private session, gdbus) may call the extension.
refused() {
    python3 -c '
from gi.repository import Gio, GLib
bus = Gio.bus_get_sync(Gio.BusType.SESSION)
try:
    bus.call_sync("org.gnome.Shell", "/io/github/quenlit/Shell1", "io.github.quenlit.Shell1", "ListWindows",
                  None, None, Gio.DBusCallFlags.NONE, 2000)
except GLib.Error as e:
    raise SystemExit(0 if "AccessDenied" in e.message else 1)
raise SystemExit(1)'
}
check "another program is refused by the extension" refused

super_space
if wait_until 5 panel_focused "Quenlit launcher"; then
    text "term"
    sleep 0.5
    shot desktop
fi
escape

# --- the extension disabled and enabled again, as GNOME does around a locked screen ---
extension() {  # DisableExtension | EnableExtension
    gdbus call --session -d org.gnome.Shell -o /org/gnome/Shell -m "org.gnome.Shell.Extensions.$1" \
        quenlit@quenlit.github.io >/dev/null
}
extension_gone() { ! gdbus introspect --session -d org.gnome.Shell -o /io/github/quenlit/Shell1 | grep -q Shell1; }
extension DisableExtension
wait_until 5 extension_gone
extension EnableExtension
check "the extension enabled again (after a locked screen): Quenlit registers again" \
    wait_until 5 log_has "the Shell extension came back (after a locked screen): registered again"
# The extension's keyboard, which types the test's keys, is new too: its first keys can be lost.
sleep 1
focus_class foot
super_space
check "… and Super+Space shows the launcher again" wait_until 5 panel_focused "Quenlit launcher"
escape
wait_until 5 panel_hidden "Quenlit launcher"

# --- without the extension ---
# Switched off while the shell runs, as a user may: a second instance (a runtime folder and data of
# its own) says once what is missing and how to get it, and runs through XWayland.
extension DisableExtension
wait_until 5 extension_gone
plain=$root/plain
mkdir -p "$plain/run" "$plain/state" "$plain/share"
chmod 700 "$plain/run"
XDG_RUNTIME_DIR=$plain/run XDG_STATE_HOME=$plain/state XDG_DATA_HOME=$plain/share DISPLAY=$x_display \
    "$bin/quenlit" >"$root/plain.out" 2>&1 &
pids+=($!)
plain_log=$plain/state/quenlit/focus.log
says_install() {
    grep -qF "wayland: GNOME Shell runs without Quenlit's extension (install and enable it with \`quenlit --install-gnome-extension\`, then log out and in) — running through XWayland" \
        "$plain_log" 2>/dev/null
}
check "without the extension it says how to get it and runs through XWayland" wait_until 10 says_install
check "… once" test "$(grep -c "runs without Quenlit's extension" "$plain_log")" = 1
forced_refused() {
    XDG_RUNTIME_DIR=$plain/run "$bin/quenlit" --backend gnome >"$root/forced.out" 2>&1
    [ $? -eq 2 ] && grep -q "install-gnome-extension" "$root/forced.out"
}
check "--backend gnome without the extension exits 2 and says how to get it" forced_refused

echo "gnome: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
