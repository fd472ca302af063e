#pragma once

// The program's version, taken from the build (the one place it is written is CMakeLists.txt).

#include "QuenlitVersion.h"

#include <string>

namespace quenlit::AppVersion {

// "0.11.0"
inline std::string string() {
    return QUENLIT_VERSION;
}

}  // namespace quenlit::AppVersion
