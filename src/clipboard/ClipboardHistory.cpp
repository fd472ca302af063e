#include "clipboard/ClipboardHistory.h"

#include "base/Log.h"
#include "base/Text.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <functional>
#include <random>
#include <utility>

namespace quenlit {
namespace {

// Version 4: random, from the operating system's entropy source through random_device.
Uuid randomUuid() {
    static thread_local std::random_device device;
    Uuid uuid;
    for (std::size_t i = 0; i < uuid.bytes.size(); i += 4) {
        const auto word = static_cast<std::uint32_t>(device());
        for (std::size_t j = 0; j < 4; ++j)
            uuid.bytes[i + j] = static_cast<std::uint8_t>(word >> (8 * j));
    }
    uuid.bytes[6] = static_cast<std::uint8_t>((uuid.bytes[6] & 0x0F) | 0x40);
    uuid.bytes[8] = static_cast<std::uint8_t>((uuid.bytes[8] & 0x3F) | 0x80);
    return uuid;
}

bool isImageItem(const ClipboardItem& item) {
    return item.kind == ClipboardItem::Kind::image;
}

// A substring search over texts of up to 100,000 characters, repeated for 200 texts on every
// keystroke. A query with a byte that a text lacks is rejected from the text's byte counts at
// once. Otherwise the two bytes of the query that are rarest in the text are looked for together,
// sixteen start positions at a time, and only where both sit at the right distance is the whole
// query compared; so even a query of common letters ("eeee") costs a fraction of a millisecond per
// megabyte.
//
// A text not lowered yet (a keystroke straight after loading, before the background pass) is
// searched as it is, A-Z read as a-z, without lowering it: where the query is found so, lowering
// keeps it (every other character of the query is one that lowering leaves alone). Where it is not
// found, lowering cannot bring it in unless the text has a character whose lowering yields one of
// the query's (the Kelvin sign for "k"); only such a text is lowered on the spot.
class Needle {
  public:
    explicit Needle(std::string bytes) : bytes_(std::move(bytes)), sources_(text::lowercaseSources(bytes_)) {}

    bool foundIn(const ClipboardItem& item) const {
        if (!item.hasSearchText()) {
            const std::string& text = item.text();
            if (text.size() >= bytes_.size() && search(text, 0, bytes_.size() - 1, true)) return true;
            if (sources_ && std::none_of(sources_->begin(), sources_->end(), [&](const std::string& source) {
                    return text.find(source) != std::string::npos;
                }))
                return false;
        }
        const ClipboardItem::SearchText searched = item.searchText();
        const std::string& haystack = searched.bytes;
        if (haystack.size() < bytes_.size()) return false;
        const auto& counts = item.loweredByteCounts();
        auto countAt = [&](std::size_t i) { return counts[static_cast<unsigned char>(bytes_[i])]; };
        std::size_t a = 0;
        for (std::size_t i = 0; i < bytes_.size(); ++i) {
            if (countAt(i) == 0) return false;
            if (countAt(i) < countAt(a)) a = i;
        }
        std::size_t b = a == 0 ? 1 : 0;
        if (bytes_.size() == 1) {
            if (!searched.foldAscii)
                return std::memchr(haystack.data(), bytes_[0], haystack.size()) != nullptr;
            b = 0;
        } else {
            for (std::size_t i = 0; i < bytes_.size(); ++i) {
                if (i != a && countAt(i) < countAt(b)) b = i;
            }
        }
        return search(haystack, std::min(a, b), std::max(a, b), searched.foldAscii);
    }

  private:
    static bool isLowerLetter(char c) { return c >= 'a' && c <= 'z'; }
    // With folding, a text byte matches a query letter a-z in either case; every other byte only
    // itself ("@" is not "`", "[" is not "{").
    bool matchesAt(const char* text, std::size_t i, bool fold) const {
        const char n = bytes_[i];
        return text[i] == n || (fold && isLowerLetter(n) && (text[i] | 0x20) == n);
    }
    bool matches(const char* text, bool fold) const {
        if (!fold) return std::memcmp(text, bytes_.data(), bytes_.size()) == 0;
        for (std::size_t i = 0; i < bytes_.size(); ++i) {
            if (!matchesAt(text, i, true)) return false;
        }
        return true;
    }

