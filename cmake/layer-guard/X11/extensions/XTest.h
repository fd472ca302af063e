#error \
    "The portable core must not include <X11/extensions/XTest.h>: reach the desktop through src/platform/ instead."
