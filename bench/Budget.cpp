#include "Budget.h"

#include "app/AllocatorSettings.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

namespace quenlit::bench {
namespace {

struct Budget {
    double seconds;
    int calls;
};

std::map<std::string, Budget>& budgets() {
    static std::map<std::string, Budget> b;
    return b;
}

std::string human(double seconds) {
    char buffer[32];
    if (seconds >= 1e-3) {
        std::snprintf(buffer, sizeof buffer, "%.3f ms", seconds * 1e3);
    } else if (seconds >= 1e-6) {
        std::snprintf(buffer, sizeof buffer, "%.3f us", seconds * 1e6);
    } else {
        std::snprintf(buffer, sizeof buffer, "%.1f ns", seconds * 1e9);
    }
    return buffer;
}

class BudgetReporter : public benchmark::ConsoleReporter {
  public:
    struct Row {
        std::string name;
        double perCall = 0;
        double fastest = 0;
        double slowest = 0;
        Budget budget;
    };

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Aggregate) continue;
            auto it = budgets().find(run.run_name.function_name);
            if (it == budgets().end()) continue;
            double perCall = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) /
                             it->second.calls;
            Row& row = rowFor(it->first, it->second);
            if (run.aggregate_name == "median") row.perCall = perCall;
            if (run.aggregate_name == "min") row.fastest = perCall;
            if (run.aggregate_name == "max") row.slowest = perCall;
        }
    }

    std::vector<Row> rows;

  private:
    Row& rowFor(const std::string& name, const Budget& budget) {
        for (Row& row : rows) {
            if (row.name == name) return row;
        }
        rows.push_back({name, 0, 0, 0, budget});
        return rows.back();
    }
};

double lowest(const std::vector<double>& v) {
    return v.empty() ? 0 : *std::min_element(v.begin(), v.end());
}

double highest(const std::vector<double>& v) {
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

}  // namespace

void addBudgeted(const std::string& name, double budgetSeconds, int callsPerIteration,
                 std::function<void(benchmark::State&)> body) {
    budgets()[name] = {budgetSeconds, callsPerIteration};
    benchmark::RegisterBenchmark(name.c_str(), [body](benchmark::State& state) { body(state); })
        ->Repetitions(7)
        ->ReportAggregatesOnly(true)
        ->ComputeStatistics("min", lowest)
        ->ComputeStatistics("max", highest)
        ->MinTime(0.05);
}

void addBudgetedSingleRuns(const std::string& name, double budgetSeconds,
                           std::function<void(benchmark::State&)> body) {
    budgets()[name] = {budgetSeconds, 1};
    benchmark::RegisterBenchmark(name.c_str(), [body](benchmark::State& state) { body(state); })
        ->Repetitions(7)
        ->ReportAggregatesOnly(true)
        ->ComputeStatistics("min", lowest)
        ->ComputeStatistics("max", highest)
        ->Iterations(1);
}

void useProgramAllocatorSettings() {
    quenlit::app::applyAllocatorSettings();
}

int runAll(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    BudgetReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-64s %14s %14s  %-13s  %s\n", "median time of one call (7 runs)", "measured", "budget",
                "verdict", "spread (fastest - slowest run)");
    int over = 0;
    for (const auto& row : reporter.rows) {
        bool ok = row.perCall <= row.budget.seconds;
        over += ok ? 0 : 1;
        std::printf("%-64s %14s %14s  %-13s  %s - %s\n", row.name.c_str(), human(row.perCall).c_str(),
                    human(row.budget.seconds).c_str(), ok ? "within budget" : "OVER BUDGET",
                    human(row.fastest).c_str(), human(row.slowest).c_str());
    }
    std::printf("%zu figures, %d over budget\n", reporter.rows.size(), over);
    benchmark::Shutdown();
    return over == 0 ? 0 : 1;
}

}  // namespace quenlit::bench