    // Start positions where bytes a and b of the query match, checked in full.
    bool search(const std::string& haystack, std::size_t a, std::size_t b, bool fold) const {
        const char* const text = haystack.data();
        const std::size_t starts = haystack.size() - bytes_.size() + 1;
        std::size_t pos = 0;
#if defined(__SSE2__)
        const __m128i byteA = _mm_set1_epi8(bytes_[a]);
        const __m128i byteB = _mm_set1_epi8(bytes_[b]);
        // Setting bit 5 turns A-Z into a-z; it is set only where the query has a letter there.
        const __m128i foldA = _mm_set1_epi8(fold && isLowerLetter(bytes_[a]) ? 0x20 : 0);
        const __m128i foldB = _mm_set1_epi8(fold && isLowerLetter(bytes_[b]) ? 0x20 : 0);
        for (; pos + 16 <= starts; pos += 16) {
            const __m128i atA =
                _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + pos + a)), foldA);
            const __m128i atB =
                _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + pos + b)), foldB);
            auto mask = static_cast<unsigned>(
                _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(atA, byteA), _mm_cmpeq_epi8(atB, byteB))));
            while (mask != 0) {
                const auto bit = static_cast<std::size_t>(__builtin_ctz(mask));
                if (matches(text + pos + bit, fold)) return true;
                mask &= mask - 1;
            }
        }
#endif
        for (; pos < starts; ++pos) {
            if (matchesAt(text + pos, a, fold) && matchesAt(text + pos, b, fold) &&
                matches(text + pos, fold)) {
                return true;
            }
        }
        return false;
    }

    std::string bytes_;
    std::optional<std::vector<std::string>> sources_;
};

std::vector<ClipboardItem> filterLowered(const std::vector<ClipboardItem>& items, const std::string& query) {
    const bool imagesMatch = std::string_view("image").find(query) != std::string_view::npos;
    const Needle needle(query);
    std::vector<ClipboardItem> result;
    for (const auto& item : items) {
        if (isImageItem(item) ? imagesMatch : needle.foundIn(item)) result.push_back(item);
    }
    return result;
}

}  // namespace

ClipboardHistory::ClipboardHistory(Limits limits, std::optional<std::filesystem::path> imagesDirectory,
                                   WallClock wallClock)
    : limits_(limits), imagesDirectory_(std::move(imagesDirectory)), wallClock_(std::move(wallClock)) {
    if (imagesDirectory_) {
        imagesDirectoryStandard_ = imagesDirectory_->lexically_normal();
        // "images/" and "images" name the same folder; ownership compares against "images/".
        if (!imagesDirectoryStandard_.has_filename())
            imagesDirectoryStandard_ = imagesDirectoryStandard_.parent_path();
    }
}

std::vector<ClipboardItem> ClipboardHistory::filter(const std::vector<ClipboardItem>& items,
                                                    std::string_view matching) {
    const std::string query = text::lowercase(text::trim(matching));
    if (query.empty()) return items;
    return filterLowered(items, query);
}

std::vector<ClipboardItem> ClipboardHistory::items(std::string_view matching) const {
    std::string query = text::lowercase(text::trim(matching));
    if (query.empty()) return items_;
    if (lastFiltered_ && lastFiltered_->query == query) return lastFiltered_->found;
    // What contains the longer query contains the shorter one: only the last matches can match.
    const bool narrows = lastFiltered_ && query.find(lastFiltered_->query) != std::string::npos;
    std::vector<ClipboardItem> found = filterLowered(narrows ? lastFiltered_->found : items_, query);
    lastFiltered_ = Filtered{std::move(query), found};
    return found;
}

void ClipboardHistory::changed() {
    ++revision_;
    lastFiltered_.reset();
}

bool ClipboardHistory::insertText(std::string text) {
    const std::size_t length = text::graphemeCount(text);
    if (length > limits_.maxTextLength) {
        log::write("clipboard: skipped oversized item len=" + std::to_string(length) +
                   " (max=" + std::to_string(limits_.maxTextLength) + ")");
        return false;
    }
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (!isImageItem(items_[i]) && items_[i].text() == text) {
            if (i != 0) changed();
            moveToFront(i);
            return true;
        }
    }
    items_.insert(items_.begin(), ClipboardItem::makeText(randomUuid(), std::move(text), wallClock_()));
    changed();
    trimToMaxItems();
    log::write("clipboard: captured text len=" + std::to_string(length) +
               " history=" + std::to_string(items_.size()));
    return true;
}

ClipboardItem ClipboardHistory::insertImage(const std::filesystem::path& file, std::size_t pngSize) {
    ClipboardItem item = ClipboardItem::makeImage(randomUuid(), file.string(), wallClock_());
    items_.insert(items_.begin(), item);
    changed();
    enforceImageCap();
    trimToMaxItems();
    log::write("clipboard: captured image (" + std::to_string(pngSize) + " bytes) history=" +
               std::to_string(items_.size()) + " images=" + std::to_string(imageCount()));
    return item;
}

bool ClipboardHistory::remove(const ClipboardItem& item) {
    auto it =
        std::find_if(items_.begin(), items_.end(), [&](const ClipboardItem& i) { return i.id == item.id; });
    if (it == items_.end()) return false;
    ClipboardItem removed = std::move(*it);
    items_.erase(it);
    changed();
    release(removed);
    return true;
}

void ClipboardHistory::removeAll() {
    std::vector<ClipboardItem> removed = std::move(items_);
    items_.clear();
    changed();
    for (const auto& item : removed)
        release(item);
}

