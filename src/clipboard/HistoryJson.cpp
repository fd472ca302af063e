#include "clipboard/HistoryJson.h"

#include "base/Log.h"
#include "base/Text.h"

#include <rapidjson/writer.h>
#include <simdjson.h>

#include <algorithm>
#include <cstring>

namespace quenlit::historyJson {
namespace {

// The file's bytes, written in place: a history may be 24 MB, so it is neither copied at the end
// nor grown one character at a time.
struct ByteOutput {
    using Ch = char;
    std::string bytes;  // sized ahead; the first `used` bytes are written
    std::size_t used = 0;

    void reserve(std::size_t more) {
        if (used + more <= bytes.size()) return;
        bytes.resize(std::max(bytes.size() * 2, used + more));
    }
    void Put(char c) {
        reserve(1);
        bytes[used++] = c;
    }
    void append(std::string_view s) {
        reserve(s.size());
        std::memcpy(bytes.data() + used, s.data(), s.size());
        used += s.size();
    }
    void Flush() {}
    std::string take() && {
        bytes.resize(used);
        return std::move(bytes);
    }
};

}  // namespace
}  // namespace quenlit::historyJson

// RapidJSON's hooks for an output stream: room for a whole escaped string is reserved once, then
// written without checks, and the long runs that need no escaping are copied in one go.
namespace rapidjson {
template <>
inline void PutReserve(quenlit::historyJson::ByteOutput& out, size_t count) {
    out.reserve(count);
}
template <>
inline void PutUnsafe(quenlit::historyJson::ByteOutput& out, char c) {
    out.bytes[out.used++] = c;
}
template <>
inline bool Writer<quenlit::historyJson::ByteOutput>::ScanWriteUnescapedString(StringStream& is,
                                                                               size_t length) {
    const char* const end = is.head_ + length;
    const char* p = is.src_;
    // JSON escapes only the quote, the backslash and the control characters.
    while (p != end && static_cast<unsigned char>(*p) >= 0x20 && *p != '"' && *p != '\\')
        ++p;
    std::memcpy(os_->bytes.data() + os_->used, is.src_, static_cast<std::size_t>(p - is.src_));
    os_->used += static_cast<std::size_t>(p - is.src_);
    is.src_ = p;
    return p != end;
}
}  // namespace rapidjson

namespace quenlit::historyJson {
namespace {

// RapidJSON escapes every value, written one at a time as a document of its own; the fixed
// punctuation and keys around them are appended as they are. (Its writer's nesting stack starts as
// a null pointer that the first object or array offsets, which the sanitizers rightly reject.)
class JsonOutput {
  public:
    explicit JsonOutput(std::size_t expected) : writer_(out_) { out_.reserve(expected); }
    void raw(std::string_view s) { out_.append(s); }
    // Text that is not UTF-8 (a file name in another encoding, copied as a path) is written with
    // U+FFFD in place of the bad bytes: the file must stay readable, or the whole history is lost.
    void string(std::string_view s) {
        std::string repaired;
        if (!simdjson::validate_utf8(s.data(), s.size())) {
            for (char32_t c : text::decodeUtf8(s))
                text::appendUtf8(repaired, c);
            s = repaired;
        }
        writer_.Reset(out_);
        writer_.String(s.data(), static_cast<rapidjson::SizeType>(s.size()));
    }
    std::string take() && { return std::move(out_).take(); }

