#pragma once

// Child processes with posix_spawn. Both output pipes are drained while the child runs, so a
// program that writes a lot to either stream never blocks on a full pipe. Every descriptor the
// runner opens is close-on-exec, so runs on several threads at once never leak into each other's
// children. A run with limits wakes every few milliseconds to look at them; its child leads a
// process group of its own, which is killed as a whole when the run is stopped.

#include "platform/ProcessRunner.h"

#include <string_view>

namespace quenlit::linux_backend {

class PosixProcessRunner final : public platform::ProcessRunner {
  public:
    platform::ProcessOutcome run(const std::string& executable, const std::vector<std::string>& arguments,
                                 const platform::RunLimits& limits = {}) override;
    // A regular file (symbolic links followed) that this process may execute.
    bool isExecutableFile(const std::string& path) override;
};

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUtf8(std::string_view bytes);

}  // namespace quenlit::linux_backend