bool ClipboardHistory::promote(const ClipboardItem& item) {
    auto byId =
        std::find_if(items_.begin(), items_.end(), [&](const ClipboardItem& i) { return i.id == item.id; });
    std::size_t index = 0;
    if (byId != items_.end()) {
        index = static_cast<std::size_t>(byId - items_.begin());
    } else {
        if (isImageItem(item)) return false;
        auto byText = std::find_if(items_.begin(), items_.end(), [&](const ClipboardItem& i) {
            return !isImageItem(i) && i.text() == item.text();
        });
        if (byText == items_.end()) return false;
        index = static_cast<std::size_t>(byText - items_.begin());
    }
    if (index == 0) return false;
    moveToFront(index);
    changed();
    return true;
}

void ClipboardHistory::replace(std::vector<ClipboardItem> items, bool applyImageLimit) {
    items_ = std::move(items);
    changed();
    if (applyImageLimit) enforceImageCap();
}

std::filesystem::path ClipboardHistory::newImageFile() const {
    return imagesDirectory_.value_or(std::filesystem::path()) / (randomUuid().toString() + ".png");
}

std::vector<std::filesystem::path> ClipboardHistory::takeReleasedImages() {
    return std::exchange(released_, {});
}

std::optional<std::filesystem::path> ClipboardHistory::imageURL(const ClipboardItem& item) const {
    if (!imagesDirectory_) return std::nullopt;
    return imageFile(item, *imagesDirectory_);
}

std::optional<std::filesystem::path> ClipboardHistory::imageFile(const ClipboardItem& item,
                                                                 const std::filesystem::path& folder) {
    if (!isImageItem(item) || !item.imagePath || item.imagePath->empty()) return std::nullopt;
    const std::filesystem::path path(*item.imagePath);
    // A relative path would be resolved against whatever the working folder happens to be.
    if (!path.is_absolute() || folder.empty()) return std::nullopt;
    std::filesystem::path standardFolder = folder.lexically_normal();
    if (!standardFolder.has_filename()) standardFolder = standardFolder.parent_path();
    const std::filesystem::path normal = path.lexically_normal();
    if (!normal.has_filename() || normal.parent_path() != standardFolder) return std::nullopt;
    std::error_code ec;
    if (std::filesystem::symlink_status(standardFolder, ec).type() != std::filesystem::file_type::directory ||
        std::filesystem::symlink_status(normal, ec).type() != std::filesystem::file_type::regular) {
        return std::nullopt;
    }
    return path;
}

std::size_t ClipboardHistory::imageCount() const {
    return static_cast<std::size_t>(std::count_if(items_.begin(), items_.end(), isImageItem));
}

bool ClipboardHistory::ownsImage(std::string_view path) const {
    if (!imagesDirectory_) return false;
    const std::string folder = imagesDirectoryStandard_.string() + "/";
    std::filesystem::path file(path);
    // A relative path would be resolved against whatever the working folder happens to be.
    if (!file.is_absolute()) return false;
    std::filesystem::path normal = file.lexically_normal();
    // "images/" is the folder itself, not a file inside it.
    if (!normal.has_filename()) normal = normal.parent_path();
    return normal.string().starts_with(folder);
}

void ClipboardHistory::trimToMaxItems() {
    const auto limit = static_cast<std::size_t>(std::max(limits_.maxItems, 0));
    if (items_.size() <= limit) return;
    std::vector<ClipboardItem> dropped(
        std::make_move_iterator(items_.begin() + static_cast<std::ptrdiff_t>(limit)),
        std::make_move_iterator(items_.end()));
    items_.resize(limit);
    for (const auto& item : dropped)
        release(item);
}

std::vector<ClipboardItem> ClipboardHistory::capImages(std::vector<ClipboardItem>& items, int maxImages) {
    std::vector<ClipboardItem> dropped;
    std::size_t images = static_cast<std::size_t>(std::count_if(items.begin(), items.end(), isImageItem));
    const auto limit = static_cast<std::size_t>(std::max(maxImages, 0));
    for (std::size_t i = items.size(); i > 0 && images > limit; --i) {
        if (!isImageItem(items[i - 1])) continue;
        dropped.push_back(std::move(items[i - 1]));
        items.erase(items.begin() + static_cast<std::ptrdiff_t>(i - 1));
        --images;
    }
    return dropped;
}

void ClipboardHistory::enforceImageCap() {
    for (const auto& item : capImages(items_, limits_.maxImages))
        release(item);
}

void ClipboardHistory::release(const ClipboardItem& item) {
    if (!isImageItem(item) || !item.imagePath || !ownsImage(*item.imagePath)) return;
    released_.emplace_back(*item.imagePath);
}

void ClipboardHistory::moveToFront(std::size_t index) {
    std::rotate(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(index),
                items_.begin() + static_cast<std::ptrdiff_t>(index) + 1);
}

}  // namespace quenlit
