#include "calculator/Tokenizer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quenlit {
namespace {

using Tokens = std::vector<CalcToken>;

CalcToken num(double v) {
    return CalcToken::number(v);
}
CalcToken compact(double v) {
    return CalcToken::compactNumber(v);
}
CalcToken hex(std::uint64_t v) {
    return CalcToken::intLiteral(v, NumberBase::hexadecimal);
}
CalcToken id(const char* name) {
    return CalcToken::ident(name);
}
CalcToken op(CalcOp o) {
    return CalcToken::op(o);
}
const CalcToken comma = CalcToken::comma();
const CalcToken open = CalcToken::op(CalcOp::open);
const CalcToken close = CalcToken::op(CalcOp::close);
const CalcToken times = CalcToken::op(CalcOp::multiply);

struct Case {
    const char* text;
    std::optional<Tokens> expected;  // no value: the text cannot be tokenised
};

void expectAll(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Tokenizer::tokenize(c.text), c.expected);
    }
}

TEST(TokenizerTest, BlankTextGivesAnEmptyList) {
    expectAll({{"", Tokens{}}, {"   ", Tokens{}}, {"\t\n", Tokens{}}});
}

TEST(TokenizerTest, CommasGroupDigitsOutsideArgumentLists) {
    expectAll({
        {"1,000", Tokens{num(1000)}},
        {"1,000.5", Tokens{num(1000.5)}},
        {"1,2", Tokens{num(12)}},
        {"1,", Tokens{num(1), comma}},
        {"1,x", Tokens{num(1), comma, id("x")}},
        {"max(1,000)", Tokens{id("max"), open, num(1), comma, num(0), close}},
        {"sqrt(1,000)", Tokens{id("sqrt"), open, num(1), comma, num(0), close}},
        {"foo(1,000)", Tokens{id("foo"), open, num(1000), close}},
        {"(1,000)", Tokens{open, num(1000), close}},
        {"max(1,2)+1,000", Tokens{id("max"), open, num(1), comma, num(2), close, op(CalcOp::add), num(1000)}},
        // Nested parentheses share the call's state; the call ends only at its own ")".
        {"max((1,2),3)", Tokens{id("max"), open, open, num(1), comma, num(2), close, comma, num(3), close}},
    });
}

TEST(TokenizerTest, PrefixedIntegers) {
    expectAll({
        {"0x1F", Tokens{hex(31)}},
        {"0X1f", Tokens{hex(31)}},
        {"0b101", Tokens{CalcToken::intLiteral(5, NumberBase::binary)}},
        {"0o17", Tokens{CalcToken::intLiteral(15, NumberBase::octal)}},
        {"0x1e5", Tokens{hex(485)}},
        {"0xFFFFFFFFFFFFFFFF", Tokens{hex(18446744073709551615u)}},
        // Literals that do not convert are read again from their "0" as decimal numbers.
        {"0b102", Tokens{num(0), id("b"), num(102)}},
        {"0x10000000000000000", Tokens{num(0), times, num(1e16)}},
        {"0x", Tokens{num(0), id("x")}},
        {"0xg", Tokens{num(0), times, id("g")}},
    });
}

TEST(TokenizerTest, DecimalNumbers) {
    expectAll({
        {"2e3", Tokens{compact(2000)}},
        {"2E-3", Tokens{compact(0.002)}},
        {"2e", Tokens{num(2), id("e")}},
        {"2e+", Tokens{num(2), id("e"), op(CalcOp::add)}},
        {"1e999", std::nullopt},
        {"1000e306", std::nullopt},
        {"5k", Tokens{compact(5000)}},
        {"5K*2", Tokens{compact(5000), times, num(2)}},
        {"1.5k)", Tokens{compact(1500), close}},
        {"5k−1", Tokens{compact(5000), op(CalcOp::subtract), num(1)}},
        {"5 k", Tokens{num(5), id("k")}},
        {"5kg", Tokens{num(5), id("kg")}},
        {"5k<3", Tokens{num(5), id("k"), op(CalcOp::less), num(3)}},
        {"1e308k", std::nullopt},
        {".5", Tokens{num(0.5)}},
        {"5.", Tokens{num(5)}},
        {"1.2.3", Tokens{num(1.2), num(0.3)}},
        {".", std::nullopt},
    });
}

// A number too small for a double is zero; only one too large fails.
TEST(TokenizerTest, UnderflowingLiteralsAreZero) {
    expectAll({
        {"1e-999", Tokens{compact(0)}},
        {"2e-324", Tokens{compact(0)}},
        {"0.0001e-400", Tokens{compact(0)}},
        {"1,000e-999", Tokens{compact(0)}},
        {"1e-310", Tokens{compact(1e-310)}},
        {"0.001e311", Tokens{compact(1e308)}},
        {"1e-99999999999999999999", Tokens{compact(0)}},
        {"1e99999999999999999999", std::nullopt},
    });
}

