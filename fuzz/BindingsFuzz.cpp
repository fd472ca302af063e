// The bindings file is written by hand: any bytes must parse without a fault, and whatever the
// parser accepts must be a binding the tap can use.

#include "automation/AppToggleBindings.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

bool isTrimmed(const std::string& s) {
    return !s.empty() && s.front() != ' ' && s.front() != '\t' && s.back() != ' ' && s.back() != '\t';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quenlit;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const AppToggleBindingsResult result = AppToggleBindings::parse(text);
    if (result.error) {
        if (!result.bindings.empty() || result.error->description().empty()) __builtin_trap();
        return 0;
    }
    for (const AppToggleBinding& binding : result.bindings) {
        if (binding.key.empty() || binding.modifiers.empty()) __builtin_trap();
        if (AppToggleBindings::keyCode(binding.key) != binding.keyCode) __builtin_trap();
        if (!binding.appName && !binding.bundleID) __builtin_trap();
        if (binding.appName && !isTrimmed(*binding.appName)) __builtin_trap();
        if (binding.bundleID && !isTrimmed(*binding.bundleID)) __builtin_trap();
        if (binding.label().empty()) __builtin_trap();
    }
    return 0;
}
