#error \
    "The portable core must not include <X11/extensions/XInput2.h>: reach the desktop through src/platform/ instead."
