#pragma once

// Scripted child processes and other processes, for tests of the core.

#include "platform/ProcessRunner.h"

#include <functional>
#include <map>
#include <mutex>
#include <set>

namespace quenlit::fake {

class FakeProcessRunner final : public platform::ProcessRunner {
  public:
    std::set<std::string> executables;  // paths that count as executable files
    std::function<platform::ProcessOutcome(const std::string&, const std::vector<std::string>&)> respond;

    // Every run, as "executable arg1 arg2".
    std::vector<std::string> runs() const;
    // The limits of every run, in the same order.
    std::vector<platform::RunLimits> runLimits() const;

    // Answers with `respond`, except that a run whose cancel function answers true before or after
    // it ends as the real runner's cancelled run: status -1 and "cancelled".
    platform::ProcessOutcome run(const std::string& executable, const std::vector<std::string>& arguments,
                                 const platform::RunLimits& limits = {}) override;
    bool isExecutableFile(const std::string& path) override { return executables.count(path) > 0; }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> runs_;
    std::vector<platform::RunLimits> limits_;
};

class FakeProcessInspector final : public platform::ProcessInspector {
  public:
    std::vector<int> firefox;
    std::map<int, std::vector<std::string>> files;
    std::set<int> alive;
    std::map<std::string, LockState> locks;  // absent: cannotOpen
    std::map<std::string, int> holders;

    std::vector<int> firefoxProcesses() override { return firefox; }
    std::vector<std::string> openFiles(int pid) override {
        auto it = files.find(pid);
        return it == files.end() ? std::vector<std::string>{} : it->second;
    }
    bool isProcessAlive(int pid) override { return alive.count(pid) > 0; }
    LockState exclusiveLockState(const std::string& path) override {
        auto it = locks.find(path);
        return it == locks.end() ? LockState::cannotOpen : it->second;
    }
    std::optional<int> lockHolder(const std::string& path) override {
        auto it = holders.find(path);
        return it == holders.end() ? std::nullopt : std::optional<int>(it->second);
    }
};

}  // namespace quenlit::fake
