#include "base/Text.h"

#include <unicode/brkiter.h>
#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/uniset.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

namespace quenlit::text {
namespace {

bool isAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char32_t nextScalar(std::string_view s, std::size_t& i) {
    UChar32 c = 0;
    auto len = static_cast<int32_t>(s.size());
    auto idx = static_cast<int32_t>(i);
    U8_NEXT(reinterpret_cast<const uint8_t*>(s.data()), idx, len, c);
    i = static_cast<std::size_t>(idx);
    return c < 0 ? U'\uFFFD' : static_cast<char32_t>(c);
}

char32_t previousScalar(std::string_view s, std::size_t& i) {
    UChar32 c = 0;
    auto idx = static_cast<int32_t>(i);
    U8_PREV(reinterpret_cast<const uint8_t*>(s.data()), 0, idx, c);
    i = static_cast<std::size_t>(idx);
    return c < 0 ? U'\uFFFD' : static_cast<char32_t>(c);
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

// Calls f(begin, end) for every grapheme cluster of s, in order.
template <typename F>
void forEachCluster(std::string_view s, F&& f) {
    icu::BreakIterator* it = characterIterator();
    UErrorCode status = U_ZERO_ERROR;
    UText* ut = utext_openUTF8(nullptr, s.data(), static_cast<int64_t>(s.size()), &status);
    if (it == nullptr || U_FAILURE(status)) {
        // Without ICU data every scalar counts as a cluster of its own.
        utext_close(ut);
        for (std::size_t i = 0; i < s.size();) {
            std::size_t start = i;
            nextScalar(s, i);
            f(start, i);
        }
        return;
    }
    it->setText(ut, status);
    int32_t start = it->first();
    for (int32_t end = it->next(); end != icu::BreakIterator::DONE; end = it->next()) {
        f(static_cast<std::size_t>(start), static_cast<std::size_t>(end));
        start = end;
    }
    utext_close(ut);
}

std::string toUtf8(const icu::UnicodeString& u) {
    std::string out;
    u.toUTF8String(out);
    return out;
}

std::string lowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool collationUsesRoot(const icu::Locale& locale) {
    std::string_view name = locale.getName();
    std::string_view language = locale.getLanguage();
    return language.empty() || name == "en_US_POSIX" || language == "c" || language == "posix";
}

// The prototype is built once; each thread clones it because collators keep per-call state.
const icu::Collator* collatorPrototype() {
    static const std::unique_ptr<icu::Collator> prototype = [] {
        UErrorCode status = U_ZERO_ERROR;
        const icu::Locale& user = icu::Locale::getDefault();
        std::unique_ptr<icu::Collator> c(
            icu::Collator::createInstance(collationUsesRoot(user) ? icu::Locale::getRoot() : user, status));
        if (U_FAILURE(status) || !c) return std::unique_ptr<icu::Collator>();
        c->setStrength(icu::Collator::SECONDARY);
        return c;
    }();
    return prototype.get();
}

icu::Collator* collator() {
    thread_local std::unique_ptr<icu::Collator> local(collatorPrototype() ? collatorPrototype()->clone()
                                                                          : nullptr);
    return local.get();
}

}  // namespace

bool isWhiteSpace(char32_t c) {
    if (c < 0x80) return c == U' ' || (c >= U'\t' && c <= U'\r');
    return u_isUWhiteSpace(static_cast<UChar32>(c)) != 0;
}

bool isAlphabetic(char32_t c) {
    if (c < 0x80) return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z');
    return u_isUAlphabetic(static_cast<UChar32>(c)) != 0;
}

bool isLetterOrNumber(char32_t c) {
    if (c < 0x80) return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || (c >= U'0' && c <= U'9');
    return (U_GET_GC_MASK(static_cast<UChar32>(c)) & (U_GC_L_MASK | U_GC_N_MASK)) != 0;
}

std::u32string decodeUtf8(std::string_view s) {
    std::u32string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();)
        out.push_back(nextScalar(s, i));
    return out;
}

std::u32string codePoints(std::u16string_view s) {
    std::u32string out;
    out.reserve(s.size());
    const auto length = static_cast<int32_t>(s.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c = 0;
        U16_NEXT(s.data(), i, length, c);
        if (!U_IS_SURROGATE(c)) out.push_back(static_cast<char32_t>(c));
    }
    return out;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    uint8_t buffer[4];
    int32_t length = 0;
    U8_APPEND_UNSAFE(buffer, length, static_cast<UChar32>(c));
    out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
}

std::string validUtf8(std::string_view s) {
    // Most text is well-formed: one pass to check, and a copy only when a repair is needed.
    bool wellFormed = true;
    for (std::size_t i = 0; i < s.size() && wellFormed;) {
        const std::size_t at = i;
        // A decoded U+FFFD is a repair unless the text spelled it out (EF BF BD).
        if (nextScalar(s, i) == 0xFFFD) wellFormed = s.substr(at, i - at) == "\xEF\xBF\xBD";
    }
    if (wellFormed) return std::string(s);
    std::string out;
    out.reserve(s.size());
    for (char32_t c : decodeUtf8(s))
        appendUtf8(out, c);
    return out;
}

std::string_view trim(std::string_view s) {
    std::size_t begin = 0;
    while (begin < s.size()) {
        std::size_t next = begin;
        if (!isWhiteSpace(nextScalar(s, next))) break;
        begin = next;
    }
    std::size_t end = s.size();
    while (end > begin) {
        std::size_t previous = end;
        if (!isWhiteSpace(previousScalar(s, previous))) break;
        end = previous;
    }
    return s.substr(begin, end - begin);
}

std::string lowercase(std::string_view s) {
    if (isAscii(s)) return lowerAscii(s);
    icu::UnicodeString u =
        icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
    u.toLower(icu::Locale::getRoot());
    return toUtf8(u);
}

bool lowercaseChangesOnlyAsciiLetters(std::string_view s) {
    if (s.size() > static_cast<std::size_t>(INT32_MAX)) return false;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(s.data());
    const auto length = static_cast<int32_t>(s.size());
    int32_t i = 0;
    while (i < length) {
        if (bytes[i] < 0x80) {
            ++i;
            continue;
        }
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0 || u_hasBinaryProperty(c, UCHAR_CHANGES_WHEN_LOWERCASED)) return false;
    }
    return true;
}

