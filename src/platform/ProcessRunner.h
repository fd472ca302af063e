#pragma once

// Child processes and what the launcher asks of other processes (Firefox's profile locks).
// Callable from any thread; run() blocks until the child exits, so it belongs on a background task.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quenlit::platform {

struct ProcessOutcome {
    int status = -1;  // the exit status; -1 when the program did not start or did not exit normally
    std::string standardOutput;
    std::string standardError;  // when the program did not start: the reason
    bool operator==(const ProcessOutcome&) const = default;
};

// Bounds on one run, so that a child that hangs never holds its caller (and itself) forever.
struct RunLimits {
    // How long the child may run; absent: as long as it takes.
    std::optional<std::chrono::duration<double>> timeout;
    // Asked repeatedly (on the calling thread) while the child runs; true stops the run.
    std::function<bool()> cancelled;
};

class ProcessRunner {
  public:
    virtual ~ProcessRunner() = default;
    // Starts `executable` with `arguments`, this process's environment, standard input from the
    // null device, and both outputs read to their ends (invalid UTF-8 gives an empty text).
    // When the timeout passes or `cancelled` answers true first, the child and anything it started
    // are killed and reaped, and the outcome is status -1, no output, and "timed out after N s" or
    // "cancelled" as standardError. A run cancelled before it starts starts nothing.
    virtual ProcessOutcome run(const std::string& executable, const std::vector<std::string>& arguments,
                               const RunLimits& limits = {}) = 0;
    virtual bool isExecutableFile(const std::string& path) = 0;
};

// Looking at other processes: which Firefox processes run, which files they hold open, whether a
// process is alive, and who holds a lock on a file.
class ProcessInspector {
  public:
    virtual ~ProcessInspector() = default;
    // Running Firefox processes (executable named firefox, firefox-esr or firefox-bin), by pid.
    virtual std::vector<int> firefoxProcesses() = 0;
    // Absolute paths of the files a process has open (unreadable processes give none).
    virtual std::vector<std::string> openFiles(int processIdentifier) = 0;
    virtual bool isProcessAlive(int processIdentifier) = 0;

    enum class LockState { cannotOpen, free, held };
    // Tests, without taking or disturbing it, whether another process holds a write lock on the
    // whole file (opened read-write, never created).
    virtual LockState exclusiveLockState(const std::string& path) = 0;
    // The process holding a conflicting lock on the file, when the system names one.
    virtual std::optional<int> lockHolder(const std::string& path) = 0;
};

}  // namespace quenlit::platform