  private:
    ByteOutput out_;
    rapidjson::Writer<ByteOutput> writer_;
};

void writeItem(JsonOutput& w, const ClipboardItem& item) {
    w.raw("{\"createdAt\":");
    w.string(formatDate(item.createdAt));
    w.raw(",\"id\":");
    w.string(item.id.toString());
    if (item.imagePath) {
        w.raw(",\"imagePath\":");
        w.string(*item.imagePath);
    }
    w.raw(",\"kind\":");
    w.string(ClipboardItem::kindName(item.kind));
    w.raw(",\"text\":");
    w.string(item.text());
    w.raw("}");
}

std::string quoted(std::string_view s) {
    constexpr std::size_t shown = 40;
    std::string out(1, '"');
    out.append(s.substr(0, shown));
    out.append(s.size() > shown ? "…\"" : "\"");
    return out;
}

// One item object; nullopt with `error` set when it breaks the format.
std::optional<ClipboardItem> decodeItem(simdjson::dom::element element, std::size_t index, bool keep,
                                        std::string& error) {
    const std::string where = "item " + std::to_string(index + 1) + ": ";
    simdjson::dom::object object;
    if (element.get_object().get(object) != simdjson::SUCCESS) {
        error = where + "not an object";
        return std::nullopt;
    }
    std::optional<std::string_view> createdAt, id, text, imagePath, kind;
    for (auto field : object) {
        std::optional<std::string_view>* slot = nullptr;
        if (field.key == "createdAt")
            slot = &createdAt;
        else if (field.key == "id")
            slot = &id;
        else if (field.key == "text")
            slot = &text;
        else if (field.key == "imagePath")
            slot = &imagePath;
        else if (field.key == "kind")
            slot = &kind;
        else
            continue;  // keys of other versions are ignored
        const bool optionalKey = slot == &imagePath || slot == &kind;
        if (optionalKey && field.value.is_null()) {
            *slot = std::nullopt;
            continue;
        }
        std::string_view value;
        if (field.value.get_string().get(value) != simdjson::SUCCESS) {
            error = where + "\"" + std::string(field.key) + "\" is not a string";
            return std::nullopt;
        }
        *slot = value;
    }
    for (const auto& [value, name] : {std::pair{&createdAt, "createdAt"}, {&id, "id"}, {&text, "text"}}) {
        if (!*value) {
            error = where + "missing key \"" + name + "\"";
            return std::nullopt;
        }
    }
    auto kindValue = kind ? ClipboardItem::parseKind(*kind) : ClipboardItem::Kind::text;
    if (!kindValue) {
        error = where + "unknown kind " + quoted(*kind);
        return std::nullopt;
    }
    auto date = parseDate(*createdAt);
    if (!date) {
        error = where + "malformed date " + quoted(*createdAt);
        return std::nullopt;
    }
    auto uuid = Uuid::parse(*id);
    if (!uuid) {
        error = where + "malformed UUID " + quoted(*id);
        return std::nullopt;
    }
    if (!keep) return ClipboardItem();
    return ClipboardItem(*uuid, *kindValue, std::string(*text),
                         imagePath ? std::optional<std::string>(std::string(*imagePath)) : std::nullopt,
                         *date);
}

// The parser that produced `parsed` must outlive this call: the strings point into it.
Decoded decodeDocument(simdjson::simdjson_result<simdjson::dom::element> parsed, std::size_t limit) {
    Decoded result;
    simdjson::dom::element root;
    if (auto code = parsed.get(root); code != simdjson::SUCCESS) {
        result.error = std::string("invalid JSON (") + simdjson::error_message(code) + ")";
        return result;
    }
    simdjson::dom::array array;
    if (root.get_array().get(array) != simdjson::SUCCESS) {
        result.error = "the history is not a list of items";
        return result;
    }
    result.items.reserve(std::min(limit, array.size()));
    std::size_t index = 0;
    std::string error;
    for (auto element : array) {
        auto item = decodeItem(element, index, index < limit, error);
        if (!item) {
            result.items.clear();
            result.error = error;
            return result;
        }
        if (index < limit) result.items.push_back(std::move(*item));
        ++index;
    }
    return result;
}

bool isJsonSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The quick way through a well-formed history: each text is unescaped once, straight into the
// string the item keeps, with no tree and no second copy of the 24 MB a full history takes.
// Anything out of the ordinary (a key of another version, a value of the wrong type, a bad item,
// bytes after the list) gives up with nullopt, and the whole document is read again the thorough
// way, which decides what the file holds and words the error: the two readings agree on every
// history this one accepts.
class QuickReader {
  public:
    QuickReader(const char* bytes, std::size_t size) : bytes_(bytes), size_(size) {}

    std::optional<Decoded> read(std::size_t limit) {
        simdjson::ondemand::document document;
        if (parser_.iterate(bytes_, size_, size_ + simdjson::SIMDJSON_PADDING).get(document) !=
            simdjson::SUCCESS)
            return std::nullopt;
        simdjson::ondemand::array array;
        if (document.get_array().get(array) != simdjson::SUCCESS) return std::nullopt;
        Decoded result;
        // Where the last value read ends: only the closing braces may follow it.
        const char* end = nullptr;
        std::size_t index = 0;
        for (auto element : array) {
            simdjson::ondemand::object object;
            if (element.get_object().get(object) != simdjson::SUCCESS) return std::nullopt;
            auto item = readItem(object, index < limit, end);
            if (!item) return std::nullopt;
            if (index < limit) result.items.push_back(std::move(*item));
            ++index;
        }
        if (!onlyClosingAfter(end, index == 0)) return std::nullopt;
        return result;
    }

