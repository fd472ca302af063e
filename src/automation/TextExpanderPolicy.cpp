#include "automation/TextExpanderPolicy.h"

#include <algorithm>
#include <utility>

#include <unicode/smpdtfmt.h>

namespace quenlit {
namespace {

bool isAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// ASCII without CR LF is one character per byte, which spares the segmentation for nearly every
// key a user types.
bool isOneByteCharacters(std::string_view s) {
    return isAscii(s) && s.find("\r\n") == std::string_view::npos;
}

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

TextExpanderPolicy::TextExpanderPolicy(std::string_view keyword, NowProvider now)
    : keyword_(text::lowercase(keyword)),
      nowProvider_(std::move(now)),
      foldedKeyword_(keyword_),
      keywordLength_(static_cast<int>(text::graphemeCount(keyword_))),
      keywordIsAscii_(isAscii(keyword_)) {}

void TextExpanderPolicy::clear() {
    buffer_.clear();
    count_ = 0;
    lastInputAt_.reset();
}

std::optional<TextExpanderPolicy::Match> TextExpanderPolicy::process(const Input& input,
                                                                     std::optional<Date> at) {
    if (input.kind == Input::Kind::other) return std::nullopt;
    const Date now = at ? *at : nowProvider_();

    if (lastInputAt_ && now - *lastInputAt_ > kIdleTimeout) clear();

    switch (input.kind) {
        case Input::Kind::reset:
            clear();
            return std::nullopt;
        case Input::Kind::backspace:
            lastInputAt_ = now;
            removeLastCharacter();
            return std::nullopt;
        case Input::Kind::typed:
            break;
        case Input::Kind::other:
            return std::nullopt;
    }

    lastInputAt_ = now;
    appendText(input.text);
    if (!bufferEndsWithKeyword()) return std::nullopt;

    if (keyword_ != kTimeKeyword) {
        clear();
        return std::nullopt;
    }
    std::string expansion;
    if (auto calendar = TextExpanderSnippets::currentCalendar()) {
        expansion = TextExpanderSnippets::formattedTime(now, *calendar);
    }
    clear();
    // Erasing the keyword with nothing to type in its place would only destroy what the user typed.
    if (expansion.empty()) return std::nullopt;
    return Match{keyword_, keywordLength_, std::move(expansion)};
}

void TextExpanderPolicy::appendText(std::string_view added) {
    // The last character may grow (a combining mark, the second half of a flag), so it is
    // segmented again together with what was added.
    std::size_t tailStart = buffer_.size();
    if (!buffer_.empty()) {
        tailStart =
            isOneByteCharacters(buffer_) ? buffer_.size() - 1 : text::Characters(buffer_).startOfLast(1);
        --count_;
    }
    if (isAscii(added)) {
        buffer_.append(added);
    } else {
        // Re-encoding keeps the buffer valid UTF-8 whatever the caller hands in.
        for (char32_t c : text::decodeUtf8(added))
            text::appendUtf8(buffer_, c);
    }
    const std::string_view tail = std::string_view(buffer_).substr(tailStart);
    count_ += isOneByteCharacters(tail) ? tail.size() : text::Characters(tail).count();

    if (count_ <= kBufferLimit) return;
    const std::size_t excess = count_ - kBufferLimit;
    buffer_.erase(0, isOneByteCharacters(buffer_) ? excess : text::Characters(buffer_).endOfFirst(excess));
    count_ = kBufferLimit;
}

void TextExpanderPolicy::removeLastCharacter() {
    if (buffer_.empty()) return;
    buffer_.erase(isOneByteCharacters(buffer_) ? buffer_.size() - 1
                                               : text::Characters(buffer_).startOfLast(1));
    --count_;
}

bool TextExpanderPolicy::bufferEndsWithKeyword() const {
    if (keyword_.empty()) return true;
    if (buffer_.empty() || count_ < static_cast<std::size_t>(keywordLength_)) return false;
    if (keywordIsAscii_) {
        // The last character ends with the buffer's last byte; when that is ASCII it keeps its
        // place through lower-casing and composition, so a different letter rules a match out.
        const char last = buffer_.back();
        if (static_cast<unsigned char>(last) < 0x80 && asciiLower(last) != keyword_.back()) return false;
        // All ASCII at the end, and ASCII before it: bytes are characters (but for CR LF).
        const std::size_t n = keyword_.size();
        if (buffer_.size() >= n) {
            const std::size_t offset = buffer_.size() - n;
            const std::string_view tail = std::string_view(buffer_).substr(offset);
            if (isAscii(tail) && (offset == 0 || static_cast<unsigned char>(buffer_[offset - 1]) < 0x80)) {
                if (offset > 0 && buffer_[offset - 1] == '\r' && tail.front() == '\n') return false;
                for (std::size_t i = 0; i < n; ++i) {
                    if (asciiLower(tail[i]) != keyword_[i]) return false;
                }
                return true;
            }
        }
    }
    // Compare the last characters, lower-cased and composed, with the keyword, so that a keyword
    // followed by a combining mark (a different last character) does not match.
    const std::size_t start = text::Characters(buffer_).startOfLast(static_cast<std::size_t>(keywordLength_));
    return text::FoldedText(std::string_view(buffer_).substr(start)).bytes() == foldedKeyword_.bytes();
}

namespace TextExpanderSnippets {

std::string formattedTime(TextExpanderPolicy::Date date, const icu::Calendar& calendar) {
    UErrorCode status = U_ZERO_ERROR;
    // The POSIX locale keeps ASCII digits and the fixed pattern whatever the user's language;
    // the calendar decides the kind of year and the time zone.
    icu::SimpleDateFormat formatter(icu::UnicodeString(u"yyyy-MM-dd HH:mm"), icu::Locale("en_US_POSIX"),
                                    status);
    if (U_FAILURE(status)) return {};
    formatter.setCalendar(calendar);
    formatter.setTimeZone(calendar.getTimeZone());
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count();
    icu::UnicodeString out;
    formatter.format(static_cast<UDate>(millis), out);
    std::string utf8;
    out.toUTF8String(utf8);
    return utf8;
}

std::unique_ptr<icu::Calendar> currentCalendar() {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Calendar> calendar(icu::Calendar::createInstance(status));
    if (U_FAILURE(status)) return nullptr;
    return calendar;
}

}  // namespace TextExpanderSnippets

}  // namespace quenlit