TEST(TokenizerTest, Operators) {
    expectAll({
        {"2**3", Tokens{num(2), op(CalcOp::power), num(3)}},
        {"2^3", Tokens{num(2), op(CalcOp::power), num(3)}},
        {"3!=3", Tokens{num(3), op(CalcOp::notEqual), num(3)}},
        {"1==2", Tokens{num(1), op(CalcOp::equal), num(2)}},
        {"1<=2>=3", Tokens{num(1), op(CalcOp::lessEqual), num(2), op(CalcOp::greaterEqual), num(3)}},
        {"1≠2≤3≥4", Tokens{num(1), op(CalcOp::notEqual), num(2), op(CalcOp::lessEqual), num(3),
                           op(CalcOp::greaterEqual), num(4)}},
        {"6−2×3÷1", Tokens{num(6), op(CalcOp::subtract), num(2), times, num(3), op(CalcOp::divide), num(1)}},
        {"5!%", Tokens{num(5), op(CalcOp::factorial), op(CalcOp::percent)}},
        {"1+2=", Tokens{num(1), op(CalcOp::add), num(2)}},
        {"3! = 3", std::nullopt},
        {"1=2", std::nullopt},
        {"5 # 3", std::nullopt},
        {"$5", std::nullopt},
        {"1;2", std::nullopt},
    });
}

TEST(TokenizerTest, IdentifiersAndWhitespace) {
    expectAll({
        {"SQRT", Tokens{id("sqrt")}},
        {"2π", Tokens{num(2), id("π")}},
        {"Éclair", Tokens{id("éclair")}},
        {"log10", Tokens{id("log"), num(10)}},
        {"1\u00A0+\u20032", Tokens{num(1), op(CalcOp::add), num(2)}},
    });
}

TEST(TokenizerTest, XIsTimesOnlyBetweenValues) {
    expectAll({
        {"2x3", Tokens{num(2), times, num(3)}},
        {"2 x 3", Tokens{num(2), times, num(3)}},
        {"(1+2)x(3)", Tokens{open, num(1), op(CalcOp::add), num(2), close, times, open, num(3), close}},
        {"pi x 2", Tokens{id("pi"), times, num(2)}},
        {"3! X 2", Tokens{num(3), op(CalcOp::factorial), times, num(2)}},
        {"50%x2", Tokens{num(50), op(CalcOp::percent), times, num(2)}},
        {"2x.5", Tokens{num(2), times, num(0.5)}},
        {"x2", Tokens{id("x"), num(2)}},
        {"2x", Tokens{num(2), id("x")}},
        {"2x+1", Tokens{num(2), id("x"), op(CalcOp::add), num(1)}},
        {"sqrt x 2", Tokens{id("sqrt"), id("x"), num(2)}},
    });
}

TEST(TokenizerTest, IsMultiplicationXLooksAtBothNeighbours) {
    const std::u32string scalars = U"2x3";
    const CalcToken two = num(2);
    const CalcToken pi = id("pi");
    const CalcToken foo = id("foo");
    EXPECT_TRUE(Tokenizer::isMultiplicationX(scalars, 1, &two));
    EXPECT_TRUE(Tokenizer::isMultiplicationX(scalars, 1, &pi));
    EXPECT_FALSE(Tokenizer::isMultiplicationX(scalars, 1, nullptr));
    EXPECT_FALSE(Tokenizer::isMultiplicationX(scalars, 1, &foo));
    EXPECT_FALSE(Tokenizer::isMultiplicationX(scalars, 1, &comma));
    EXPECT_FALSE(Tokenizer::isMultiplicationX(U"2x", 1, &two));
    EXPECT_FALSE(Tokenizer::isMultiplicationX(U"2x-", 1, &two));
}

// "log2" and "atan2" end in digits: the digits join the name only when the result is a function name and
// the digits are not the start of a longer number.
TEST(TokenizerTest, FunctionNamesEndingInDigits) {
    expectAll({
        {"atan2(1, 1)", Tokens{id("atan2"), open, num(1), comma, num(1), close}},
        {"ATAN2(1,1)", Tokens{id("atan2"), open, num(1), comma, num(1), close}},
        {"log2(8)", Tokens{id("log2"), open, num(8), close}},
        {"log2 8", Tokens{id("log2"), num(8)}},
        {"log10", Tokens{id("log"), num(10)}},
        {"log28", Tokens{id("log"), num(28)}},
        {"log2.5", Tokens{id("log"), num(2.5)}},
        {"log2,5", Tokens{id("log"), num(25)}},
        {"max2", Tokens{id("max"), num(2)}},
    });
}

}  // namespace
}  // namespace quenlit
