// The calculator runs on every keystroke of a launcher query: realistic calculations, the plain
// word of an application name being typed, and the longest inputs it accepts.

#include "Budget.h"

#include "calculator/Calculator.h"

#include <string>
#include <vector>

namespace {

const std::vector<std::string> kRealistic = {
    "2+3",
    "1234 * 2",
    "12*",
    "8/2",
    "2^10",
    "2**3",
    "(2+3)*4",
    "-2^2",
    "2(3+4)",
    "2pi",
    "sqrt 16",
    "sqrt(2)",
    "10 mod 3",
    "20% of 50",
    "200 + 10%",
    "200 - 10%",
    "3 > 2",
    "2 == 3",
    "5!",
    "max(3, 9, 4)",
    "avg(1, 2)",
    "gcd(12, 18)",
    "round(3.14159, 2)",
    "log(8, 2)",
    "hypot(3, 4)",
    "0xFF",
    "0xFF+1",
    "0b1111111111",
    "5k",
    "1e6",
    "2e3*2",
    "1/3",
    "0.1+0.2",
    "2^60",
    "1234567*10",
    "-1234.5*2",
    "1,000 + 2,500",
    "sin(pi/2)",
    "ln(e^3)",
    "1+2=",
};

std::string repeatTo256(const std::string& open, const std::string& middle, const std::string& close) {
    std::string s;
    std::size_t depth = (256 - middle.size()) / (open.size() + close.size());
    for (std::size_t i = 0; i < depth; ++i)
        s += open;
    s += middle;
    for (std::size_t i = 0; i < depth; ++i)
        s += close;
    return s;
}

void addEvaluate(const std::string& name, double budget, std::vector<std::string> inputs) {
    const int calls = static_cast<int>(inputs.size());
    quenlit::bench::addBudgeted(name, budget, calls, [inputs = std::move(inputs)](benchmark::State& state) {
        for (auto _ : state) {
            for (const auto& text : inputs) {
                auto result = quenlit::Calculator::evaluate(text);
                benchmark::DoNotOptimize(result);
            }
        }
    });
}

}  // namespace

int main(int argc, char** argv) {
    addEvaluate("Calculator.evaluate/40 realistic calculations", 3e-6, kRealistic);
    addEvaluate("Calculator.evaluate/plain word \"firefox\"", 0.5e-6, {"firefox"});
    addEvaluate("Calculator.evaluate/plain words \"visual studio code\"", 0.5e-6, {"visual studio code"});

    std::string sum;
    while (sum.size() + 4 <= 256)
        sum += sum.empty() ? "1.25" : "+1.5";
    std::string mixed;
    while (mixed.size() + 12 <= 256)
        mixed += mixed.empty() ? "sqrt(16)*2^3" : "-sqrt(16)*2^3";
    std::string commas;
    while (commas.size() + 6 <= 256)
        commas += commas.empty() ? "max(1" : ",2,3,4";
    commas += ")";
    addEvaluate("Calculator.evaluate/256 chars: nested parentheses", 50e-6, {repeatTo256("(", "1+1", ")")});
    addEvaluate("Calculator.evaluate/256 chars: nested calls", 50e-6, {repeatTo256("abs(", "-1", ")")});
    addEvaluate("Calculator.evaluate/256 chars: long sum", 50e-6, {sum});
    addEvaluate("Calculator.evaluate/256 chars: functions and powers", 50e-6, {mixed});
    addEvaluate("Calculator.evaluate/256 chars: many arguments", 50e-6, {commas});
    addEvaluate("Calculator.evaluate/256 chars: implicit products", 50e-6, {repeatTo256("2", "pi", "")});
    return quenlit::bench::runAll(argc, argv);
}
