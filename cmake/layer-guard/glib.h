#error "The portable core must not include <glib.h>: reach the desktop through src/platform/ instead."