namespace {

// Every character that lower-casing changes, other than A-Z, with every character its lowering
// can produce: alone, after a letter (a final sigma) and between letters.
struct LoweringSource {
    std::string utf8;
    std::vector<UChar32> produces;
};

const std::vector<LoweringSource>& loweringSources() {
    static const std::vector<LoweringSource> sources = [] {
        std::vector<LoweringSource> out;
        UErrorCode status = U_ZERO_ERROR;
        icu::UnicodeSet changing;
        changing.applyIntPropertyValue(UCHAR_CHANGES_WHEN_LOWERCASED, 1, status);
        if (U_FAILURE(status)) return out;
        changing.remove(U'A', U'Z');
        const icu::Locale& root = icu::Locale::getRoot();
        for (int32_t r = 0; r < changing.getRangeCount(); ++r) {
            for (UChar32 c = changing.getRangeStart(r); c <= changing.getRangeEnd(r); ++c) {
                LoweringSource source;
                for (const auto& [before, after] : {std::pair{false, false}, {true, false}, {true, true}}) {
                    icu::UnicodeString context;
                    if (before) context.append(UChar32(U'x'));
                    context.append(c);
                    if (after) context.append(UChar32(U'x'));
                    context.toLower(root);
                    // The letters around it lower to themselves: one UTF-16 unit each.
                    const int32_t from = before ? 1 : 0;
                    const int32_t to = context.length() - (after ? 1 : 0);
                    for (int32_t i = from; i < to; i = context.moveIndex32(i, 1))
                        source.produces.push_back(context.char32At(i));
                }
                std::string utf8;
                icu::UnicodeString(c).toUTF8String(utf8);
                source.utf8 = std::move(utf8);
                out.push_back(std::move(source));
            }
        }
        return out;
    }();
    return sources;
}

}  // namespace

std::optional<std::vector<std::string>> lowercaseSources(std::string_view lowered) {
    std::vector<UChar32> wanted;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(lowered.data());
    const auto length = static_cast<int32_t>(std::min<std::size_t>(lowered.size(), INT32_MAX));
    if (static_cast<std::size_t>(length) != lowered.size()) return std::nullopt;
    for (int32_t i = 0; i < length;) {
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0 || c == 0xFFFD) return std::nullopt;
        wanted.push_back(c);
    }
    std::vector<std::string> out;
    for (const LoweringSource& source : loweringSources()) {
        const bool yields = std::any_of(source.produces.begin(), source.produces.end(), [&](UChar32 c) {
            return std::find(wanted.begin(), wanted.end(), c) != wanted.end();
        });
        if (yields) out.push_back(source.utf8);
    }
    return out;
}

