#include "calculator/Formatter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "base/Text.h"

namespace quenlit::Formatter {
namespace {

constexpr double kExactLimit = 9007199254740992.0;  // 2^53

bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        auto b = static_cast<unsigned char>(s[i]);
        std::size_t length = 0;
        char32_t c = 0;
        if (b < 0x80) {
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
            c = b & 0x1Fu;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            c = b & 0x0Fu;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            c = b & 0x07u;
        } else {
            return false;
        }
        if (i + length > s.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            auto next = static_cast<unsigned char>(s[i + k]);
            if ((next & 0xC0u) != 0x80u) return false;
            c = (c << 6) | (next & 0x3Fu);
        }
        // Overlong forms, surrogates and values beyond U+10FFFF.
        if ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
            (c >= 0xD800 && c <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

bool isAsciiSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

void appendTidied(std::string& out, char32_t c) {
    if (c < 0x80 && c != U'*' && c != U'/') {
        out.push_back(static_cast<char>(c));
    } else if (c == U'*') {
        out += "×";
    } else if (c == U'/') {
        out += "÷";
    } else {
        text::appendUtf8(out, c);
    }
}

}  // namespace

std::string copyText(double value) {
    if (value == 0) value = 0;  // no "-0"
    // to_chars never consults the C locale, which the desktop program sets from the environment.
    char buffer[32];
    std::to_chars_result result;
    if (std::round(value) == value && std::fabs(value) <= kExactLimit) {
        result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<std::int64_t>(value));
    } else {
        result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 10);
    }
    return std::string(buffer, result.ptr);
}

std::string grouped(std::string_view text) {
    if (text.find_first_of("eE") != std::string_view::npos) return std::string(text);
    const std::size_t integerLength = std::min(text.find('.'), text.size());
    const std::size_t firstDigit = !text.empty() && text[0] == '-' ? 1 : 0;
    if (integerLength < firstDigit + 4) return std::string(text);
    std::string out;
    out.reserve(text.size() + integerLength / 3);
    for (std::size_t w = 0; w < text.size(); ++w) {
        // Separators go between two digits only, never between the sign and the first digit.
        if (w > firstDigit && w < integerLength && (integerLength - w) % 3 == 0 &&
            isAsciiDigit(text[w - 1]) && isAsciiDigit(text[w])) {
            out.push_back(',');
        }
        out.push_back(text[w]);
    }
    if (!isValidUtf8(out)) return std::string(text);
    return out;
}

std::string expression(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    bool pendingSpace = false;
    auto add = [&](char32_t c, bool space) {
        if (space) {
            pendingSpace = !out.empty();
            return;
        }
        if (pendingSpace) out.push_back(' ');
        pendingSpace = false;
        appendTidied(out, c);
    };
    bool ascii = true;
    for (char c : text)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
        for (char c : text)
            add(static_cast<char32_t>(c), isAsciiSpace(c));
    } else {
        for (char32_t c : text::decodeUtf8(text))
            add(c, text::isWhiteSpace(c));
    }
    return out;
}

}  // namespace quenlit::Formatter
