#!/usr/bin/env bash
# End-to-end run of the app toggles and the "$time" text expander on a private X server. Text is
# typed with xdotool and chords with key_player (both through XTest, as other programs' synthesised
# typing is); what applications received is read from a Qt text field that writes its text to a
# file, from fixture_window's key report and from a file an xterm writes.
# Run inside tests/support/with-xvfb.sh (a display with openbox):
#   with-xvfb.sh tests/e2e/automation.sh BIN_DIR
set -u
bin=$(cd "${1:?usage: automation.sh BIN_DIR}" && pwd)

source "$(dirname "$0")/common.sh" e2e-automation

# The application Left Control+X toggles, through its desktop entry; a binding for an application
# that is not installed.
cat >"$XDG_DATA_HOME/applications/quenlit-fixture.desktop" <<ENTRY
[Desktop Entry]
Type=Application
Name=Fixture Notes
Exec=$bin/fixture_window --title "Fixture Notes" --class fixture-notes,FixtureNotes
StartupWMClass=FixtureNotes
ENTRY
cat >"$XDG_CONFIG_HOME/quenlit/bindings.toml" <<TOML
[[toggle]]
key = "x"
modifiers = ["leftControl"]
app = "Fixture Notes"

[[toggle]]
key = "m"
modifiers = ["leftControl"]
app = "Missing App"
TOML

e2e_failure_details() {
    echo "    sink: [$(cat "$sink" 2>/dev/null)]"
    [ -f "$root/xterm.txt" ] && echo "    xterm's last line: [$(tail -n 1 "$root/xterm.txt")]"
}

log_count() { grep -cF -- "$1" "$log" 2>/dev/null; }
sink_is() { [ "$(cat "$sink")" = "$1" ]; }
# The date and time as "$time" types it, for now or the minute before (a test may cross a minute).
now_or_just_before() {
    local text=$1
    [ "$text" = "$(date '+%Y-%m-%d %H:%M')" ] || [ "$text" = "$(date -d '-1 min' '+%Y-%m-%d %H:%M')" ]
}
sink_is_time() { now_or_just_before "$(cat "$sink")"; }
fixture_windows() { xdotool search --classname '^fixture-notes$' 2>/dev/null; }
fixture_started() { [ -n "$(fixture_windows)" ]; }
is_hidden() { xprop -id "$1" _NET_WM_STATE | grep -q _NET_WM_STATE_HIDDEN; }
hex() { printf '0x%x' "$1"; }
# Starts a program that prints "ready <window id>" and sets $started to that window, in hex.
start_window() {
    local out=$1
    shift
    "$@" >"$out" 2>&1 &
    pids+=($!)
    wait_until 10 grep -q '^ready ' "$out"
    started=$(hex "$(sed -n 's/^ready //p' "$out" | head -n 1)")
}
focus() {
    xdotool windowactivate --sync "$1" 2>/dev/null
    wait_until 5 active_is "$1"
}

sink=$root/sink.txt
start_window "$root/sink.out" "$bin/text_sink" --out "$sink" --class text-sink,TextSink
sink_window=$started
# Other programs are copies of the fixture under other names, so that none is taken for the bound
# application by its executable.
cp "$bin/fixture_window" "$root/key_probe"
cp "$bin/fixture_window" "$root/password_prompt"
start_window "$root/probe.out" "$root/key_probe" --title "Key Probe" --class key-probe,KeyProbe
probe_window=$started

"$bin/quenlit" >"$root/quenlit.out" 2>&1 &
quenlit=$!
pids+=($quenlit)
wait_until 10 log_has "show: nonactivating key window"
xdotool key Escape
check "both taps start" wait_until 5 sh -c "grep -qF 'textexpander: start (ax=1, tap=1)' '$log' &&
    grep -qF 'apptoggle: start bindings=2 ax=1 tap=1' '$log'"

# ---- The text expander -------------------------------------------------------------------------
focus "$sink_window"
xdotool type --delay 40 'due $time'
check '"$time" typed into a text field becomes the date and time' \
    wait_until 5 sh -c "grep -qE '^due [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}\$' '$sink'"
check "the date and time are now" now_or_just_before "$(sed 's/^due //' "$sink")"
check "the expansion is logged" log_has "textexpander: expanded $(sed 's/^due //' "$sink")"

xdotool key ctrl+a BackSpace
wait_until 5 sink_is ""
xdotool type --delay 40 '$tim'
xdotool key Escape
xdotool type --delay 40 'e'
sleep 0.4
check '"$tim", Escape, "e" stays as typed' sink_is '$time'

