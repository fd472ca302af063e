#include "clipboard/ClipboardCapture.h"

#include "base/Log.h"
#include "base/Text.h"
#include "clipboard/ClipboardStore.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <utility>

namespace quenlit {
namespace {

bool containsType(const std::vector<std::string>& types, std::string_view type) {
    return std::find(types.begin(), types.end(), type) != types.end();
}

std::optional<std::string> readWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

}  // namespace

ClipboardCapture::ClipboardCapture(Services services, ClipboardStore& store, platform::Seconds pollInterval)
    : scheduler_(services.scheduler),
      pasteboard_(services.pasteboard),
      imageCodec_(services.imageCodec),
      store_(store),
      pollInterval_(pollInterval) {}

void ClipboardCapture::start() {
    if (pollSource_) return;
    changes_ = pasteboard_.changed.connect(self_.bind(&ClipboardCapture::onChange));
    lastChangeCount_ = pasteboard_.changeCount();
    ingestCurrentPasteboardIfNeeded();
    // The clipboard is read on the main thread here, so the tick runs there as well; it only
    // compares the change count unless something new was copied that no announcement brought.
    pollSource_ = scheduler_.postAfter(pollInterval_, self_.bind(&ClipboardCapture::poll));
}

void ClipboardCapture::stop() {
    if (!pollSource_) return;
    changes_.disconnect();
    pollSource_->cancel();
    pollSource_.reset();
}

void ClipboardCapture::poll() {
    if (!pollSource_) return;
    // The next tick is booked before this one's work, so the period does not drift by the time a
    // capture takes.
    pollSource_ = scheduler_.postAfter(pollInterval_, self_.bind(&ClipboardCapture::poll));

    const long count = pasteboard_.changeCount();
    if (count == lastChangeCount_) return;
    lastChangeCount_ = count;
    // An empty clipboard is not offered anything here: a count alone does not tell an owner that
    // went away from a clear the user wants kept.
    ingestCurrentPasteboardIfNeeded();
}

void ClipboardCapture::onChange(platform::PasteboardChange change) {
    switch (change) {
        case platform::PasteboardChange::newOwner: {
            // Several announcements handled in one go share one read of the current owner; a count
            // already handled was read by the poll or for an earlier announcement.
            const long count = pasteboard_.changeCount();
            if (count == lastChangeCount_) return;
            lastChangeCount_ = count;
            ingestCurrentPasteboardIfNeeded();
            return;
        }
        case platform::PasteboardChange::cleared:
            ++ownerGeneration_;
            recorded_.reset();
            ownerGoneBeforeRecorded_ = false;
            return;
        case platform::PasteboardChange::ownerGone:
            if (const std::optional<Uuid> id = std::exchange(recorded_, std::nullopt)) {
                reofferIfLeftEmpty(*id);
            } else {
                // An image of this owner may still be on its way to the store.
                ownerGoneBeforeRecorded_ = true;
            }
            return;
    }
}

void ClipboardCapture::recorded(long generation, const Uuid& id) {
    if (generation != ownerGeneration_) return;
    if (std::exchange(ownerGoneBeforeRecorded_, false)) {
        reofferIfLeftEmpty(id);
        return;
    }
    recorded_ = id;
}

void ClipboardCapture::reofferIfLeftEmpty(const Uuid& recorded) {
    if (store_.items().empty() || store_.items().front().id != recorded) return;
    if (!pasteboard_.types().empty()) return;
    republishNewest();
}

// On X11 the clipboard's content lives in the program that copied it and vanishes when that
// program exits. Offering the newest entry again keeps what the user copied last pasteable.
void ClipboardCapture::republishNewest() {
    if (store_.items().empty()) return;
    log::write("clipboard: clipboard left empty by its owner — republishing newest item");
    const ClipboardItem newest = store_.items().front();
    write(newest);
}

bool ClipboardCapture::write(const ClipboardItem& item) {
    const std::string marker(internalType);
    if (item.kind == ClipboardItem::Kind::image) {
        const std::optional<std::filesystem::path> file = store_.imageURL(item);
        const std::optional<std::string> png = file ? readWholeFile(*file) : std::nullopt;
        if (!png) {
            log::write("clipboard: image paste failed — missing blob");
            return false;
        }
        pasteboard_.clearContents();
        pasteboard_.declareTypes({std::string(platform::pasteboardType::png),
                                  std::string(platform::pasteboardType::fileURL), marker});
        pasteboard_.setData(*png, platform::pasteboardType::png);
        pasteboard_.setData(ClipboardPasteboardFiles::fileURL(file->string()),
                            platform::pasteboardType::fileURL);
        pasteboard_.setData("", marker);
        log::write("clipboard: wrote image (" + std::to_string(png->size()) + " bytes) to pasteboard");
    } else {
        pasteboard_.clearContents();
        pasteboard_.declareTypes({std::string(platform::pasteboardType::string), marker});
        pasteboard_.setString(item.text(), platform::pasteboardType::string);
        pasteboard_.setData("", marker);
        log::write("clipboard: wrote " + std::to_string(text::graphemeCount(item.text())) +
                   " chars to pasteboard");
    }
    // The clipboard is ours now: nothing recorded from an earlier owner is offered again.
    ++ownerGeneration_;
    recorded_.reset();
    ownerGoneBeforeRecorded_ = false;
    // Two equal reads mean no other program wrote in between, so the next poll may treat this count
    // as already handled.
    const long first = pasteboard_.changeCount();
    const long second = pasteboard_.changeCount();
    if (first == second) lastChangeCount_ = first;
    return true;
}

void ClipboardCapture::captureImageFile(const ClipboardPasteboardFiles::FileURL& file) {
    platform::ImageCodec& codec = imageCodec_;
    const std::string name = std::filesystem::path(file.path).filename().string();
    scheduler_.runInBackground<std::optional<std::string>>(
        [&codec, file](const platform::TaskHandle&) {
            return ClipboardPasteboardFiles::pngData(file, codec);
        },
        self_.bind(
            [name, generation = ownerGeneration_](ClipboardCapture& self, std::optional<std::string> png) {
                if (!png) {
                    log::write("clipboard: failed to read image file " + name);
                    return;
                }
                if (auto item = self.store_.insertImage(*png, true)) self.recorded(generation, item->id);
            }));
}

void ClipboardCapture::captureImageData(std::string data, bool isTiff) {
    platform::ImageCodec& codec = imageCodec_;
    scheduler_.runInBackground<std::optional<std::string>>(
        [&codec, bytes = std::move(data), isTiff](const platform::TaskHandle&) -> std::optional<std::string> {
            if (!isTiff) return bytes;
            std::optional<std::string> png = codec.pngFromTiff(bytes);
            if (png && png->empty()) return std::nullopt;
            return png;
        },
        self_.bind([generation = ownerGeneration_](ClipboardCapture& self, std::optional<std::string> png) {
            if (!png) {
                log::write("clipboard: TIFF→PNG failed — skipped image");
                return;
            }
            if (auto item = self.store_.insertImage(*png, true)) self.recorded(generation, item->id);
        }));
}

void ClipboardCapture::ingestCurrentPasteboardIfNeeded() {
    const std::vector<std::string> types = pasteboard_.types();
    // No owner: nothing to read, and what was recorded from the last one stays known, for when its
    // going away is announced.
    if (types.empty()) return;
    ++ownerGeneration_;
    recorded_.reset();
    ownerGoneBeforeRecorded_ = false;
    if (containsType(types, internalType)) return;
    for (std::string_view sensitive : sensitiveTypes) {
        if (containsType(types, sensitive)) return;
    }

    if (auto imageFile = ClipboardPasteboardFiles::firstDurableImageFileURL(pasteboard_, imageCodec_)) {
        captureImageFile(*imageFile);
        return;
    }

    const std::vector<ClipboardPasteboardFiles::FileURL> files =
        ClipboardPasteboardFiles::durableFileURLs(pasteboard_, 32);
    if (!files.empty()) {
        if (store_.insertText(files.front().path, true)) recorded_ = store_.items().front().id;
        return;
    }

    for (std::string_view imageType : {platform::pasteboardType::png, platform::pasteboardType::tiff}) {
        if (!containsType(types, imageType)) continue;
        // Only the first offered image type counts; without usable data capture goes on to the text.
        std::optional<std::string> data = pasteboard_.data(imageType);
        if (data && !data->empty()) {
            captureImageData(std::move(*data), imageType == platform::pasteboardType::tiff);
            return;
        }
        break;
    }

    if (const std::optional<std::string> string = pasteboard_.string(platform::pasteboardType::string)) {
        const std::string_view trimmed = text::trim(*string);
        if (!trimmed.empty() && store_.insertText(std::string(trimmed), true))
            recorded_ = store_.items().front().id;
    }
}

}  // namespace quenlit
