#include "clipboard/HistoryJson.h"

#include "base/Log.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <simdjson.h>

#include <fstream>

namespace quenlit::historyJson {
namespace {

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

void writeString(Writer& w, std::string_view s) {
    w.String(s.data(), static_cast<rapidjson::SizeType>(s.size()));
}

void writeItem(Writer& w, const ClipboardItem& item) {
    w.StartObject();
    w.Key("createdAt");
    writeString(w, formatDate(item.createdAt));
    w.Key("id");
    writeString(w, item.id.toString());
    if (item.imagePath) {
        w.Key("imagePath");
        writeString(w, *item.imagePath);
    }
    w.Key("kind");
    writeString(w, ClipboardItem::kindName(item.kind));
    w.Key("text");
    writeString(w, item.text());
    w.EndObject();
}

std::string quoted(std::string_view s) {
    constexpr std::size_t shown = 40;
    return "\"" + std::string(s.substr(0, shown)) + (s.size() > shown ? "…\"" : "\"");
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
    return system_clock::time_point(sys_days(ymd)) + hours(*hour) + minutes(*minute) + seconds(*second);
}

Decoded decode(std::string_view json, std::size_t limit) {
    simdjson::dom::parser parser;
    return decodeDocument(parser.parse(json.data(), json.size(), true), limit);
}

Decoded readFile(const std::filesystem::path& path, std::size_t limit) {
    Decoded result;
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        result.error = ec.message();
        return result;
    }
    // Read straight into the parser's padded buffer: the file is read once and never copied.
    simdjson::padded_string buffer(static_cast<std::size_t>(size));
    std::ifstream in(path, std::ios::binary);
    if (!in || !in.read(buffer.data(), static_cast<std::streamsize>(size)) ||
        in.gcount() != static_cast<std::streamsize>(size)) {
        result.error = "the file could not be read";
        return result;
    }
    in.close();
    simdjson::dom::parser parser;
    return decodeDocument(parser.parse(buffer), limit);
}

std::string encode(const std::vector<ClipboardItem>& items) {
    std::size_t estimate = 2;
    for (const auto& item : items) {
        estimate += item.text().size() + (item.imagePath ? item.imagePath->size() : 0) + 128;
    }
    rapidjson::StringBuffer buffer;
    // Texts gain a little through escaping; one growth at most for ordinary text.
    buffer.Reserve(estimate + estimate / 16);
    Writer writer(buffer);
    writer.StartArray();
    for (const auto& item : items)
        writeItem(writer, item);
    writer.EndArray();
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::string encodeItem(const ClipboardItem& item) {
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    writeItem(writer, item);
    return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace quenlit::historyJson
