#error "The portable core must not include <X11/Xatom.h>: reach the desktop through src/platform/ instead."
