#pragma once

// What the text expander decides for each keyboard input: a short buffer of what was typed
// recently, forgotten after a pause, and the keyword whose arrival at the end of the buffer asks
// for an expansion. Pure logic: the caller classifies key events into inputs and does the typing.
//
// Not thread-safe; the expander uses it on the main thread only.

#include "base/Text.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <unicode/calendar.h>

namespace quenlit {

class TextExpanderPolicy {
  public:
    using Date = std::chrono::system_clock::time_point;
    // The wall clock; the caller provides it, so tests can fix the time that is typed.
    using NowProvider = std::function<Date()>;

    static constexpr std::size_t kBufferLimit = 64;  // characters (grapheme clusters)
    static constexpr std::chrono::seconds kIdleTimeout{15};
    static constexpr std::string_view kTimeKeyword = "$time";

    // One keyboard input, as the event tap classified it.
    struct Input {
        enum class Kind { typed, backspace, reset, other };
        Kind kind = Kind::other;
        std::string text;  // UTF-8; only for `typed`

        static Input typed(std::string text) { return {Kind::typed, std::move(text)}; }
        static Input backspace() { return {Kind::backspace, {}}; }
        static Input reset() { return {Kind::reset, {}}; }
        static Input other() { return {Kind::other, {}}; }
    };

    struct Match {
        std::string keyword;
        int deletionCount = 0;  // characters of the keyword to erase
        std::string expansion;
        bool operator==(const Match&) const = default;
    };

    // `keyword` is stored lower-cased.
    TextExpanderPolicy(std::string_view keyword, NowProvider now);

    // Takes one input at `at` (the provider's time when absent) and says whether to expand.
    std::optional<Match> process(const Input& input, std::optional<Date> at = std::nullopt);

    // Empties the buffer and forgets the last input's time.
    void clear();

    const std::string& buffer() const { return buffer_; }
    const std::optional<Date>& lastInputAt() const { return lastInputAt_; }
    const std::string& keyword() const { return keyword_; }

  private:
    void appendText(std::string_view text);
    void removeLastCharacter();
    bool bufferEndsWithKeyword() const;

    std::string buffer_;     // UTF-8
    std::size_t count_ = 0;  // characters in buffer_
    std::optional<Date> lastInputAt_;
    std::string keyword_;
    NowProvider nowProvider_;
    text::FoldedText foldedKeyword_;
    int keywordLength_ = 0;  // in characters
    bool keywordIsAscii_ = true;
};

namespace TextExpanderSnippets {

// "yyyy-MM-dd HH:mm" in the calendar's own kind (a Buddhist calendar gives its own year) and time
// zone, with ASCII digits whatever the user's language. Empty only when ICU cannot format at all.
std::string formattedTime(TextExpanderPolicy::Date date, const icu::Calendar& calendar);

// The user's calendar, in the user's time zone; null when ICU has no data to make one.
std::unique_ptr<icu::Calendar> currentCalendar();

}  // namespace TextExpanderSnippets

}  // namespace quenlit