std::string normalize(std::string_view s) {
    if (isAscii(s)) return std::string(s);
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    icu::UnicodeString u =
        icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
    if (U_FAILURE(status)) return toUtf8(u);
    icu::UnicodeString normalized = nfc->normalize(u, status);
    return U_SUCCESS(status) ? toUtf8(normalized) : toUtf8(u);
}

std::size_t graphemeCount(std::string_view s) {
    if (isAscii(s)) {
        std::size_t crlf = 0;
        for (std::size_t i = 1; i < s.size(); ++i)
            crlf += (s[i - 1] == '\r' && s[i] == '\n') ? 1 : 0;
        return s.size() - crlf;
    }
    std::size_t count = 0;
    forEachCluster(s, [&](std::size_t, std::size_t) { ++count; });
    return count;
}

namespace {
bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}
}  // namespace

Characters::Characters(std::string_view s) : s_(s), iterator_(characterIterator()), text_(nullptr) {
    UErrorCode status = U_ZERO_ERROR;
    UText* ut = utext_openUTF8(nullptr, s.data(), static_cast<int64_t>(s.size()), &status);
    text_ = ut;
    if (iterator_ != nullptr && U_SUCCESS(status))
        static_cast<icu::BreakIterator*>(iterator_)->setText(ut, status);
    // Without ICU data every scalar is a character of its own.
    if (U_FAILURE(status)) iterator_ = nullptr;
}

Characters::~Characters() {
    utext_close(static_cast<UText*>(text_));
}

std::size_t Characters::startOfLast(std::size_t n) {
    if (iterator_ == nullptr) {
        std::size_t at = s_.size();
        for (; n > 0 && at > 0; --n) {
            --at;
            while (at > 0 && isContinuationByte(s_[at]))
                --at;
        }
        return at;
    }
    auto* it = static_cast<icu::BreakIterator*>(iterator_);
    int32_t at = it->last();
    for (; n > 0 && at > 0; --n)
        at = it->previous();
    return at == icu::BreakIterator::DONE ? 0 : static_cast<std::size_t>(at);
}

std::size_t Characters::endOfFirst(std::size_t n) {
    if (iterator_ == nullptr) {
        std::size_t at = 0;
        for (; n > 0 && at < s_.size(); --n) {
            ++at;
            while (at < s_.size() && isContinuationByte(s_[at]))
                ++at;
        }
        return at;
    }
    auto* it = static_cast<icu::BreakIterator*>(iterator_);
    int32_t at = it->first();
    for (; n > 0 && at != icu::BreakIterator::DONE && static_cast<std::size_t>(at) < s_.size(); --n)
        at = it->next();
    return at == icu::BreakIterator::DONE ? s_.size() : static_cast<std::size_t>(at);
}

std::size_t Characters::count() {
    std::size_t n = 0;
    if (iterator_ == nullptr) {
        for (char c : s_)
            n += isContinuationByte(c) ? 0 : 1;
        return n;
    }
    auto* it = static_cast<icu::BreakIterator*>(iterator_);
    for (int32_t at = it->first(); at != icu::BreakIterator::DONE && static_cast<std::size_t>(at) < s_.size();
         at = it->next()) {
        ++n;
    }
    return n;
}

FoldedText::FoldedText(std::string_view raw) : folded_(normalize(lowercase(raw))) {
    simple_ = isAscii(folded_) && folded_.find("\r\n") == std::string::npos;
    if (simple_) {
        graphemes_ = folded_.size();
        return;
    }
    forEachCluster(folded_, [&](std::size_t begin, std::size_t) {
        if (begin != 0) boundaries_.push_back(static_cast<std::uint32_t>(begin));
        ++graphemes_;
    });
}

bool FoldedText::isBoundary(std::size_t byteOffset) const {
    if (byteOffset == 0 || byteOffset >= folded_.size()) return byteOffset <= folded_.size();
    return simple_ || std::binary_search(boundaries_.begin(), boundaries_.end(), byteOffset);
}

std::size_t FoldedText::position(std::size_t byteOffset) const {
    if (simple_ || byteOffset == 0) return byteOffset;
    auto it = std::lower_bound(boundaries_.begin(), boundaries_.end(), byteOffset);
    return static_cast<std::size_t>(it - boundaries_.begin()) + 1;
}

