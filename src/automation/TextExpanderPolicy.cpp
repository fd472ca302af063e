#include "automation/TextExpanderPolicy.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include <unicode/brkiter.h>
#include <unicode/smpdtfmt.h>
#include <unicode/utext.h>

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

// Creating a break iterator costs microseconds, so each thread keeps one.
icu::BreakIterator* characterIterator() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> it(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_SUCCESS(status) ? std::move(it) : nullptr;
    }();
    return iterator.get();
}

// Byte offsets where the characters of `s` start, followed by s.size().
std::vector<std::size_t> characterStarts(std::string_view s) {
    std::vector<std::size_t> starts;
    icu::BreakIterator* it = characterIterator();
    UErrorCode status = U_ZERO_ERROR;
    UText* ut = utext_openUTF8(nullptr, s.data(), static_cast<int64_t>(s.size()), &status);
    if (it != nullptr && U_SUCCESS(status)) {
        it->setText(ut, status);
    }
    if (it == nullptr || U_FAILURE(status)) {
        // Without ICU data every scalar is a character of its own.
        utext_close(ut);
        for (std::size_t i = 0; i < s.size();) {
            starts.push_back(i);
            ++i;
            while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80)
                ++i;
        }
        starts.push_back(s.size());
        return starts;
    }
    for (int32_t at = it->first(); at != icu::BreakIterator::DONE; at = it->next()) {
        starts.push_back(static_cast<std::size_t>(at));
    }
    utext_close(ut);
    if (starts.empty() || starts.back() != s.size()) starts.push_back(s.size());
    return starts;
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
    if (isAscii(added)) {
        buffer_.append(added);
    } else {
        // Re-encoding keeps the buffer valid UTF-8 whatever the caller hands in.
        for (char32_t c : text::decodeUtf8(added))
            text::appendUtf8(buffer_, c);
    }
    // At most one character per byte: a buffer this short cannot be over the limit.
    if (buffer_.size() <= kBufferLimit) return;
    if (isOneByteCharacters(buffer_)) {
        buffer_.erase(0, buffer_.size() - kBufferLimit);
        return;
    }
    const auto starts = characterStarts(buffer_);
    const std::size_t count = starts.size() - 1;
    if (count > kBufferLimit) buffer_.erase(0, starts[count - kBufferLimit]);
}

void TextExpanderPolicy::removeLastCharacter() {
    if (buffer_.empty()) return;
    if (isOneByteCharacters(buffer_)) {
        buffer_.pop_back();
        return;
    }
    const auto starts = characterStarts(buffer_);
    buffer_.erase(starts[starts.size() - 2]);
}

bool TextExpanderPolicy::bufferEndsWithKeyword() const {
    if (keyword_.empty()) return true;
    if (keywordIsAscii_ && isOneByteCharacters(buffer_)) {
        if (buffer_.size() < keyword_.size()) return false;
        const std::size_t offset = buffer_.size() - keyword_.size();
        for (std::size_t i = 0; i < keyword_.size(); ++i) {
            if (asciiLower(buffer_[offset + i]) != keyword_[i]) return false;
        }
        return true;
    }
    // Compare whole characters of the lower-cased, composed forms, so that a keyword followed by
    // a combining mark (a different last character) does not match.
    const text::FoldedText folded(buffer_);
    const std::string& b = folded.bytes();
    const std::string& k = foldedKeyword_.bytes();
    if (b.size() < k.size()) return false;
    const std::size_t offset = b.size() - k.size();
    return std::memcmp(b.data() + offset, k.data(), k.size()) == 0 && folded.isBoundary(offset);
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
