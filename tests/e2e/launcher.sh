#!/usr/bin/env bash
# End-to-end run of the launcher on a private X server, driven as a person would: hotkeys and
# typing through xdotool, the clipboard through xclip, window geometry through xdotool and xprop.
# Run inside tests/support/with-xvfb.sh (a display with openbox), from the build folder's bin/:
#   with-xvfb.sh tests/e2e/launcher.sh BIN_DIR OUTPUT_DIR
set -u
bin=$(cd "${1:?usage: launcher.sh BIN_DIR OUTPUT_DIR}" && pwd)
out=$(mkdir -p "${2:?usage: launcher.sh BIN_DIR OUTPUT_DIR}" && cd "$2" && pwd)

source "$(dirname "$0")/common.sh" e2e-launcher

# The application the tests start and switch to: the fixture window, through a desktop entry.
cat >"$XDG_DATA_HOME/applications/quenlit-fixture.desktop" <<ENTRY
[Desktop Entry]
Type=Application
Name=Fixture Notes
Exec=$bin/fixture_window --title "Fixture Notes" --class fixture-notes,FixtureNotes
StartupWMClass=FixtureNotes
ENTRY

# An entry whose program cannot run (its interpreter does not exist; an entry naming a missing
# program outright is not listed at all): choosing it must say so, not pretend it started.
mkdir -p "$root/bin"
printf '#!/nonexistent/interpreter\n' >"$root/bin/broken-tool"
chmod +x "$root/bin/broken-tool"
cat >"$XDG_DATA_HOME/applications/quenlit-broken.desktop" <<ENTRY
[Desktop Entry]
Type=Application
Name=Broken Tool
Exec=$root/bin/broken-tool --now
ENTRY

# Programs started from the launcher: a probe that records where and how it runs (its folder, its
# environment, its session) and then stays a while, and a stand-in file manager for folders.
export _ZO_DATA_DIR=$root/zoxide
unset QT_QPA_PLATFORM
cat >"$root/bin/env-probe" <<PROBE
#!/bin/sh
echo "probe output on stdout"
echo "probe output on stderr" >&2
{ echo "pwd=\$(pwd)"; echo "pid=\$\$"; echo "sid=\$(ps -o sid= -p \$\$ | tr -d ' ')"; env | sed 's/^/env:/'; } >"$root/probe.tmp"
mv "$root/probe.tmp" "$root/probe.txt"
exec sleep 60
PROBE
chmod +x "$root/bin/env-probe"
cat >"$XDG_DATA_HOME/applications/quenlit-probe.desktop" <<ENTRY
[Desktop Entry]
Type=Application
Name=Env Probe
Exec=$root/bin/env-probe
ENTRY
cat >"$root/bin/folder-opener" <<OPENER
#!/bin/sh
echo "\$1" >>"$root/opened.txt"
OPENER
chmod +x "$root/bin/folder-opener"
cat >"$XDG_DATA_HOME/applications/quenlit-folders.desktop" <<ENTRY
[Desktop Entry]
Type=Application
Name=Folder Opener
Exec=$root/bin/folder-opener %f
MimeType=inode/directory;
NoDisplay=true
ENTRY
printf '[Default Applications]\ninode/directory=quenlit-folders.desktop\n' >"$XDG_CONFIG_HOME/mimeapps.list"

# A session bus of our own, with a monitor that records the notifications sent to it (no
# notification service runs: the call itself is what a desktop would show).
# (Files, not a pipe: the forked daemon would hold a pipe open for ever.)
dbus-daemon --session --fork --nopidfile --print-address=3 --print-pid=4 3>"$root/bus.address" 4>"$root/bus.pid"
export DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$root/bus.address")
pids+=("$(head -n 1 "$root/bus.pid")")
dbus-monitor --session "type='method_call',interface='org.freedesktop.Notifications',member='Notify'" \
    >"$root/notifications.txt" 2>&1 &
pids+=($!)

