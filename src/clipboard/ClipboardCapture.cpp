#include "clipboard/ClipboardCapture.h"

#include "base/Log.h"
#include "base/Text.h"

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

ClipboardCapture::ClipboardCapture(Services services, CaptureSink& sink, platform::Seconds pollInterval)
    : scheduler_(services.scheduler),
      pasteboard_(services.pasteboard),
      imageCodec_(services.imageCodec),
      sink_(sink),
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
            if (readPending_) sinceRead_ = change;
            ++ownerGeneration_;
            recorded_.reset();
            ownerGoneBeforeRecorded_ = false;
            return;
        case platform::PasteboardChange::ownerGone:
            // The owner that went is the one being read: it is dealt with once its content is here.
            if (readPending_) {
                sinceRead_ = change;
                return;
            }
            if (const std::optional<Uuid> id = std::exchange(recorded_, std::nullopt)) {
                reofferIfLeftEmpty(*id);
            } else {
                // An image of this owner may still be on its way to the sink.
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
    const std::optional<ClipboardItem> newest = sink_.newest();
    if (!newest || newest->id != recorded) return;
    if (!pasteboard_.types().empty()) return;
    republishNewest();
}

// On X11 the clipboard's content lives in the program that copied it and vanishes when that
// program exits. Offering the newest entry again keeps what the user copied last pasteable.
void ClipboardCapture::republishNewest() {
    const std::optional<ClipboardItem> newest = sink_.newest();
    if (!newest) return;
    log::write("clipboard: clipboard left empty by its owner — republishing newest item");
    write(*newest);
}

