# Sourced by the scripts that run a desktop as an unprivileged user (with-sway.sh,
# with-gnome-shell.sh, with-kwin.sh): the user quenlit-e2e when run as root, and a checkout it can
# reach.
#   as_user                           the command prefix that runs a program as that user (empty
#                                     when not root)
#   checkout                          this checkout's folder
#   open_checkout_to_test_user SCRIPT ARGS...
#                                     when the user cannot enter the checkout (a clone under /root),
#                                     runs tests/support/SCRIPT ARGS... again in a mount namespace
#                                     of its own, where the folder that shuts the user out is
#                                     replaced by an open one holding only the checkout, at the same
#                                     path: every path, relative or absolute, names the same file for
#                                     root and for the user. Returns when nothing needs opening.
as_user=()
if [ "$(id -u)" = 0 ]; then
    id quenlit-e2e >/dev/null 2>&1 || useradd --system --create-home --shell /bin/bash quenlit-e2e
    as_user=(setpriv --reuid=quenlit-e2e --regid=quenlit-e2e --init-groups)
fi
checkout=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd -P)

open_checkout_to_test_user() {
    local script=$1
    shift
    [ ${#as_user[@]} -gt 0 ] && [ -z "${QUENLIT_CHECKOUT_REACHABLE:-}" ] || return 0
    "${as_user[@]}" test -x "$checkout" 2>/dev/null && return 0
    local closed="" dir=$checkout
    while [ "$dir" != / ]; do
        "${as_user[@]}" test -x "$dir" 2>/dev/null || closed=$dir
        dir=$(dirname "$dir")
    done
    if ! unshare --mount --propagation private true 2>/dev/null; then
        echo "$script: user quenlit-e2e cannot enter $closed, and no mount namespace can be made" \
            "to let it reach the checkout: clone it under /srv or /tmp instead" >&2
        exit 2
    fi
    echo "$script: $closed is closed to the test user: running in a mount namespace that opens the checkout" >&2
    exec unshare --mount --propagation private env QUENLIT_CHECKOUT_REACHABLE=1 bash -c '
        set -e
        checkout=$1 closed=$2 wd=$3 script=$4
        shift 4
        keep=$(mktemp -d /tmp/quenlit-checkout-XXXXXX)
        mount --bind "$checkout" "$keep"
        mount -t tmpfs -o mode=755 quenlit-open "$closed"
        mkdir -p "$checkout"
        mount --bind "$keep" "$checkout"
        cd "$wd"
        exec bash "$checkout/tests/support/$script" "$@"' "$script" "$checkout" "$closed" "$PWD" "$script" "$@"
}
