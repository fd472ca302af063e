#error "The portable core must not include <X11/Xutil.h>: reach the desktop through src/platform/ instead."
