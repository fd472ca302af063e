#include "calculator/Parser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

#include "calculator/CalcMath.h"
#include "calculator/Tokenizer.h"

namespace quenlit {
namespace {

std::optional<double> scalar(const char* text, bool requireOperation = true) {
    std::optional<std::vector<CalcToken>> tokens = Tokenizer::tokenize(text);
    if (!tokens) {
        ADD_FAILURE() << "does not tokenise: " << text;
        return std::nullopt;
    }
    return Parser::scalar(*tokens, requireOperation);
}

struct Case {
    const char* text;
    std::optional<double> expected;  // no value: not a calculation
};

void expectAll(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::optional<double> actual = scalar(c.text);
        ASSERT_EQ(actual.has_value(), c.expected.has_value()) << (actual ? *actual : 0.0);
        if (c.expected) {
            EXPECT_DOUBLE_EQ(*actual, *c.expected);
        }
    }
}

TEST(ParserTest, PrecedenceAndAssociativity) {
    expectAll({
        {"2+3*4", 14},
        {"(2+3)*4", 20},
        {"10-4-3", 3},
        {"2^3^2", 512},
        {"-2^2", -4},
        {"-2*3", -6},
        {"2*-3", -6},
        {"--2", 2},
        {"2(3+4)", 14},
        {"(1+2)(3+4)", 21},
        {"2pi", 6.283185307179586},
        {"2 sqrt 16", 8},
        {"1 + 2 > 2", 1},
        {"2 3", std::nullopt},
        {"(1", std::nullopt},
        {"1)", std::nullopt},
        {"()", std::nullopt},
        {")(", std::nullopt},
        {"((1)", std::nullopt},
        {"(1)+(2", std::nullopt},
        {"((1)+(2))*((3))", 9},
        {"1/0", std::nullopt},
        {"10^400", std::nullopt},
    });
}

TEST(ParserTest, PercentAndModulo) {
    expectAll({
        {"10 mod 3", 1},
        {"-7 mod 3", -1},
        {"10 % 3", std::nullopt},
        {"2 power 10", 1024},
        {"20% of 50", 10},
        {"20% * 50", 10},
        {"200 + 10%", 220},
        {"200 - 10%", 180},
        {"200 + +10%", 220},
        {"50% * 2", 1},
        {"-50%", -0.5},
        {"5% + 1", std::nullopt},
        {"2^50%", std::nullopt},
        {"50% mod 3", std::nullopt},
        {"5%%", std::nullopt},
        {"5%!", std::nullopt},
        {"50%", std::nullopt},
    });
}

TEST(ParserTest, ComparisonsGiveOneOrZeroAndCannotBeOperands) {
    expectAll({
        {"3 > 2", 1},
        {"2 == 3", 0},
        {"2 != 3", 1},
        {"2 ≥ 3", 0},
        {"50% == 0.5", 1},
        {"1 < 2 < 3", std::nullopt},
        {"(1 < 2) + 1", std::nullopt},
        {"-(1 < 2)", std::nullopt},
        {"sqrt(1 < 2)", std::nullopt},
        {"(1 < 2)!", std::nullopt},
    });
}

TEST(ParserTest, Factorials) {
    expectAll({
        {"5!", 120},
        {"0!", 1},
        {"3!!", 720},
        {"5!%", 1.2},
        {"170!", 7.257415615307994e306},
        {"171!", std::nullopt},
        {"2.5!", std::nullopt},
        {"(-3)!", std::nullopt},
    });
}

TEST(ParserTest, FunctionsWithoutParenthesesTakeOneOperand) {
    expectAll({
        {"sqrt 16", 4},
        {"sin 0", 0},
        {"log10", 1},
        {"sqrt 4^2", 4},
        {"sqrt 4!", std::sqrt(24.0)},
        {"abs -3", 3},
        {"max 3", std::nullopt},
        {"foo+1", std::nullopt},
        {"sqrt", std::nullopt},
        {"ln 0", std::nullopt},
    });
}

TEST(ParserTest, FunctionCalls) {
    expectAll({
        {"max(3, 9, 4)", 9},
        {"max(-1)", -1},
        {"avg(1, 2)", 1.5},
        {"average(1e308, 1e308)", 1e308},
        {"hypot(3, 4)", 5},
        {"hypot(-3)", 3},
        {"gcd(12, 18)", 6},
        {"gcd(-12, 18, 0)", 6},
        {"lcm(4, 6)", 12},
        {"lcm(4, 0, 6)", 0},
        {"gcd(1.5, 3)", std::nullopt},
        {"gcd(2^53, 2)", std::nullopt},
        {"lcm(9007199254740991, 9007199254740990)", std::nullopt},
        {"round(3.14159, 2)", 3.14},
        {"round(1250, -2)", 1300},
        {"round(2.5)", 3},
        {"round(1, 0.5)", std::nullopt},
        {"round(1, 309)", std::nullopt},
        {"log(8, 2)", 3},
        {"log(100)", 2},
        {"log(8, 1)", std::nullopt},
        {"root(27, 3)", 3},
        {"root(-8, 3)", -2},
        {"root(-8, 2)", std::nullopt},
        {"root(8, 0)", std::nullopt},
        {"atan2(1, 1)", 0.7853981633974483},
        {"pow(2, 0.5)", 1.4142135623730951},
        {"fmod(-7, 3)", -1},
        {"sign(-3) + sign(0)", -1},
        {"cot(1)", 1 / std::tan(1.0)},
        {"max(1, (2))", 2},
        {"max(2, 1+2)*2", 6},
        {"sqrt(-1)", std::nullopt},
        {"max()", std::nullopt},
        {"max(1,)", std::nullopt},
        {"max(1,,2)", std::nullopt},
        {"max(1", std::nullopt},
        {"max((1,2))", std::nullopt},
        {"max(1, (2)", std::nullopt},
        {"max(abs(-3), (2)(2))", 4},
        {"pow(2)", std::nullopt},
        {"sqrt(1, 2)", std::nullopt},
        {"pow(1, 2, 3)", std::nullopt},
    });
}

TEST(ParserTest, RequireOperation) {
    EXPECT_EQ(scalar("(5)"), std::nullopt);
    EXPECT_EQ(scalar("pi"), std::nullopt);
    EXPECT_EQ(scalar("+5"), std::nullopt);
    EXPECT_EQ(scalar("-5"), -5);
    EXPECT_EQ(scalar("(5)", false), 5);
    EXPECT_EQ(scalar("pi", false), 3.141592653589793);
    EXPECT_EQ(scalar("50%", false), std::nullopt);
    EXPECT_EQ(Parser::scalar({}, false), std::nullopt);
}

TEST(CalcMathTest, TablesHoldEveryName) {
    EXPECT_EQ(CalcMath::constants().size(), 6u);
    EXPECT_EQ(CalcMath::functions().size(), 30u);
    EXPECT_EQ(CalcMath::multipleArguments().size(), 15u);
}

TEST(CalcMathTest, EvaluateRejectsNonFiniteArguments) {
    EXPECT_EQ(CalcMath::evaluate("max", {1, INFINITY}), std::nullopt);
    EXPECT_EQ(CalcMath::evaluate("sum", {NAN}), std::nullopt);
    EXPECT_EQ(CalcMath::evaluate("sum", {}), std::nullopt);
    EXPECT_EQ(CalcMath::evaluate("sum", {1e308, 1e308}), std::nullopt);
}

}  // namespace
}  // namespace quenlit
