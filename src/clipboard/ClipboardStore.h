#pragma once

// The clipboard history: captured texts and images, newest first, at most maxItems of them and at
// most maxImages images. The store captures what is copied (by polling the clipboard), writes an
// entry back to the clipboard for pasting, keeps the history in a JSON file with the PNG files of
// its images in a folder beside it, and migrates the encrypted history of an earlier release once.
//
// Main thread only. Background work (image conversion, the poll's hand-over) comes back to the
// main thread through the scheduler and checks liveness() before touching the store.

#include "base/Signal.h"
#include "clipboard/ClipboardItem.h"
#include "platform/AtomicFile.h"
#include "platform/ImageCodec.h"
#include "platform/Pasteboard.h"
#include "platform/Scheduler.h"
#include "platform/SecretStore.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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

    // The program's own marker, written next to everything paste-back puts on the clipboard.
    static constexpr std::string_view internalType = "com.quenlit.internal";
    // Types by which password managers and similar writers ask not to be recorded.
    static constexpr std::array<std::string_view, 4> sensitiveTypes = {
        "org.nspasteboard.ConcealedType",
        "org.nspasteboard.TransientType",
        "com.apple.is-sensitive",
        "x-kde-passwordManagerHint",
    };

    static constexpr std::string_view historyFileName = "clipboard-history.json";
    static constexpr std::string_view legacyFileName = "clipboard-history.enc";
    static constexpr std::string_view legacyKeyService = "com.quenlit.app.clipboard";
    static constexpr std::string_view legacyKeyAccount = "history-aes-key";

    ClipboardStore(Services services, Options options);
    ~ClipboardStore();
    ClipboardStore(const ClipboardStore&) = delete;
    ClipboardStore& operator=(const ClipboardStore&) = delete;

    // ---- The history (index 0 newest).
    const std::vector<ClipboardItem>& items() const { return items_; }
    // Emitted after every change of items().
    Signal<> itemsChanged;

    // All items for an empty (after trimming) query; otherwise, in order, the texts containing
    // the lower-cased query and, when "image" contains it, every image.
    std::vector<ClipboardItem> items(std::string_view matching) const { return filter(items_, matching); }
    // The same filter over any list of items.
    static std::vector<ClipboardItem> filter(const std::vector<ClipboardItem>& items, std::string_view query);

    // Adds a text at the top, or moves an equal text there. False when the text is too long.
    bool insertText(std::string text, bool persist);
    // Writes the PNG into the images folder and adds an image item at the top.
    std::optional<ClipboardItem> insertImage(std::string_view pngData, bool persist);
    // Removes the item with this id (and its owned image file) and saves at once.
    void remove(const ClipboardItem& item);
    // Removes everything (and the owned image files) and saves at once.
    void removeAll();
    // Moves a used item to the top; a text whose id is gone is found by its text. Not saved by
    // itself.
    void promote(const ClipboardItem& item);
    // The image file of an image item, when it exists.
    std::optional<std::filesystem::path> imageURL(const ClipboardItem& item) const;
    std::size_t imageCount() const;
    // Whether the file lies inside the images folder, and so may be deleted by the store.
    bool ownsImage(std::string_view path) const;

    // ---- Capture from the clipboard and writing back.
    // Loads the history, takes the clipboard's current content, and polls every pollInterval.
    // Idempotent.
    void startMonitoring();
    // Stops polling and writes the history once more.
    void stopMonitoring();
    void ingestCurrentPasteboardIfNeeded();
    // Puts the item on the clipboard, marked as the program's own, and promotes it.
    void copyToPasteboard(const ClipboardItem& item);
    bool isMonitoring() const { return pollSource_.has_value(); }

    // ---- Persistence.
    // Loads the history file once per process (or migrates the legacy encrypted history).
    void loadFromDiskIfNeeded();
    // Encodes the history now and hands it to the file writer, which replaces the history file on a
    // background task; writes run one at a time, in order, and a write that has not started yet is
    // superseded by a newer one. The outcome ("persisted" or "persist failed") is logged when the
    // write ends. Returns true once the history is handed over (or when there is no history file).
    bool persistNow();
    // Blocks until every history handed to the writer is on disk (the destructor does this too).
    void flushPendingWrites();
    // Writes the history file persistDebounce after the last of a burst of calls.
    void schedulePersist();

    // Drops the oldest image items beyond maxImages; returns what was dropped, oldest last.
    static std::vector<ClipboardItem> capImages(std::vector<ClipboardItem>& items, int maxImages);

    // The legacy key: exactly 32 bytes, or none.
    static std::optional<std::string> legacyKeychainKey(platform::SecretStore& secrets);
    static void deleteLegacyKeychainKey(platform::SecretStore& secrets);

    // ---- Settings in force.
    int maxItems() const { return maxItems_; }
    int maxImages() const { return maxImages_; }
    std::size_t maxTextLength() const { return maxTextLength_; }
    platform::Seconds pollInterval() const { return pollInterval_; }
    platform::Seconds persistDebounce() const { return persistDebounce_; }
    const std::optional<std::filesystem::path>& storagePath() const { return storagePath_; }
    const std::optional<std::filesystem::path>& imagesDirectory() const { return imagesDirectory_; }
    std::filesystem::path defaultStoragePath() const { return appDataDir_ / historyFileName; }
    std::filesystem::path legacyPath() const { return appDataDir_ / legacyFileName; }
    long lastChangeCount() const { return lastChangeCount_; }
    bool didLoadFromDisk() const { return didLoadFromDisk_; }
    bool hasPendingPersist() const { return persistWorkItem_.has_value(); }

    // Held weakly by background work; empty once the store is destroyed.
    std::weak_ptr<ClipboardStore*> liveness() const { return self_; }

  private:
    // Lets the capture and paste-back code keep helpers of its own next to its methods.
    friend struct ClipboardCaptureAccess;

    void loadJSON(const std::filesystem::path& path);
    void migrateLegacyEncrypted(const std::filesystem::path& legacy, const std::filesystem::path& storage);
    void finishLegacyMigration();
    void trimToMaxItems();
    void enforceImageCap();
    void deleteOwnedImage(const ClipboardItem& item) const;
    void moveToFront(std::size_t index);
    void notifyItemsChanged() { itemsChanged.emit(); }

    platform::Scheduler& scheduler_;
    platform::Pasteboard& pasteboard_;
    platform::ImageCodec& imageCodec_;
    platform::SecretStore& secretStore_;
    platform::AtomicFile& files_;
    std::shared_ptr<ClipboardStore*> self_;

    std::vector<ClipboardItem> items_;
    int maxItems_;
    int maxImages_;
    std::size_t maxTextLength_;
    platform::Seconds pollInterval_;
    platform::Seconds persistDebounce_;
    std::filesystem::path appDataDir_;
    std::optional<std::filesystem::path> storagePath_;
    std::optional<std::filesystem::path> imagesDirectory_;
    std::filesystem::path imagesDirectoryStandard_;   // lexically normal, for ownsImage
    std::optional<platform::TaskHandle> pollSource_;  // the scheduled next poll, while monitoring
    long lastChangeCount_ = -1;
    std::optional<platform::TaskHandle> persistWorkItem_;
    bool didLoadFromDisk_ = false;

    // A history file that could not be read is moved aside before the first save replaces it.
    bool keepUnreadableHistory_ = false;
    // A legacy history was migrated into items_; its file and key are deleted once a save of it
    // has succeeded.
    struct PendingMigration {
        std::filesystem::path legacyPath;
        std::size_t itemCount;
    };
    std::optional<PendingMigration> pendingMigration_;

    // The serial file writer; shared with its background tasks, which may outlive the store.
    struct HistoryWriter;
    std::shared_ptr<HistoryWriter> writer_;
    std::function<std::chrono::system_clock::time_point()> wallClock_;

    void initWriter();
    void onWriteFinished(bool succeeded);
};

}  // namespace quenlit