  private:
    std::optional<ClipboardItem> readItem(simdjson::ondemand::object& object, bool keep, const char*& end) {
        std::optional<std::string_view> createdAt, id, kind;
        std::optional<std::string> text, imagePath;
        bool hasText = false;
        for (auto field : object) {
            std::string_view key;
            if (field.unescaped_key().get(key) != simdjson::SUCCESS) return std::nullopt;
            simdjson::ondemand::value value;
            if (field.value().get(value) != simdjson::SUCCESS) return std::nullopt;
            const std::string_view token = value.raw_json_token();
            end = token.data() + token.size();
            if (key == "text") {
                auto unescaped = unescape(value, token, keep);
                if (!unescaped) return std::nullopt;
                text = std::move(*unescaped);
                hasText = true;
                continue;
            }
            std::optional<std::string_view>* slot = nullptr;
            if (key == "createdAt")
                slot = &createdAt;
            else if (key == "id")
                slot = &id;
            else if (key == "kind")
                slot = &kind;
            else if (key != "imagePath")
                return std::nullopt;  // another version's key: read thoroughly
            bool isNull = false;
            if ((slot == &kind || slot == nullptr) && value.is_null().get(isNull) != simdjson::SUCCESS)
                return std::nullopt;
            if (isNull) {
                if (slot == nullptr)
                    imagePath.reset();
                else
                    slot->reset();
                continue;
            }
            std::string_view string;
            if (value.get_string().get(string) != simdjson::SUCCESS) return std::nullopt;
            if (slot == nullptr)
                imagePath = std::string(string);
            else
                *slot = string;
        }
        if (!createdAt || !id || !hasText) return std::nullopt;
        auto kindValue = kind ? ClipboardItem::parseKind(*kind) : ClipboardItem::Kind::text;
        auto date = parseDate(*createdAt);
        auto uuid = Uuid::parse(*id);
        if (!kindValue || !date || !uuid) return std::nullopt;
        if (!keep) return ClipboardItem();
        return ClipboardItem(*uuid, *kindValue, std::move(*text), std::move(imagePath), *date);
    }

    // The string's escapes undone into a string of its own, sized from the quoted form (which is
    // never shorter) and trimmed; an item past the limit is only checked.
    std::optional<std::string> unescape(simdjson::ondemand::value& value, std::string_view token, bool keep) {
        if (!keep) {
            std::string_view checked;
            if (value.get_string().get(checked) != simdjson::SUCCESS) return std::nullopt;
            return std::string();
        }
        simdjson::ondemand::raw_json_string raw;
        if (value.get_raw_json_string().get(raw) != simdjson::SUCCESS) return std::nullopt;
        std::string out(token.size() + simdjson::SIMDJSON_PADDING, '\0');
        auto* cursor = reinterpret_cast<std::uint8_t*>(out.data());
        std::string_view unescaped;
        if (parser_.unescape(raw, cursor).get(unescaped) != simdjson::SUCCESS) return std::nullopt;
        out.resize(unescaped.size());
        return out;
    }

    // After the last value: the object's brace and the list's bracket, then nothing but white
    // space. For an empty list, nothing but its brackets.
    bool onlyClosingAfter(const char* end, bool empty) const {
        const char* p = empty ? bytes_ : end;
        const char* const last = bytes_ + size_;
        if (p == nullptr) return false;
        auto expect = [&](char c) {
            while (p != last && isJsonSpace(*p))
                ++p;
            if (p == last || *p != c) return false;
            ++p;
            return true;
        };
        if (empty ? !expect('[') : !expect('}')) return false;
        if (!expect(']')) return false;
        while (p != last && isJsonSpace(*p))
            ++p;
        return p == last;
    }

