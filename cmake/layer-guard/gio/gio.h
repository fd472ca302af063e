#error "The portable core must not include <gio/gio.h>: reach the desktop through src/platform/ instead."
