#include "calculator/Parser.h"

#include <cmath>
#include <cstdint>

#include "calculator/CalcMath.h"

namespace quenlit {
namespace {

// Binding powers: comparisons loosest, then addition, then multiplication, then power (right-associative).
constexpr int kUnaryPower = 25;            // between multiplication and power: "-2^2" is -4, "-2*3" is (-2)*3
constexpr double kLargestFactorial = 170;  // 171! is beyond the range of a double

bool isFinite(const Parser::Value& v) {
    return std::isfinite(v.number);
}

Parser::Value plain(double number) {
    return Parser::Value{number, false, false};
}

}  // namespace

std::optional<double> Parser::scalar(const std::vector<CalcToken>& tokens, bool requireOperation) {
    // Kept per thread so an evaluation allocates nothing here; scalar() never runs inside itself.
    thread_local std::vector<std::uint32_t> closeDistance;
    thread_local std::vector<std::uint32_t> openAt;
    closeDistance.assign(tokens.size(), 0);
    openAt.clear();
    for (std::size_t k = 0; k < tokens.size(); ++k) {
        if (tokens[k].isOp(CalcOp::open)) {
            openAt.push_back(static_cast<std::uint32_t>(k));
        } else if (tokens[k].isOp(CalcOp::close) && !openAt.empty()) {
            // A ")" with no "(" before it matches nothing; scanning forward from any "(" never reaches it
            // with the counter at zero either.
            closeDistance[openAt.back()] = static_cast<std::uint32_t>(k - openAt.back());
            openAt.pop_back();
        }
    }
    Parser parser(tokens, closeDistance.data());
    std::optional<Value> value = parser.parseExpression(0);
    if (!value || parser.position_ != tokens.size() || !isFinite(*value)) return std::nullopt;
    if (requireOperation && parser.operationCount_ == 0) return std::nullopt;
    // "50%" alone is a number with a sign, not a calculation.
    if (parser.operationCount_ == 1 && value->isPercent) return std::nullopt;
    return value->effective();
}

std::optional<Parser::Value> Parser::parseExpression(int minBindingPower) {
    std::optional<Value> left = parseOperand();
    if (!left || !isFinite(*left)) return std::nullopt;
    for (;;) {
        std::optional<Op> op = peekBinary();
        if (!op || op->leftPower < minBindingPower) return left;
        if (op->consumesToken) ++position_;
        ++operationCount_;
        std::optional<Value> right = parseExpression(op->rightPower);
        if (!right) return std::nullopt;
        left = apply(op->op, *left, *right);
        if (!left || !isFinite(*left)) return std::nullopt;
    }
}

std::optional<Parser::Op> Parser::peekBinary() const {
    if (position_ >= tokens_.size()) return std::nullopt;
    const CalcToken& t = tokens_[position_];
    if (t.kind == CalcToken::Kind::op) {
        switch (t.operation) {
            case CalcOp::add:
            case CalcOp::subtract:
                return Op{t.operation, 10, 11, true};
            case CalcOp::multiply:
            case CalcOp::divide:
                return Op{t.operation, 20, 21, true};
            case CalcOp::power:
                return Op{CalcOp::power, 30, 30, true};
            case CalcOp::equal:
            case CalcOp::notEqual:
            case CalcOp::less:
            case CalcOp::greater:
            case CalcOp::lessEqual:
            case CalcOp::greaterEqual:
                return Op{t.operation, 2, 3, true};
            case CalcOp::open:
                return Op{CalcOp::multiply, 20, 21, false};
            default:
                return std::nullopt;
        }
    }
    if (t.kind != CalcToken::Kind::ident) return std::nullopt;
    if (t.name == "mod") return Op{CalcOp::percent, 20, 21, true};
    if (t.name == "power") return Op{CalcOp::power, 30, 30, true};
    if (t.name == "of") return Op{CalcOp::multiply, 20, 21, true};
    if (CalcMath::constant(t.name) || CalcMath::isCallable(t.name))
        return Op{CalcOp::multiply, 20, 21, false};
    return std::nullopt;
}

std::optional<Parser::Value> Parser::parseOperand() {
    std::optional<Value> v = parsePrefix();
    if (!v) return std::nullopt;
    while (atOp(position_, CalcOp::percent) || atOp(position_, CalcOp::factorial)) {
        if (tokens_[position_].operation == CalcOp::percent) {
            if (v->isBoolean || v->isPercent) return std::nullopt;
            ++position_;
            ++operationCount_;
            v->isPercent = true;
            if (atOp(position_, CalcOp::percent) || atOp(position_, CalcOp::factorial)) return std::nullopt;
        } else {
            double n = v->number;
            if (v->isPercent || v->isBoolean || n < 0 || n > kLargestFactorial || std::round(n) != n) {
                return std::nullopt;
            }
            double product = 1;
            for (double k = 2; k <= n; ++k)
                product *= k;
            v->number = product;
            ++position_;
            ++operationCount_;
        }
    }
    return v;
}

std::optional<Parser::Value> Parser::parsePrefix() {
    if (position_ >= tokens_.size()) return std::nullopt;
    const CalcToken& t = tokens_[position_];
    switch (t.kind) {
        case CalcToken::Kind::number:
        case CalcToken::Kind::compactNumber:
            ++position_;
            return plain(t.value);
        case CalcToken::Kind::intLiteral:
            ++position_;
            return plain(static_cast<double>(t.integer));
        case CalcToken::Kind::ident: {
            if (std::optional<double> c = CalcMath::constant(t.name)) {
                ++position_;
                return plain(*c);
            }
            if (atOp(position_ + 1, CalcOp::open) && CalcMath::isCallable(t.name))
                return parseFunction(t.name);
            const auto& functions = CalcMath::functions();
            auto function = functions.find(t.name);
            if (function == functions.end()) return std::nullopt;
            // A function applied without parentheses takes one operand: "sqrt 4^2" is (sqrt 4)^2.
            ++position_;
            std::optional<Value> operand = parseOperand();
            if (!operand || operand->isBoolean) return std::nullopt;
            ++operationCount_;
            double result = function->second(operand->effective());
            if (!std::isfinite(result)) return std::nullopt;
            return plain(result);
        }
        case CalcToken::Kind::op:
            if (t.operation == CalcOp::add || t.operation == CalcOp::subtract) {
                ++position_;
                std::optional<Value> operand = parseExpression(kUnaryPower);
                if (!operand || operand->isBoolean) return std::nullopt;
                if (t.operation == CalcOp::add) return operand;  // a plus sign is no operation
                ++operationCount_;
                return plain(-operand->effective());
            }
            if (t.operation == CalcOp::open) return parseGrouped();
            return std::nullopt;
        case CalcToken::Kind::comma:
            return std::nullopt;
    }
    return std::nullopt;
}

// The ")" that brings a count of "(" minus ")" from the "(" at position_ back to zero.
std::optional<std::size_t> Parser::matchingParenthesis() const {
    std::uint32_t distance = closeDistance_[position_];
    if (distance == 0 || position_ + distance >= tokens_.size()) return std::nullopt;
    return position_ + distance;
}

std::optional<Parser::Value> Parser::parseRange(std::size_t begin, std::size_t end) {
    Parser inner(tokens_.subspan(begin, end - begin), closeDistance_ + begin);
    std::optional<Value> value = inner.parseExpression(0);
    if (!value || inner.position_ != inner.tokens_.size() || !isFinite(*value)) return std::nullopt;
    operationCount_ += inner.operationCount_;
    return value;
}

std::optional<Parser::Value> Parser::parseGrouped() {
    std::optional<std::size_t> close = matchingParenthesis();
    if (!close) return std::nullopt;
    // The parentheses themselves count as no operation: "(5)" alone is not a calculation.
    std::optional<Value> value = parseRange(position_ + 1, *close);
    if (!value) return std::nullopt;
    position_ = *close + 1;
    return value;
}

std::optional<Parser::Value> Parser::parseFunction(std::string_view name) {
    position_ += 2;
    if (position_ >= tokens_.size()) return std::nullopt;
    std::vector<double> arguments;
    for (;;) {
        // An argument ends at a comma or at the call's ")" outside any nested parentheses; a nested "("
        // without its ")" leaves the argument without an end.
        std::size_t end = position_;
        for (; end < tokens_.size(); ++end) {
            const CalcToken& t = tokens_[end];
            if (t.isOp(CalcOp::open)) {
                if (closeDistance_[end] == 0) return std::nullopt;
                end += closeDistance_[end];
            } else if (t.isOp(CalcOp::close) || t.kind == CalcToken::Kind::comma) {
                break;
            }
        }
        if (end >= tokens_.size()) return std::nullopt;
        std::optional<Value> argument = parseRange(position_, end);
        if (!argument || argument->isBoolean) return std::nullopt;
        arguments.push_back(argument->effective());
        position_ = end + 1;
        if (tokens_[end].isOp(CalcOp::close)) {
            ++operationCount_;
            std::optional<double> result = CalcMath::evaluate(name, arguments);
            if (!result) return std::nullopt;
            return plain(*result);
        }
        if (position_ >= tokens_.size()) return std::nullopt;
    }
}

std::optional<Parser::Value> Parser::apply(CalcOp op, const Value& lhs, const Value& rhs) {
    if (lhs.isBoolean || rhs.isBoolean) return std::nullopt;
    const double a = lhs.effective();
    const double b = rhs.effective();
    switch (op) {
        case CalcOp::add:
        case CalcOp::subtract: {
            if (lhs.isPercent) return std::nullopt;
            double sign = op == CalcOp::add ? 1 : -1;
            // "200 + 10%" raises 200 by ten percent.
            if (rhs.isPercent) return plain(lhs.number * ((rhs.number * sign) / 100 + 1));
            return plain(op == CalcOp::add ? lhs.number + rhs.number : lhs.number - rhs.number);
        }
        case CalcOp::multiply:
            return plain(a * b);
        case CalcOp::divide:
            if (b == 0) return std::nullopt;
            return plain(a / b);
        case CalcOp::power:
            if (lhs.isPercent || rhs.isPercent) return std::nullopt;
            return plain(std::pow(lhs.number, rhs.number));
        case CalcOp::percent:
            if (lhs.isPercent || rhs.isPercent) return std::nullopt;
            return plain(std::fmod(lhs.number, rhs.number));
        case CalcOp::equal:
            return Value{a == b ? 1.0 : 0.0, false, true};
        case CalcOp::notEqual:
            return Value{a != b ? 1.0 : 0.0, false, true};
        case CalcOp::less:
            return Value{a < b ? 1.0 : 0.0, false, true};
        case CalcOp::greater:
            return Value{a > b ? 1.0 : 0.0, false, true};
        case CalcOp::lessEqual:
            return Value{a <= b ? 1.0 : 0.0, false, true};
        case CalcOp::greaterEqual:
            return Value{a >= b ? 1.0 : 0.0, false, true};
        case CalcOp::factorial:
        case CalcOp::open:
        case CalcOp::close:
            return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace quenlit
