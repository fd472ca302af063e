#pragma once

// Benchmarks with budgets: each registered benchmark runs in repetitions, and the median time of
// one call is printed beside its budget. The program fails when a median is over budget.

#include <benchmark/benchmark.h>

#include <functional>
#include <string>

namespace quenlit::bench {

// `callsPerIteration`: how many calls of the measured operation one iteration of `body` makes.
void addBudgeted(const std::string& name, double budgetSeconds, int callsPerIteration,
                 std::function<void(benchmark::State&)> body);
// The same with one iteration per run, for an operation that needs its own fresh setup each time
// (a store just loaded): seven runs of one call each.
void addBudgetedSingleRuns(const std::string& name, double budgetSeconds,
                           std::function<void(benchmark::State&)> body);

int runAll(int argc, char** argv);

// The allocator settings the program itself runs with (app/AllocatorSettings.h), so figures are
// those of the program.
void useProgramAllocatorSettings();

}  // namespace quenlit::bench
