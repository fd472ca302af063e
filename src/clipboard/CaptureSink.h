#pragma once

// Where the clipboard capture hands what it read: a copied text or a copied picture becomes an
// entry of the history. The capture also asks back for the newest entry, which it offers again
// when the clipboard's owner leaves the clipboard empty, and for an image entry's file, which
// paste-back puts on the clipboard.
//
// Main thread only. The sink outlives the capture that feeds it.

#include "clipboard/ClipboardItem.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quenlit {

class CaptureSink {
  public:
    virtual ~CaptureSink() = default;

    // A copied text, trimmed and not empty: the entry that holds it now (an equal text already kept
    // is moved to the top), or none when it is not kept (too long).
    virtual std::optional<ClipboardItem> capturedText(std::string text) = 0;
    // A copied picture as PNG bytes: the entry that holds it now (the same picture already kept is
    // moved to the top), or none when it could not be kept.
    virtual std::optional<ClipboardItem> capturedImage(std::string_view png) = 0;
    // The newest entry of the history; none when it is empty.
    virtual std::optional<ClipboardItem> newest() const = 0;
    // The file of an image entry, when it is one the history owns and it is there.
    virtual std::optional<std::filesystem::path> imageURL(const ClipboardItem& item) const = 0;
};

}  // namespace quenlit
