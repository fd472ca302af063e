#pragma once

// The system clipboard (on X11 the CLIPBOARD selection). Types are MIME types or target names;
// the constants below name the ones the program reads and writes.
//
// Main thread only.

#include "base/Result.h"
#include "base/Signal.h"

#include <algorithm>
#include <functional>
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

// Everything a capture looks at in one copy, read in one go.
struct PasteboardContent {
    std::vector<std::string> types;
    std::vector<PasteboardItem> items;
    std::optional<std::vector<std::string>> legacyFilenames;
    // The first offered of PNG and TIFF, with its data when the owner gave any: (type, bytes).
    std::optional<std::pair<std::string, std::string>> image;
    std::optional<std::string> text;
};

class Pasteboard;
// Reads the current copy through the calls of `pasteboard`: its types, and unless they name one of
// `stopTypes` (content the program must not record), its file URLs, legacy file list, image data and
// text.
PasteboardContent readContent(Pasteboard& pasteboard, const std::vector<std::string>& stopTypes);

// What a write offers: a type and its bytes.
struct PasteboardOffer {
    std::string type;
    std::string data;
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

    // Reads the current copy (as readContent does) and hands it to `done` on the main thread, once
    // per call and in the order of the calls; a call made while an earlier one has not started yet
    // may take its place (both would read the same copy), and then only the later `done` runs.
    // Here the copy is read at once, before this returns; desktops whose owners answer through
    // another program read it off the main thread.
    // (By value: the desktops that read elsewhere keep both for later.)
    // NOLINTBEGIN(performance-unnecessary-value-param)
    virtual void readCurrentContent(std::vector<std::string> stopTypes,
                                    std::function<void(PasteboardContent)> done) {
        done(readContent(*this, stopTypes));
    }
    // NOLINTEND(performance-unnecessary-value-param)

    // Replaces the clipboard's content by these offers, each a type and its bytes, in one step:
    // one change of owner, which every clipboard watcher on the desktop reads once.
    virtual Result<> write(const std::vector<PasteboardOffer>& offers) = 0;
};

inline PasteboardContent readContent(Pasteboard& pasteboard, const std::vector<std::string>& stopTypes) {
    PasteboardContent content;
    content.types = pasteboard.types();
    if (content.types.empty()) return content;
    const auto offered = [&content](std::string_view type) {
        return std::find(content.types.begin(), content.types.end(), type) != content.types.end();
    };
    for (const std::string& stop : stopTypes) {
        if (offered(stop)) return content;
    }
    content.items = pasteboard.items();
    content.legacyFilenames = pasteboard.legacyFilenames();
    // Only the first offered image type counts.
    for (std::string_view imageType : {pasteboardType::png, pasteboardType::tiff}) {
        if (!offered(imageType)) continue;
        if (std::optional<std::string> data = pasteboard.data(imageType))
            content.image.emplace(std::string(imageType), std::move(*data));
        break;
    }
    content.text = pasteboard.string(pasteboardType::string);
    return content;
}

}  // namespace quenlit::platform
