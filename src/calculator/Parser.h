#pragma once

// A precedence-climbing parser that evaluates a calculation's tokens while it reads them; there is no
// syntax tree. Every failure (unknown name, unbalanced parenthesis, division by zero, a value that is
// infinite or NaN, an operand of the wrong kind) gives no value.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "calculator/CalcToken.h"

namespace quenlit {

class Parser {
  public:
    // The value of a sub-expression.
    struct Value {
        double number = 0;       // as written: a percent is not yet divided by 100
        bool isPercent = false;  // carries a postfix "%" that has not been applied yet
        bool isBoolean = false;  // the outcome of a comparison (number is 1 or 0)

        double effective() const { return isPercent ? number / 100 : number; }
    };

    // The binary operator that follows a left operand.
    struct Op {
        CalcOp op;
        int leftPower;
        int rightPower;
        bool consumesToken;  // false for implicit multiplication ("2pi", "2(3+4)")
    };

    // The value of the whole token list, or no value when it does not parse, leaves tokens unused or is
    // not finite. With requireOperation, a lone operand ("(5)", "pi") gives no value either; a bare
    // percentage ("50%") never has one.
    static std::optional<double> scalar(const std::vector<CalcToken>& tokens, bool requireOperation);

  private:
    Parser(std::span<const CalcToken> tokens, const std::uint32_t* closeDistance)
        : tokens_(tokens), closeDistance_(closeDistance) {}

    std::optional<Value> parseExpression(int minBindingPower);
    std::optional<Value> parseOperand();
    std::optional<Value> parsePrefix();
    std::optional<Value> parseGrouped();
    std::optional<Value> parseFunction(std::string_view name);
    std::optional<Op> peekBinary() const;
    std::optional<std::size_t> matchingParenthesis() const;
    static std::optional<Value> apply(CalcOp op, const Value& lhs, const Value& rhs);

    // Parses tokens_[begin, end) as one complete expression with a parser of its own, adding its
    // operations to this one's count.
    std::optional<Value> parseRange(std::size_t begin, std::size_t end);

    bool atOp(std::size_t at, CalcOp op) const { return at < tokens_.size() && tokens_[at].isOp(op); }

    std::span<const CalcToken> tokens_;
    // For each token, aligned with tokens_: for a "(", how far ahead its matching ")" is (0 when there is
    // none); unused for other tokens. Found once per evaluation, so nested parentheses are not rescanned
    // at every level.
    const std::uint32_t* closeDistance_;
    std::size_t position_ = 0;
    int operationCount_ = 0;
};

}  // namespace quenlit
