#!/usr/bin/env bash
# End-to-end run of the clipboard history on a private X server, driven as a person would: copies
# made with xclip and by the project's clipboard_owner, Super+Escape and typing through xdotool,
# pastes into a Qt text field (text_sink), a GTK one (yad), xterm and URxvt.
# Run inside tests/support/with-xvfb.sh (a display with openbox), from the build folder's bin/:
#   with-xvfb.sh tests/e2e/clipboard.sh BIN_DIR OUTPUT_DIR
set -u
bin=$(cd "${1:?usage: clipboard.sh BIN_DIR OUTPUT_DIR}" && pwd)
out=$(mkdir -p "${2:?usage: clipboard.sh BIN_DIR OUTPUT_DIR}" && cd "$2" && pwd)

source "$(dirname "$0")/common.sh" e2e-clipboard
history_file=$XDG_DATA_HOME/quenlit/clipboard-history.json

# The texts of the saved history, newest first, one per line (what the command line reports).
history_texts() { "$bin/quenlit" history --json 2>/dev/null | grep -o '"text":"[^"]*"' | sed 's/^"text":"//; s/"$//'; }
history_has() { history_texts | grep -qxF -- "$1"; }
history_lacks() { ! history_texts | grep -qxF -- "$1"; }
history_count() { "$bin/quenlit" history --json 2>/dev/null | grep -o '"kind":"[a-z]*"' | wc -l; }
history_has_image() { "$bin/quenlit" history --json 2>/dev/null | grep -q '"kind":"image"'; }
images_are_png() {  # COUNT: the images folder holds COUNT files, every one a PNG
    local f n=0
    for f in "$XDG_DATA_HOME/quenlit/images/"*; do
        [ "$(head -c 4 "$f" | tail -c 3)" = "PNG" ] || return 1
        n=$((n + 1))
    done
    [ "$n" = "$1" ]
}
clipboard_is() { [ "$(xclip -o -selection clipboard 2>/dev/null)" = "$1" ]; }

# The clipboard panel: our visible window 680 wide (the launcher is 640).
clipboard_panel() {
    local w
    for w in $(xdotool search --onlyvisible --classname '^quenlit$' 2>/dev/null); do
        xwininfo -id "$w" 2>/dev/null | grep -q 'Width: 680$' && { echo "$w"; return 0; }
    done
    return 1
}
panel_shown() { clipboard_panel >/dev/null; }
panel_hidden() { ! clipboard_panel >/dev/null; }
any_panel_hidden() { [ -z "$(xdotool search --onlyvisible --classname '^quenlit$' 2>/dev/null)" ]; }
# The first row is drawn selected: the accent colour where it lies, not the bare window.
first_row_drawn() {
    local w pixel
    w=$(clipboard_panel) || return 1
    pixel=$(import -window "$w" -depth 8 -crop 1x1+150+100 txt:- 2>/dev/null | sed -n 's/^0,0: (\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1 \2 \3/p')
    read -r r g b <<<"$pixel"
    [ -n "${b:-}" ] && [ "$b" -gt 180 ] && [ "$r" -lt 100 ]
}
shot() {  # NAME: the clipboard panel alone
    local w
    w=$(clipboard_panel) && import -window "$w" "$out/e2e-clipboard-$1.png" 2>/dev/null
}

# Copies a text with xclip (which serves it until something else is copied) and waits until the
# history holds it: one poll is 2 seconds.
copy_text() {
    printf '%s' "$1" | xclip -selection clipboard
    wait_until 5 history_has "$1"
}

# Starts a text field, makes it the active window and prints its window id.
start_sink() {  # NAME OUTPUT [ARGS...]
    local name=$1 output=$2
    shift 2
    "$bin/text_sink" --out "$output" --title "$name" "$@" >"$root/$name.ready" &
    pids+=($!)
    wait_until 10 grep -q ready "$root/$name.ready"
    printf '0x%x' "$(sed -n 's/^ready //p' "$root/$name.ready")"
}
focus() {
    xdotool windowactivate --sync "$1" 2>/dev/null
    wait_until 5 active_is "$1"
}
# Super+Escape, a query, Return: the way a person pastes an entry from the history.
paste_entry() {  # QUERY
    xdotool key super+Escape
    wait_until 5 panel_shown || return 1
    [ -n "$1" ] && xdotool type --delay 20 "$1"
    sleep 0.2
    xdotool key Return
    wait_until 5 panel_hidden
}

