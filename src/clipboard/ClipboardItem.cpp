#include "clipboard/ClipboardItem.h"

#include "base/Text.h"

#include <unicode/calendar.h>
#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <atomic>
#include <mutex>

namespace quenlit {

struct ClipboardItem::Content {
    explicit Content(std::string t) : text(std::move(t)) {}
    std::string text;
    mutable std::once_flag loweredOnce;
    mutable std::once_flag titleOnce;
    mutable std::string title;
    mutable std::string lowered;  // empty when folding A-Z on the text is the same
    mutable bool foldAscii = false;
    mutable std::array<std::uint32_t, 256> byteCounts{};
    mutable std::atomic<bool> searchReady{false};

    static unsigned char asciiLower(unsigned char c) { return c >= 'A' && c <= 'Z' ? c | 0x20 : c; }

    void lowerOnce() const {
        std::call_once(loweredOnce, [this] {
            const bool ascii = std::all_of(text.begin(), text.end(),
                                           [](char c) { return static_cast<unsigned char>(c) < 0x80; });
            // Most texts need no lowered copy, and most of those can tell so without lowering.
            if (!ascii && !text::lowercaseChangesOnlyAsciiLetters(text)) {
                std::string l = text::lowercase(text);
                const bool onlyAsciiChanges =
                    l.size() == text.size() &&
                    std::equal(l.begin(), l.end(), text.begin(), [](char a, char b) {
                        return static_cast<unsigned char>(a) == asciiLower(static_cast<unsigned char>(b));
                    });
                if (!onlyAsciiChanges) lowered = std::move(l);
            }
            foldAscii = ascii || lowered.empty();
            for (unsigned char c : foldAscii ? text : lowered)
                ++byteCounts[asciiLower(c)];
            searchReady.store(true, std::memory_order_release);
        });
    }
};

namespace {

constexpr std::size_t kShortenedLength = 120;

// The byte length of the first `count` user-perceived characters of s (all of s when shorter).
std::size_t prefixLength(std::string_view s, std::size_t count) {
    return text::Characters(s).endOfFirst(count);
}

// Line feeds and tabs become spaces. A CR LF pair is one line break, so it becomes one space
// rather than a carriage return that would break the one-line title.
std::string flattened(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') {
            out.push_back(' ');
            ++i;
        } else if (c == '\n' || c == '\t') {
            out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// Trimming first gives the same text as flattening first (line feeds and tabs are white space),
// and lets a text of 100,000 characters be shortened without copying all of it.
std::string makeTitle(std::string_view text) {
    const std::string_view trimmed = text::trim(text);
    // Flattening only ever joins a space with a prepended mark before it and combining marks
    // after it, so the first 121 characters of the flattened text lie within three times as many
    // characters of the original.
    const std::size_t window = prefixLength(trimmed, 3 * (kShortenedLength + 1));
    std::string flat = flattened(trimmed.substr(0, window));
    const std::size_t cut = prefixLength(flat, kShortenedLength);
    if (cut == flat.size() && window == trimmed.size()) return flat;
    flat.resize(cut);
    return flat + "…";
}

const std::string& emptyString() {
    static const std::string empty;
    return empty;
}

UDate toUDate(std::chrono::system_clock::time_point t) {
    return static_cast<UDate>(
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count());
}

// ICU formatters are not safe to share between threads, and creating one costs far more than a
// format call, so each thread that labels items keeps its own pair.
struct Formatters {
    std::unique_ptr<icu::DateFormat> time{icu::DateFormat::createTimeInstance(icu::DateFormat::kShort)};
    std::unique_ptr<icu::DateFormat> date{
        icu::DateFormat::createDateInstance(icu::DateFormat::kMediumRelative)};
    std::unique_ptr<icu::Calendar> calendar;

    Formatters() {
        UErrorCode status = U_ZERO_ERROR;
        calendar.reset(icu::Calendar::createInstance(status));
        if (U_FAILURE(status)) calendar.reset();
    }
};

Formatters& formatters() {
    thread_local Formatters instance;
    return instance;
}

bool sameCalendarDay(icu::Calendar& calendar, UDate a, UDate b) {
    UErrorCode status = U_ZERO_ERROR;
    calendar.setTime(a, status);
    const int32_t eraA = calendar.get(UCAL_ERA, status);
    const int32_t yearA = calendar.get(UCAL_EXTENDED_YEAR, status);
    const int32_t dayA = calendar.get(UCAL_DAY_OF_YEAR, status);
    calendar.setTime(b, status);
    const int32_t eraB = calendar.get(UCAL_ERA, status);
    const int32_t yearB = calendar.get(UCAL_EXTENDED_YEAR, status);
    const int32_t dayB = calendar.get(UCAL_DAY_OF_YEAR, status);
    return U_SUCCESS(status) && eraA == eraB && yearA == yearB && dayA == dayB;
}

}  // namespace

std::string_view ClipboardItem::kindName(Kind kind) {
    return kind == Kind::image ? "image" : "text";
}

std::optional<ClipboardItem::Kind> ClipboardItem::parseKind(std::string_view name) {
    if (name == "text") return Kind::text;
    if (name == "image") return Kind::image;
    return std::nullopt;
}

ClipboardItem::ClipboardItem(Uuid id_, Kind kind_, std::string text, std::optional<std::string> imagePath_,
                             std::chrono::system_clock::time_point createdAt_)
    : id(id_), kind(kind_), imagePath(std::move(imagePath_)), createdAt(createdAt_) {
    if (!text.empty()) content_ = std::make_shared<const Content>(std::move(text));
}

ClipboardItem ClipboardItem::makeText(Uuid id, std::string text,
                                      std::chrono::system_clock::time_point createdAt) {
    return ClipboardItem(id, Kind::text, std::move(text), std::nullopt, createdAt);
}

ClipboardItem ClipboardItem::makeImage(Uuid id, std::string imagePath,
                                       std::chrono::system_clock::time_point createdAt) {
    return ClipboardItem(id, Kind::image, std::string(), std::move(imagePath), createdAt);
}

const std::string& ClipboardItem::text() const {
    return content_ ? content_->text : emptyString();
}

ClipboardItem::SearchText ClipboardItem::searchText() const {
    if (!content_) return {emptyString(), false};
    content_->lowerOnce();
    if (content_->foldAscii) return {content_->text, true};
    return {content_->lowered, false};
}

bool ClipboardItem::hasSearchText() const {
    return !content_ || content_->searchReady.load(std::memory_order_acquire);
}

const std::string& ClipboardItem::title() const {
    if (!content_) return emptyString();
    std::call_once(content_->titleOnce, [this] { content_->title = makeTitle(content_->text); });
    return content_->title;
}

const std::array<std::uint32_t, 256>& ClipboardItem::loweredByteCounts() const {
    static const std::array<std::uint32_t, 256> none{};
    if (!content_) return none;
    content_->lowerOnce();
    return content_->byteCounts;
}

std::string ClipboardItem::timeLabel(std::chrono::system_clock::time_point now) const {
    Formatters& f = formatters();
    const UDate created = toUDate(createdAt);
    const bool today = f.calendar && sameCalendarDay(*f.calendar, created, toUDate(now));
    icu::DateFormat* format = today ? f.time.get() : f.date.get();
    if (format == nullptr) return {};
    icu::UnicodeString out;
    format->format(created, out);
    std::string utf8;
    out.toUTF8String(utf8);
    return utf8;
}

bool ClipboardItem::operator==(const ClipboardItem& other) const {
    return id == other.id && kind == other.kind && text() == other.text() && imagePath == other.imagePath &&
           createdAt == other.createdAt;
}

}  // namespace quenlit
