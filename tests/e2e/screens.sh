#!/usr/bin/env bash
# End-to-end run of both panels on the screens people have: a 2880 x 1800 screen drawn at twice the
# size (Xft.dpi 192, and separately QT_SCALE_FACTOR=2), two monitors side by side with the focused
# window on the right one (then one wide monitor), and a dark desktop (a Settings portal that says
# dark, then light while the program runs). Each panel's place is checked by its geometry (fully on
# the expected monitor, centred, 80 logical pixels below its top) and a screenshot of each is saved.
#
# The X servers are its own: the screen sizes differ from the shared helper's, and Xvfb cannot
# grow a screen once started.
#   screens.sh BIN_DIR OUTPUT_DIR
set -u
bin=$(cd "${1:?usage: screens.sh BIN_DIR OUTPUT_DIR}" && pwd)
out=$(mkdir -p "${2:?usage: screens.sh BIN_DIR OUTPUT_DIR}" && cd "$2" && pwd)

for tool in xrandr xrdb; do
    command -v "$tool" >/dev/null || { echo "screens: needs $tool (Debian: x11-xserver-utils)" >&2; exit 1; }
done
source "$(dirname "$0")/common.sh" e2e-screens

server_pids=()
stop_display() {
    local p
    for p in "${server_pids[@]}"; do kill "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
    server_pids=()
}
trap 'stop_display; e2e_cleanup' EXIT

# start_display WIDTHxHEIGHT: a private Xvfb of that size with openbox, as DISPLAY.
start_display() {
    local n xvfb
    for n in $(seq 150 199); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 "$1x24" -nolisten tcp -noreset >/dev/null 2>&1 &
        xvfb=$!
        for ((i = 0; i < 200; i++)); do
            kill -0 "$xvfb" 2>/dev/null || break
            if [ "$({ tr -d ' ' </tmp/.X$n-lock; } 2>/dev/null)" = "$xvfb" ] && xdpyinfo -display ":$n" >/dev/null 2>&1; then
                export DISPLAY=":$n"
                server_pids=("$xvfb")
                # openbox finds its theme in the system's data folders, not the test's empty ones.
                XDG_DATA_DIRS=/usr/local/share:/usr/share openbox --sm-disable >/dev/null 2>&1 &
                server_pids=("$!" "${server_pids[@]}")
                wait_until 10 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' &&
                    sleep 0.5 && kill -0 "${server_pids[0]}" 2>/dev/null && return 0
                echo "screens: openbox did not start" >&2
                return 1
            fi
            sleep 0.05
        done
        kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    done
    echo "screens: could not start Xvfb" >&2
    return 1
}

panel_window() { xdotool search --onlyvisible --classname '^quenlit$' 2>/dev/null | head -n 1; }
panel_shown() { [ -n "$(panel_window)" ]; }
panel_hidden() { [ -z "$(panel_window)" ]; }
# The panel's width: 640 (launcher) or 680 (clipboard) logical pixels, times the scale.
panel_of_width() {
    local w
    w=$(panel_window) || return 1
    [ -n "$w" ] && [ "$(xwininfo -id "$w" | sed -n 's/^  Width: //p')" = "$1" ]
}
# "X Y WIDTH HEIGHT" of the visible panel, in device pixels.
panel_geometry() {
    local w
    w=$(panel_window)
    [ -n "$w" ] || return 1
    xwininfo -id "$w" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
        /^  Width/ {w=$2} /^  Height/ {h=$2} END {print x, y, w, h}'
}

# placed_on NAME MX MY MW MH WIDTH HEIGHT SCALE: the panel is WIDTH x HEIGHT, lies wholly on the
# monitor at MX,MY (MW x MH), is centred on it within 2 pixels and its top is 80 x SCALE below the
# monitor's top (openbox reserves no area: the usable area is the monitor).
placed_on() {
    local name=$1 mx=$2 my=$3 mw=$4 mh=$5 width=$6 height=$7 scale=$8 x y w h
    read -r x y w h <<<"$(panel_geometry)"
    geometry="$x,$y ${w}x$h"
    [ -n "${h:-}" ] || return 1
    [ "$w" = "$width" ] && [ "$h" = "$height" ] || return 1
    ((x >= mx && y >= my && x + w <= mx + mw && y + h <= my + mh)) || return 1
    local left=$((x - mx)) right=$((mx + mw - x - w))
    ((left - right <= 2 && right - left <= 2)) || return 1
    [ "$y" = "$((my + 80 * scale))" ]
}

