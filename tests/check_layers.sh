#!/usr/bin/env bash
# States and checks the one order over the source folders (the build enforces it too: each folder
# is a target that sees only the headers it may use); each folder includes only folders on an
# earlier step:
#   base → platform → panel → calculator, launch, automation → launcher, clipboard → shell
#        → ui, backends/fake, backends/linux, backends/x11, backends/wayland, backends/sway,
#          backends/kde, backends/gnome → app
# Folders on the same step do not include each other, with two exceptions: the X11, Wayland, sway,
# KDE and GNOME backends build on the display-free Linux one, and the sway and KDE backends on the
# Wayland one.
# base, platform, panel and the feature folders include no Qt, X11, xcb, GLib or OS headers.
set -u
src=${1:?usage: check_layers.sh SRC_DIR}
cd "$src" || exit 2
status=0

# The step of a folder ("backends/x11" for files below it); empty for a folder outside the order.
step_of() {
    case "$1" in
        base) echo 0 ;;
        platform) echo 1 ;;
        panel) echo 2 ;;
        calculator | launch | automation) echo 3 ;;
        launcher | clipboard) echo 4 ;;
        shell) echo 5 ;;
        ui | backends/fake | backends/linux | backends/x11 | backends/wayland | backends/sway | backends/kde | backends/gnome) echo 6 ;;
        app) echo 7 ;;
        *) echo "" ;;
    esac
}

# "launcher/AppItem.h" -> launcher; "backends/x11/X.h" -> backends/x11.
folder_of() {
    case "$1" in
        backends/*/*) local rest=${1#backends/}; echo "backends/${rest%%/*}" ;;
        */*) echo "${1%%/*}" ;;
        *) echo "" ;;
    esac
}

portable_steps=" 0 1 2 3 4 5 "

while IFS= read -r file; do
    folder=$(folder_of "$file")
    step=$(step_of "$folder")
    if [ -z "$step" ]; then
        echo "layering: $file is in a folder outside the order ($folder)"; status=1
        continue
    fi
    while IFS= read -r inc; do
        target=$(folder_of "$inc")
        [ -n "$target" ] || continue
        target_step=$(step_of "$target")
        [ -n "$target_step" ] || continue  # a third-party header such as "rapidjson/..."
        [ "$target" = "$folder" ] && continue
        if [ "$target" = backends/linux ]; then
            case "$folder" in backends/x11 | backends/wayland | backends/sway | backends/kde | backends/gnome) continue ;; esac
        fi
        if [ "$target" = backends/wayland ] && { [ "$folder" = backends/sway ] || [ "$folder" = backends/kde ]; }; then
            continue
        fi
        if [ "$target_step" -ge "$step" ]; then
            echo "layering: $file includes \"$inc\" ($folder may not include $target)"; status=1
        fi
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")

    case "$portable_steps" in
        *" $step "*)
            if grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<(Q[A-Za-z]*|Qt[A-Za-z]*/.*|X11/.*|xcb/.*|glib.*|gio/.*|gtk/.*|libsecret/.*|unistd\.h|fcntl\.h|sys/.*|pthread\.h|dlfcn\.h|syslog\.h|signal\.h|spawn\.h|dirent\.h|pwd\.h|poll\.h)>' "$file"; then
                echo "layering: $file ($folder) includes a toolkit or OS header"; status=1
            fi
            ;;
    esac
done < <(find . -type f \( -name '*.h' -o -name '*.cpp' \) | sed 's|^\./||' | sort)

[ $status -eq 0 ] && echo "layering: all includes follow the folder order"
exit $status
