#pragma once

// Turns the text of a calculation into tokens. Pure and stateless between calls; safe on any thread.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "calculator/CalcToken.h"

namespace quenlit::Tokenizer {

// The tokens of `text` (UTF-8), an empty list for text that is only whitespace, or no value when some
// character fits no rule, a lone "=" is not the last character, or a number is infinite. Never a partial
// list.
std::optional<std::vector<CalcToken>> tokenize(std::string_view text);

// Whether the "x" or "X" at scalars[at] means "times", given the token emitted before it (null if none):
// it must follow a value and be followed by something that can start one ("2x3", "pi x 2", "3! x 2").
bool isMultiplicationX(const std::u32string& scalars, std::size_t at, const CalcToken* previous);

}  // namespace quenlit::Tokenizer
