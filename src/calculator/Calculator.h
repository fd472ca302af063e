#pragma once

// The calculator's entry point: decides whether a launcher query is a calculation and, if it is, gives the
// answer's texts.

#include <optional>
#include <string>
#include <string_view>

namespace quenlit::Calculator {

struct Result {
    std::string expression;  // the query tidied for display ("1234 × 2")
    std::string display;     // the value with digit grouping ("2,468"); the launcher row's name
    std::string copyText;    // the value without grouping ("2468"); what choosing the row copies

    bool operator==(const Result&) const = default;
};

// The answer to `query`, or no value when it is not a calculation: blank, longer than 256 characters,
// a lone number or name ("42", "pi", "firefox"), or an expression without a finite value ("1/0").
// Pure; safe on any thread.
std::optional<Result> evaluate(std::string_view query);

}  // namespace quenlit::Calculator