e2e_failure_details() {
    [ -n "${fixture:-}" ] && echo "    fixture frame: $(outer_frame "$fixture" 2>/dev/null), work area: $(workarea)"
}

panel_window() { xdotool search --onlyvisible --classname '^quenlit$' 2>/dev/null | head -n 1; }
panel_visible() { [ -n "$(panel_window)" ]; }
panel_hidden() { [ -z "$(panel_window)" ]; }
clipboard_is() { [ "$(xclip -o -selection clipboard 2>/dev/null)" = "$1" ]; }
fixture_count() { xdotool search --classname '^fixture-notes$' 2>/dev/null | wc -l; }
# For wait_until, which runs its command again on every try: a "$(…)" written in its arguments
# would be read once, before the first try.
frame_is() { [ "$(outer_frame "$1")" = "$2" ]; }
# (A predicate, not `test "$(fixture_count)"`: wait_until must count again on every try.)
fixture_started() { [ "$(fixture_count)" -ge 1 ]; }

# Outer frame of a window: client geometry plus the window manager's frame extents.
# xwininfo's absolute position is the client's own (xdotool getwindowgeometry adds the frame offset
# once more on reparenting window managers).
outer_frame() {
    local w=$1 x y width height l r t b
    read -r x y width height < <(xwininfo -id "$w" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
        /^ +Width:/ {w=$NF} /^ +Height:/ {h=$NF} END {print x, y, w, h}')
    read -r l r t b < <(xprop -id "$w" _NET_FRAME_EXTENTS |
        sed -n 's/.*= \([0-9]*\), \([0-9]*\), \([0-9]*\), \([0-9]*\).*/\1 \2 \3 \4/p')
    l=${l:-0} r=${r:-0} t=${t:-0} b=${b:-0}
    echo "$((x - l)) $((y - t)) $((width + l + r)) $((height + t + b))"
}
workarea() { xprop -root _NET_WORKAREA | sed -n 's/.*= \([0-9]*\), \([0-9]*\), \([0-9]*\), \([0-9]*\).*/\1 \2 \3 \4/p'; }

# An ordinary application in front before Quenlit starts: a program of its own (a copy of the fixture
# under another name), so it is not taken for the fixture's desktop entry by its executable.
cp "$bin/fixture_window" "$root/front_app"
"$root/front_app" --title "Front App" --class front-app,FrontApp --size 500x300 >"$root/front.out" &
pids+=($!)
wait_until 5 grep -q ready "$root/front.out"
front=$(printf '0x%x' "$(sed -n 's/^ready //p' "$root/front.out")")
xdotool windowactivate --sync "$front" 2>/dev/null
# The window manager may still pass the activation through "none" just after it gave it: the
# program must start with the application settled in front, or it remembers no application.
settled_in_front() { active_is "$front" && sleep 0.3 && active_is "$front"; }
wait_until 5 settled_in_front

start=$(date +%s%N)
"$bin/quenlit" >"$root/quenlit.out" 2>&1 &
quenlit=$!
pids+=($quenlit)
check "start-up shows the launcher" wait_until 10 panel_visible
echo "start to visible: $((($(date +%s%N) - start) / 1000000)) ms"
check "start-up leaves the application in front active" test "$(active_window)" = "$front"
check "the launcher holds the keyboard without activating" wait_until 5 log_has "show: nonactivating key window"

xdotool key Escape
check "Escape hides the launcher" wait_until 5 panel_hidden

# A second start shows the running instance's launcher; `quenlit toggle` reaches it from anywhere.
"$bin/quenlit" >"$root/second.out" 2>&1
check "a second quenlit exits 0" test "$?" = 0
check "and shows the running instance's launcher" wait_until 5 panel_visible
check "and the first instance still runs" kill -0 "$quenlit"
xdotool key Escape
wait_until 5 panel_hidden
# The display's screen or the local server's other spellings are the same X server: one instance.
for same in "$DISPLAY.0" "unix$DISPLAY" "unix$DISPLAY.0"; do
    DISPLAY=$same timeout 10 "$bin/quenlit" >"$root/same-server.out" 2>&1
    check "quenlit on DISPLAY=$same shows the running instance's launcher and exits 0" test "$?" = 0
    check "and the launcher shows" wait_until 5 panel_visible
    xdotool key Escape
    wait_until 5 panel_hidden
done
"$bin/quenlit" toggle launcher
check "quenlit toggle launcher exits 0" test "$?" = 0
check "and shows the launcher" wait_until 5 panel_visible
"$bin/quenlit" toggle launcher
check "quenlit toggle launcher again hides it" wait_until 5 panel_hidden
"$bin/quenlit" toggle clipboard
check "quenlit toggle clipboard exits 0" test "$?" = 0
check "and shows the clipboard panel" wait_until 5 panel_visible
"$bin/quenlit" toggle clipboard
check "quenlit toggle clipboard again hides it" wait_until 5 panel_hidden

xdotool key super+space
check "Super+Space shows the launcher" wait_until 5 panel_visible
xdotool key super+space
check "a second Super+Space hides it" wait_until 5 panel_hidden

xdotool key super+space
wait_until 5 panel_visible
xdotool type --delay 30 "2+3"
sleep 0.3
import -window root "$out/e2e-launcher-calculator.png" 2>/dev/null
xdotool key Return
check "2+3 then Return puts 5 on the clipboard" wait_until 5 clipboard_is 5
check "choosing the answer hides the launcher" wait_until 5 panel_hidden

xdotool key super+space
wait_until 5 panel_visible
xdotool type --delay 30 "fixture"
xdotool key Down Up
sleep 0.3
import -window root "$out/e2e-launcher-search.png" 2>/dev/null
xdotool key Return
check "typing an application's name and Return starts it" wait_until 10 fixture_started
sleep 0.5
first_count=$(fixture_count)
fixture=$(printf '0x%x' "$(xdotool search --classname '^fixture-notes$' | head -n 1)")
xdotool windowactivate --sync "$front" 2>/dev/null
xdotool key super+space
wait_until 5 panel_visible
xdotool type --delay 30 "fixture"
xdotool key Return
check "choosing it again activates the running one" wait_until 5 active_is "$fixture"
sleep 0.5
check "and starts no second one" test "$(fixture_count)" = "$first_count"
check "the command line's search sees it running" sh -c \
    "'$bin/quenlit' search --json fixture notes | grep -q '\"name\":\"Fixture Notes\".*\"running\":true'"

xdotool key super+space
wait_until 5 panel_visible
xdotool type --delay 30 "broken tool"
xdotool key Return
check "a program that cannot start is logged with the reason" wait_until 5 \
    log_has "launch failed: Broken Tool path=$XDG_DATA_HOME/applications/quenlit-broken.desktop — "
check "and the user is told in a notification" wait_until 5 grep -q 'string "Could not open Broken Tool"' \
    "$root/notifications.txt"
check "and the launcher closes as after any choice" wait_until 5 panel_hidden

snap() {
    xdotool windowactivate --sync "$fixture" 2>/dev/null
    wait_until 5 active_is "$fixture"
    xdotool key super+space
    wait_until 5 panel_visible
    xdotool type --delay 30 "$1"
    xdotool key Return
    wait_until 5 panel_hidden
}
read -r wx wy ww wh < <(workarea)
snap "left half"
check "left half snaps to the left half of the work area" wait_until 5 \
    frame_is "$fixture" "$wx $wy $((ww / 2)) $wh"
snap "maximize"
check "maximize fills the work area" wait_until 5 frame_is "$fixture" "$wx $wy $ww $wh"
snap "reasonable size"
# 0.6 of the work area, at most 1025 by 900, centred, with its edges rounded to whole pixels.
expected=$(awk -v x="$wx" -v y="$wy" -v W="$ww" -v H="$wh" 'function r(v) { return int(v + 0.5) }
    BEGIN { w = W * 0.6; if (w > 1025) w = 1025; h = H * 0.6; if (h > 900) h = 900;
            l = x + (W - w) * 0.5; t = y + (H - h) * 0.5;
            printf "%d %d %d %d", r(l), r(t), r(l + w) - r(l), r(t + h) - r(t) }')
check "reasonable size is 0.6 of the work area, centred" wait_until 5 frame_is "$fixture" "$expected"

# Up and Down move the selection: of the four "move to" commands, Down, Down, Up selects the second.
xdotool windowactivate --sync "$fixture" 2>/dev/null
wait_until 5 active_is "$fixture"
xdotool key super+space
wait_until 5 panel_visible
xdotool type --delay 30 "move to"
xdotool key Down Down Up
sleep 0.2
import -window root "$out/e2e-launcher-selection.png" 2>/dev/null
xdotool key Return
check "Down, Down, Up then Return chooses the second row (Move to Bottom)" wait_until 5 \
    log_has "windowSnap: moveToBottom app=Fixture Notes"

# ---- The search field and the list: the keyboard stays in the field, page keys, the panel's edge ----
show_launcher() {
    xdotool key super+space
    wait_until 5 panel_visible
}
hide_launcher() {
    panel_visible && xdotool key Escape
    wait_until 5 panel_hidden
}

# Tab does nothing: the field keeps the keyboard, this showing and the next.
show_launcher
xdotool type --delay 30 "2+"
xdotool key Tab
xdotool type --delay 30 "4"
xdotool key Return
check "2+, Tab, 4 then Return puts 6 on the clipboard: Tab leaves the field the keyboard" \
    wait_until 5 clipboard_is 6
hide_launcher

# A click on a row acts on it and takes the keyboard from nobody.
show_launcher
xdotool type --delay 30 "5*5"
sleep 0.3
xdotool mousemove --window "$(panel_window)" 160 74 click 1
check "a click on the answer's row copies it" wait_until 5 clipboard_is 25
wait_until 5 panel_hidden
show_launcher
xdotool type --delay 30 "7*6"
xdotool key Return
check "after the click, typing still reaches the field: 7*6 then Return gives 42" wait_until 5 clipboard_is 42
hide_launcher

# The query survives hiding, selected: typing replaces it, End keeps it.
show_launcher
xdotool type --delay 30 "2+2"
hide_launcher
show_launcher
sleep 0.2
import -window root "$out/e2e-launcher-kept-query.png" 2>/dev/null
xdotool type --delay 30 "3*3"
xdotool key Return
check "2+2, Escape, show again, 3*3 then Return gives 9: typing replaces the kept query" \
    wait_until 5 clipboard_is 9
show_launcher
xdotool type --delay 30 "2+2"
hide_launcher
show_launcher
xdotool key End
xdotool type --delay 30 "*3"
xdotool key Return
check "2+2, Escape, show again, End, *3 then Return gives 8: End keeps it" wait_until 5 clipboard_is 8

# Page Down and Control-N / Control-P, on the four "move to" commands (Top, Bottom, Left, Right).
xdotool windowactivate --sync "$fixture" 2>/dev/null
wait_until 5 active_is "$fixture"
show_launcher
xdotool type --delay 30 "move to"
xdotool key Next Return
check "Page Down on a list shorter than a page selects its last row (Move to Right)" wait_until 5 \
    log_has "windowSnap: moveToRight app=Fixture Notes"
xdotool windowactivate --sync "$fixture" 2>/dev/null
wait_until 5 active_is "$fixture"
show_launcher
xdotool type --delay 30 "move to"
xdotool key ctrl+n ctrl+n ctrl+n ctrl+p Return
check "Control-N three times and Control-P choose the third row (Move to Left)" wait_until 5 \
    log_has "windowSnap: moveToLeft app=Fixture Notes"

# Twelve entries that each write their number when chosen: more rows than the panel shows.
for n in 01 02 03 04 05 06 07 08 09 10 11 12; do
    printf '#!/bin/sh\necho %s >"%s"\n' "$n" "$root/picked" >"$root/bin/pick-$n"
    chmod +x "$root/bin/pick-$n"
    printf '[Desktop Entry]\nType=Application\nName=Page Sample %s\nExec=%s\n' "$n" "$root/bin/pick-$n" \
        >"$XDG_DATA_HOME/applications/quenlit-page-$n.desktop"
done
picked_is() { [ "$(cat "$root/picked" 2>/dev/null)" = "$1" ]; }
show_launcher
xdotool type --delay 30 "page sample"
sleep 0.5
import -window root "$out/e2e-launcher-page-top.png" 2>/dev/null
xdotool key Next
sleep 0.2
import -window root "$out/e2e-launcher-page-down.png" 2>/dev/null
xdotool key Return
check "Page Down moves by the eight rows shown whole: Page Sample 09" wait_until 5 picked_is 09
show_launcher
xdotool type --delay 30 "page sample"
xdotool key Next Next Prior Return
check "Page Down twice stops at the last row, Page Up goes a page back: Page Sample 04" wait_until 5 picked_is 04

# What a person sees at the bottom of a scrolled list and at the panel's edge, over a white window.
"$bin/fixture_window" --title "White Sheet" --class white-sheet,WhiteSheet --size 1440x900 --position 0,0 \
    >"$root/white.out" &
pids+=($!)
wait_until 5 grep -q ready "$root/white.out"
show_launcher
xdotool type --delay 30 "page sample"
sleep 0.3
for _ in $(seq 11); do xdotool key Down; done
sleep 0.3
shot=$out/e2e-launcher-list-bottom.png
import -window root "$shot" 2>/dev/null
read -r px py < <(xwininfo -id "$(panel_window)" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF} END {print x, y}')
# The panel's pixels as "x y r g b", relative to its top-left corner.
panel_pixels() {
    convert "$shot" -crop "640x400+$px+$py" +repage -depth 8 txt:- |
        sed -n 's/^\([0-9]*\),\([0-9]*\): (\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1 \2 \3 \4 \5/p'
}
panel_pixels >"$root/pixels.txt"
# The selected (accent blue) row's lowest pixel, and the version label's highest one: grey text in
# the bottom-right corner, left of the scroll bar.
row_bottom=$(awk '$3 < 40 && $4 > 80 && $5 > 190 { if ($2 > m) m = $2 } END { print m + 0 }' "$root/pixels.txt")
label_top=$(awk '$1 >= 560 && $1 < 622 && $2 >= 340 && $3 == $4 && $3 < 225 { if (t == "" || $2 < t) t = $2 }
    END { print t + 0 }' "$root/pixels.txt")
echo "last row ends at y=$row_bottom, version label starts at y=$label_top"
check "the last row, scrolled into view, ends above the version label" \
    test "$row_bottom" -gt 300 -a "$label_top" -gt "$row_bottom"
# Half-way down the left edge: the border against the panel's own background a few pixels in.
edge=$(awk '$1 == 0 && $2 == 200 { print $3 }' "$root/pixels.txt")
inside=$(awk '$1 == 4 && $2 == 200 { print $3 }' "$root/pixels.txt")
echo "left edge $edge, inside $inside, the white window behind 255"
check "a one-pixel border sets the panel off the white window behind it" \
    test "${edge:-255}" -lt $((${inside:-0} - 24))
hide_launcher
# ---- end of the search field and list block ----

# A program started from the launcher runs in the home folder, in a session of its own, with the
# environment Quenlit was given (not the X11 platform it forced on its own toolkit), and its output
# does not land in Quenlit's terminal.
xdotool key super+space
wait_until 5 panel_visible
xdotool type --delay 30 "env probe"
xdotool key Return
check "the probe program starts" wait_until 10 test -f "$root/probe.txt"
probe_pid=$(sed -n 's/^pid=//p' "$root/probe.txt" 2>/dev/null)
[ -n "$probe_pid" ] && pids+=("$probe_pid")
check "a launched program runs in the home folder" grep -qx "pwd=$HOME" "$root/probe.txt"
check "and without the QT_QPA_PLATFORM Quenlit set for itself" sh -c "! grep -q '^env:QT_QPA_PLATFORM=' '$root/probe.txt'"
check "and with the environment Quenlit was given" grep -qx "env:_ZO_DATA_DIR=$_ZO_DATA_DIR" "$root/probe.txt"
check "and in a session of its own" sh -c "test \"\$(sed -n 's/^sid=//p' '$root/probe.txt')\" = '$probe_pid' &&
    test '$probe_pid' != \"\$(ps -o sid= -p $quenlit | tr -d ' ')\""
check "and its output is not in Quenlit's terminal" sh -c "! grep -q 'probe output' '$root/quenlit.out'"

# Choosing a zoxide row records the visit, as `z` does: the folder ranks higher afterwards.
mkdir -p "$HOME/work/proj" "$HOME/play/proj"
zoxide add "$HOME/play/proj"
zoxide add "$HOME/play/proj"
zoxide add "$HOME/work/proj"
zoxide_first() { [ "$(zoxide query proj 2>/dev/null)" = "$1" ]; }
# The lookup for the whole query has answered (not only one for the query typed so far).
lookups() { grep -c "zoxide: query gen=[0-9]* work proj$" "$log"; }
more_lookups_than() { [ "$(lookups)" -gt "$1" ]; }
row_ready() {
    local gen
    gen=$(sed -n 's/.*zoxide: query gen=\([0-9]*\) work proj$/\1/p' "$log" | tail -n 1)
    [ -n "$gen" ] && log_has "zoxide: match gen=$gen $HOME/work/proj"
}
check "zoxide ranks play/proj first before" zoxide_first "$HOME/play/proj"
for i in 1 2; do
    xdotool key super+space
    wait_until 5 panel_visible
    before=$(lookups)
    xdotool type --delay 30 "z work proj"
    wait_until 5 more_lookups_than "$before"
    wait_until 5 row_ready
    xdotool key Return
    wait_until 5 panel_hidden
done
check "choosing the zoxide row opens the folder" wait_until 5 grep -qx "$HOME/work/proj" "$root/opened.txt"
check "and zoxide ranks it first afterwards" wait_until 5 zoxide_first "$HOME/work/proj"

xdotool key super+space
wait_until 5 panel_visible
xdotool type --delay 30 "quit"
xdotool key Return
check "quit ends the process" wait_until 5 sh -c "! kill -0 $quenlit 2>/dev/null"
# A launcher that did not quit is ended, so the run reports it instead of waiting for ever.
kill -0 "$quenlit" 2>/dev/null && kill "$quenlit"
wait "$quenlit" 2>/dev/null
status=$?
check "and it ends cleanly" test "$status" = 0
check "a program started from the launcher outlives Quenlit" kill -0 "${probe_pid:-0}"
"$bin/quenlit" toggle launcher >"$root/toggle.out" 2>&1
check "quenlit toggle without a running instance says so and fails" \
    sh -c "test $? = 1 && grep -qx 'quenlit is not running' '$root/toggle.out'"

# ---- The instance files, where another user could reach them ----
# Without a private runtime folder, the lock and the socket go to a folder of the user's own in the
# temporary folder. One that others may enter keeps Quenlit from starting, rather than letting
# another user squat its lock or answer its toggles.
own_folder="$root/tmp/quenlit-$(id -u)"
mkdir -p "$own_folder" && chmod 777 "$own_folder"
env -u XDG_RUNTIME_DIR TMPDIR="$root/tmp" timeout 10 "$bin/quenlit" >"$root/squatted.out" 2>&1
check "a folder of its own that others may enter keeps quenlit from starting (status 1)" test "$?" = 1
check "and says why" grep -qF "quenlit: $own_folder is open to other users (mode 0777, not 0700); not starting" \
    "$root/squatted.out"
# A link planted at the lock's path: the file it names is left alone.
chmod 700 "$own_folder"
lock_name="quenlit-$(id -u)-$(printf '%s' "$DISPLAY" | sed 's/[^A-Za-z0-9]/_/g').lock"
echo "precious" >"$root/victim"
ln -s "$root/victim" "$own_folder/$lock_name"
env -u XDG_RUNTIME_DIR TMPDIR="$root/tmp" timeout 10 "$bin/quenlit" >"$root/planted.out" 2>&1
check "a link at the lock's path keeps quenlit from starting (status 1)" test "$?" = 1
check "and the file it names is not written" grep -qx precious "$root/victim"
rm -f "$own_folder/$lock_name"

# ---- A Wayland compositor that does not answer ----
# Named by WAYLAND_DISPLAY, it holds start-up up for a second at most; the program runs on X11.
if command -v python3 >/dev/null; then
    python3 -c 'import socket, sys, time
s = socket.socket(socket.AF_UNIX)
s.bind(sys.argv[1])
s.listen(8)
time.sleep(300)' "$root/wayland-hung" &
    pids+=($!)
    wait_until 5 test -S "$root/wayland-hung"
    start=$(date +%s%N)
    WAYLAND_DISPLAY=$root/wayland-hung "$bin/quenlit" >"$root/quenlit-hung.out" 2>&1 &
    quenlit=$!
    pids+=($quenlit)
    check "with a hung Wayland compositor named, quenlit starts on X11" wait_until 10 panel_visible
    echo "start to visible with a hung Wayland compositor: $((($(date +%s%N) - start) / 1000000)) ms"
    check "and logs that the compositor did not answer" \
        log_has "wayland: the compositor at $root/wayland-hung did not answer within 1000 ms — going on without it"
    kill "$quenlit"
    wait "$quenlit" 2>/dev/null
fi

# ---- Icons ----
# On a second run that sees the system's applications, icon themes and pixmaps: xterm's entry
# names "mini.xterm" (hicolor's SVG; /usr/share/pixmaps/mini.xterm_32x32.xpm where the theme has
# none), the calculator entry the Adwaita icon "accessories-calculator", and the Downloads row a
# folder with its own theme icon.
# Each is shown as the first row; its icon must be drawn and differ from the placeholder that an
# entry naming no existing icon gets.
for name in Calculator Terminal; do
    icon=accessories-calculator
    [ "$name" = Terminal ] && icon=utilities-terminal
    printf '[Desktop Entry]\nType=Application\nName=%s\nExec=%s\nIcon=%s\n' "$name" "$bin/fixture_window" "$icon" \
        >"$XDG_DATA_HOME/applications/quenlit-icon-$name.desktop"
done
printf '[Desktop Entry]\nType=Application\nName=No Such Icon\nExec=%s\nIcon=quenlit-no-such-icon\n' \
    "$bin/fixture_window" >"$XDG_DATA_HOME/applications/quenlit-iconless.desktop"
mkdir -p "$HOME/Downloads"
XDG_DATA_DIRS=/usr/local/share:/usr/share "$bin/quenlit" >"$root/quenlit-icons.out" 2>&1 &
quenlit=$!
pids+=($quenlit)
wait_until 10 panel_visible
check "the icon theme is the first common one installed (no desktop names one here)" \
    wait_until 5 log_has "icons: theme Adwaita (default)"
# The first row's icon box, 36 pixels square around the 24-pixel icon, in screen coordinates.
first_icon() {
    local x y
    read -r x y < <(xwininfo -id "$(panel_window)" | awk '/Absolute upper-left X/ {x=$NF}
        /Absolute upper-left Y/ {y=$NF} END {print x, y}')
    import -window root -crop "36x36+$((x + 14))+$((y + 57))" +repage "$root/icon-$1.png" 2>/dev/null
}
show_first() {  # QUERY NAME
    xdotool key --repeat 20 BackSpace
    xdotool type --delay 20 "$1"
    sleep 0.6
    first_icon "$2"
}
# Drawn (many colours: a picture, not a dashed outline) and not the placeholder.
own_icon() {
    [ "$(identify -format '%k' "$root/icon-$1.png" 2>/dev/null || echo 0)" -ge 24 ] &&
        [ "$(compare -metric AE -fuzz 8% "$root/icon-$1.png" "$root/icon-placeholder.png" null: 2>&1)" -gt 40 ]
}
show_first "no such icon" placeholder
show_first "xterm" xterm
show_first "calculator" calculator
show_first "downloads" downloads
check "an entry naming no icon that exists logs it" log_has "icon: none found for quenlit-no-such-icon"
for row in xterm calculator downloads; do
    check "the $row row shows its own icon, not the placeholder" own_icon "$row"
    cp "$root/icon-$row.png" "$out/e2e-icon-$row.png"
done
xdotool key --repeat 20 BackSpace
xdotool type --delay 20 "l"
sleep 0.6
import -window "$(panel_window)" "$out/e2e-launcher-icons.png" 2>/dev/null
kill "$quenlit" 2>/dev/null
wait "$quenlit" 2>/dev/null
# ---- end of the icons block ----

# ---- Under a compositor: the panel's shadow ----
# (xcompmgr without its own shadows: what is seen around the panel is the panel's.)
if command -v xcompmgr >/dev/null; then
    xcompmgr >/dev/null 2>&1 &
    pids+=($!)
    sleep 1  # it takes the compositing selection at once; no tool here shows that selection's owner
    "$bin/quenlit" >"$root/quenlit-composited.out" 2>&1 &
    pids+=($!)
    wait_until 10 panel_visible
    sleep 0.5
    shot=$out/e2e-launcher-composited.png
    import -window root "$shot" 2>/dev/null
    read -r sx sy sw sh < <(xwininfo -id "$(panel_window)" | awk '/Absolute upper-left X/ {x=$NF}
        /Absolute upper-left Y/ {y=$NF} /^ +Width:/ {w=$NF} /^ +Height:/ {h=$NF} END {print x, y, w, h}')
    read -r wx wy ww wh < <(workarea)
    # The panel keeps its place, centred and 80 below the top of the work area; the window reaches
    # past it on every side.
    cx=$((wx + (ww - 640) / 2))
    cy=$((wy + 80))
    echo "composited window at $sx,$sy, ${sw}x$sh; the panel at $cx,$cy, 640x400"
    check "under a compositor the window reaches past the panel on every side, for its shadow" \
        test "$sx" -lt "$cx" -a "$sy" -lt "$cy" -a $((sx + sw)) -gt $((cx + 640)) -a $((sy + sh)) -gt $((cy + 400))
    below=$(convert "$shot" -depth 8 -crop "1x1+$((cx + 320))+$((cy + 402))" txt:- |
        sed -n 's/^0,0: (\([0-9]*\),.*/\1/p')
    echo "two pixels below the panel: $below (the white window behind: 255)"
    check "a shadow lies just below the panel" test "${below:-255}" -lt 245
    xdotool mousemove $((cx + 320)) $((cy + 404)) click 1
    check "a click on the shadow counts as outside and hides the panel" wait_until 5 panel_hidden
    xdotool key super+space
    wait_until 5 panel_visible
    xdotool type --delay 30 "quit"
    xdotool key Return
    check "the composited launcher quits too" wait_until 5 panel_hidden
else
    echo "skipped: no xcompmgr to check the panel's shadow under a compositor"
fi
# ---- end of the compositor block ----

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
