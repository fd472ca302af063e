#!/usr/bin/env bash
# End-to-end run of the desktop program on a headless KWin (KDE Plasma's compositor), driven as a
# person would: keys through KWin's fake input (kwin_keys, so Meta+Space goes through KWin's global
# shortcuts as a real key would), the clipboard through wl-copy, GTK programs as the native Wayland
# windows, windows read through a KWin script, screenshots through KWin's ScreenShot2.
# Run inside tests/support/with-kwin.sh, which must trust quenlit and the two helpers:
#   with-kwin.sh --trust BIN_DIR/quenlit --trust BIN_DIR/kwin_keys --trust BIN_DIR/kwin_screenshot \
#       bash tests/e2e/kde.sh BIN_DIR OUTPUT_DIR
set -u
bin=$(cd "${1:?usage: kde.sh BIN_DIR OUTPUT_DIR}" && pwd)
out=$(mkdir -p "${2:?usage: kde.sh BIN_DIR OUTPUT_DIR}" && cd "$2" && pwd)
for tool in zenity gtk3-demo-application wl-copy gdbus; do
    command -v "$tool" >/dev/null 2>&1 || { echo "kde.sh: $tool is not installed — skipped" >&2; exit 77; }
done

kwin_runtime=$XDG_RUNTIME_DIR
kwin_log=${QUENLIT_KWIN_LOG:?kde.sh runs inside with-kwin.sh}
source "$(dirname "$0")/common.sh" e2e-kde
# KWin's runtime folder, as in a real session; GTK finds its schemas in the system's data folders.
export XDG_RUNTIME_DIR=$kwin_runtime
gtk_env=(env XDG_DATA_DIRS=/usr/local/share:/usr/share GDK_BACKEND=wayland)

# --- KWin's windows, through a script that prints them into KWin's log ---
# "class<TAB>caption<TAB>active<TAB>x y w h" for every window KWin manages.
windows() {
    # Called in command substitutions: a counter would not survive them, the clock's nanoseconds do.
    local tag="quenlit-probe-$(date +%s%N)"
    cat >"$root/$tag.js" <<JS
var list = workspace.windowList ? workspace.windowList() : workspace.clientList();
var active = workspace.activeWindow !== undefined ? workspace.activeWindow : workspace.activeClient;
for (var i = 0; i < list.length; ++i) {
    var w = list[i], g = w.frameGeometry;
    print("$tag\t" + w.resourceClass + "\t" + w.caption + "\t" + (w === active) + "\t" +
          g.x + " " + g.y + " " + g.width + " " + g.height);
}
print("$tag\tend");
JS
    # Started with every loaded script: a script's own object may be another's (KWin reuses numbers).
    gdbus call --session -d org.kde.KWin -o /Scripting -m org.kde.kwin.Scripting.loadScript \
        "$root/$tag.js" "$tag" >/dev/null
    gdbus call --session -d org.kde.KWin -o /Scripting -m org.kde.kwin.Scripting.start >/dev/null
    wait_until 3 grep -qF "$tag	end" "$kwin_log"
    gdbus call --session -d org.kde.KWin -o /Scripting -m org.kde.kwin.Scripting.unloadScript "$tag" >/dev/null
    grep -F "js: $tag	" "$kwin_log" | grep -vF "$tag	end" | cut -f2-
}
window_line() { windows | awk -F'\t' -v c="$1" '$1 == c || $2 == c'; }
shown() { [ -n "$(window_line "$1")" ]; }
hidden() { [ -z "$(window_line "$1")" ]; }
active_is() { window_line "$1" | awk -F'\t' '$3 == "true"' | grep -q .; }
frame_is() { [ "$(window_line "$1" | cut -f4 | head -n 1)" = "$2" ]; }

