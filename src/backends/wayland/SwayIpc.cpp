#include "backends/wayland/SwayIpc.h"