shot() { import -window root "$out/e2e-screens-$1.png" 2>/dev/null; }

start_quenlit() {
    "$bin/quenlit" >"$root/quenlit.out" 2>&1 &
    quenlit=$!
    pids+=("$quenlit")
    wait_until 10 panel_shown  # the launcher shows at start
}
stop_quenlit() {
    kill "$quenlit" 2>/dev/null && wait "$quenlit" 2>/dev/null
    rm -f "$log"
}

# ---- a screen drawn at twice the size ------------------------------------------------------------
start_display 2880x1800 || exit 1
for how in "Xft.dpi 192" "QT_SCALE_FACTOR=2"; do
    tag=$([ "$how" = "Xft.dpi 192" ] && echo xft-dpi || echo qt-scale)
    if [ "$how" = "Xft.dpi 192" ]; then
        echo 'Xft.dpi: 192' | xrdb -merge
        start_quenlit
    else
        xrdb -load /dev/null
        QT_SCALE_FACTOR=2 start_quenlit
    fi
    check "$how: the launcher is 1280 x 800, centred, 160 below the top" wait_until 5 placed_on launcher 0 0 2880 1800 1280 800 2
    shot "scale2-$tag-launcher"
    xdotool key Escape
    wait_until 5 panel_hidden
    printf 'a copied text for the scaled screen' | xclip -selection clipboard
    wait_until 5 log_has "clipboard: monitoring started"
    xdotool key super+Escape
    wait_until 5 panel_of_width 1360
    check "$how: the clipboard panel is 1360 x 840, centred, 160 below the top" placed_on clipboard 0 0 2880 1800 1360 840 2
    sleep 0.3
    shot "scale2-$tag-clipboard"
    xdotool key Escape
    wait_until 5 panel_hidden
    stop_quenlit
done
stop_display

# ---- two monitors, the focused window on the right one ------------------------------------------
start_display 2560x900 || exit 1
output=$(xrandr --query | awk '/ connected/ {print $1; exit}')
xrandr --setmonitor LEFT 1280/338x900/238+0+0 "$output" >/dev/null
xrandr --setmonitor RIGHT 1280/338x900/238+1280+0 none >/dev/null
"$bin/fixture_window" --title "Right Notes" --class right-notes,RightNotes --position 1500,200 --size 500x300 \
    >"$root/fixture.out" 2>&1 &
pids+=($!)
wait_until 5 grep -q ready "$root/fixture.out"
fixture=$(sed -n 's/^ready //p' "$root/fixture.out")
xdotool windowactivate --sync "$fixture" 2>/dev/null
xdotool mousemove 200 200  # the pointer on the left monitor: the focused window counts first
start_quenlit
check "two monitors: the launcher opens on the right one, the focused window's" wait_until 5 placed_on launcher 1280 0 1280 900 640 400 1
shot "two-monitors-launcher"
xdotool key Escape
wait_until 5 panel_hidden
xdotool windowactivate --sync "$fixture" 2>/dev/null
xdotool key super+Escape
wait_until 5 panel_of_width 680
check "two monitors: the clipboard panel opens there too" placed_on clipboard 1280 0 1280 900 680 420 1
xdotool key Escape
wait_until 5 panel_hidden

# The same desk becomes one monitor 2560 wide while the program runs.
xrandr --delmonitor RIGHT >/dev/null
xrandr --delmonitor LEFT >/dev/null
check "the layout is one monitor now" sh -c 'xrandr --listmonitors | grep -q "^Monitors: 1"'
xdotool windowactivate --sync "$fixture" 2>/dev/null
xdotool key super+space
wait_until 5 panel_shown
check "one wide monitor: the launcher is centred on all of it" wait_until 5 placed_on launcher 0 0 2560 900 640 400 1
shot "one-wide-monitor-launcher"
xdotool key Escape
wait_until 5 panel_hidden
stop_quenlit
stop_display

# ---- two monitors drawn at twice the size, the focused window on the right one ----------------
start_display 5760x1800 || exit 1
output=$(xrandr --query | awk '/ connected/ {print $1; exit}')
xrandr --setmonitor LEFT 2880/762x1800/476+0+0 "$output" >/dev/null
xrandr --setmonitor RIGHT 2880/762x1800/476+2880+0 none >/dev/null
"$bin/fixture_window" --title "Right Notes" --class right-notes,RightNotes --position 3500,300 --size 800x600 \
    >"$root/fixture2.out" 2>&1 &