xdotool key ctrl+a BackSpace
wait_until 5 sink_is ""
xdotool type --delay 40 '$tim'
eval "$(xdotool getwindowgeometry --shell "$sink_window")"
xdotool mousemove --sync $((X + 50)) $((Y + 10)) click 1
xdotool type --delay 40 'e'
sleep 0.4
check '"$tim", a click, "e" stays as typed' sink_is '$time'

# Typed with Shift still held ("$timE"): the date is typed once Shift is up, not as "@)@^...".
xdotool key ctrl+a BackSpace
wait_until 5 sink_is ""
xdotool type --delay 40 '$tim'
"$bin/key_player" +Shift_L e
sleep 0.3
"$bin/key_player" -Shift_L
check '"$time" finished with Shift held expands once Shift is let go' wait_until 5 sink_is_time

# In a terminal: the shell reads the line xterm sends after Return.
xterm -class XTerm -geometry 60x5 -e sh -c "cat >'$root/xterm.txt'" 2>"$root/xterm.err" &
pids+=($!)
wait_until 10 sh -c "xdotool search --class '^XTerm\$'"
xterm_window=$(hex "$(xdotool search --class '^XTerm$' | head -n 1)")
focus "$xterm_window"
sleep 0.3
xdotool type --delay 40 '$time'
sleep 0.6
xdotool key Return
check '"$time" typed into xterm becomes the date and time' \
    wait_until 5 sh -c "grep -qE '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}\$' '$root/xterm.txt'"
check "and it is now" now_or_just_before "$(head -n 1 "$root/xterm.txt")"

# ---- Typing at people's speeds on the user's own keyboard -------------------------------------
# "at $time ok" typed on the server's keyboard device (as a person types: the program holds that
# keyboard while it expands) at 250 ms down to 20 ms a key, with no pause around the keyword, into
# the Qt text field and into xterm: it always reads "at <the date and time> ok", no key lost, none
# before or inside the expansion.
at_time_ok=(a t space +Shift_L 4 -Shift_L t i m e space o k)
speeds=(250 200 150 120 100 80 60 40 20 40 40 40 40 40 40 40 40 40)
# "at <now or the minute before> ok", exactly.
reads_at_time_ok() {
    local text=$1
    [ "${#text}" -eq 22 ] && [ "${text:0:3}" = "at " ] && [ "${text:19}" = " ok" ] && now_or_just_before "${text:3:16}"
}
sink_reads_at_time_ok() { reads_at_time_ok "$(cat "$sink")"; }
xterm_lines() { wc -l <"$root/xterm.txt"; }
xterm_reads_at_time_ok() { [ "$(xterm_lines)" -ge "$1" ] && reads_at_time_ok "$(sed -n "${1}p" "$root/xterm.txt")"; }

focus "$sink_window"
for ms in "${speeds[@]}"; do
    xdotool key ctrl+a BackSpace
    wait_until 5 sink_is ""
    "$bin/key_player" --user-keyboard --interval-ms "$ms" "${at_time_ok[@]}"
    check "\"at \$time ok\" typed at $ms ms a key into the text field reads \"at <now> ok\"" wait_until 3 sink_reads_at_time_ok
done

focus "$xterm_window"
for ms in "${speeds[@]}"; do
    line=$(($(xterm_lines) + 1))
    "$bin/key_player" --user-keyboard --interval-ms "$ms" "${at_time_ok[@]}" Return
    check "\"at \$time ok\" typed at $ms ms a key into xterm reads \"at <now> ok\"" wait_until 3 xterm_reads_at_time_ok "$line"
done

# A program holding the whole keyboard (a password prompt): nothing expands.
matches_before=$(log_count "textexpander: match")
"$root/password_prompt" --title "Password" --class pinentry,Pinentry --grab-keyboard >"$root/grab.out" 2>&1 &
grabber=$!
pids+=($grabber)
wait_until 10 grep -q '^grabbed' "$root/grab.out"
xdotool type --delay 40 '$time'
sleep 0.6
check "while another program holds the keyboard nothing expands" \
    test "$(log_count "textexpander: match")" = "$matches_before"
check "and the program holding it receives no BackSpace" sh -c "! grep -q 'keysym=0xff08' '$root/grab.out'"
check "it received what was typed" test "$(grep -c '^key ' "$root/grab.out")" -ge 5
kill "$grabber"
wait "$grabber" 2>/dev/null

# ---- The app toggles ---------------------------------------------------------------------------
focus "$sink_window"
xdotool key ctrl+a BackSpace
xdotool type --delay 40 'keep'
wait_until 5 sink_is "keep"