# ---- start --------------------------------------------------------------------------------------
"$bin/quenlit" >"$root/quenlit.out" 2>&1 &
quenlit=$!
pids+=($quenlit)
wait_until 10 log_has "clipboard: monitoring started"
check "the clipboard history is on at start" log_has "clipboard: monitoring started (interval=2.0s bg"
xdotool key Escape  # the launcher shows at start
wait_until 5 any_panel_hidden

# ---- capture ------------------------------------------------------------------------------------
printf 'alpha one' | xclip -selection clipboard
check "a text copied with xclip is in the history within one poll" wait_until 3 history_has "alpha one"
copy_text "beta two"
copy_text "gamma three"
check "each copy becomes a history entry, newest first" \
    test "$(history_texts | head -n 3 | tr '\n' '|')" = "gamma three|beta two|alpha one|"

# People copy in quick succession: every copy counts, not only the last one before a poll.
for pair in 1 2 3; do
    printf 'quick %s a' "$pair" | xclip -selection clipboard
    sleep 0.2
    printf 'quick %s b' "$pair" | xclip -selection clipboard
    sleep 0.5
done
all_quick_kept() {
    local p
    for p in 1 2 3; do history_has "quick $p a" && history_has "quick $p b" || return 1; done
}
check "three pairs of copies 0.2 s apart are all kept" wait_until 5 all_quick_kept

"$bin/clipboard_owner" --offer-text UTF8_STRING=hunter2 --offer-text x-kde-passwordManagerHint=secret \
    >"$root/secret.out" &
pids+=($!)
wait_until 5 grep -q "served TARGETS" "$root/secret.out"
sleep 0.5
check "a copy carrying x-kde-passwordManagerHint is never recorded" history_lacks "hunter2"

convert -size 320x200 gradient:'#1e90ff-#ff8c00' "$root/picture.png"
xclip -selection clipboard -t image/png "$root/picture.png"
check "a PNG copied with xclip -t image/png becomes an image entry" wait_until 5 history_has_image
convert -size 64x48 xc:'#228b22' "$root/picture.bmp"
"$bin/clipboard_owner" --offer "image/bmp=$root/picture.bmp" >"$root/bmp.out" &
pids+=($!)
check "a BMP offered by its owner is stored as a PNG file" wait_until 5 images_are_png 2
copy_text "delta four"
newest_is_image() { "$bin/quenlit" history --json 2>/dev/null | grep -o '"kind":"[a-z]*"' | head -n 1 | grep -q image; }
xclip -selection clipboard -t image/png "$root/picture.png"
wait_until 5 newest_is_image
check "the same PNG copied again is moved up, not stored twice" images_are_png 2

# ---- a slow owner -------------------------------------------------------------------------------
"$bin/clipboard_owner" --offer-text UTF8_STRING=sluggish --delay-ms 1500 >"$root/slow.out" &
slow=$!
pids+=($slow)
check "an owner that does not answer within 1 s is abandoned and logged" wait_until 6 \
    log_has "clipboard: the clipboard's owner did not answer within 1 s"
started=$(date +%s%N)
xdotool key super+Escape
wait_until 5 panel_shown
shown_ms=$((($(date +%s%N) - started) / 1000000))
check "and the panel still opens at once meanwhile (${shown_ms} ms)" test "$shown_ms" -lt 1500
xdotool key Escape
wait_until 5 panel_hidden
kill "$slow" 2>/dev/null

# ---- hostile owners -----------------------------------------------------------------------------
# How long the launcher hotkey takes to answer, in ms: `quenlit toggle launcher` returns once the
# program has shown or hidden the launcher. The worst of four (show, hide, show, hide).
toggle_worst_ms() {
    local worst=0 i started ms
    for i in 1 2 3 4; do
        started=$(date +%s%N)
        if ! "$bin/quenlit" toggle launcher >/dev/null 2>&1; then
            echo "no answer: quenlit toggle launcher gave up after $((($(date +%s%N) - started) / 1000000)) ms" >&2
            echo 99999
            return
        fi
        ms=$((($(date +%s%N) - started) / 1000000))
        ((ms > worst)) && worst=$ms
        sleep 0.1
    done
    echo "$worst"
}
log_count() { grep -cF -- "$1" "$log" 2>/dev/null; }
quiet_ms=$(toggle_worst_ms)
echo "launcher toggle with a quiet clipboard: worst of four ${quiet_ms} ms"