std::vector<FoldedText::Word> FoldedText::words() const {
    std::vector<Word> out;
    bool inWord = false;
    auto visit = [&](std::size_t begin, std::size_t end) {
        std::size_t i = begin;
        bool wordChar = isLetterOrNumber(nextScalar(folded_, i));
        if (wordChar && inWord) {
            out.back().end = static_cast<std::uint32_t>(end);
            ++out.back().length;
        } else if (wordChar) {
            out.push_back({static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(end), 1});
        }
        inWord = wordChar;
    };
    if (simple_) {
        for (std::size_t i = 0; i < folded_.size(); ++i)
            visit(i, i + 1);
    } else {
        forEachCluster(folded_, visit);
    }
    return out;
}

bool startsWith(const FoldedText& text, const FoldedText& prefix) {
    const std::string& t = text.bytes();
    const std::string& p = prefix.bytes();
    return p.size() <= t.size() && std::memcmp(t.data(), p.data(), p.size()) == 0 &&
           text.isBoundary(p.size());
}

bool startsWith(const FoldedText& text, const FoldedText::Word& word, const FoldedText& prefix) {
    const std::string& p = prefix.bytes();
    if (p.size() > word.end - word.begin) return false;
    return std::memcmp(text.bytes().data() + word.begin, p.data(), p.size()) == 0 &&
           text.isBoundary(word.begin + p.size());
}

std::optional<std::size_t> find(const FoldedText& text, const FoldedText& needle) {
    const std::string& t = text.bytes();
    const std::string& n = needle.bytes();
    for (std::size_t at = t.find(n); at != std::string::npos; at = t.find(n, at + 1)) {
        if (text.isBoundary(at) && text.isBoundary(at + n.size())) return text.position(at);
    }
    return std::nullopt;
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
    return normalize(a) == normalize(b);
}

namespace {
// Prefix and substring tests on the raw (not lower-cased) text reuse the folded machinery on text
// whose case mapping is the identity: compare NFC forms cluster by cluster.
struct Exact {
    std::string nfc;
    std::vector<std::size_t> boundaries;  // every cluster boundary, 0 and size included
    explicit Exact(std::string_view s) : nfc(normalize(s)) {
        boundaries.push_back(0);
        forEachCluster(nfc, [&](std::size_t, std::size_t end) { boundaries.push_back(end); });
    }
    bool isBoundary(std::size_t at) const {
        return std::binary_search(boundaries.begin(), boundaries.end(), at);
    }
};
}  // namespace

bool hasPrefix(std::string_view s, std::string_view prefix) {
    Exact text(s);
    std::string p = normalize(prefix);
    return text.nfc.compare(0, p.size(), p) == 0 && p.size() <= text.nfc.size() && text.isBoundary(p.size());
}

bool contains(std::string_view haystack, std::string_view needle) {
    Exact text(haystack);
    std::string n = normalize(needle);
    for (std::size_t at = text.nfc.find(n); at != std::string::npos; at = text.nfc.find(n, at + 1)) {
        if (text.isBoundary(at) && text.isBoundary(at + n.size())) return true;
    }
    return false;
}

int compareNames(std::string_view a, std::string_view b) {
    icu::Collator* c = collator();
    if (c == nullptr) return a.compare(b);
    UErrorCode status = U_ZERO_ERROR;
    UCollationResult r = c->compareUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
                                        icu::StringPiece(b.data(), static_cast<int32_t>(b.size())), status);
    if (U_FAILURE(status)) return a.compare(b);
    return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

std::string nameSortKey(std::string_view name) {
    icu::Collator* c = collator();
    if (c == nullptr) return std::string(name);
    icu::UnicodeString u =
        icu::UnicodeString::fromUTF8(icu::StringPiece(name.data(), static_cast<int32_t>(name.size())));
    std::string key(64, '\0');
    int32_t needed =
        c->getSortKey(u, reinterpret_cast<uint8_t*>(key.data()), static_cast<int32_t>(key.size()));
    if (needed > static_cast<int32_t>(key.size())) {
        key.resize(static_cast<std::size_t>(needed));
        needed = c->getSortKey(u, reinterpret_cast<uint8_t*>(key.data()), needed);
    }
    // The key ends with a terminating zero byte, which byte-wise comparison does not need.
    key.resize(needed > 0 ? static_cast<std::size_t>(needed - 1) : 0);
    return key;
}

}  // namespace quenlit::text
