#error "The portable core must not include <X11/keysym.h>: reach the desktop through src/platform/ instead."
