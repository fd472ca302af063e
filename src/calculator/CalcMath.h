#pragma once

// The calculator's named constants and functions. The tables are built once, on first use (thread-safe),
// and looked up by hash with plain string views.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace quenlit::CalcMath {

struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
template <typename V>
using NameMap = std::unordered_map<std::string, V, NameHash, std::equal_to<>>;
using NameSet = std::unordered_set<std::string, NameHash, std::equal_to<>>;

using Function = double (*)(double);

// "pi", "π", "e", "tau", "τ", "phi".
const NameMap<double>& constants();
// The 30 functions of one argument (radians for trigonometry).
const NameMap<Function>& functions();
// The 15 names that take a parenthesised argument list ("max", "log", "atan2", ...).
const NameSet& multipleArguments();

// Lookups by name; constant() gives no value for a name that is not a constant.
std::optional<double> constant(std::string_view name);
bool isFunction(std::string_view name);
// A key of functions() or a member of multipleArguments(): a name that may open an argument list.
bool isCallable(std::string_view name);

// A parenthesised call with its arguments (at least one). No value for an unknown name, a wrong argument
// count, an argument out of the function's domain, or a result that is infinite or NaN.
std::optional<double> evaluate(std::string_view name, const std::vector<double>& arguments);

}  // namespace quenlit::CalcMath
