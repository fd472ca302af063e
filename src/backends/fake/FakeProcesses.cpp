#include "backends/fake/FakeProcesses.h"

namespace quenlit::fake {

std::vector<std::string> FakeProcessRunner::runs() const {
    std::lock_guard lock(mutex_);
    return runs_;
}

std::vector<platform::RunLimits> FakeProcessRunner::runLimits() const {
    std::lock_guard lock(mutex_);
    return limits_;
}

platform::ProcessOutcome FakeProcessRunner::run(const std::string& executable,
                                                const std::vector<std::string>& arguments,
                                                const platform::RunLimits& limits) {
    std::string line = executable;
    for (const auto& a : arguments)
        line += " " + a;
    {
        std::lock_guard lock(mutex_);
        runs_.push_back(line);
        limits_.push_back(limits);
    }
    const platform::ProcessOutcome cancelled{-1, "", "cancelled"};
    if (limits.cancelled && limits.cancelled()) return cancelled;
    platform::ProcessOutcome outcome =
        respond ? respond(executable, arguments) : platform::ProcessOutcome{-1, "", "no such program"};
    if (limits.cancelled && limits.cancelled()) return cancelled;
    return outcome;
}

}  // namespace quenlit::fake
