#include "calculator/Calculator.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "calculator/Formatter.h"

namespace quenlit {
namespace Calculator {

void PrintTo(const Result& r, std::ostream* out) {
    *out << "{expression \"" << r.expression << "\", display \"" << r.display << "\", copyText \""
         << r.copyText << "\"}";
}

}  // namespace Calculator

namespace {

using Calculator::Result;

struct Case {
    const char* query;
    std::optional<Result> expected;  // no value: no calculator row
};

void expectAll(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        EXPECT_EQ(Calculator::evaluate(c.query), c.expected);
    }
}

TEST(CalculatorTest, QueriesThatAreNoCalculation) {
    expectAll({
        {"", std::nullopt},         {"   ", std::nullopt},     {"=", std::nullopt},
        {"  =  ", std::nullopt},    {"42", std::nullopt},      {"3.14", std::nullopt},
        {"pi", std::nullopt},       {"sqrt", std::nullopt},    {"+", std::nullopt},
        {"hello", std::nullopt},    {"firefox", std::nullopt}, {"(5)", std::nullopt},
        {"50%", std::nullopt},      {"50%+", std::nullopt},    {"1/0", std::nullopt},
        {"sqrt(-1)", std::nullopt}, {"foo+1", std::nullopt},   {"1e999", std::nullopt},
        {"5 # 3", std::nullopt},
    });
}

TEST(CalculatorTest, Answers) {
    expectAll({
        {"1234 * 2", Result{"1234 × 2", "2,468", "2468"}},
        {"-5", Result{"-5", "-5", "-5"}},
        {"1+2=", Result{"1+2", "3", "3"}},
        {"  1+2 =  ", Result{"1+2", "3", "3"}},
        {"\u00A0 1+2\u3000=\u2003", Result{"1+2", "3", "3"}},
        {"1+2==", Result{"1+2=", "3", "3"}},
        {"2 *  3", Result{"2 × 3", "6", "6"}},
        {"8/2", Result{"8÷2", "4", "4"}},
        {"2**3", Result{"2××3", "8", "8"}},
        {"6 − 2 x 2", Result{"6 − 2 x 2", "2", "2"}},
        {"3 > 2", Result{"3 > 2", "1", "1"}},
        {"2 == 3", Result{"2 == 3", "0", "0"}},
        {"0 * -1", Result{"0 × -1", "0", "0"}},
        {"1/3", Result{"1÷3", "0.3333333333", "0.3333333333"}},
        {"0.1+0.2", Result{"0.1+0.2", "0.3", "0.3"}},
        {"2^60", Result{"2^60", "1.152921505e+18", "1.152921505e+18"}},
        {"2^53", Result{"2^53", "9,007,199,254,740,992", "9007199254740992"}},
        {"1234567*10", Result{"1234567×10", "12,345,670", "12345670"}},
        {"-1234.5*2", Result{"-1234.5×2", "-2,469", "-2469"}},
        {"10000.5+0", Result{"10000.5+0", "10,000.5", "10000.5"}},
        {"1/10^7", Result{"1÷10^7", "1e-07", "1e-07"}},
        {"-123456", Result{"-123456", "-123,456", "-123456"}},
    });
}

TEST(CalculatorTest, ATrailingOperatorIsIgnored) {
    expectAll({
        {"12*", Result{"12×", "12", "12"}},
        {"5+", Result{"5+", "5", "5"}},
        {"pi*", Result{"pi×", "3.141592654", "3.141592654"}},
        {"1+2/", Result{"1+2÷", "3", "3"}},
        {"12!", Result{"12!", "479,001,600", "479001600"}},
        {"12(", std::nullopt},
    });
}

TEST(CalculatorTest, LoneLiterals) {
    expectAll({
        {"0xFF", Result{"0xFF", "255", "255"}},
        {"0xFF =", Result{"0xFF", "255", "255"}},
        {"0b1111111111", Result{"0b1111111111", "1,023", "1023"}},
        {"0xFFFFFFFFFFFFFFFF",
         Result{"0xFFFFFFFFFFFFFFFF", "18,446,744,073,709,551,615", "18446744073709551615"}},
        {"0xFF+1", Result{"0xFF+1", "256", "256"}},
        {"5k", Result{"5k", "5,000", "5000"}},
        {"1e6", Result{"1e6", "1,000,000", "1000000"}},
        {"2e3*2", Result{"2e3×2", "4,000", "4000"}},
        {"1e-999", Result{"1e-999", "0", "0"}},
        {"1e-999+1", Result{"1e-999+1", "1", "1"}},
    });
}

TEST(CalculatorTest, FunctionNamesEndingInDigits) {
    expectAll({
        {"atan2(1, 1)", Result{"atan2(1, 1)", "0.7853981634", "0.7853981634"}},
        {"log2(8)", Result{"log2(8)", "3", "3"}},
        {"log2 8", Result{"log2 8", "3", "3"}},
        {"log10", Result{"log10", "1", "1"}},
        {"log28", Result{"log28", "1.447158031", "1.447158031"}},
        {"log2.5", Result{"log2.5", "0.3979400087", "0.3979400087"}},
    });
}

TEST(CalculatorTest, LengthIsCountedInCharactersAfterTrimming) {
    std::string sum = "1";
    for (int i = 0; i < 127; ++i)
        sum += "+1";  // 255 characters
    EXPECT_EQ(Calculator::evaluate("0" + sum).value().display, "128");
    EXPECT_EQ(Calculator::evaluate("  0" + sum + " \n").value().display, "128");
    EXPECT_EQ(Calculator::evaluate("00" + sum), std::nullopt);
    // 401 bytes, but only 201 characters.
    std::string minus = "1";
    for (int i = 0; i < 100; ++i)
        minus += "−1";
    EXPECT_EQ(Calculator::evaluate(minus).value().display, "-99");
}

TEST(FormatterTest, CopyText) {
    EXPECT_EQ(Formatter::copyText(-0.0), "0");
    EXPECT_EQ(Formatter::copyText(-17), "-17");
    EXPECT_EQ(Formatter::copyText(9007199254740992.0), "9007199254740992");
    EXPECT_EQ(Formatter::copyText(-9007199254740992.0), "-9007199254740992");
    EXPECT_EQ(Formatter::copyText(9007199254740994.0), "9.007199255e+15");
    EXPECT_EQ(Formatter::copyText(2.5), "2.5");
    EXPECT_EQ(Formatter::copyText(1e-5), "1e-05");
    EXPECT_EQ(Formatter::copyText(0.0001), "0.0001");
    EXPECT_EQ(Formatter::copyText(123456.789012345), "123456.789");
}

TEST(FormatterTest, GroupedPutsSeparatorsBetweenDigitsOnly) {
    struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"123", "123"},
        {"1234", "1,234"},
        {"123456", "123,456"},
        {"-123456", "-123,456"},
        {"-123", "-123"},
        {"-1234", "-1,234"},
        {"1234567.891", "1,234,567.891"},
        {"0.123456", "0.123456"},
        {"12345.6789", "12,345.6789"},
        {"1.5e+20", "1.5e+20"},
        {"1E+20", "1E+20"},
        {"", ""},
        {"\xff"
         "1234",
         "\xff"
         "1234"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Formatter::grouped(c.text), c.expected) << c.text;
}

TEST(FormatterTest, Expression) {
    EXPECT_EQ(Formatter::expression("  2 *\t\t3  "), "2 × 3");
    EXPECT_EQ(Formatter::expression("8/2"), "8÷2");
    EXPECT_EQ(Formatter::expression("2**3"), "2××3");
    EXPECT_EQ(Formatter::expression("2\u00A0*\u20033 − 1"), "2 × 3 − 1");
    EXPECT_EQ(Formatter::expression("0x1F ^ 2 mod 5%"), "0x1F ^ 2 mod 5%");
}

}  // namespace
}  // namespace quenlit
