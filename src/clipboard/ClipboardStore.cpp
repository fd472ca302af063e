#include "clipboard/ClipboardStore.h"

#include "base/Log.h"
#include "base/Paths.h"
#include "clipboard/HistoryJson.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <functional>
#include <iterator>

namespace quenlit {
namespace {

// 2.0 → "2.0", 0.25 → "0.25": the shortest form that reads back as the same number, with ".0" on
// whole numbers.
std::string secondsText(platform::Seconds seconds) {
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, seconds.count());
    if (error != std::errc()) return "?";
    std::string text(buffer, end);
    if (text.find_first_not_of("-0123456789") == std::string::npos) text += ".0";
    return text;
}

std::filesystem::path dataFolder(const ClipboardStore::Options& options) {
    return options.appDataDir ? *options.appDataDir : XdgDirs::current().appDataDir();
}

std::optional<std::filesystem::path> storageFor(const ClipboardStore::Options& options) {
    if (!options.persistToDisk) return std::nullopt;
    return options.storagePath ? *options.storagePath : dataFolder(options) / ClipboardStore::historyFileName;
}

std::optional<std::filesystem::path> imagesFor(const ClipboardStore::Options& options) {
    if (options.imagesDirectory) return options.imagesDirectory;
    if (const auto storage = storageFor(options)) return storage->parent_path() / "images";
    return std::nullopt;
}

ClipboardHistory::WallClock wallClockFor(ClipboardStore::Options& options) {
    if (options.wallClock) return std::move(options.wallClock);
    return [] { return std::chrono::system_clock::now(); };
}

std::optional<std::string> readWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

std::size_t hashOf(std::string_view bytes) {
    return std::hash<std::string_view>{}(bytes);
}

}  // namespace

ClipboardStore::ClipboardStore(Services services, Options options)
    : scheduler_(services.scheduler),
      files_(services.files),
      appDataDir_(dataFolder(options)),
      history_({options.maxItems, options.maxImages, options.maxTextLength}, imagesFor(options),
               wallClockFor(options)),
      legacy_(services.secretStore, services.files, services.cipher),
      file_(services.scheduler, services.files, history_, storageFor(options), options.persistDebounce),
      capture_({services.scheduler, services.pasteboard, services.imageCodec}, *this, options.pollInterval) {
    file_.onWriteFinished = [this](bool succeeded) {
        if (succeeded) legacy_.finish();
    };
}

ClipboardStore::~ClipboardStore() {
    self_.reset();
}

void ClipboardStore::changed() {
    file_.releaseImages();
    itemsChanged.emit();
    file_.scheduleSave();
}

std::optional<ClipboardItem> ClipboardStore::capturedText(std::string text) {
    // The newest entry copied again changes nothing: a program copying the same text over and over
    // must not keep pushing the debounced save back.
    const bool alreadyNewest = !items().empty() && items().front().kind == ClipboardItem::Kind::text &&
                               items().front().text() == text;
    if (!history_.insertText(std::move(text))) return std::nullopt;
    if (!alreadyNewest) changed();
    return items().front();
}

std::optional<ClipboardItem> ClipboardStore::newest() const {
    if (items().empty()) return std::nullopt;
    return items().front();
}

std::optional<ClipboardItem> ClipboardStore::sameImage(std::string_view pngData) {
    const std::size_t hash = hashOf(pngData);
    for (const ClipboardItem& item : items()) {
        const std::optional<std::filesystem::path> file = imageURL(item);
        if (!file) continue;
        std::error_code ec;
        const std::uintmax_t size = std::filesystem::file_size(*file, ec);
        if (ec || size != pngData.size()) continue;
        std::optional<std::string> bytes;
        auto known = imageHashes_.find(file->string());
        if (known == imageHashes_.end()) {
            bytes = readWholeFile(*file);
            if (!bytes) continue;
            known = imageHashes_.emplace(file->string(), hashOf(*bytes)).first;
        }
        if (known->second != hash) continue;
        if (!bytes) bytes = readWholeFile(*file);
        if (bytes && *bytes == pngData) return item;
    }
    return std::nullopt;
}

