#pragma once

// The list of clipboard entries in memory: newest first, at most maxItems of them and at most
// maxImages images. It inserts, promotes, removes and filters; it never touches the clipboard or
// the disk. An image item names a PNG file in the images folder; when an item leaves the list, the
// file it owned is handed out by takeReleasedImages() for whoever saves the list to delete once the
// file is no longer referenced on disk.
//
// Main thread only.

#include "clipboard/ClipboardItem.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenlit {

class ClipboardHistory {
  public:
    struct Limits {
        int maxItems = 200;
        int maxImages = 30;
        std::size_t maxTextLength = 100000;  // in user-perceived characters
    };
    using WallClock = std::function<std::chrono::system_clock::time_point()>;

    // Without an images folder the list holds no image of its own: every image path is foreign.
    ClipboardHistory(Limits limits, std::optional<std::filesystem::path> imagesDirectory,
                     WallClock wallClock);

    // Index 0 newest.
    const std::vector<ClipboardItem>& items() const { return items_; }

    // All items for an empty (after trimming) query; otherwise, in order, the texts containing
    // the lower-cased query and, when "image" contains it, every image. The last answer is kept
    // until the list changes: asked again for the same query (a keystroke asks more than once), it
    // is not searched again; for a query that contains the last one (the user typed on), only what
    // the last one found is searched.
    std::vector<ClipboardItem> items(std::string_view matching) const;
    // The same filter over any list of items.
    static std::vector<ClipboardItem> filter(const std::vector<ClipboardItem>& items, std::string_view query);

    // Adds a text at the top, or moves an equal text there. False (and logged) when the text is too
    // long.
    bool insertText(std::string text);
    // Adds an image item for a PNG file already written into the images folder; `pngSize` is only
    // logged.
    ClipboardItem insertImage(const std::filesystem::path& file, std::size_t pngSize);
    // Removes the item with this id; false when there is none.
    bool remove(const ClipboardItem& item);
    // Removes everything.
    void removeAll();
    // Moves a used item to the top; a text whose id is gone is found by its text. False when the
    // list did not change.
    bool promote(const ClipboardItem& item);
    // Replaces the list by a loaded one; with applyImageLimit, the oldest images beyond maxImages
    // are dropped.
    void replace(std::vector<ClipboardItem> items, bool applyImageLimit);
    // A fresh name for a PNG file in the images folder (which must be set): an upper-case random
    // UUID with ".png".
    std::filesystem::path newImageFile() const;

    // The image files of the items that left the list since the last call, for deletion once no
    // saved history references them. Only files the list owns are handed out.
    std::vector<std::filesystem::path> takeReleasedImages();

    // The image file of an image item, when it is one of the images folder's files: every other
    // path counts as missing, so a crafted history makes the program read nothing outside it.
    std::optional<std::filesystem::path> imageURL(const ClipboardItem& item) const;
    // The same for any images folder: a regular file (not a link) directly inside `folder`, which
    // must not be a link either.
    static std::optional<std::filesystem::path> imageFile(const ClipboardItem& item,
                                                          const std::filesystem::path& folder);
    std::size_t imageCount() const;
    // Whether the file lies inside the images folder, and so may be deleted by the store.
    bool ownsImage(std::string_view path) const;

    // Drops the oldest image items beyond maxImages; returns what was dropped, oldest last.
    static std::vector<ClipboardItem> capImages(std::vector<ClipboardItem>& items, int maxImages);

    // Raised by every change of the list, so a saver can tell whether what it saved is still current.
    std::uint64_t revision() const { return revision_; }

    int maxItems() const { return limits_.maxItems; }
    int maxImages() const { return limits_.maxImages; }
    std::size_t maxTextLength() const { return limits_.maxTextLength; }
    const std::optional<std::filesystem::path>& imagesDirectory() const { return imagesDirectory_; }

  private:
    void trimToMaxItems();
    void enforceImageCap();
    void release(const ClipboardItem& item);
    void moveToFront(std::size_t index);

    std::vector<ClipboardItem> items_;
    Limits limits_;
    std::optional<std::filesystem::path> imagesDirectory_;
    std::filesystem::path imagesDirectoryStandard_;  // lexically normal, for ownsImage
    WallClock wallClock_;
    std::vector<std::filesystem::path> released_;
    std::uint64_t revision_ = 0;
    // The last filtering's lowered query and what it found; dropped at every change of the list.
    struct Filtered {
        std::string query;
        std::vector<ClipboardItem> found;
    };
    mutable std::optional<Filtered> lastFiltered_;
    void changed();
};

}  // namespace quenlit
