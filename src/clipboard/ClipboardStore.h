#pragma once

// The clipboard history as the rest of the program sees it: the owner of its four parts, which it
// keeps in step.
//  - ClipboardHistory: the list of entries in memory, with its limits;
//  - HistoryFile: the JSON file the list is loaded from and saved to, with the debounced save;
//  - ClipboardCapture: following the clipboard (its announced changes, a poll as fallback), the
//    skip rules, and writing entries back; it hands what it reads to the store as its CaptureSink;
//  - LegacyImport: the one-time import of an earlier release's encrypted history.
// Image entries keep their PNG files in a folder beside the history file.
//
// Main thread only. Background work comes back to the main thread through the scheduler and does
// nothing once the store is gone.

#include "base/Signal.h"
#include "base/WeakSelf.h"
#include "clipboard/CaptureSink.h"
#include "clipboard/ClipboardCapture.h"
#include "clipboard/ClipboardHistory.h"
#include "clipboard/ClipboardItem.h"
#include "clipboard/HistoryFile.h"
#include "clipboard/LegacyImport.h"
#include "platform/AtomicFile.h"
#include "platform/Cipher.h"
#include "platform/ImageCodec.h"
#include "platform/Pasteboard.h"
#include "platform/Scheduler.h"
#include "platform/SecretStore.h"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quenlit {

class ClipboardStore final : public CaptureSink {
  public:
    // The platform services the store uses; all must outlive it.
    struct Services {
        platform::Scheduler& scheduler;
        platform::Pasteboard& pasteboard;
        platform::ImageCodec& imageCodec;
        platform::SecretStore& secretStore;
        platform::AtomicFile& files;
        // Opens an earlier release's encrypted history; none: such a history is not imported.
        platform::Cipher* cipher = nullptr;
    };

    struct Options {
        int maxItems = 200;
        int maxImages = 30;
        std::size_t maxTextLength = 100000;  // in user-perceived characters
        platform::Seconds pollInterval{2.0};
        platform::Seconds persistDebounce{0.5};
        // The program's data folder, where the default history file and the legacy encrypted
        // history live. Default: XdgDirs::current().appDataDir().
        std::optional<std::filesystem::path> appDataDir;
        // Default: appDataDir / "clipboard-history.json".
        std::optional<std::filesystem::path> storagePath;
        // Default: the folder "images" beside the history file.
        std::optional<std::filesystem::path> imagesDirectory;
        // False keeps the history in memory only: no history file, and no images folder unless
        // one is given explicitly.
        bool persistToDisk = true;
        // The wall clock that stamps new items. Default: the system clock.
        std::function<std::chrono::system_clock::time_point()> wallClock;
    };

    static constexpr std::string_view historyFileName = "clipboard-history.json";

    ClipboardStore(Services services, Options options);
    ~ClipboardStore() override;
    ClipboardStore(const ClipboardStore&) = delete;
    ClipboardStore& operator=(const ClipboardStore&) = delete;

    // ---- The history (index 0 newest).
    const std::vector<ClipboardItem>& items() const { return history_.items(); }
    std::vector<ClipboardItem> items(std::string_view matching) const { return history_.items(matching); }
    // Emitted after every change of items().
    Signal<> itemsChanged;

    // ---- What the capture hands over (see CaptureSink); each change is saved persistDebounce
    // after the last of a burst.
    // Adds a text at the top, or moves an equal text there. None when the text is too long.
    std::optional<ClipboardItem> capturedText(std::string text) override;
    // Writes the PNG into the images folder and adds an image item at the top; a picture already in
    // the history (the same bytes) is moved to the top instead, and returned.
    std::optional<ClipboardItem> capturedImage(std::string_view png) override;
    std::optional<ClipboardItem> newest() const override;
    std::optional<std::filesystem::path> imageURL(const ClipboardItem& item) const override {
        return history_.imageURL(item);
    }

    // ---- What the user does with the entries.
    // Removes the item with this id (and its owned image file) and saves at once.
    void remove(const ClipboardItem& item);
    // Removes everything (and the owned image files) and saves at once.
    void removeAll();
    // Puts the item on the clipboard, marked as the program's own, and moves it to the top (not
    // saved by itself).
    void copyToPasteboard(const ClipboardItem& item);

    // ---- Running.
    // Loads the history file once per process (or migrates the legacy encrypted history), takes
    // the clipboard's current content, and follows its changes from then on. Idempotent.
    void startMonitoring();
    // Stops following the clipboard and writes the history once more if it changed, waiting until
    // it is on disk.
    void stopMonitoring();

    // Held weakly by users that may outlive the store; empty once the store is destroyed.
    std::weak_ptr<ClipboardStore*> liveness() const { return self_.weak(); }

    // ---- The parts, as they stand (their limits, paths and pending save).
    const ClipboardHistory& history() const { return history_; }
    const HistoryFile& file() const { return file_; }

  private:
    void changed();
    void loadFromDiskIfNeeded();
    // The image item whose file holds exactly these bytes.
    std::optional<ClipboardItem> sameImage(std::string_view pngData);

    platform::Scheduler& scheduler_;
    platform::AtomicFile& files_;
    std::filesystem::path appDataDir_;
    bool didLoadFromDisk_ = false;
    // Hashes of image files already read, by path: a file is read in full only when its size and
    // hash match a new picture's, to confirm the match byte for byte.
    std::unordered_map<std::string, std::size_t> imageHashes_;

    // Declared in the order they depend on each other: the file saves the history and finishes the
    // import, the capture feeds the store.
    ClipboardHistory history_;
    LegacyImport legacy_;
    HistoryFile file_;
    ClipboardCapture capture_;
    WeakSelf<ClipboardStore> self_{this};
};

}  // namespace quenlit
