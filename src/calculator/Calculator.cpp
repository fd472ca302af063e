#include "calculator/Calculator.h"

#include <charconv>
#include <cmath>
#include <vector>

#include "base/Text.h"
#include "calculator/CalcToken.h"
#include "calculator/Formatter.h"
#include "calculator/Parser.h"
#include "calculator/Tokenizer.h"

namespace quenlit::Calculator {
namespace {

constexpr std::size_t kMaxCharacters = 256;

bool isTrailingOperator(const CalcToken& t) {
    return t.kind == CalcToken::Kind::op && static_cast<int>(t.operation) <= static_cast<int>(CalcOp::power);
}

bool isAsciiSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Most queries begin and end in ASCII; ICU is asked only when a non-ASCII character is at an end.
std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isAsciiSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isAsciiSpace(s.back()))
        s.remove_suffix(1);
    if (!s.empty() &&
        (static_cast<unsigned char>(s.front()) >= 0x80 || static_cast<unsigned char>(s.back()) >= 0x80)) {
        return text::trim(s);
    }
    return s;
}

}  // namespace

std::optional<Result> evaluate(std::string_view query) {
    std::string_view text = trimmed(query);
    if (text.empty()) return std::nullopt;
    // A character is at least one byte, so only long texts need their characters counted.
    if (text.size() > kMaxCharacters && text::graphemeCount(text) > kMaxCharacters) return std::nullopt;
    if (text.back() == '=') {
        text = trimmed(text.substr(0, text.size() - 1));
        if (text.empty()) return std::nullopt;
    }

    std::optional<std::vector<CalcToken>> tokens = Tokenizer::tokenize(text);
    if (!tokens || tokens->empty()) return std::nullopt;

    std::optional<double> value;
    if (isTrailingOperator(tokens->back())) {
        // A trailing operator is ignored so a calculation being typed already shows a value: "12*" is 12.
        tokens->pop_back();
        if (tokens->empty()) return std::nullopt;
        value = Parser::scalar(*tokens, tokens->size() >= 2);
    } else if (tokens->size() == 1) {
        const CalcToken& only = tokens->front();
        if (only.kind == CalcToken::Kind::intLiteral && only.base != NumberBase::decimal) {
            // "0xFF" is worth showing in decimal; the integer is exact even beyond 2^53.
            char buffer[24];
            auto end = std::to_chars(buffer, buffer + sizeof buffer, only.integer).ptr;
            std::string copy(buffer, end);
            std::string display = Formatter::grouped(copy);
            return Result{std::string(text), std::move(display), std::move(copy)};
        }
        // "5k" and "1e6" are worth spelling out; a lone "42", "pi" or "sqrt" is no calculation.
        if (only.kind != CalcToken::Kind::compactNumber) return std::nullopt;
        value = only.value;
    } else {
        value = Parser::scalar(*tokens, true);
    }

    if (!value || !std::isfinite(*value)) return std::nullopt;
    std::string copy = Formatter::copyText(*value);
    std::string display = Formatter::grouped(copy);
    return Result{Formatter::expression(text), std::move(display), std::move(copy)};
}

}  // namespace quenlit::Calculator
