#error "The portable core must not include <X11/Xlib.h>: reach the desktop through src/platform/ instead."
