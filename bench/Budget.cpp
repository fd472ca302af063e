#include "Budget.h"

#include "app/AllocatorSettings.h"

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
        double perCall;
        Budget budget;
    };

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median") continue;
            auto it = budgets().find(run.run_name.function_name);
            if (it == budgets().end()) continue;
            double seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            rows.push_back({it->first, seconds / it->second.calls, it->second});
        }
    }

    std::vector<Row> rows;
};

}  // namespace

void addBudgeted(const std::string& name, double budgetSeconds, int callsPerIteration,
                 std::function<void(benchmark::State&)> body) {
    budgets()[name] = {budgetSeconds, callsPerIteration};
    benchmark::RegisterBenchmark(name.c_str(), [body](benchmark::State& state) { body(state); })
        ->Repetitions(7)
        ->ReportAggregatesOnly(true)
        ->MinTime(0.05);
}

void useProgramAllocatorSettings() {
    quenlit::app::applyAllocatorSettings();
}

int runAll(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    BudgetReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-52s %14s %14s  %s\n", "median time of one call", "measured", "budget", "verdict");
    int over = 0;
    for (const auto& row : reporter.rows) {
        bool ok = row.perCall <= row.budget.seconds;
        over += ok ? 0 : 1;
        std::printf("%-52s %14s %14s  %s\n", row.name.c_str(), human(row.perCall).c_str(),
                    human(row.budget.seconds).c_str(), ok ? "within budget" : "OVER BUDGET");
    }
    std::printf("%zu figures, %d over budget\n", reporter.rows.size(), over);
    benchmark::Shutdown();
    return over == 0 ? 0 : 1;
}

}  // namespace quenlit::bench
