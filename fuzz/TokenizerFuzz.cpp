// Any bytes: the tokenizer must not crash, and every number it produces must be finite.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "calculator/Tokenizer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto tokens = quenlit::Tokenizer::tokenize(text);
    if (!tokens) return 0;
    for (const quenlit::CalcToken& t : *tokens) {
        bool numeric =
            t.kind == quenlit::CalcToken::Kind::number || t.kind == quenlit::CalcToken::Kind::compactNumber;
        if (numeric && !std::isfinite(t.value)) std::abort();
    }
    // Tokenising is pure: a second run gives the same tokens.
    if (quenlit::Tokenizer::tokenize(text) != tokens) std::abort();
    return 0;
}