bool ClipboardCapture::write(const ClipboardItem& item) {
    const std::string marker(internalType);
    if (item.kind == ClipboardItem::Kind::image) {
        const std::optional<std::filesystem::path> file = sink_.imageURL(item);
        const std::optional<std::string> png = file ? readWholeFile(*file) : std::nullopt;
        if (!png) {
            log::write("clipboard: image paste failed — missing blob");
            return false;
        }
        const Result<> written = pasteboard_.write({{std::string(platform::pasteboardType::png), *png},
                                                    {std::string(platform::pasteboardType::fileURL),
                                                     ClipboardPasteboardFiles::fileURL(file->string())},
                                                    {marker, ""}});
        if (!written) {
            log::write("clipboard: write to pasteboard failed — " + written.error().reason);
            return false;
        }
        log::write("clipboard: wrote image (" + std::to_string(png->size()) + " bytes) to pasteboard");
    } else {
        const Result<> written =
            pasteboard_.write({{std::string(platform::pasteboardType::string), item.text()}, {marker, ""}});
        if (!written) {
            log::write("clipboard: write to pasteboard failed — " + written.error().reason);
            return false;
        }
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

void ClipboardCapture::ingestCurrentPasteboardIfNeeded() {
    const long serial = ++readSerial_;
    readPending_ = true;
    sinceRead_.reset();
    std::vector<std::string> stopTypes{std::string(internalType)};
    for (std::string_view sensitive : sensitiveTypes)
        stopTypes.emplace_back(sensitive);
    pasteboard_.readCurrentContent(
        std::move(stopTypes),
        self_.bind([serial](ClipboardCapture& self, platform::PasteboardContent content) {
            self.contentRead(serial, std::move(content));
        }));
}

void ClipboardCapture::contentRead(long serial, platform::PasteboardContent content) {
    std::optional<platform::PasteboardChange> since;
    // An older read overtaken by a newer one read an owner that is gone by now.
    if (serial == readSerial_) {
        readPending_ = false;
        since = std::exchange(sinceRead_, std::nullopt);
    }
    // No owner: nothing to read, and what was recorded from the last one stays known, for when its
    // going away is announced.
    if (content.types.empty()) {
        if (since == platform::PasteboardChange::ownerGone) onChange(*since);
        return;
    }
    ++ownerGeneration_;
    recorded_.reset();
    // The owner read went away before its content came here.
    ownerGoneBeforeRecorded_ = since == platform::PasteboardChange::ownerGone;
    if (containsType(content.types, internalType)) return;
    for (std::string_view sensitive : sensitiveTypes) {
        if (containsType(content.types, sensitive)) return;
    }
    waiting_.push_back({ownerGeneration_, std::move(content)});
    // Emptied on purpose after it was read: recorded, but never offered again.
    if (since == platform::PasteboardChange::cleared) ++ownerGeneration_;
    recordWaiting();
}

void ClipboardCapture::recordWaiting() {
    while (!working_ && !waiting_.empty()) {
        Copy copy = std::move(waiting_.front());
        waiting_.pop_front();
        const platform::PasteboardContent& content = copy.content;
        const bool carriesFiles =
            std::any_of(content.items.begin(), content.items.end(), [](const platform::PasteboardItem& item) {
                return item.dataFor(platform::pasteboardType::fileURL).has_value();
            });
        const bool needsWork = carriesFiles ||
                               (content.legacyFilenames && !content.legacyFilenames->empty()) ||
                               (content.image && !content.image->second.empty());
        if (!needsWork) {
            if (content.text) recordText(copy.generation, text::trim(*content.text));
            continue;
        }
        working_ = true;
        platform::ImageCodec& codec = imageCodec_;
        scheduler_.runInBackground<Outcome>(
            [&codec, copied = std::move(copy.content)](const platform::TaskHandle&) {
                return work(copied, codec);
            },
            self_.bind([generation = copy.generation](ClipboardCapture& self, const Outcome& outcome) {
                self.working_ = false;
                self.apply(generation, outcome);
                self.recordWaiting();
            }));
    }
}

// The picture format the bytes begin with, by its signature; "TIFF" for anything else, as the
// conversion is asked to read it as that.
std::string_view ClipboardCapture::formatName(std::string_view bytes) {
    static constexpr std::pair<std::string_view, std::string_view> kSignatures[] = {
        {"\xFF\xD8\xFF", "JPEG"}, {"BM", "BMP"}, {"GIF8", "GIF"}, {"\x89PNG", "PNG"}};
    for (const auto& [signature, name] : kSignatures) {
        if (bytes.substr(0, signature.size()) == signature) return name;
    }
    if (bytes.size() >= 12 && bytes.substr(0, 4) == "RIFF" && bytes.substr(8, 4) == "WEBP") return "WebP";
    return "TIFF";
}

ClipboardCapture::Outcome ClipboardCapture::work(const platform::PasteboardContent& content,
                                                 platform::ImageCodec& codec) {
    using Kind = Outcome::Kind;
    // Pictures are looked at before they are decoded or kept: one that claims more pixels than
    // anyone copies is refused whole.
    const auto checked = [&codec](std::string png) {
        Outcome outcome{Kind::image, std::move(png), {}};
        if (auto size = codec.pictureSize(outcome.value);
            size && size->pixels() > platform::kMaxPicturePixels)
            return Outcome{Kind::imageTooLarge, {}, *size};
        return outcome;
    };

    const std::vector<ClipboardPasteboardFiles::FileURL> files =
        ClipboardPasteboardFiles::durableFileURLs(content, 32);
    for (const ClipboardPasteboardFiles::FileURL& file : files) {
        if (!ClipboardPasteboardFiles::isImageFile(file, codec)) continue;
        std::optional<std::string> png = ClipboardPasteboardFiles::pngData(file, codec);
        if (!png) return {Kind::imageFileFailed, std::filesystem::path(file.path).filename().string(), {}};
        return checked(std::move(*png));
    }
    if (!files.empty()) return {Kind::text, files.front().path, {}};

    if (content.image && !content.image->second.empty()) {
        const auto& [type, bytes] = *content.image;
        if (type != platform::pasteboardType::tiff) return checked(bytes);
        if (auto size = codec.pictureSize(bytes); size && size->pixels() > platform::kMaxPicturePixels)
            return {Kind::imageTooLarge, {}, *size};
        std::optional<std::string> png = codec.pngFromTiff(bytes);
        if (!png || png->empty()) return {Kind::tiffFailed, std::string(formatName(bytes)), {}};
        return checked(std::move(*png));
    }

    if (content.text) return {Kind::text, std::string(text::trim(*content.text)), {}};
    return {};
}

void ClipboardCapture::apply(long generation, const Outcome& outcome) {
    using Kind = Outcome::Kind;
    switch (outcome.kind) {
        case Kind::nothing:
            return;
        case Kind::text:
            recordText(generation, outcome.value);
            return;
        case Kind::image:
            if (const std::optional<ClipboardItem> item = sink_.capturedImage(outcome.value))
                recorded(generation, item->id);
            return;
        case Kind::imageFileFailed:
            log::write("clipboard: failed to read image file " + outcome.value);
            return;
        case Kind::tiffFailed:
            // The other pictures a desktop offers come the way TIFF does: the line names what it was.
            log::write("clipboard: " + outcome.value + "→PNG failed — skipped image");
            return;
        case Kind::imageTooLarge:
            log::write("clipboard: image of " + std::to_string(outcome.size.width) + "×" +
                       std::to_string(outcome.size.height) + " pixels is over " +
                       std::to_string(platform::kMaxPicturePixels / 1'000'000) + " megapixels — skipped");
            return;
    }
}

void ClipboardCapture::recordText(long generation, std::string_view text) {
    // Texts that are only whitespace are not recorded.
    if (text.empty()) return;
    if (const std::optional<ClipboardItem> item = sink_.capturedText(std::string(text)))
        recorded(generation, item->id);
}

}  // namespace quenlit
