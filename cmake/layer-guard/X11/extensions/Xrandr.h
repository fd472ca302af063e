#error \
    "The portable core must not include <X11/extensions/Xrandr.h>: reach the desktop through src/platform/ instead."
