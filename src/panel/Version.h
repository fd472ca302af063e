#pragma once

#include <string>

namespace quenlit::AppVersion {

inline constexpr int major = 0;
inline constexpr int minor = 11;
inline constexpr int patch = 0;

// "0.11.0"
inline std::string string() {
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

}  // namespace quenlit::AppVersion
