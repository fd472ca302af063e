#error \
    "The portable core must not include <libsecret/secret.h>: reach the desktop through src/platform/ instead."
