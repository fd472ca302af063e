// Any bytes as a launcher query: evaluate must not crash, and an answer must always be a finite number
// (never "inf" or "nan"), with a display that is its copy text plus digit separators.

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "calculator/Calculator.h"

namespace {

bool isFiniteNumber(const std::string& text) {
    if (text.empty()) return false;
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (*begin == '-') ++begin;
    double value = 0;
    auto [ptr, ec] = std::from_chars(begin, end, value, std::chars_format::general);
    return ec == std::errc() && ptr == end && std::isfinite(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view query(reinterpret_cast<const char*>(data), size);
    auto result = quenlit::Calculator::evaluate(query);
    if (!result) return 0;
    if (!isFiniteNumber(result->copyText)) std::abort();
    std::string ungrouped;
    for (char c : result->display) {
        if (c != ',') ungrouped.push_back(c);
    }
    if (ungrouped != result->copyText) std::abort();
    if (result->display.find(",,") != std::string::npos || result->display.find("-,") != std::string::npos) {
        std::abort();
    }
    return 0;
}
