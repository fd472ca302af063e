#pragma once

// The vocabulary of a calculation: what the tokenizer produces and the parser consumes.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>

namespace quenlit {

// The order matters: add through power are the operators a calculation still being typed may end with.
enum class CalcOp {
    add,
    subtract,
    multiply,
    divide,
    power,
    factorial,
    percent,  // a postfix percent, or modulo when it comes from the word "mod"
    open,
    close,
    equal,
    notEqual,
    less,
    greater,
    lessEqual,
    greaterEqual,
};

enum class NumberBase : int { binary = 2, octal = 8, decimal = 10, hexadecimal = 16 };

// A tagged value; only the payload of its kind is meaningful, the other fields keep their defaults.
struct CalcToken {
    enum class Kind : std::uint8_t { number, compactNumber, intLiteral, ident, op, comma };

    Kind kind = Kind::comma;
    double value = 0;                       // number, compactNumber (already scaled)
    std::uint64_t integer = 0;              // intLiteral
    NumberBase base = NumberBase::decimal;  // intLiteral
    CalcOp operation = CalcOp::add;         // op
    std::string name;                       // ident, lower-cased

    static CalcToken number(double v) { return withValue(Kind::number, v); }
    static CalcToken compactNumber(double v) { return withValue(Kind::compactNumber, v); }
    static CalcToken intLiteral(std::uint64_t v, NumberBase b) {
        CalcToken t;
        t.kind = Kind::intLiteral;
        t.integer = v;
        t.base = b;
        return t;
    }
    static CalcToken ident(std::string n) {
        CalcToken t;
        t.kind = Kind::ident;
        t.name = std::move(n);
        return t;
    }
    static CalcToken op(CalcOp o) {
        CalcToken t;
        t.kind = Kind::op;
        t.operation = o;
        return t;
    }
    static CalcToken comma() { return CalcToken(); }

    bool isNumeric() const {
        return kind == Kind::number || kind == Kind::compactNumber || kind == Kind::intLiteral;
    }
    bool isOp(CalcOp o) const { return kind == Kind::op && operation == o; }
    bool isIdent(std::string_view n) const { return kind == Kind::ident && name == n; }

    // Equal when the kind and that kind's payload are equal.
    bool operator==(const CalcToken& other) const {
        if (kind != other.kind) return false;
        switch (kind) {
            case Kind::number:
            case Kind::compactNumber:
                return value == other.value;
            case Kind::intLiteral:
                return integer == other.integer && base == other.base;
            case Kind::ident:
                return name == other.name;
            case Kind::op:
                return operation == other.operation;
            case Kind::comma:
                return true;
        }
        return false;
    }

  private:
    static CalcToken withValue(Kind k, double v) {
        CalcToken t;
        t.kind = k;
        t.value = v;
        return t;
    }
};

// Readable forms such as number(1000), intLiteral(31, 16), ident("max"), op(multiply), comma; used in
// test failure messages. Defined with the tokenizer.
std::string toString(const CalcToken& token);
std::ostream& operator<<(std::ostream& out, const CalcToken& token);

}  // namespace quenlit
