#pragma once

// Unicode text helpers over ICU. Every place in the program that trims, lower-cases, compares,
// counts or splits user-visible text goes through these functions, so the launcher search, the
// calculator and the clipboard filter agree on what a "character" is.
//
// Text is UTF-8 in std::string. Invalid UTF-8 is treated as U+FFFD by every function here.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenlit::text {

// Unicode White_Space property (spaces, tabs, line and paragraph separators, newlines).
bool isWhiteSpace(char32_t c);
// Unicode Alphabetic property.
bool isAlphabetic(char32_t c);
// General category L* or N*.
bool isLetterOrNumber(char32_t c);

// Decodes UTF-8 into scalars; ill-formed sequences become U+FFFD.
std::u32string decodeUtf8(std::string_view s);
// The code points of UTF-16 text; a lone surrogate is left out (it stands for no character).
std::u32string codePoints(std::u16string_view s);
void appendUtf8(std::string& out, char32_t c);
// The text with U+FFFD in place of every ill-formed sequence; well-formed text comes back as it is.
std::string validUtf8(std::string_view s);

// Removes White_Space (newlines included) from both ends.
std::string_view trim(std::string_view s);

// Full default lower-case mapping, independent of the user's locale ("İ" becomes "i̇").
std::string lowercase(std::string_view s);
// Whether lowercase(s) differs from s at most in the letters A-Z, told without lowering: every
// other character is one lower-casing leaves alone. False for ill-formed UTF-8, which lowering
// replaces. May answer false where lowering would change nothing else after all, never true where
// it would.
bool lowercaseChangesOnlyAsciiLetters(std::string_view s);
// The characters other than A-Z whose lower-casing, in any context, puts a character of `lowered`
// into the result (U+212A KELVIN SIGN for "k", U+0130 for "i"), as UTF-8. A text without any of
// them holds `lowered` after lowering exactly where it holds it with A-Z read as a-z. None when
// that cannot be told: `lowered` is ill-formed or holds U+FFFD, which lowering puts in place of
// ill-formed bytes.
std::optional<std::vector<std::string>> lowercaseSources(std::string_view lowered);

// Canonical composition (NFC); canonically equivalent texts have equal NFC forms.
std::string normalize(std::string_view s);

// Number of extended grapheme clusters (user-perceived characters).
std::size_t graphemeCount(std::string_view s);

// The user-perceived characters of one text, walked from either end, so that a caller can look at
// the few characters it needs rather than segmenting the whole text. One walker at a time per
// thread (they share the thread's break iterator).
class Characters {
  public:
    explicit Characters(std::string_view s);
    ~Characters();
    Characters(const Characters&) = delete;
    Characters& operator=(const Characters&) = delete;

    // Byte offset where the n-th character from the end starts; 0 when there are fewer.
    std::size_t startOfLast(std::size_t n);
    // Byte offset where the first n characters end; the size when there are fewer.
    std::size_t endOfFirst(std::size_t n);
    std::size_t count();

  private:
    std::string_view s_;
    void* iterator_;  // the thread's break iterator, or null without ICU data
    void* text_;
};

// Text prepared for repeated matching: lower-cased, in NFC, with its grapheme boundaries.
// Prefix and substring tests below match only whole grapheme clusters, so "é" does not start
// with "e" and a combining mark never matches half a character.
class FoldedText {
  public:
    FoldedText() = default;
    explicit FoldedText(std::string_view raw);

    const std::string& bytes() const { return folded_; }
    std::size_t length() const { return graphemes_; }
    bool empty() const { return folded_.empty(); }

    // Whether a grapheme cluster boundary lies at this byte offset of bytes().
    bool isBoundary(std::size_t byteOffset) const;
    // Grapheme index of a byte offset that is a boundary.
    std::size_t position(std::size_t byteOffset) const;

    bool operator==(const FoldedText& other) const { return folded_ == other.folded_; }

    struct Word {
        std::uint32_t begin;  // byte offsets into bytes()
        std::uint32_t end;
        std::uint32_t length;  // in grapheme clusters
    };
    // Runs of clusters that start with a letter or a number, in order.
    std::vector<Word> words() const;

  private:
    std::string folded_;
    std::size_t graphemes_ = 0;
    // Byte offsets of the cluster boundaries inside the text (0 and size() excluded).
    // Empty with simple_ set when every byte is its own cluster (plain ASCII without CR LF).
    std::vector<std::uint32_t> boundaries_;
    bool simple_ = true;
};

// Whether `text` starts with `prefix`, both folded; whole clusters only.
bool startsWith(const FoldedText& text, const FoldedText& prefix);
bool startsWith(const FoldedText& text, const FoldedText::Word& word, const FoldedText& prefix);
// Grapheme position of the first occurrence of `needle` in `text`, whole clusters only.
std::optional<std::size_t> find(const FoldedText& text, const FoldedText& needle);

// Canonical-equivalence tests on raw text, with the same whole-cluster rule.
bool canonicallyEqual(std::string_view a, std::string_view b);
bool hasPrefix(std::string_view s, std::string_view prefix);
bool contains(std::string_view haystack, std::string_view needle);

// Locale-aware, case-insensitive comparison of names (negative, zero, positive). Follows the
// user's locale; under the C/POSIX locale the root collation is used, so "alpha" < "Beta".
int compareNames(std::string_view a, std::string_view b);
// A binary key whose byte order equals compareNames' order (for sorting many names).
std::string nameSortKey(std::string_view name);

}  // namespace quenlit::text
