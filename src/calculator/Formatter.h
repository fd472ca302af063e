#pragma once

// The texts of a calculator answer: the value to copy, the value to show and the tidied expression.

#include <string>
#include <string_view>

namespace quenlit::Formatter {

// Whole values up to 2^53 as plain integers ("-17"); anything else with at most 10 significant digits
// ("0.3333333333", "1.152921505e+18", "1e-07"). Always "." as the decimal separator, whatever the locale;
// negative zero is "0".
std::string copyText(double value);

// Groups the integer digits in threes with "," ("1234567.891" → "1,234,567.891", "-2469" → "-2,469").
// Exponent notation, short integer parts and invalid UTF-8 come back unchanged.
std::string grouped(std::string_view text);

// The query as echoed above the answer: whitespace runs become single spaces, "*" becomes "×" and "/"
// becomes "÷"; everything else stays as typed.
std::string expression(std::string_view text);

}  // namespace quenlit::Formatter
