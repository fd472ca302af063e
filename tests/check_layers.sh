#!/usr/bin/env bash
# Checks the one-way include rule between the layers:
#   base <- platform <- subsystems <- ui, backends/* <- app
# and that base, platform and the subsystems include no Qt, X11, xcb, GLib or OS headers.
set -u
src=${1:?usage: check_layers.sh SRC_DIR}
cd "$src" || exit 2
status=0

subsystems="launcher calculator clipboard launch automation shell"
allowed_for() {
    case "$1" in
        base) echo "base" ;;
        platform) echo "base platform" ;;
        launcher|calculator|clipboard|launch|automation|shell) echo "base platform $subsystems" ;;
        ui|backends) echo "base platform $subsystems ui backends" ;;
        app) echo "base platform $subsystems ui backends app" ;;
        *) echo "" ;;
    esac
}

while IFS= read -r file; do
    layer=${file%%/*}
    allowed=$(allowed_for "$layer")
    while IFS= read -r inc; do
        target=${inc%%/*}
        case " base platform $subsystems ui backends app " in
            *" $target "*) ;;
            *) continue ;;
        esac
        case " $allowed " in
            *" $target "*) ;;
            *) echo "layering: $file includes \"$inc\" (layer $layer may not include $target)"; status=1 ;;
        esac
        # The display-free Linux backend must not depend on the X11 one.
        if [ "${file#backends/linux/}" != "$file" ] && [ "${inc#backends/x11/}" != "$inc" ]; then
            echo "layering: $file includes \"$inc\" (backends/linux needs no display)"; status=1
        fi
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")

    case " base platform $subsystems " in
        *" $layer "*)
            if grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<(Q[A-Za-z]*|Qt[A-Za-z]*/.*|X11/.*|xcb/.*|glib.*|gio/.*|gtk/.*|libsecret/.*|unistd\.h|fcntl\.h|sys/.*|pthread\.h|dlfcn\.h|syslog\.h|signal\.h|spawn\.h|dirent\.h|pwd\.h|poll\.h)>' "$file"; then
                echo "layering: $file (layer $layer) includes a toolkit or OS header"; status=1
            fi
            ;;
    esac
done < <(find . -type f \( -name '*.h' -o -name '*.cpp' \) | sed 's|^\./||' | sort)

[ $status -eq 0 ] && echo "layering: all includes follow the layer order"
exit $status
