#include "automation/AppToggleBindings.h"

#include "base/Text.h"

#include <array>
#include <utility>

namespace quenlit {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Lines of the file are trimmed of blanks and tabs only: a carriage return stays, so a file with
// CR LF line ends has no "[[toggle]]" line.
std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Length of a line break (LF, VT, FF, CR, NEL, LS, PS) starting at `s`, or 0.
std::size_t lineBreakAt(std::string_view s) {
    if (s.empty()) return 0;
    const char c = s.front();
    if (c == '\n' || c == '\v' || c == '\f' || c == '\r') return 1;
    if (s.size() >= 2 && s[0] == '\xC2' && s[1] == '\x85') return 2;
    if (s.size() >= 3 && s[0] == '\xE2' && s[1] == '\x80' && (s[2] == '\xA8' || s[2] == '\xA9')) return 3;
    return 0;
}

std::size_t lineBreakBefore(std::string_view s) {
    if (s.empty()) return 0;
    const char c = s.back();
    if (c == '\n' || c == '\v' || c == '\f' || c == '\r') return 1;
    if (s.size() >= 2 && lineBreakAt(s.substr(s.size() - 2)) == 2) return 2;
    if (s.size() >= 3 && lineBreakAt(s.substr(s.size() - 3)) == 3) return 3;
    return 0;
}

// Key names and application targets are also trimmed of line breaks.
std::string_view trimBlanksAndLineBreaks(std::string_view s) {
    for (;;) {
        if (!s.empty() && isBlank(s.front())) {
            s.remove_prefix(1);
        } else if (std::size_t n = lineBreakAt(s)) {
            s.remove_prefix(n);
        } else {
            break;
        }
    }
    for (;;) {
        if (!s.empty() && isBlank(s.back())) {
            s.remove_suffix(1);
        } else if (std::size_t n = lineBreakBefore(s)) {
            s.remove_suffix(n);
        } else {
            break;
        }
    }
    return s;
}

std::optional<std::string> nonEmpty(std::string_view s) {
    if (s.empty()) return std::nullopt;
    return std::string(s);
}

// ANSI key positions of the letters a-z and the digits 0-9.
constexpr std::array<std::uint16_t, 26> kLetterCodes = {0,  11, 8,  2,  14, 3, 5,  4,  34, 38, 40, 37, 46,
                                                        45, 31, 35, 12, 15, 1, 17, 32, 9,  13, 7,  16, 6};
constexpr std::array<std::uint16_t, 10> kDigitCodes = {29, 18, 19, 20, 21, 23, 22, 26, 28, 25};

struct NamedKey {
    std::string_view name;
    std::uint16_t code;
};
constexpr std::array<NamedKey, 6> kNamedKeys = {{
    {"space", 49},
    {"tab", 48},
    {"return", 36},
    {"enter", 36},
    {"escape", 53},
    {"esc", 53},
}};

constexpr std::string_view kToggleHeader = "[[toggle]]";

}  // namespace

std::string_view caseName(AppToggleModifier modifier) {
    switch (modifier) {
        case AppToggleModifier::leftControl:
            return "leftControl";
    }
    return "leftControl";
}

std::string AppToggleBinding::label() const {
    if (bundleID && !bundleID->empty()) return *bundleID;
    if (appName) return *appName;
    return "?";
}

std::string AppToggleBindingsError::description() const {
    switch (kind_) {
        case Kind::fileUnreadable:
            return "cannot read " + payload_;
        case Kind::fileTooLarge:
            return payload_ + " is too large (" + std::to_string(size_) + " bytes, at most " +
                   std::to_string(AppToggleBindings::kMaxFileSize) + ")";
        case Kind::unknownKey:
            return "unknown key \"" + payload_ + "\"";
        case Kind::unknownModifier:
            return "unknown modifier \"" + payload_ + "\"";
        case Kind::emptyKey:
            return "toggle is missing key";
        case Kind::missingTarget:
            return "toggle needs app or bundle_id";
        case Kind::noModifiers:
            return "toggle needs at least one modifier";
    }
    return {};
}

