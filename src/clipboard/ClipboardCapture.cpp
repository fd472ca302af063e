// Capture from the clipboard and writing entries back to it.

#include "base/Log.h"
#include "base/Text.h"
#include "clipboard/ClipboardPasteboardFiles.h"
#include "clipboard/ClipboardStore.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>

namespace quenlit {
namespace {

bool containsType(const std::vector<std::string>& types, std::string_view type) {
    return std::find(types.begin(), types.end(), type) != types.end();
}

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

std::optional<std::string> readWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

}  // namespace

struct ClipboardCaptureAccess {
    static void poll(const std::weak_ptr<ClipboardStore*>& alive) {
        const std::shared_ptr<ClipboardStore*> self = alive.lock();
        if (!self) return;
        ClipboardStore& store = **self;
        if (!store.pollSource_) return;
        // The next tick is booked before this one's work, so the period does not drift by the
        // time a capture takes.
        store.pollSource_ = store.scheduler_.postAfter(store.pollInterval_, [alive] { poll(alive); });

        const long count = store.pasteboard_.changeCount();
        if (count == store.lastChangeCount_) return;
        store.lastChangeCount_ = count;
        if (store.pasteboard_.types().empty()) {
            republishNewest(store);
            return;
        }
        store.ingestCurrentPasteboardIfNeeded();
    }

    // On X11 the clipboard's content lives in the program that copied it and vanishes when that
    // program exits. Offering the newest entry again keeps what the user copied last pasteable.
    static void republishNewest(ClipboardStore& store) {
        if (store.items_.empty()) return;
        log::write("clipboard: clipboard left empty by its owner — republishing newest item");
        const ClipboardItem newest = store.items_.front();
        write(store, newest);
    }

    // Puts the item on the clipboard with the internal marker. False when nothing was written.
    static bool write(ClipboardStore& store, const ClipboardItem& item) {
        platform::Pasteboard& pasteboard = store.pasteboard_;
        const std::string marker(ClipboardStore::internalType);
        if (item.kind == ClipboardItem::Kind::image) {
            const std::optional<std::filesystem::path> file = store.imageURL(item);
            const std::optional<std::string> png = file ? readWholeFile(*file) : std::nullopt;
            if (!png) {
                log::write("clipboard: image paste failed — missing blob");
                return false;
            }
            pasteboard.clearContents();
            pasteboard.declareTypes({std::string(platform::pasteboardType::png),
                                     std::string(platform::pasteboardType::fileURL), marker});
            pasteboard.setData(*png, platform::pasteboardType::png);
            pasteboard.setData(ClipboardPasteboardFiles::fileURL(file->string()),
                               platform::pasteboardType::fileURL);
            pasteboard.setData("", marker);
            log::write("clipboard: wrote image (" + std::to_string(png->size()) + " bytes) to pasteboard");
        } else {
            pasteboard.clearContents();
            pasteboard.declareTypes({std::string(platform::pasteboardType::string), marker});
            pasteboard.setString(item.text(), platform::pasteboardType::string);
            pasteboard.setData("", marker);
            log::write("clipboard: wrote " + std::to_string(text::graphemeCount(item.text())) +
                       " chars to pasteboard");
        }
        // Two equal reads mean no other program wrote in between, so the next poll may treat this
        // count as already handled.
        const long first = pasteboard.changeCount();
        const long second = pasteboard.changeCount();
        if (first == second) store.lastChangeCount_ = first;
        return true;
    }

    static void captureImageFile(ClipboardStore& store, const ClipboardPasteboardFiles::FileURL& file) {
        platform::ImageCodec& codec = store.imageCodec_;
        const std::string name = std::filesystem::path(file.path).filename().string();
        store.scheduler_.runInBackground<std::optional<std::string>>(
            [&codec, file](const platform::TaskHandle&) {
                return ClipboardPasteboardFiles::pngData(file, codec);
            },
            [alive = store.liveness(), name](std::optional<std::string> png) {
                const std::shared_ptr<ClipboardStore*> self = alive.lock();
                if (!self) return;
                if (!png) {
                    log::write("clipboard: failed to read image file " + name);
                    return;
                }
                (*self)->insertImage(*png, true);
            });
    }