# A hung program that takes the clipboard again every second and never answers.
"$bin/clipboard_owner" --offer-text UTF8_STRING=silent --never-answer --retake-ms 1000 >"$root/silent.out" &
silent=$!
pids+=($silent)
wait_until 5 grep -q ready "$root/silent.out"
sleep 1.2
silent_ms=$(toggle_worst_ms)
check "an owner that never answers and copies every second: the launcher toggles within 100 ms (worst ${silent_ms} ms)" \
    test "$silent_ms" -lt 100
shunned="ran out of time twice in a row — left alone for 30 s"
check "after two copies in a row that ran out of time it is left alone, and that is logged" wait_until 5 log_has "$shunned"
sleep 3
check "once, however often it copies again ($(log_count "$shunned") lines)" test "$(log_count "$shunned")" = 1
check "and nothing of it is recorded" history_lacks "silent"
kill "$silent" 2>/dev/null
check "the next copy is recorded" copy_text "after the silent owner"

# A slow program that answers every request after 0.9 s: the whole copy gets one second.
timeouts=$(($(log_count "did not answer within 1 s") + $(log_count "took over 1 s — abandoned")))
"$bin/clipboard_owner" --offer-text UTF8_STRING=molasses --delay-ms 900 >"$root/molasses.out" &
molasses=$!
pids+=($molasses)
wait_until 5 grep -q ready "$root/molasses.out"
molasses_ms=$(toggle_worst_ms)
check "an owner answering each request after 0.9 s: the launcher toggles within 100 ms (worst ${molasses_ms} ms)" \
    test "$molasses_ms" -lt 100
# Given up on the targets or on the text, whichever the second runs out in.
timeouts_before=$timeouts
gave_up() { [ "$(($(log_count "did not answer within 1 s") + $(log_count "took over 1 s — abandoned")))" -gt "$timeouts_before" ]; }
check "and its copy is given up after a second, logged" wait_until 5 gave_up
check "and not recorded" history_lacks "molasses"
kill "$molasses" 2>/dev/null
copy_text "after the slow owner"

# A target list of 16,382 made-up names next to the text.
"$bin/clipboard_owner" --offer-text UTF8_STRING=many-targets --junk-targets 16382 >"$root/many.out" &
many=$!
pids+=($many)
wait_until 10 grep -q ready "$root/many.out"
many_ms=$(toggle_worst_ms)
check "an owner offering 16,382 targets: the launcher toggles within 100 ms (worst ${many_ms} ms)" \
    test "$many_ms" -lt 100
check "and its text is recorded" wait_until 5 history_has "many-targets"
kill "$many" 2>/dev/null

# A program that copies a thousand times a second.
"$bin/clipboard_owner" --offer-text UTF8_STRING=storm --retake-ms 1 >"$root/storm.out" &
storm=$!
pids+=($storm)
wait_until 5 grep -q ready "$root/storm.out"
sleep 1
storm_ms=$(toggle_worst_ms)
check "an owner copying 1,000 times a second: the launcher toggles within 100 ms (worst ${storm_ms} ms)" \
    test "$storm_ms" -lt 100
check "and its text is recorded" wait_until 5 history_has "storm"
kill "$storm" 2>/dev/null

# Copied files are only read outside the temporary folders, where this run's home lies.
odd=$out/e2e-clipboard-files
rm -rf "$odd"
mkdir -p "$odd"

