#error \
    "The portable core must not include <X11/extensions/Xfixes.h>: reach the desktop through src/platform/ instead."
