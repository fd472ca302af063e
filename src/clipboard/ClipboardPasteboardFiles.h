#pragma once

// Files copied to the clipboard by a file manager: which of them are worth keeping in the history
// (they exist and do not lie in a temporary or cache folder), whether one is a picture, and its
// picture as PNG bytes.
//
// Main thread for the clipboard reads; the calls on a copy's content already read, isImageFile and
// pngData may run on a background task (the codec is thread-safe; a file is only opened when it is
// a regular one, so a named pipe or a device never holds the caller). Nothing here fails as a whole: unusable
// entries are left out.

#include "base/Paths.h"
#include "platform/ImageCodec.h"
#include "platform/Pasteboard.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenlit::ClipboardPasteboardFiles {

// The older file list, offered as a type of its own beside the per-item file URLs.
inline constexpr std::string_view legacyFilenames = platform::pasteboardType::legacyFilenames;

// A copied file: its URL exactly as the clipboard gave it, and the local path the URL names.
struct FileURL {
    std::string url;
    std::string path;
    bool operator==(const FileURL&) const = default;
};

// Folders whose files are temporary: "/tmp", "/var/tmp", "/dev/shm", $XDG_RUNTIME_DIR and the cache
// folder, in this order.
std::vector<std::string> volatileRoots(const XdgDirs& dirs);
// The same for the current environment.
std::vector<std::string> volatileRoots();

// The absolute local path of a "file:" URL (host empty or "localhost", percent-escapes decoded);
// absent for any other URL, an ill-formed escape or an escaped NUL.
std::optional<std::string> filePath(std::string_view url);
// The "file://" URL of an absolute path, with every byte outside the unreserved set and "/"
// percent-encoded.
std::string fileURL(std::string_view path);

// Whether the file exists and, with symbolic links resolved, lies outside every root.
bool isDurableFile(const std::string& path, const std::vector<std::string>& roots);

// The durable files of the copy, in order, at most `limit`. The file URLs of the items win; the
// legacy list is read only when no item carries a file URL.
std::vector<FileURL> durableFileURLs(platform::Pasteboard& pasteboard, std::size_t limit,
                                     const std::vector<std::string>& roots = volatileRoots());
std::vector<FileURL> durableFileURLs(const platform::PasteboardContent& content, std::size_t limit,
                                     const std::vector<std::string>& roots = volatileRoots());
// The first of the durable files (up to 32) that is a picture.
std::optional<FileURL> firstDurableImageFileURL(platform::Pasteboard& pasteboard, platform::ImageCodec& codec,
                                                const std::vector<std::string>& roots = volatileRoots());

std::optional<FileURL> firstDurableImageFileURL(const platform::PasteboardContent& content,
                                                platform::ImageCodec& codec,
                                                const std::vector<std::string>& roots = volatileRoots());

bool isImageFile(const FileURL& url, platform::ImageCodec& codec);
// The file's first picture as PNG bytes (a ".png" file's own bytes); absent when it cannot be read.
std::optional<std::string> pngData(const FileURL& url, platform::ImageCodec& codec);

}  // namespace quenlit::ClipboardPasteboardFiles