    const char* bytes_;
    std::size_t size_;
    simdjson::ondemand::parser parser_;
};

// `bytes` is followed by simdjson's padding.
Decoded decodePadded(const char* bytes, std::size_t size, std::size_t limit) {
    if (auto quick = QuickReader(bytes, size).read(limit)) return std::move(*quick);
    simdjson::dom::parser parser;
    return decodeDocument(parser.parse(bytes, size, false), limit);
}

}  // namespace

std::string formatDate(std::chrono::system_clock::time_point t) {
    return log::isoTimestamp(t);
}

std::optional<std::chrono::system_clock::time_point> parseDate(std::string_view s) {
    // YYYY-MM-DDTHH:MM:SSZ
    if (s.size() != 20 || s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' || s[16] != ':' ||
        s[19] != 'Z') {
        return std::nullopt;
    }
    auto number = [&](std::size_t from, std::size_t count) -> std::optional<int> {
        int value = 0;
        for (std::size_t i = from; i < from + count; ++i) {
            if (s[i] < '0' || s[i] > '9') return std::nullopt;
            value = value * 10 + (s[i] - '0');
        }
        return value;
    };
    auto year = number(0, 4), month = number(5, 2), day = number(8, 2);
    auto hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
    using namespace std::chrono;
    const year_month_day ymd{std::chrono::year(*year), std::chrono::month(static_cast<unsigned>(*month)),
                             std::chrono::day(static_cast<unsigned>(*day))};
    if (!ymd.ok() || *hour > 23 || *minute > 59 || *second > 59) return std::nullopt;
    // The clock counts nanoseconds: about 292 years either side of 1970 are representable.
    const auto days = sys_days(ymd).time_since_epoch().count();
    if (days < -106000 || days > 106000) return std::nullopt;
    return system_clock::time_point(sys_days(ymd)) + hours(*hour) + minutes(*minute) + seconds(*second);
}

Decoded decode(std::string_view json, std::size_t limit) {
    const simdjson::padded_string padded(json);
    return decodePadded(padded.data(), padded.size(), limit);
}

Decoded decodeThoroughly(std::string_view json, std::size_t limit) {
    simdjson::dom::parser parser;
    return decodeDocument(parser.parse(json.data(), json.size(), true), limit);
}

std::uintmax_t largestFileSize(std::size_t maxItems, std::size_t maxTextLength) {
    // A character of up to eight code points, or of five control characters written as \u
    // escapes, takes at most 32 bytes; a path (the image's) at most 4096 bytes, escaped sixfold;
    // the rest of an item well under a kilobyte.
    constexpr std::uintmax_t bytesPerCharacter = 32;
    constexpr std::uintmax_t itemOverhead = 4096 * 6 + 1024;
    return 2 + static_cast<std::uintmax_t>(maxItems) *
                   (static_cast<std::uintmax_t>(maxTextLength) * bytesPerCharacter + itemOverhead + 1);
}

Decoded readFile(platform::AtomicFile& files, const std::filesystem::path& path, std::size_t limit,
                 std::uintmax_t maxBytes) {
    Decoded result;
    // Read straight into the parser's padded buffer: the file is read once and never copied.
    simdjson::padded_string buffer;
    const platform::AtomicFile::Read read = files.readFile(path, maxBytes, [&](std::size_t size) {
        buffer = simdjson::padded_string(size);
        return buffer.data();
    });
    using Outcome = platform::AtomicFile::Read::Outcome;
    switch (read.outcome) {
        case Outcome::read:
            break;
        case Outcome::missing:
            result.error = "there is no file at " + path.string();
            return result;
        case Outcome::notAFile:
            result.error = path.string() + " is not a regular file";
            return result;
        case Outcome::tooLarge:
            result.error = path.string() + " is " + std::to_string(read.size) +
                           " bytes, larger than any history can be (" + std::to_string(maxBytes) + " bytes)";
            return result;
        case Outcome::failed:
            result.error = read.error;
            return result;
    }
    return decodePadded(buffer.data(), buffer.size(), limit);
}

std::string encode(const std::vector<ClipboardItem>& items) {
    std::size_t expected = 2;
    std::size_t longest = 0;
    for (const auto& item : items) {
        expected += item.text().size() + (item.imagePath ? item.imagePath->size() : 0) + 128;
        longest = std::max(longest, item.text().size());
    }
    // Texts gain a little through escaping; RapidJSON asks for room for the worst case of one text.
    JsonOutput out(expected + expected / 16 + longest * 6);
    out.raw("[");
    for (const auto& item : items) {
        if (&item != &items.front()) out.raw(",");
        writeItem(out, item);
    }
    out.raw("]");
    return std::move(out).take();
}

std::string encodeItem(const ClipboardItem& item) {
    JsonOutput out(item.text().size() + 256);
    writeItem(out, item);
    return std::move(out).take();
}

}  // namespace quenlit::historyJson
