#pragma once

// The history file's format: one JSON array of item objects, newest first, written compactly
// with sorted keys (createdAt, id, imagePath, kind, text). Dates are UTC with whole seconds and a
// trailing "Z"; identifiers are upper-case UUIDs. Reading is strict: one bad item (a missing
// required key, an unknown kind, a malformed date or UUID) makes the whole document unreadable,
// because a half-read history would be saved back over the user's file.

#include "clipboard/ClipboardItem.h"
#include "platform/AtomicFile.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenlit::historyJson {

struct Decoded {
    std::vector<ClipboardItem> items;  // empty when error is set
    std::optional<std::string> error;  // what made the document unreadable
};

// "2024-05-01T09:30:00Z"; the fraction of a second is dropped.
std::string formatDate(std::chrono::system_clock::time_point t);
// Only the form formatDate writes.
std::optional<std::chrono::system_clock::time_point> parseDate(std::string_view text);

// Every item is checked, but only the first `limit` are kept.
Decoded decode(std::string_view json, std::size_t limit = std::numeric_limits<std::size_t>::max());
// The same through the whole document tree, value by value: what decode falls back to for anything
// out of the ordinary, and the reference its quick reading is checked against.
Decoded decodeThoroughly(std::string_view json, std::size_t limit = std::numeric_limits<std::size_t>::max());
// The largest file a history of at most `maxItems` texts of at most `maxTextLength` characters can
// be, with room to spare: anything larger is not a history, and is refused before it is read.
std::uintmax_t largestFileSize(std::size_t maxItems, std::size_t maxTextLength);
// Reads and decodes a history file; a file that cannot be read, is not a regular file or is larger
// than `maxBytes` is an error like any other.
Decoded readFile(platform::AtomicFile& files, const std::filesystem::path& path,
                 std::size_t limit = std::numeric_limits<std::size_t>::max(),
                 std::uintmax_t maxBytes = std::numeric_limits<std::uintmax_t>::max());

std::string encode(const std::vector<ClipboardItem>& items);
// One item object, as it appears inside the array.
std::string encodeItem(const ClipboardItem& item);

}  // namespace quenlit::historyJson
