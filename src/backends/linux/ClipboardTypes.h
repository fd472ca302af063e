#pragma once

// How the clipboard's MIME types and X targets map to the types the core knows: text as plain UTF-8
// text, PNG as PNG, any other raster image in the TIFF slot (the core decodes it and stores it as
// PNG off the main thread). X11 selections and Wayland offers name their formats alike, so both
// desktops share these.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenlit::linux_backend {

// The most read from another program's clipboard: text, and any other type (images).
inline constexpr std::size_t kClipboardTextLimit = 16u << 20;
inline constexpr std::size_t kClipboardDataLimit = 128u << 20;

// The paths of GNOME's list of copied files ("copy\nfile:///a\nfile:///b").
std::vector<std::string> parseGnomeCopiedFiles(std::string_view text);
// The URLs of a text/uri-list: one per line, comments and blank lines skipped.
std::vector<std::string> parseUriList(std::string_view text);
// The names under which the core sees these targets: text as plain UTF-8 text, PNG as PNG, other
// raster images as TIFF; the rest unchanged, without the X selection protocol's own targets.
std::vector<std::string> pasteboardTypesForTargets(const std::vector<std::string>& targets);
// The offered target that gives the data of a core type, in order of preference; absent when none.
std::optional<std::string> targetForType(std::string_view type, const std::vector<std::string>& targets);
// Whether a target names text in Latin-1 (X's STRING), which is converted to UTF-8 when read.
bool isLatin1Target(std::string_view target);
std::string latin1ToUtf8(std::string_view latin1);

}  // namespace quenlit::linux_backend
