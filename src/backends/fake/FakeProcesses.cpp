#include "backends/fake/FakeProcesses.h"

namespace quenlit::fake {

std::vector<std::string> FakeProcessRunner::runs() const {
    std::lock_guard lock(mutex_);
    return runs_;
}

platform::ProcessOutcome FakeProcessRunner::run(const std::string& executable,
                                                const std::vector<std::string>& arguments) {
    std::string line = executable;
    for (const auto& a : arguments) line += " " + a;
    {
        std::lock_guard lock(mutex_);
        runs_.push_back(line);
    }
    if (respond) return respond(executable, arguments);
    return {-1, "", "no such program"};
}

}  // namespace quenlit::fake
