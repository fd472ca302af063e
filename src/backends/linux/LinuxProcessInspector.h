#pragma once

// Other processes seen through /proc, and fcntl record locks probed with F_GETLK.

#include "platform/ProcessRunner.h"

namespace quenlit::linux_backend {

class LinuxProcessInspector final : public platform::ProcessInspector {
  public:
    // Ordered by process id.
    std::vector<int> firefoxProcesses() override;
    std::vector<std::string> openFiles(int processIdentifier) override;
    bool isProcessAlive(int processIdentifier) override;
    // A lock held by this process itself is not reported: F_GETLK only sees other processes' locks.
    LockState exclusiveLockState(const std::string& path) override;
    std::optional<int> lockHolder(const std::string& path) override;
};

}  // namespace quenlit::linux_backend
