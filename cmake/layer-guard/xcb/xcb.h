#error "The portable core must not include <xcb/xcb.h>: reach the desktop through src/platform/ instead."