std::optional<ClipboardItem> ClipboardStore::capturedImage(std::string_view pngData) {
    const std::optional<std::filesystem::path>& folder = history_.imagesDirectory();
    if (!folder) {
        log::write("clipboard: no images dir — skipped image capture");
        return std::nullopt;
    }
    // The same picture copied again is the entry already kept, as an equal text is.
    if (std::optional<ClipboardItem> same = sameImage(pngData)) {
        if (history_.promote(*same)) changed();
        return same;
    }
    const std::filesystem::path file = history_.newImageFile();
    Result<> written = files_.ensurePrivateDirectory(*folder, platform::AtomicFile::Links::refuse);
    if (written) {
        std::filesystem::path temp = file;
        temp += ".tmp";
        written = files_.writeAtomically(file, temp, pngData, 0600);
    }
    if (!written) {
        log::write("clipboard: image write failed — " + written.error().reason);
        return std::nullopt;
    }
    // Files leave with their items; names of files gone are forgotten here as well.
    if (imageHashes_.size() > 4 * static_cast<std::size_t>(std::max(history_.maxImages(), 1)))
        std::erase_if(imageHashes_, [](const auto& entry) { return !std::filesystem::exists(entry.first); });
    imageHashes_.emplace(file.string(), hashOf(pngData));
    ClipboardItem item = history_.insertImage(file, pngData.size());
    changed();
    return item;
}

void ClipboardStore::remove(const ClipboardItem& item) {
    if (!history_.remove(item)) return;
    file_.releaseImages();
    itemsChanged.emit();
    file_.saveNow();
    log::write("clipboard: removed item (history=" + std::to_string(items().size()) + ")");
}

void ClipboardStore::removeAll() {
    history_.removeAll();
    file_.releaseImages();
    itemsChanged.emit();
    file_.saveNow();
    log::write("clipboard: removed all items");
}

void ClipboardStore::startMonitoring() {
    if (capture_.isRunning()) return;
    loadFromDiskIfNeeded();
    capture_.start();
    const std::optional<std::filesystem::path>& storage = file_.path();
    log::write("clipboard: monitoring started (interval=" + secondsText(capture_.pollInterval()) +
               "s bg, max=" + std::to_string(history_.maxItems()) + ", images≤" +
               std::to_string(history_.maxImages()) +
               ", store=" + (storage ? storage->string() : std::string("(memory-only)")) + ")");
}

void ClipboardStore::stopMonitoring() {
    capture_.stop();
    file_.cancelScheduledSave();
    // A history unchanged since its last save is not written again: the largest takes seconds.
    if (file_.hasUnsavedChanges()) file_.saveNow();
    // Stopping happens at quit: the history is on disk before the process goes on to exit.
    file_.flush();
}

void ClipboardStore::copyToPasteboard(const ClipboardItem& item) {
    // A used entry moves to the top; that alone is not saved until something else is.
    if (capture_.write(item) && history_.promote(item)) itemsChanged.emit();
}

void ClipboardStore::loadFromDiskIfNeeded() {
    if (didLoadFromDisk_) return;
    didLoadFromDisk_ = true;
    const std::optional<std::filesystem::path>& storage = file_.path();
    if (!storage) return;
    if (file_.exists()) {
        std::optional<std::vector<ClipboardItem>> loaded = file_.read();
        if (!loaded) return;
        file_.removeOrphans(*loaded);
        const std::size_t loadedCount = loaded->size();
        history_.replace(std::move(*loaded), true);
        // What was dropped on loading is saved away at the next save; otherwise the file is current.
        if (items().size() == loadedCount) file_.noteInSync();
        file_.releaseImages();
        log::write("clipboard: loaded " + std::to_string(items().size()) + " items from disk");
        itemsChanged.emit();
        // Lower-case the texts for filtering before the first keystroke needs them.
        scheduler_.runInBackground([loaded = items()](const platform::TaskHandle&) {
            for (const auto& item : loaded)
                (void)item.searchText();
        });
        return;
    }
    std::error_code ec;
    const std::filesystem::path legacyPath = appDataDir_ / LegacyImport::fileName;
    if (storage->lexically_normal() == (appDataDir_ / historyFileName).lexically_normal() &&
        std::filesystem::exists(legacyPath, ec)) {
        const auto limit = static_cast<std::size_t>(std::max(history_.maxItems(), 0));
        std::optional<std::vector<ClipboardItem>> imported =
            legacy_.read(legacyPath, limit, historyJson::largestFileSize(limit, history_.maxTextLength()));
        if (!imported) return;
        file_.removeOrphans(*imported);
        history_.replace(std::move(*imported), false);
        file_.releaseImages();
        itemsChanged.emit();
        // The legacy file and key go only once the history is safely in the new file.
        file_.saveNow();
        return;
    }
    log::write("clipboard: no history file yet at " + storage->string());
    // Images written before a first save that never happened are nobody's. A link to a history
    // that is not there right now (on a drive not mounted yet) may well name them, though.
    if (std::filesystem::symlink_status(*storage, ec).type() == std::filesystem::file_type::not_found)
        file_.removeOrphans({});
}

}  // namespace quenlit
