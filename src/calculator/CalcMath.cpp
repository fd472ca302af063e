#include "calculator/CalcMath.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace quenlit::CalcMath {
namespace {

// Integers up to this magnitude are exact in a double.
constexpr double kExactLimit = 9007199254740992.0;  // 2^53

bool isWhole(double x) {
    return std::round(x) == x;
}

std::uint64_t euclid(std::uint64_t a, std::uint64_t b) {
    while (b != 0) {
        std::uint64_t r = a % b;
        a = b;
        b = r;
    }
    return a;
}

// gcd and lcm work on the magnitudes of whole arguments that doubles hold exactly.
std::optional<double> gcdOrLcm(bool lcm, const std::vector<double>& arguments) {
    std::uint64_t h = lcm ? 1 : 0;
    for (double x : arguments) {
        if (!isWhole(x) || std::fabs(x) >= kExactLimit) return std::nullopt;
        auto magnitude = static_cast<std::uint64_t>(std::fabs(x));
        if (!lcm) {
            h = euclid(h, magnitude);
        } else if (h == 0 || magnitude == 0) {
            h = 0;
        } else {
            std::uint64_t factor = h / euclid(h, magnitude);
            if (factor > std::numeric_limits<std::uint64_t>::max() / magnitude) return std::nullopt;
            h = factor * magnitude;
        }
    }
    if (static_cast<double>(h) >= kExactLimit) return std::nullopt;
    return static_cast<double>(h);
}

std::optional<double> twoArguments(std::string_view name, double x, double y) {
    if (name == "round") {
        if (!isWhole(y) || y < -308 || y > 308) return std::nullopt;
        double scale = std::pow(10.0, y);
        double scaled = x * scale;
        return std::isfinite(scaled) ? std::round(scaled) / scale : x;
    }
    if (name == "log") {
        if (!(x > 0) || !(y > 0) || y == 1) return std::nullopt;
        return std::log(x) / std::log(y);
    }
    if (name == "atan2") return std::atan2(x, y);
    if (name == "pow") return std::pow(x, y);
    if (name == "root") {
        if (y == 0) return std::nullopt;
        // An odd root of a negative number is real: root(-8, 3) is -2, where pow alone gives NaN.
        if (x < 0 && isWhole(y) && std::fmod(std::fabs(y), 2.0) == 1.0) return -std::pow(-x, 1.0 / y);
        return std::pow(x, 1.0 / y);
    }
    if (name == "fmod") return std::fmod(x, y);
    return std::nullopt;
}

std::optional<double> choose(std::string_view name, const std::vector<double>& arguments) {
    if (name == "min" || name == "max") {
        double best = arguments.front();
        for (double x : arguments)
            best = name == "min" ? std::min(best, x) : std::max(best, x);
        return best;
    }
    if (name == "sum") {
        double total = 0;
        for (double x : arguments)
            total += x;
        return total;
    }
    if (name == "avg" || name == "mean" || name == "average") {
        // Dividing each term first keeps large arguments from overflowing the sum.
        double count = static_cast<double>(arguments.size());
        double total = 0;
        for (double x : arguments)
            total += x / count;
        return total;
    }
    if (name == "hypot") {
        double h = 0;
        for (double x : arguments)
            h = std::hypot(h, x);
        return h;
    }
    if (name == "gcd" || name == "lcm") return gcdOrLcm(name == "lcm", arguments);
    if (arguments.size() == 2) return twoArguments(name, arguments[0], arguments[1]);
    if (arguments.size() == 1) {
        const auto& table = functions();
        auto it = table.find(name);
        if (it == table.end()) return std::nullopt;
        return it->second(arguments[0]);
    }
    return std::nullopt;
}

}  // namespace

const NameMap<double>& constants() {
    static const NameMap<double> table = {
        {"pi", 3.141592653589793},  {"π", 3.141592653589793}, {"e", 2.718281828459045},
        {"tau", 6.283185307179586}, {"τ", 6.283185307179586}, {"phi", 1.618033988749895},
    };
    return table;
}

const NameMap<Function>& functions() {
    static const NameMap<Function> table = {
        {"sqrt", [](double x) { return std::sqrt(x); }},
        {"log", [](double x) { return std::log10(x); }},
        {"ln", [](double x) { return std::log(x); }},
        {"log2", [](double x) { return std::log2(x); }},
        {"exp", [](double x) { return std::exp(x); }},
        {"cbrt", [](double x) { return std::cbrt(x); }},
        {"sin", [](double x) { return std::sin(x); }},
        {"cos", [](double x) { return std::cos(x); }},
        {"tan", [](double x) { return std::tan(x); }},
        {"cot", [](double x) { return 1.0 / std::tan(x); }},
        {"sec", [](double x) { return 1.0 / std::cos(x); }},
        {"csc", [](double x) { return 1.0 / std::sin(x); }},
        {"asin", [](double x) { return std::asin(x); }},
        {"arcsin", [](double x) { return std::asin(x); }},
        {"acos", [](double x) { return std::acos(x); }},
        {"arccos", [](double x) { return std::acos(x); }},
        {"atan", [](double x) { return std::atan(x); }},
        {"arctan", [](double x) { return std::atan(x); }},
        {"sinh", [](double x) { return std::sinh(x); }},
        {"cosh", [](double x) { return std::cosh(x); }},
        {"tanh", [](double x) { return std::tanh(x); }},
        {"asinh", [](double x) { return std::asinh(x); }},
        {"acosh", [](double x) { return std::acosh(x); }},
        {"atanh", [](double x) { return std::atanh(x); }},
        {"abs", [](double x) { return std::fabs(x); }},
        {"floor", [](double x) { return std::floor(x); }},
        {"ceil", [](double x) { return std::ceil(x); }},
        {"trunc", [](double x) { return std::trunc(x); }},
        {"round", [](double x) { return std::round(x); }},
        {"sign", [](double x) { return x > 0 ? 1.0 : (x < 0 ? -1.0 : 0.0); }},
    };
    return table;
}

const NameSet& multipleArguments() {
    static const NameSet names = {
        "hypot", "round", "log", "gcd", "lcm", "atan2", "pow",     "root",
        "fmod",  "min",   "max", "sum", "avg", "mean",  "average",
    };
    return names;
}

std::optional<double> constant(std::string_view name) {
    const auto& table = constants();
    auto it = table.find(name);
    if (it == table.end()) return std::nullopt;
    return it->second;
}

bool isFunction(std::string_view name) {
    return functions().find(name) != functions().end();
}

bool isCallable(std::string_view name) {
    return isFunction(name) || multipleArguments().find(name) != multipleArguments().end();
}

std::optional<double> evaluate(std::string_view name, const std::vector<double>& arguments) {
    if (arguments.empty()) return std::nullopt;
    for (double x : arguments) {
        if (!std::isfinite(x)) return std::nullopt;
    }
    std::optional<double> result = choose(name, arguments);
    if (!result || !std::isfinite(*result)) return std::nullopt;
    return result;
}

}  // namespace quenlit::CalcMath
