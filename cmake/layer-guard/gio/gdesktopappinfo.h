#error \
    "The portable core must not include <gio/gdesktopappinfo.h>: reach the desktop through src/platform/ instead."