    static void captureImageData(ClipboardStore& store, std::string data, bool isTiff) {
        platform::ImageCodec& codec = store.imageCodec_;
        store.scheduler_.runInBackground<std::optional<std::string>>(
            [&codec, bytes = std::move(data),
             isTiff](const platform::TaskHandle&) -> std::optional<std::string> {
                if (!isTiff) return bytes;
                std::optional<std::string> png = codec.pngFromTiff(bytes);
                if (png && png->empty()) return std::nullopt;
                return png;
            },
            [alive = store.liveness()](std::optional<std::string> png) {
                const std::shared_ptr<ClipboardStore*> self = alive.lock();
                if (!self) return;
                if (!png) {
                    log::write("clipboard: TIFF→PNG failed — skipped image");
                    return;
                }
                (*self)->insertImage(*png, true);
            });
    }
};

void ClipboardStore::startMonitoring() {
    if (pollSource_) return;
    loadFromDiskIfNeeded();
    lastChangeCount_ = pasteboard_.changeCount();
    ingestCurrentPasteboardIfNeeded();

    // The clipboard is read on the main thread here, so the tick runs there as well; it only
    // compares the change count unless something new was copied.
    std::weak_ptr<ClipboardStore*> alive = liveness();
    pollSource_ = scheduler_.postAfter(pollInterval_, [alive] { ClipboardCaptureAccess::poll(alive); });

    log::write("clipboard: monitoring started (interval=" + secondsText(pollInterval_) +
               "s bg, max=" + std::to_string(maxItems_) + ", images≤" + std::to_string(maxImages_) +
               ", store=" + (storagePath_ ? storagePath_->string() : std::string("(memory-only)")) + ")");
}

void ClipboardStore::stopMonitoring() {
    if (pollSource_) {
        pollSource_->cancel();
        pollSource_.reset();
    }
    if (persistWorkItem_) {
        persistWorkItem_->cancel();
        persistWorkItem_.reset();
    }
    persistNow();
    // Stopping happens at quit: the history is on disk before the process goes on to exit.
    flushPendingWrites();
}

void ClipboardStore::ingestCurrentPasteboardIfNeeded() {
    const std::vector<std::string> types = pasteboard_.types();
    if (containsType(types, internalType)) return;
    for (std::string_view sensitive : sensitiveTypes) {
        if (containsType(types, sensitive)) return;
    }

    if (auto imageFile = ClipboardPasteboardFiles::firstDurableImageFileURL(pasteboard_, imageCodec_)) {
        ClipboardCaptureAccess::captureImageFile(*this, *imageFile);
        return;
    }

    const std::vector<ClipboardPasteboardFiles::FileURL> files =
        ClipboardPasteboardFiles::durableFileURLs(pasteboard_, 32);
    if (!files.empty()) {
        insertText(files.front().path, true);
        return;
    }

    for (std::string_view imageType : {platform::pasteboardType::png, platform::pasteboardType::tiff}) {
        if (!containsType(types, imageType)) continue;
        // Only the first offered image type counts; without usable data capture goes on to the text.
        std::optional<std::string> data = pasteboard_.data(imageType);
        if (data && !data->empty()) {
            ClipboardCaptureAccess::captureImageData(*this, std::move(*data),
                                                     imageType == platform::pasteboardType::tiff);
            return;
        }
        break;
    }

    if (const std::optional<std::string> string = pasteboard_.string(platform::pasteboardType::string)) {
        const std::string_view trimmed = text::trim(*string);
        if (!trimmed.empty()) insertText(std::string(trimmed), true);
    }
}

void ClipboardStore::copyToPasteboard(const ClipboardItem& item) {
    if (!ClipboardCaptureAccess::write(*this, item)) return;
    promote(item);
}

}  // namespace quenlit
