#pragma once

// The clipboard history as the rest of the program sees it: the owner of its four parts, which it
// keeps in step.
//  - ClipboardHistory: the list of entries in memory, with its limits;
//  - HistoryFile: the JSON file the list is loaded from and saved to, with the debounced save;
//  - ClipboardCapture: following the clipboard (its announced changes, a poll as fallback), the
//    skip rules, and writing entries back;
//  - LegacyImport: the one-time import of an earlier release's encrypted history.
// Image entries keep their PNG files in a folder beside the history file.
//
// Main thread only. Background work comes back to the main thread through the scheduler and does
// nothing once the store is gone.

#include "base/Signal.h"
#include "base/WeakSelf.h"
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

class ClipboardStore {
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
    ~ClipboardStore();
    ClipboardStore(const ClipboardStore&) = delete;
    ClipboardStore& operator=(const ClipboardStore&) = delete;

    // ---- The history (index 0 newest).
    const std::vector<ClipboardItem>& items() const { return history_.items(); }
    std::vector<ClipboardItem> items(std::string_view matching) const { return history_.items(matching); }
    // Emitted after every change of items().
    Signal<> itemsChanged;

    // Adds a text at the top, or moves an equal text there. False when the text is too long.
    bool insertText(std::string text, bool persist);
    // Writes the PNG into the images folder and adds an image item at the top; a picture already in
    // the history (the same bytes) is moved to the top instead, and returned.
    std::optional<ClipboardItem> insertImage(std::string_view pngData, bool persist);
    // Removes the item with this id (and its owned image file) and saves at once.
    void remove(const ClipboardItem& item);
    // Removes everything (and the owned image files) and saves at once.
    void removeAll();
    // Moves a used item to the top. Not saved by itself.
    void promote(const ClipboardItem& item);
    std::optional<std::filesystem::path> imageURL(const ClipboardItem& item) const {
        return history_.imageURL(item);
    }
    std::size_t imageCount() const { return history_.imageCount(); }
    bool ownsImage(std::string_view path) const { return history_.ownsImage(path); }

    // ---- Capture from the clipboard and writing back.
    // Loads the history, takes the clipboard's current content, and follows its changes from then
    // on. Idempotent.
    void startMonitoring();
    // Stops polling and writes the history once more.
    void stopMonitoring();
    void ingestCurrentPasteboardIfNeeded() { capture_.ingestCurrentPasteboardIfNeeded(); }
    // Puts the item on the clipboard, marked as the program's own, and promotes it.
    void copyToPasteboard(const ClipboardItem& item);
    bool isMonitoring() const { return capture_.isRunning(); }

    // ---- Persistence.
    // Loads the history file once per process (or migrates the legacy encrypted history).
    void loadFromDiskIfNeeded();
    // See HistoryFile::saveNow.
    bool persistNow() { return file_.saveNow(); }
    // Blocks until every history handed to the writer is on disk (the destructor does this too).
    void flushPendingWrites() { file_.flush(); }
    // Writes the history file persistDebounce after the last of a burst of calls.
    void schedulePersist() { file_.scheduleSave(); }

    // ---- Settings in force.
    int maxItems() const { return history_.maxItems(); }
    int maxImages() const { return history_.maxImages(); }
    std::size_t maxTextLength() const { return history_.maxTextLength(); }
    platform::Seconds pollInterval() const { return capture_.pollInterval(); }
    platform::Seconds persistDebounce() const { return file_.debounce(); }
    const std::optional<std::filesystem::path>& storagePath() const { return file_.path(); }
    const std::optional<std::filesystem::path>& imagesDirectory() const { return history_.imagesDirectory(); }
    std::filesystem::path defaultStoragePath() const { return appDataDir_ / historyFileName; }
    std::filesystem::path legacyPath() const { return appDataDir_ / LegacyImport::fileName; }
    long lastChangeCount() const { return capture_.lastChangeCount(); }
    bool didLoadFromDisk() const { return didLoadFromDisk_; }
    bool hasPendingPersist() const { return file_.hasScheduledSave(); }

    // Held weakly by users that may outlive the store; empty once the store is destroyed.
    std::weak_ptr<ClipboardStore*> liveness() const { return self_.weak(); }

  private:
    void changed(bool persist);
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
