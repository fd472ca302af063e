#pragma once

// Quenlit's GNOME Shell extension: where it is shipped, which of its entry files a GNOME release
// loads, and putting it in the user's extension folder, enabled.
//
// The shipped folder holds one source (core.js) and two entry files: extension-43.js for GNOME 43
// and 44, which load extensions through imports.*, and extension-45.js for GNOME 45 and later,
// which load them as ES modules. The installed folder has the one the running release loads, as
// extension.js, and core.js made an ES module where needed.

#include "base/Result.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quenlit::linux_backend {

inline constexpr const char* kGnomeExtensionUuid = "quenlit@quenlit.github.io";

// The major version of GNOME Shell in `gnome-shell --version`'s answer ("GNOME Shell 43.9" → 43).
std::optional<int> gnomeShellMajorVersion(std::string_view versionLine);

// The installed GNOME Shell's major version; absent when it is not installed.
std::optional<int> installedGnomeShellMajorVersion();

// The lowest and highest release the extension is written for.
inline constexpr int kOldestGnomeShell = 43;
inline constexpr int kNewestGnomeShell = 49;

// The shipped extension folder beside the program: PREFIX/share/quenlit/gnome-shell/UUID for an
// installed program at PREFIX/bin, and the build folder's copy for a build.
std::optional<std::filesystem::path> shippedGnomeExtension(const std::filesystem::path& program);

// Writes the extension for GNOME `major` from `shipped` into `extensionsFolder`/UUID (compiling
// its settings schema) and returns that folder.
Result<std::filesystem::path> writeGnomeExtension(const std::filesystem::path& shipped,
                                                  const std::filesystem::path& extensionsFolder, int major);

// Adds the extension to GNOME Shell's enabled ones (and takes it off the disabled ones). Answers
// a note for the user when extensions are switched off as a whole, else an empty string.
Result<std::string> enableGnomeExtension();

// Whether GNOME Shell on the session bus runs the extension, in the interface version
// `interfaceName` names ("io.github.quenlit.Shell1"); asked within a second.
bool gnomeExtensionRunning(const std::string& interfaceName);

}  // namespace quenlit::linux_backend