"$bin/key_player" +Control_L x -Control_L
check "Left Control+X launches the bound application" wait_until 10 fixture_started
fixture=$(hex "$(fixture_windows | head -n 1)")
check "which comes to the front" wait_until 5 active_is "$fixture"
check "the key itself reaches no application" sink_is "keep"
check "the launch is logged" log_has "apptoggle: launch Fixture Notes path=$XDG_DATA_HOME/applications/quenlit-fixture.desktop"

focus "$sink_window"
"$bin/key_player" +Control_L x -Control_L
check "again, with another application in front, activates it" wait_until 5 active_is "$fixture"
check "without starting a second one" test "$(fixture_windows | wc -l)" = 1
"$bin/key_player" +Control_L x -Control_L
check "again, now in front, hides it" wait_until 5 is_hidden "$fixture"
check "the hide is logged" log_has "apptoggle: hide Fixture Notes pid="
check "the text field never received x" sink_is "keep"

focus "$sink_window"
"$bin/key_player" +Control_L m -Control_L
check "a binding for a missing application logs it" wait_until 5 log_has "apptoggle: app not found Missing App"
sleep 0.3
check "and does nothing else" sh -c "[ \"\$(cat '$sink')\" = keep ] && [ \"$(active_window)\" = '$sink_window' ]"

# Right Control+X is the field's own Cut.
xdotool key ctrl+a
"$bin/key_player" +Control_R x -Control_R
check "Right Control+X reaches the text field unchanged (it cuts)" wait_until 5 sink_is ""
check "and the cut text is on the clipboard" sh -c "[ \"\$(xclip -o -selection clipboard)\" = keep ]"

focus "$probe_window"
"$bin/key_player" +Control_L +Shift_L x -Shift_L -Control_L
check "Control+Shift+X passes through" wait_until 5 grep -q '^key 53 keysym=0x58 state=0x5$' "$root/probe.out"
"$bin/key_player" +Control_R x -Control_R
check "Right Control+X passes through" wait_until 5 grep -q '^key 53 keysym=0x78 state=0x4$' "$root/probe.out"

kill "$quenlit"
wait "$quenlit" 2>/dev/null
check "the keyboard was held for each bound press and let go" log_has "apptoggle: keyboard held"

# ---- A bound letter is the key that prints it on the user's layout ----------------------------
# Bindings for z and a, then the layout changes under the running program: on a German keyboard
# Left Control + the key labelled Z fires the binding for z, and Control+Y (the key where a US
# keyboard has Z) is the application's own; on a French one the key labelled A fires the binding for
# a, and Control+Q (the US A position) is the application's.
cat >"$XDG_CONFIG_HOME/quenlit/bindings.toml" <<TOML
[[toggle]]
key = "z"
modifiers = ["leftControl"]
app = "Missing Zed"

[[toggle]]
key = "a"
modifiers = ["leftControl"]
app = "Missing Ay"
TOML
: >"$log"
"$bin/quenlit" >"$root/quenlit2.out" 2>&1 &
quenlit=$!
pids+=($quenlit)
wait_until 10 log_has "show: nonactivating key window"
xdotool key Escape
check "the program starts again with the two bindings" wait_until 5 log_has "apptoggle: start bindings=2 ax=1 tap=1"
probe_has() { grep -q "^key $1 keysym=$2 state=0x4\$" "$root/probe.out"; }
probe_lacks() { ! grep -q "keysym=$1 state=0x4\$" "$root/probe.out"; }
focus "$probe_window"

setxkbmap de
sleep 0.5
"$bin/key_player" +Control_L z -Control_L
check "German layout: Left Control + the key labelled Z fires the binding for z" \
    wait_until 5 log_has "apptoggle: app not found Missing Zed"
check "and that key reaches no application" probe_lacks 0x7a
"$bin/key_player" +Control_L y -Control_L
check "German layout: Control+Y (the US Z position) reaches the application" wait_until 5 probe_has 52 0x79
check "and fires no binding" test "$(log_count "app not found Missing Zed")" = 1

setxkbmap fr
sleep 0.5
"$bin/key_player" +Control_L a -Control_L
check "French layout: Left Control + the key labelled A fires the binding for a" \
    wait_until 5 log_has "apptoggle: app not found Missing Ay"
check "and that key reaches no application" probe_lacks 0x61
"$bin/key_player" +Control_L q -Control_L
check "French layout: Control+Q (the US A position) reaches the application" wait_until 5 probe_has 38 0x71
check "and fires no binding" test "$(log_count "app not found Missing Ay")" = 1
setxkbmap us
kill "$quenlit"
wait "$quenlit" 2>/dev/null

echo "automation: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
