#include "calculator/Tokenizer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string_view>
#include <system_error>

#include "base/Text.h"
#include "calculator/CalcMath.h"

namespace quenlit {
namespace {

bool isDigit(char32_t c) {
    return c >= U'0' && c <= U'9';
}

// ICU is only asked about scalars outside ASCII: this runs for every character of every query.
bool isSpace(char32_t c) {
    if (c < 0x80) return c == U' ' || (c >= U'\t' && c <= U'\r');
    return text::isWhiteSpace(c);
}

bool isLetter(char32_t c) {
    return c == U'π' || c == U'τ' || text::isAlphabetic(c);
}

int hexDigitValue(char32_t c) {
    if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
    if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a') + 10;
    if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A') + 10;
    return -1;
}

// Characters after which a "k" is a thousands suffix rather than the start of a word ("5k+1", not "5kg").
bool endsThousandsSuffix(char32_t c) {
    if (isSpace(c)) return true;
    for (char32_t s : std::u32string_view(U"!%)*+,-/=^×−÷")) {
        if (c == s) return true;
    }
    return false;
}

// from_chars reports a value too large and one too small the same way; the decimal exponent of the
// first significant digit tells them apart.
bool underflows(std::string_view number) {
    std::size_t exponentAt = std::min(number.find_first_of("eE"), number.size());
    std::string_view mantissa = number.substr(0, exponentAt);
    long integerDigits = static_cast<long>(std::min(mantissa.find('.'), mantissa.size()));
    // The first significant digit, counted over the digits alone, gives the decimal magnitude:
    // 123.4 is of magnitude 2 and 0.05 of magnitude -2.
    long magnitude = 0;
    long position = 0;
    bool significant = false;
    for (char c : mantissa) {
        if (c == '.') continue;
        if (c != '0') {
            magnitude = integerDigits - 1 - position;
            significant = true;
            break;
        }
        ++position;
    }
    if (!significant) return true;
    if (exponentAt < number.size()) {
        std::size_t k = exponentAt + 1;
        bool negative = number[k] == '-';
        if (number[k] == '-' || number[k] == '+') ++k;
        long exponent = 0;
        for (; k < number.size(); ++k)
            exponent = std::min(exponent * 10 + (number[k] - '0'), 1000000L);
        magnitude += negative ? -exponent : exponent;
    }
    return magnitude < 0;
}

std::optional<double> convertDecimal(std::string_view number) {
    double value = 0;
    const char* end = number.data() + number.size();
    auto [ptr, ec] = std::from_chars(number.data(), end, value, std::chars_format::general);
    if (ptr != end) return std::nullopt;
    if (ec == std::errc::result_out_of_range) {
        if (underflows(number)) return 0.0;
        return std::nullopt;
    }
    if (ec != std::errc() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::string lowercaseRun(const std::u32string& scalars, std::size_t begin, std::size_t end) {
    std::string out;
    // π and τ are already lower-case: "2π*π" needs no call into ICU.
    bool simple = true;
    for (std::size_t i = begin; i < end; ++i) {
        char32_t c = scalars[i];
        if (c >= 0x80 && c != U'π' && c != U'τ') simple = false;
        text::appendUtf8(out, c);
    }
    if (!simple) return text::lowercase(out);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// Every query is tokenised as it is typed, so the scalar buffer is kept per thread instead of being
// allocated for each call; plain ASCII needs no UTF-8 decoding.
const std::u32string& decode(std::string_view text) {
    thread_local std::u32string scalars;
    scalars.clear();
    for (char byte : text) {
        auto b = static_cast<unsigned char>(byte);
        if (b >= 0x80) {
            scalars = text::decodeUtf8(text);
            break;
        }
        scalars.push_back(b);
    }
    return scalars;
}

class Run {
  public:
    explicit Run(const std::u32string& scalars) : s_(scalars) { tokens_.reserve(s_.size() / 2 + 1); }

    std::optional<std::vector<CalcToken>> tokenize() {
        while (i_ < s_.size()) {
            if (!step()) return std::nullopt;
        }
        return std::move(tokens_);
    }

  private:
    char32_t at(std::size_t k) const { return k < s_.size() ? s_[k] : U'\0'; }
    const CalcToken* last() const { return tokens_.empty() ? nullptr : &tokens_.back(); }

    // Applies the first rule that fits the scalar at i_; false when the text cannot be tokenised.
    bool step() {
        char32_t c = s_[i_];
        if (isSpace(c)) {
            ++i_;
            return true;
        }
        if (c == U'0' && i_ + 2 < s_.size() && prefixedInteger()) return true;
        if (isDigit(c) || (c == U'.' && isDigit(at(i_ + 1)))) return decimalNumber();
        if ((c == U'x' || c == U'X') && Tokenizer::isMultiplicationX(s_, i_, last())) {
            tokens_.push_back(CalcToken::op(CalcOp::multiply));
            ++i_;
            return true;
        }
        if (isLetter(c)) {
            identifier();
            return true;
        }
        char32_t next = at(i_ + 1);
        if (c == U'*' && next == U'*') return twoScalarOp(CalcOp::power);
        if (next == U'=') {
            if (c == U'!') return twoScalarOp(CalcOp::notEqual);
            if (c == U'<') return twoScalarOp(CalcOp::lessEqual);
            if (c == U'>') return twoScalarOp(CalcOp::greaterEqual);
            if (c == U'=') return twoScalarOp(CalcOp::equal);
        }
        if (singleScalar(c)) {
            ++i_;
            return true;
        }
        // A trailing "=" is the habit of finishing a calculation; anywhere else it is no operator.
        if (c == U'=' && i_ + 1 == s_.size()) {
            ++i_;
            return true;
        }
        return false;
    }

    bool twoScalarOp(CalcOp op) {
        tokens_.push_back(CalcToken::op(op));
        i_ += 2;
        return true;
    }

    // "0x1F", "0b101", "0o17". False (nothing consumed) when the digits are missing, invalid in the radix
    // or too large; the "0" is then an ordinary number.
    bool prefixedInteger() {
        NumberBase base;
        switch (s_[i_ + 1]) {
            case U'b':
            case U'B':
                base = NumberBase::binary;
                break;
            case U'o':
            case U'O':
                base = NumberBase::octal;
                break;
            case U'x':
            case U'X':
                base = NumberBase::hexadecimal;
                break;
            default:
                return false;
        }
        const auto radix = static_cast<std::uint64_t>(base);
        constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
        std::size_t k = i_ + 2;
        std::uint64_t value = 0;
        bool valid = true;
        for (; k < s_.size(); ++k) {
            int digit = hexDigitValue(s_[k]);
            if (digit < 0) break;
            auto d = static_cast<std::uint64_t>(digit);
            if (d >= radix || value > (kMax - d) / radix) valid = false;
            if (valid) value = value * radix + d;
        }
        if (k == i_ + 2 || !valid) return false;
        tokens_.push_back(CalcToken::intLiteral(value, base));
        i_ = k;
        return true;
    }

    bool decimalNumber() {
        number_.clear();
        bool dot = false;
        std::size_t k = i_;
        for (; k < s_.size(); ++k) {
            char32_t c = s_[k];
            if (isDigit(c)) {
                number_.push_back(static_cast<char>(c));
            } else if (c == U'.' && !dot) {
                number_.push_back('.');
                dot = true;
            } else if (c == U',' && !inCall_ && isDigit(at(k + 1))) {
                // A digit group separator ("1,000"); inside an argument list it separates arguments.
            } else {
                break;
            }
        }
        bool compact = false;
        if (at(k) == U'e' || at(k) == U'E') {
            std::size_t digits = k + 1;
            if (at(digits) == U'+' || at(digits) == U'-') ++digits;
            if (isDigit(at(digits))) {
                for (; k < digits; ++k)
                    number_.push_back(static_cast<char>(s_[k]));
                for (; isDigit(at(k)); ++k)
                    number_.push_back(static_cast<char>(s_[k]));
                compact = true;
            }
        }
        std::optional<double> value = convertDecimal(number_);
        if (!value) return false;
        if ((at(k) == U'k' || at(k) == U'K') && (k + 1 == s_.size() || endsThousandsSuffix(s_[k + 1]))) {
            *value *= 1000;
            if (!std::isfinite(*value)) return false;
            ++k;
            compact = true;
        }
        tokens_.push_back(compact ? CalcToken::compactNumber(*value) : CalcToken::number(*value));
        i_ = k;
        return true;
    }

    void identifier() {
        std::size_t end = i_;
        while (end < s_.size() && isLetter(s_[end]))
            ++end;
        std::string name = lowercaseRun(s_, i_, end);
        // Names such as "log2" and "atan2" end in digits. The digits join the name only when together they
        // name a function and the digits are not the start of a longer number: "log28" is log(28),
        // "log2.5" is log(2.5), "log10" is log(10).
        if (end < s_.size() && isDigit(s_[end])) {
            std::size_t digitsEnd = end;
            while (digitsEnd < s_.size() && isDigit(s_[digitsEnd]))
                ++digitsEnd;
            if (at(digitsEnd) != U'.' && at(digitsEnd) != U',') {
                std::size_t letters = name.size();
                for (std::size_t k = end; k < digitsEnd; ++k)
                    name.push_back(static_cast<char>(s_[k]));
                if (CalcMath::isCallable(name)) {
                    end = digitsEnd;
                } else {
                    name.resize(letters);
                }
            }
        }
        tokens_.push_back(CalcToken::ident(std::move(name)));
        i_ = end;
    }

    bool singleScalar(char32_t c) {
        switch (c) {
            case U'+':
                tokens_.push_back(CalcToken::op(CalcOp::add));
                return true;
            case U'-':
            case U'−':
                tokens_.push_back(CalcToken::op(CalcOp::subtract));
                return true;
            case U'*':
            case U'×':
                tokens_.push_back(CalcToken::op(CalcOp::multiply));
                return true;
            case U'/':
            case U'÷':
                tokens_.push_back(CalcToken::op(CalcOp::divide));
                return true;
            case U'^':
                tokens_.push_back(CalcToken::op(CalcOp::power));
                return true;
            case U'!':
                tokens_.push_back(CalcToken::op(CalcOp::factorial));
                return true;
            case U'%':
                tokens_.push_back(CalcToken::op(CalcOp::percent));
                return true;
            case U'<':
                tokens_.push_back(CalcToken::op(CalcOp::less));
                return true;
            case U'>':
                tokens_.push_back(CalcToken::op(CalcOp::greater));
                return true;
            case U'≠':
                tokens_.push_back(CalcToken::op(CalcOp::notEqual));
                return true;
            case U'≤':
                tokens_.push_back(CalcToken::op(CalcOp::lessEqual));
                return true;
            case U'≥':
                tokens_.push_back(CalcToken::op(CalcOp::greaterEqual));
                return true;
            case U'(':
                // Nested parentheses inside an argument list share the outer call's state.
                if (!inCall_ && last() != nullptr && last()->kind == CalcToken::Kind::ident &&
                    CalcMath::isCallable(last()->name)) {
                    inCall_ = true;
                    callDepth_ = depth_;
                }
                tokens_.push_back(CalcToken::op(CalcOp::open));
                ++depth_;
                return true;
            case U')':
                --depth_;
                if (inCall_ && depth_ == callDepth_) inCall_ = false;
                tokens_.push_back(CalcToken::op(CalcOp::close));
                return true;
            case U',':
                tokens_.push_back(CalcToken::comma());
                return true;
            default:
                return false;
        }
    }

    const std::u32string& s_;
    std::size_t i_ = 0;
    std::vector<CalcToken> tokens_;
    // Parenthesis depth; it may go below zero, which the parser rejects.
    int depth_ = 0;
    // Inside a function's argument list commas separate arguments instead of grouping digits.
    bool inCall_ = false;
    int callDepth_ = 0;
    std::string number_;  // the decimal text being read, reused between numbers
};

}  // namespace

namespace Tokenizer {

std::optional<std::vector<CalcToken>> tokenize(std::string_view text) {
    return Run(decode(text)).tokenize();
}

bool isMultiplicationX(const std::u32string& scalars, std::size_t at, const CalcToken* previous) {
    if (previous == nullptr) return false;
    bool afterValue = false;
    switch (previous->kind) {
        case CalcToken::Kind::number:
        case CalcToken::Kind::compactNumber:
        case CalcToken::Kind::intLiteral:
            afterValue = true;
            break;
        case CalcToken::Kind::ident:
            afterValue = CalcMath::constant(previous->name).has_value();
            break;
        case CalcToken::Kind::op:
            afterValue = previous->operation == CalcOp::factorial || previous->operation == CalcOp::percent ||
                         previous->operation == CalcOp::close;
            break;
        case CalcToken::Kind::comma:
            break;
    }
    if (!afterValue || at + 1 >= scalars.size()) return false;
    char32_t next = scalars[at + 1];
    return isSpace(next) || next == U'(' || next == U'.' || isDigit(next) || isLetter(next);
}

}  // namespace Tokenizer

namespace {

const char* opName(CalcOp op) {
    static constexpr const char* kNames[] = {
        "add",   "subtract", "multiply", "divide", "power",   "factorial", "percent",      "open",
        "close", "equal",    "notEqual", "less",   "greater", "lessEqual", "greaterEqual",
    };
    return kNames[static_cast<int>(op)];
}

std::string shortest(double v) {
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
    return std::string(buffer, result.ptr);
}

}  // namespace

std::string toString(const CalcToken& token) {
    switch (token.kind) {
        case CalcToken::Kind::number:
            return "number(" + shortest(token.value) + ")";
        case CalcToken::Kind::compactNumber:
            return "compactNumber(" + shortest(token.value) + ")";
        case CalcToken::Kind::intLiteral:
            return "intLiteral(" + std::to_string(token.integer) + ", " +
                   std::to_string(static_cast<int>(token.base)) + ")";
        case CalcToken::Kind::ident:
            return "ident(\"" + token.name + "\")";
        case CalcToken::Kind::op:
            return std::string("op(") + opName(token.operation) + ")";
        case CalcToken::Kind::comma:
            return "comma";
    }
    return "?";
}

std::ostream& operator<<(std::ostream& out, const CalcToken& token) {
    return out << toString(token);
}

}  // namespace quenlit
