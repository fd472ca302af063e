#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>

namespace quenlit {

// One Firefox profile as the launcher lists it.
struct FirefoxProfile {
    std::string name;            // display name, unique among the detected profiles
    std::filesystem::path path;  // the profile folder
    bool isDefault = false;      // marked default in profiles.ini

    bool operator==(const FirefoxProfile&) const = default;
};

}  // namespace quenlit

template <>
struct std::hash<quenlit::FirefoxProfile> {
    std::size_t operator()(const quenlit::FirefoxProfile& p) const noexcept {
        std::size_t h = std::hash<std::string>{}(p.name);
        h ^= std::filesystem::hash_value(p.path) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
        h ^= std::hash<bool>{}(p.isDefault) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
        return h;
    }
};