pids+=($!)
wait_until 5 grep -q ready "$root/fixture2.out"
fixture=$(sed -n 's/^ready //p' "$root/fixture2.out")
xdotool windowactivate --sync "$fixture" 2>/dev/null
QT_SCALE_FACTOR=2 start_quenlit
check "two monitors at scale 2: the launcher is 1280 x 800 on the right one, centred" \
    wait_until 5 placed_on launcher 2880 0 2880 1800 1280 800 2
shot "two-monitors-scale2-launcher"
xdotool key Escape
wait_until 5 panel_hidden
stop_quenlit
stop_display

# ---- dark, then light while running ------------------------------------------------------------
start_display 1440x900 || exit 1
dbus-daemon --session --fork --nopidfile --print-address=3 --print-pid=4 3>"$root/bus.address" 4>"$root/bus.pid"
export DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$root/bus.address")
pids+=("$(head -n 1 "$root/bus.pid")")
mkfifo "$root/portal.in"
"$bin/portal_stub" 1 <"$root/portal.in" >"$root/portal.out" 2>&1 &
pids+=($!)
exec 5>"$root/portal.in"
wait_until 5 grep -q ready "$root/portal.out"

# The panel's own colour at a point (X, Y inside the panel): "R G B".
pixel_at() {
    local w
    w=$(panel_window) || return 1
    import -window "$w" -depth 8 -crop "1x1+$1+$2" txt:- 2>/dev/null |
        sed -n 's/^0,0: (\([0-9.]*\),\([0-9.]*\),\([0-9.]*\).*/\1 \2 \3/p' | tr -d '.'
}
panel_is_dark() {
    local r g b
    read -r r g b <<<"$(pixel_at "$1" "$2")"
    [ -n "${b:-}" ] && ((r < 70 && g < 70 && b < 70))
}
panel_is_light() {
    local r g b
    read -r r g b <<<"$(pixel_at "$1" "$2")"
    [ -n "${b:-}" ] && ((r > 200 && g > 200 && b > 200))
}
# The typed query stands out from the panel: more than 40 pixels of the search field's text area
# (from x 40, 14 to 34 down) are light on a dark panel (ARG 1) or dark on a light one (ARG 0); the
# caret alone is some 20.
query_pixels_readable() {
    local w n
    w=$(panel_window) || return 1
    n=$(import -window "$w" -crop 300x20+40+14 +repage png:- 2>/dev/null |
        convert - -colorspace Gray $([ "$1" = 0 ] && echo -negate) -threshold 60% \
            -format "%[fx:round(mean*w*h)]" info: 2>/dev/null)
    [ -n "$n" ] && ((n > 40))
}

start_quenlit
check "dark: the desktop's dark scheme is taken" wait_until 5 log_has "appearance: dark"
xdotool type --delay 120 "left"
sleep 0.5
check "dark: the launcher's background is dark" panel_is_dark 620 6
check "dark: the typed query reads light on it" query_pixels_readable 1
shot "dark-launcher"
import -window "$(panel_window)" "$out/e2e-screens-dark-launcher-panel.png" 2>/dev/null
xdotool key ctrl+a BackSpace Escape
wait_until 5 panel_hidden

printf 'a dark copy' | xclip -selection clipboard
wait_until 5 sh -c "'$bin/quenlit' history --json | grep -q 'a dark copy'"
xdotool key super+Escape
wait_until 5 panel_of_width 680
xdotool type --delay 120 "dark"
sleep 0.3
xdotool key ctrl+k
sleep 0.5
check "dark: the clipboard panel's background is dark" panel_is_dark 660 6
check "dark: its typed query reads light" query_pixels_readable 1
shot "dark-clipboard-menu"
import -window "$(panel_window)" "$out/e2e-screens-dark-clipboard-menu-panel.png" 2>/dev/null

# The desktop switches to light while the panel is open: repainted without a restart.
echo 2 >&5
check "light again: the program hears the change" wait_until 5 log_has "appearance: light"
sleep 0.3
check "light again: the open panel is repainted light" wait_until 3 panel_is_light 660 6
check "light again: its query reads dark" query_pixels_readable 0
shot "light-clipboard-menu"
xdotool key Escape Escape
wait_until 5 panel_hidden
exec 5>&-
stop_quenlit
stop_display

echo "screens: $passed passed, $failed failed (screenshots in $out)"
[ "$failed" = 0 ]