keys() {
    sleep 0.3
    "$bin/kwin_keys" "$@"
}
launcher_keys() { keys +Super_L space -Super_L; }
clipboard_keys() { keys +Super_L Escape -Super_L; }
type_text() {  # TEXT: its letters and spaces, 60 ms apart
    local tokens=() c
    for ((i = 0; i < ${#1}; i++)); do
        c=${1:i:1}
        [ "$c" = " " ] && tokens+=(space) || tokens+=("$c")
    done
    keys "${tokens[@]}"
}
shot() { "$bin/kwin_screenshot" "$out/e2e-kde-$1.png"; }
e2e_failure_details() {
    windows | sed 's/^/    window: /'
    grep -vF -e 'js: quenlit-probe' -e xkbcomp -e 'keycode' "$kwin_log" | tail -n 5 | sed 's/^/    kwin: /'
    tail -n 5 "$root/quenlit.out" 2>/dev/null | sed 's/^/    out: /'
}

# --- start, over a native GTK window ---
# Its desktop entry, by which the launcher finds it and knows it is running.
cat >"$XDG_DATA_HOME/applications/quenlit-fixture-gtk.desktop" <<ENTRY
[Desktop Entry]
Type=Application
Name=Fixture Gtk Demo
Exec=env XDG_DATA_DIRS=/usr/local/share:/usr/share gtk3-demo-application
StartupWMClass=gtk3-demo-application
ENTRY
"${gtk_env[@]}" gtk3-demo-application >/dev/null 2>&1 &
pids+=($!)
check "a native GTK window opens" wait_until 10 active_is gtk3-demo-application

"$bin/quenlit" >"$root/quenlit.out" 2>&1 &
pids+=($!)
check "the program starts on its KDE Plasma backend" wait_until 10 log_has "desktop: Wayland (KDE Plasma)"
check "the log says once that the expander and the app toggles are off" \
    log_has "wayland: the text expander and the app toggles are off"
check "KWin grants fake input to the installed program" bash -c "! grep -qF 'offers no fake input' '$log'"
check "the launcher shows at start with the keyboard" wait_until 10 active_is "Quenlit launcher"
check "… over the GTK window, centred across the output" frame_is "Quenlit launcher" "320 80 640 400"
keys Escape
check "Escape hides it" wait_until 5 hidden "Quenlit launcher"
check "… and the GTK window has the keyboard again" wait_until 5 active_is gtk3-demo-application

launcher_keys
check "Meta+Space, pressed over the GTK window, shows the launcher" wait_until 5 active_is "Quenlit launcher"
type_text "left half"
sleep 0.5
shot launcher
keys Return
# The output is 1280 × 800 with no panel: the left half is 640 wide and the whole height.
check "typed \"left half\" and Return place the GTK window the launcher came from" \
    wait_until 5 frame_is gtk3-demo-application "0 0 640 800"
check "… which has the keyboard again" wait_until 5 active_is gtk3-demo-application

# --- the clipboard, copies made while only native windows have the focus ---
wl-copy "kde copy one"
sleep 0.2
wl-copy "kde copy two"
check "a copy made with wl-copy enters the history" wait_until 10 history_has "kde copy one"
check "… and the one right after it" wait_until 10 history_has "kde copy two"

"${gtk_env[@]}" zenity --entry --title "paste target" --text "paste here" >"$root/zenity.out" 2>/dev/null &
pids+=($!)
check "a GTK entry dialog takes the keyboard" wait_until 10 active_is "paste target"
clipboard_keys
check "Meta+Escape shows the clipboard history" wait_until 5 active_is "Quenlit clipboard"
sleep 0.3
shot clipboard
keys Return
check "Return hides the history" wait_until 5 hidden "Quenlit clipboard"
check "… and gives the keyboard back to the dialog" wait_until 5 active_is "paste target"
sleep 0.3
keys Return
pasted() { [ "$(cat "$root/zenity.out" 2>/dev/null)" = "kde copy two" ]; }
check "the chosen entry was pasted into the GTK entry" wait_until 5 pasted

# --- switching to a running native program ---
"${gtk_env[@]}" zenity --info --title "in front" --text "in front" >/dev/null 2>&1 &
pids+=($!)
check "another GTK window takes the keyboard" wait_until 10 active_is "in front"
launcher_keys
wait_until 5 active_is "Quenlit launcher"
type_text "fixture gtk demo"
sleep 0.5
keys Return
check "choosing a running program switches to its window" wait_until 5 active_is gtk3-demo-application
count_windows() { windows | awk -F'\t' -v c="$1" '$1 == c' | wc -l; }
check "… without starting it again" test "$(count_windows gtk3-demo-application)" = 1

# --- the last resort: `quenlit toggle` ---
"$bin/quenlit" toggle launcher
check "quenlit toggle shows the launcher" wait_until 5 active_is "Quenlit launcher"
keys Escape
check "… and Escape hides it" wait_until 5 hidden "Quenlit launcher"

# --- the user's own keys: System Settings' choice is kept, a key held elsewhere is not taken ---
kill "${pids[1]}" 2>/dev/null
wait "${pids[1]}" 2>/dev/null
accel() { gdbus call --session -d org.kde.kglobalaccel -o /kglobalaccel -m "org.kde.KGlobalAccel.$1" "${@:2}" >/dev/null; }
# Qt key codes: Meta is 0x10000000, K is 0x4b, Escape 0x01000000.
accel setForeignShortcut '["quenlit", "launcher", "Quenlit", "Show the launcher"]' '[268435531]'
# The user took Meta+Escape from the clipboard history, and another program bound it.
accel setForeignShortcut '["quenlit", "clipboard", "Quenlit", "Show the clipboard history"]' '@ai []'
accel doRegister '["otherapp", "grab", "Other App", "Grab Meta+Escape"]'
accel setShortcut '["otherapp", "grab", "Other App", "Grab Meta+Escape"]' '[285212672]' 2
"$bin/quenlit" >"$root/quenlit-again.out" 2>&1 &
pids+=($!)
check "started again, the launcher's hotkey is the one chosen in System Settings" \
    wait_until 10 log_has "hotkey: launcher is on Meta+K (set in System Settings) instead of Meta+Space"
check "a hotkey another program holds is left to it, and the log names it" \
    log_has "hotkey: Meta+Esc unavailable — taken by Other App (Grab Meta+Escape)"
wait_until 10 active_is "Quenlit launcher" && keys Escape
wait_until 5 hidden "Quenlit launcher"
keys +Super_L k -Super_L
check "Meta+K shows the launcher" wait_until 5 active_is "Quenlit launcher"
keys Escape

echo "kde: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
