#include "backends/linux/PosixProcessRunner.h"

#include "backends/linux/Descriptor.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <optional>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quenlit::linux_backend {
namespace {

// strerror_r comes in two shapes (GNU returns the text, XSI fills the buffer); both are thread-safe.
[[maybe_unused]] const char* errorText(const char* gnuResult, const char*) {
    return gnuResult;
}
[[maybe_unused]] const char* errorText(int, const char* buffer) {
    return buffer;
}

std::string describe(int error) {
    char buffer[256] = {};
    return errorText(strerror_r(error, buffer, sizeof buffer), buffer);
}

// A close-on-exec pipe whose ends are above the standard descriptors: the child's dup2 onto 1 and
// 2 must never be a no-op that leaves the close-on-exec flag set (which happens when a parent
// started with a closed standard stream gets one of them back from pipe2).
bool makePipe(Descriptor& readEnd, Descriptor& writeEnd, int& error) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error = errno;
        return false;
    }
    for (int& fd : fds) {
        if (fd > STDERR_FILENO) continue;
        int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        int saved = errno;
        ::close(fd);
        fd = moved;
        if (moved < 0) error = saved;
    }
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    return fds[0] >= 0 && fds[1] >= 0;
}

class SpawnSetup {
  public:
    SpawnSetup() {
        ::posix_spawn_file_actions_init(&actions_);
        ::posix_spawnattr_init(&attributes_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
    ~SpawnSetup() {
        ::posix_spawn_file_actions_destroy(&actions_);
        ::posix_spawnattr_destroy(&attributes_);
    }
    posix_spawn_file_actions_t* actions() { return &actions_; }
    posix_spawnattr_t* attributes() { return &attributes_; }

  private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

// How often a bounded run looks at its deadline and its cancel function while the child runs.
constexpr std::chrono::milliseconds kLimitSlice{25};

using Clock = std::chrono::steady_clock;

// The run's limits with the deadline fixed when the run starts.
class Limiter {
  public:
    explicit Limiter(const platform::RunLimits& limits) : limits_(limits) {
        if (limits_.timeout) {
            deadline_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(*limits_.timeout);
        }
    }

    bool bounded() const { return limits_.timeout.has_value() || static_cast<bool>(limits_.cancelled); }

    // Why the run must end now, if it must.
    std::optional<std::string> stopReason() const {
        if (limits_.cancelled && limits_.cancelled()) return "cancelled";
        if (deadline_ && Clock::now() >= *deadline_) {
            std::ostringstream text;
            text << "timed out after " << limits_.timeout->count() << " s";
            return text.str();
        }
        return std::nullopt;
    }

    // How long to block before looking again, in milliseconds; -1 (for ever) when unbounded.
    int sliceMilliseconds() const {
        if (!bounded()) return -1;
        auto slice = kLimitSlice;
        if (deadline_) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline_ - Clock::now());
            slice = std::clamp(left, std::chrono::milliseconds(0), slice);
        }
        return static_cast<int>(slice.count());
    }

  private:
    const platform::RunLimits& limits_;
    std::optional<Clock::time_point> deadline_;
};

// Reads both pipes until each reports end of file, whichever the child fills first, or until the
// limits end the run (the reason is returned). Should poll itself fail, reading stops; closing the
// pipes then ends a child still writing (SIGPIPE).
std::optional<std::string> drain(int outFd, int errFd, std::string& out, std::string& err,
                                 const Limiter& limiter) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {&out, &err};
    char buffer[65536];
    int open = 2;
    while (open > 0) {
        int ready = ::poll(fds, 2, limiter.sliceMilliseconds());
        if (auto reason = limiter.stopReason()) return reason;
        if (ready < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                fds[i].fd = -1;  // poll skips negative descriptors
                --open;
            }
        }
    }
    return std::nullopt;
}

int exitStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Waits for the child, unless the limits end the run first (a child may close its outputs and
// still go on running): then the reason is returned and the child is left unreaped.
std::optional<std::string> waitForExit(pid_t pid, const Limiter& limiter, int& result) {
    int status = 0;
    for (;;) {
        pid_t waited = ::waitpid(pid, &status, limiter.bounded() ? WNOHANG : 0);
        if (waited == pid) {
            result = exitStatus(status);
            return std::nullopt;
        }
        if (waited < 0 && errno != EINTR) {
            result = -1;
            return std::nullopt;
        }
        if (auto reason = limiter.stopReason()) return reason;
        if (waited == 0) ::poll(nullptr, 0, limiter.sliceMilliseconds());
    }
}

// The child leads a process group of its own, so this also ends whatever it started (a wrapper
// script's program). Until it is reaped its pid cannot be reused, so the signal cannot go astray.
void killAndReap(pid_t pid) {
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

platform::ProcessOutcome notStarted(int error) {
    return {-1, "", describe(error)};
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    std::size_t i = 0;
    while (i < size) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80;  // allowed range of the second byte
        unsigned char high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0) low = 0xA0;   // overlong
            if (c == 0xED) high = 0x9F;  // surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0) low = 0x90;   // overlong
            if (c == 0xF4) high = 0x8F;  // past U+10FFFF
        } else {
            return false;
        }
        if (size - i < length) return false;
        if (s[i + 1] < low || s[i + 1] > high) return false;
        for (std::size_t k = 2; k < length; ++k) {
            if (s[i + k] < 0x80 || s[i + k] > 0xBF) return false;
        }
        i += length;
    }
    return true;
}

platform::ProcessOutcome PosixProcessRunner::run(const std::string& executable,
                                                 const std::vector<std::string>& arguments,
                                                 const platform::RunLimits& limits) {
    const Limiter limiter(limits);
    if (auto reason = limiter.stopReason()) return {-1, "", *reason};
    int error = 0;
    Descriptor outRead, outWrite, errRead, errWrite;
    if (!makePipe(outRead, outWrite, error) || !makePipe(errRead, errWrite, error)) return notStarted(error);

    SpawnSetup setup;
    ::posix_spawn_file_actions_addopen(setup.actions(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(setup.actions(), outWrite.get(), STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(setup.actions(), errWrite.get(), STDERR_FILENO);
    // The child starts from a clean slate whatever thread spawns it: worker threads may block
    // signals, and a program that ignores SIGPIPE would otherwise pass that on.
    sigset_t none, defaults;
    ::sigemptyset(&none);
    ::sigemptyset(&defaults);
    ::sigaddset(&defaults, SIGPIPE);
    ::posix_spawnattr_setsigmask(setup.attributes(), &none);
    ::posix_spawnattr_setsigdefault(setup.attributes(), &defaults);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (limiter.bounded()) {
        // A child that may have to be killed gets a group of its own, to be killed with all it started.
        ::posix_spawnattr_setpgroup(setup.attributes(), 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    ::posix_spawnattr_setflags(setup.attributes(), flags);

    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t pid = 0;
    error =
        ::posix_spawn(&pid, executable.c_str(), setup.actions(), setup.attributes(), argv.data(), environ);
    if (error != 0) return notStarted(error);
    // Only the child may hold the write ends, or the reads below would never see end of file.
    outWrite.reset();
    errWrite.reset();

    platform::ProcessOutcome outcome;
    std::optional<std::string> stopped =
        drain(outRead.get(), errRead.get(), outcome.standardOutput, outcome.standardError, limiter);
    outRead.reset();
    errRead.reset();
    if (!stopped) stopped = waitForExit(pid, limiter, outcome.status);
    if (stopped) {
        killAndReap(pid);
        return {-1, "", *stopped};
    }
    if (!isValidUtf8(outcome.standardOutput)) outcome.standardOutput.clear();
    if (!isValidUtf8(outcome.standardError)) outcome.standardError.clear();
    return outcome;
}

bool PosixProcessRunner::isExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace quenlit::linux_backend