namespace AppToggleBindings {

std::optional<std::uint16_t> keyCode(std::string_view key) {
    const std::string name = text::lowercase(trimBlanksAndLineBreaks(key));
    if (name.size() == 1) {
        const char c = name.front();
        if (c >= 'a' && c <= 'z') return kLetterCodes[static_cast<std::size_t>(c - 'a')];
        if (c >= '0' && c <= '9') return kDigitCodes[static_cast<std::size_t>(c - '0')];
        return std::nullopt;
    }
    for (const NamedKey& named : kNamedKeys) {
        if (named.name == name) return named.code;
    }
    return std::nullopt;
}

std::string_view stripComment(std::string_view line) {
    bool insideQuotes = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') {
            insideQuotes = !insideQuotes;
        } else if (line[i] == '#' && !insideQuotes) {
            return line.substr(0, i);
        }
    }
    return line;
}

std::string_view unquote(std::string_view value) {
    std::string_view s = trimBlanks(value);
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
    return s;
}

std::vector<std::string> parseStringArray(std::string_view value) {
    std::string_view s = trimBlanks(value);
    std::vector<std::string> items;
    if (s.size() < 2 || s.front() != '[' || s.back() != ']') return items;
    s = s.substr(1, s.size() - 2);
    while (true) {
        const std::size_t comma = s.find(',');
        const std::string_view piece = unquote(s.substr(0, comma));
        if (!piece.empty()) items.emplace_back(piece);
        if (comma == std::string_view::npos) break;
        s.remove_prefix(comma + 1);
    }
    return items;
}

std::variant<AppToggleBinding, AppToggleBindingsError> ToggleDraft::build() const {
    if (!key || key->empty()) return AppToggleBindingsError::emptyKey();
    const auto code = keyCode(*key);
    if (!code) return AppToggleBindingsError::unknownKey(*key);
    auto name = nonEmpty(trimBlanksAndLineBreaks(app.value_or(std::string())));
    auto identifier = nonEmpty(trimBlanksAndLineBreaks(bundleID.value_or(std::string())));
    if (!name && !identifier) return AppToggleBindingsError::missingTarget();
    AppToggleModifierSet set;
    for (const std::string& modifier : modifiers) {
        if (modifier != caseName(AppToggleModifier::leftControl)) {
            return AppToggleBindingsError::unknownModifier(modifier);
        }
        set.insert(AppToggleModifier::leftControl);
    }
    if (set.empty()) return AppToggleBindingsError::noModifiers();
    return AppToggleBinding{text::lowercase(*key), *code, set, std::move(name), std::move(identifier)};
}

AppToggleBindingsResult parse(std::string_view text) {
    AppToggleBindingsResult result;
    std::optional<ToggleDraft> draft;
    auto finish = [&] {
        if (!draft) return;
        auto built = draft->build();
        draft.reset();
        // Only the first error is reported, but every toggle is still built in file order.
        if (auto* error = std::get_if<AppToggleBindingsError>(&built)) {
            if (!result.error) result.error = std::move(*error);
        } else {
            result.bindings.push_back(std::move(std::get<AppToggleBinding>(built)));
        }
    };

    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = trimBlanks(stripComment(text.substr(start, end - start)));
        start = end + 1;
        if (line.empty()) continue;
        if (line == kToggleHeader) {
            finish();
            draft.emplace();
            continue;
        }
        if (!draft) continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view name = trimBlanks(line.substr(0, equals));
        const std::string_view value = trimBlanks(line.substr(equals + 1));
        if (name == "key") {
            draft->key = std::string(unquote(value));
        } else if (name == "app") {
            draft->app = std::string(unquote(value));
        } else if (name == "bundle_id") {
            draft->bundleID = std::string(unquote(value));
        } else if (name == "modifiers") {
            draft->modifiers = parseStringArray(value);
        }
    }
    finish();

    if (result.error) result.bindings.clear();
    return result;
}

}  // namespace AppToggleBindings

}  // namespace quenlit
