#pragma once

// Root reads and enters every folder whatever its mode. A command prefixed with this runs without
// the capabilities that allow it, so a folder of mode 000 denies it as it denies any user.

#include <string>

#include <unistd.h>

namespace quenlit::testing {

inline std::string honouringPermissions() {
    return ::geteuid() == 0 ? "setpriv --bounding-set -dac_override,-dac_read_search " : "";
}

}  // namespace quenlit::testing