# Pictures that claim more pixels than anyone copies: 30000 × 30000 in 110 kB, and 2^31 pixels.
python3 - "$root/bomb.png" "$odd/absurd.png" <<'PY'
import struct, sys, zlib
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
def png(path, width, height, rows):
    header = struct.pack(">IIBBBBB", width, height, 1, 0, 0, 0, 0)
    row = b"\0" * (1 + (width + 7) // 8)
    data = zlib.compress(row * rows, 9)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", data) + chunk(b"IEND", b""))
png(sys.argv[1], 30000, 30000, 30000)
png(sys.argv[2], 65536, 32768, 1)
PY
images_before=$(ls "$XDG_DATA_HOME/quenlit/images" | wc -l)
xclip -selection clipboard -t image/png "$root/bomb.png"
check "a PNG of 30000 × 30000 pixels is refused, logged once" \
    wait_until 5 log_has "clipboard: image of 30000×30000 pixels is over 40 megapixels — skipped"
"$bin/clipboard_owner" --offer-text "text/uri-list=file://$odd/absurd.png" >"$root/absurd.out" &
pids+=($!)
check "a picture file claiming 2^31 pixels is refused" wait_until 5 log_has "clipboard: failed to read image file absurd.png"
check "and neither is stored" test "$(ls "$XDG_DATA_HOME/quenlit/images" | wc -l)" = "$images_before"

# Odd files: named pipes (one named like a picture), and a sparse PNG of 1 GiB (a real header, then
# nothing).
mkfifo "$odd/pipe.png" "$odd/pipe"
head -c 33 "$root/picture.png" >"$odd/huge.png"
truncate -s 1G "$odd/huge.png"
for name in pipe.png pipe huge.png; do
    "$bin/clipboard_owner" --offer-text "text/uri-list=file://$odd/$name" >"$root/odd.out" &
    pids+=($!)
    wait_until 5 grep -q "served text/uri-list" "$root/odd.out"
    odd_ms=$(toggle_worst_ms)
    check "a copied $name: the launcher toggles within 100 ms (worst ${odd_ms} ms)" test "$odd_ms" -lt 100
done
pipes_kept() { history_has "$odd/pipe.png" && history_has "$odd/pipe"; }
check "the pipes are never opened, and kept as paths" wait_until 5 pipes_kept
check "the 1 GiB picture is not read" wait_until 5 log_has "clipboard: failed to read image file huge.png"
check "and the program is still running" kill -0 "$quenlit"
rm -rf "$odd"
copy_text "epsilon five"

# ---- the panel and paste-back -------------------------------------------------------------------
qt_out=$root/qt-sink.txt
qt=$(start_sink "Qt Sink" "$qt_out")
focus "$qt"
xdotool key super+Escape
check "Super+Escape shows the clipboard panel" wait_until 5 panel_shown
check "and leaves the application in front active" active_is "$qt"
check "with the newest entry selected" wait_until 2 first_row_drawn
shot texts
xdotool type --delay 20 "beta"
sleep 0.3
shot filtered
xdotool key Return
check "typing filters and Return pastes the match into a Qt text field" wait_until 5 file_is "$qt_out" "beta two"
check "the panel hides for the paste" panel_hidden
check "the pasted entry stays on the clipboard" clipboard_is "beta two"

# Shift is still down when Return is pressed: the paste must wait for it, or Control+Shift+V
# reaches the application instead of Control+V.
focus "$qt"
xdotool key ctrl+a BackSpace
xdotool key super+Escape
wait_until 5 panel_shown
xdotool type --delay 20 "gamma"
xdotool keydown shift key Return
sleep 0.4
xdotool keyup shift
check "a paste waits until the user lets go of Shift" wait_until 5 file_is "$qt_out" "gamma three"

# A GTK text field: yad's entry prints what it holds when Return confirms it.
yad --entry --title "GTK Sink" >"$root/gtk.out" 2>/dev/null &
gtk_pid=$!
pids+=($gtk_pid)
wait_until 10 xdotool search --onlyvisible --name '^GTK Sink$'
gtk=$(printf '0x%x' "$(xdotool search --onlyvisible --name '^GTK Sink$' | head -n 1)")
focus "$gtk"
paste_entry "alpha"
sleep 0.3
xdotool key Return
check "Return pastes into a GTK text field" wait_until 5 file_is "$root/gtk.out" "alpha one"

# Terminals: xterm and URxvt paste PRIMARY with Shift+Insert; cat writes each line it reads.
for term in xterm urxvt; do
    command -v "$term" >/dev/null || { echo "skipped: $term is not installed"; continue; }
    "$term" -title "$term sink" -e sh -c "cat >'$root/$term.txt'" &
    pids+=($!)
    wait_until 10 xdotool search --onlyvisible --name "^$term sink$"
    term_window=$(printf '0x%x' "$(xdotool search --onlyvisible --name "^$term sink$" | head -n 1)")
    focus "$term_window"
    sleep 0.3
    paste_entry "delta"
    sleep 0.3
    xdotool key Return
    check "Return pastes into $term" wait_until 5 file_is "$root/$term.txt" "delta four"
done

# ---- the two panels -----------------------------------------------------------------------------
launcher_shown() {
    local w
    for w in $(xdotool search --onlyvisible --classname '^quenlit$' 2>/dev/null); do
        xwininfo -id "$w" 2>/dev/null | grep -q 'Width: 640$' && return 0
    done
    return 1
}
only_clipboard_shown() { panel_shown && ! launcher_shown; }
only_launcher_shown() { launcher_shown && ! panel_shown; }
focus "$qt"
xdotool key ctrl+a BackSpace
xdotool key super+space
wait_until 5 launcher_shown
xdotool key super+Escape
check "Super+Escape while the launcher holds the keyboard shows the clipboard panel instead" \
    wait_until 5 only_clipboard_shown
xdotool type --delay 20 "alpha"
sleep 0.2
xdotool key Return
check "which then holds the keyboard: typing filters it and Return pastes" \
    wait_until 5 file_is "$qt_out" "alpha one"
xdotool key super+Escape
wait_until 5 panel_shown
xdotool key super+space
check "and Super+Space from the clipboard panel shows the launcher instead" wait_until 5 only_launcher_shown
xdotool key Escape
wait_until 5 any_panel_hidden

# ---- the actions menu ---------------------------------------------------------------------------
focus "$qt"
before=$(history_count)
xdotool key super+Escape
wait_until 5 panel_shown
xdotool type --delay 20 "epsilon"
xdotool key ctrl+k
sleep 0.3
shot menu
xdotool key Down Down Return
check "the actions menu's Delete Entry deletes that entry" wait_until 5 history_lacks "epsilon five"
check "and only that one" wait_until 5 sh -c "test \$('$bin/quenlit' history --json | grep -o '\"kind\"' | wc -l) = $((before - 1))"

xdotool key ctrl+a BackSpace
sleep 0.2
xdotool key ctrl+k Up Return
sleep 0.3
shot confirmation
check "Delete All Entries asks first" test "$(history_count)" = "$((before - 1))"
xdotool key Escape
sleep 0.5
check "Escape on the question deletes nothing" test "$(history_count)" = "$((before - 1))"
xdotool key Escape
wait_until 5 panel_hidden

# ---- restart --------------------------------------------------------------------------------------
# With a picture from the history on the clipboard: the start-up capture finds it already kept.
xclip -selection clipboard -t image/png "$root/picture.png"
wait_until 5 newest_is_image
entries_before=$(history_count)
kill "$quenlit"
wait "$quenlit" 2>/dev/null
"$bin/quenlit" >"$root/quenlit2.out" 2>&1 &
quenlit=$!
pids+=($quenlit)
wait_until 10 log_has "clipboard: loaded"
xdotool key Escape
wait_until 5 any_panel_hidden
sleep 1
check "a restart with a kept picture on the clipboard adds no entry and no file" \
    sh -c "test $entries_before = \$('$bin/quenlit' history --json | grep -o '\"kind\"' | wc -l)"
check "(the images folder still holds two pictures)" images_are_png 2
check "the history survives a restart" sh -c "'$bin/quenlit' history --json | grep -q '\"text\":\"gamma three\"'"
xdotool key super+Escape
wait_until 5 panel_shown
started=$(date +%s%N)
check "the panel shows the restored history at once" wait_until 2 first_row_drawn
echo "first row drawn after $((($(date +%s%N) - started) / 1000000)) ms"
shot after-restart
xdotool key Escape
wait_until 5 panel_hidden

# ---- the owner exits ----------------------------------------------------------------------------
copy_text "zeta six"
"$bin/clipboard_owner" --offer-text UTF8_STRING=fleeting --exit-after-ms 300 >"$root/fleeting.out"
check "a copy by a program that exits 0.3 s later is kept" wait_until 3 history_has "fleeting"
check "and once it has exited, its entry is offered again" wait_until 5 clipboard_is "fleeting"
focus "$qt"
xdotool key ctrl+a BackSpace ctrl+v
check "and can still be pasted" wait_until 5 file_is "$qt_out" "fleeting"

# ---- the clipboard emptied on purpose -----------------------------------------------------------
copy_text "eta seven"
"$bin/clipboard_owner" --clear
sleep 4
check "a clipboard emptied on purpose (as xsel -bc does) is still empty 4 s later" clipboard_is ""
check "and the history keeps what was copied" history_has "eta seven"
"$bin/clipboard_owner" --offer-text UTF8_STRING=hunter3 --offer-text x-kde-passwordManagerHint=secret \
    --exit-after-ms 300 >"$root/secret2.out"
sleep 2.5
check "a password manager's copy whose owner exits leaves the clipboard empty" clipboard_is ""

# ---- delete all, confirmed ----------------------------------------------------------------------
xdotool key super+Escape
wait_until 5 panel_shown
xdotool key ctrl+k Up Return
sleep 0.3
xdotool key Return
check "Delete All Entries, confirmed, empties the history" wait_until 5 test "$(history_count)" = 0
sleep 0.3
shot empty
xdotool key Escape

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
