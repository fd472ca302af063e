#pragma once

// The system clipboard (on X11 the CLIPBOARD selection). Types are MIME types or target names;
// the constants below name the ones the program reads and writes.
//
// Main thread only.

#include "base/Signal.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenlit::platform {

namespace pasteboardType {
inline constexpr std::string_view string = "text/plain;charset=utf-8";
inline constexpr std::string_view png = "image/png";
inline constexpr std::string_view tiff = "image/tiff";
// One "file://" URL per item.
inline constexpr std::string_view fileURL = "text/uri-list";
// The older way file managers copy files: a list of paths (GNOME's "copy\nfile:///...").
inline constexpr std::string_view legacyFilenames = "x-special/gnome-copied-files";
}  // namespace pasteboardType

// One item of a multi-item copy: its data by type.
struct PasteboardItem {
    std::vector<std::pair<std::string, std::string>> data;  // (type, bytes), in the writer's order

    std::optional<std::string> dataFor(std::string_view type) const {
        for (const auto& [t, bytes] : data) {
            if (t == type) return bytes;
        }
        return std::nullopt;
    }
};

// What the desktop says about a change of the clipboard's owner.
enum class PasteboardChange {
    newOwner,   // a program (this one included) put new content on the clipboard
    cleared,    // a program emptied it on purpose (a clear, a password manager's timed clear)
    ownerGone,  // the owner exited or closed its window and took the content with it
};

class Pasteboard {
  public:
    virtual ~Pasteboard() = default;

    // Whether `changed` is emitted. Without it, changes are only found by reading changeCount().
    virtual bool announcesChanges() const { return false; }
    // Emitted on the main thread as soon as the desktop reports a change, while the new owner is
    // still there to be read; never from inside another call of this interface.
    Signal<PasteboardChange> changed;

    // Raised on every change of the clipboard's owner or content, our own writes included.
    virtual long changeCount() = 0;
    virtual std::vector<std::string> types() = 0;
    virtual std::vector<PasteboardItem> items() = 0;
    virtual std::optional<std::string> data(std::string_view type) = 0;
    // The text of a type, when it is valid UTF-8.
    virtual std::optional<std::string> string(std::string_view type) = 0;
    // The paths of the legacy file list, when the clipboard carries one.
    virtual std::optional<std::vector<std::string>> legacyFilenames() = 0;

    // Writing: clear, declare exactly the types to offer, then set each one. Returns the change
    // count after clearing.
    virtual long clearContents() = 0;
    virtual void declareTypes(const std::vector<std::string>& types) = 0;
    virtual bool setData(std::string_view data, std::string_view type) = 0;
    virtual bool setString(std::string_view text, std::string_view type) = 0;
};

}  // namespace quenlit::platform
