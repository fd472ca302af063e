#error "The portable core must not include <X11/X.h>: reach the desktop through src/platform/ instead."
