#pragma once

// The user's folders, from the XDG base-directory variables with their documented defaults.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace quenlit {

struct XdgDirs {
    using Getenv = std::function<const char*(const char*)>;

    std::filesystem::path home;
    std::filesystem::path dataHome;                   // $XDG_DATA_HOME, default ~/.local/share
    std::filesystem::path stateHome;                  // $XDG_STATE_HOME, default ~/.local/state
    std::filesystem::path configHome;                 // $XDG_CONFIG_HOME, default ~/.config
    std::filesystem::path cacheHome;                  // $XDG_CACHE_HOME, default ~/.cache
    std::optional<std::filesystem::path> runtimeDir;  // $XDG_RUNTIME_DIR, no default

    // Relative values are ignored, as the base-directory rules ask.
    static XdgDirs fromEnvironment(const Getenv& getenv);
    static XdgDirs current();

    // The download folder named in user-dirs.dirs (it may be localised), else ~/Downloads.
    std::filesystem::path downloadsDir() const;

    std::filesystem::path appDataDir() const { return dataHome / "quenlit"; }
    std::filesystem::path logDir() const { return stateHome / "quenlit"; }
    std::filesystem::path logFile() const { return logDir() / "focus.log"; }
    std::filesystem::path bindingsFile() const { return configHome / "quenlit" / "bindings.toml"; }
};

// Reads one entry (for example "XDG_DOWNLOAD_DIR") of a user-dirs.dirs text; "$HOME" is expanded.
std::optional<std::filesystem::path> parseUserDirsEntry(const std::string& fileText, const std::string& key,
                                                        const std::filesystem::path& home);

}  // namespace quenlit
