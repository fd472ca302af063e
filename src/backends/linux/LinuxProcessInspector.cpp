#include "backends/linux/LinuxProcessInspector.h"

#include "backends/linux/Descriptor.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace quenlit::linux_backend {
namespace fs = std::filesystem;

namespace {

std::optional<int> parsePid(std::string_view s) {
    int pid = 0;
    auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), pid);
    if (error != std::errc() || end != s.data() + s.size() || pid <= 0) return std::nullopt;
    return pid;
}

std::optional<std::string> readLink(const std::string& path) {
    std::error_code ec;
    fs::path target = fs::read_symlink(path, ec);
    if (ec) return std::nullopt;
    return target.string();
}

// The executable's file name. A binary replaced on disk while running (a package upgrade of Firefox)
// reads as "name (deleted)" and still counts under its name.
std::string executableName(int pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    if (std::optional<std::string> exe = readLink(proc + "/exe")) {
        std::string path = *exe;
        const std::string_view deleted = " (deleted)";
        if (path.size() > deleted.size() &&
            path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
            path.resize(path.size() - deleted.size());
        }
        return fs::path(path).filename().string();
    }
    // Other users' processes hide their executable but not their command name.
    std::ifstream comm(proc + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

enum class Probe { cannotOpen, failed, free, held };

// Asks who would block a write lock over the whole file. Closing our descriptor would drop locks this
// process held on the file through another descriptor, but the program never locks these files.
Probe probeWriteLock(const std::string& path, pid_t& holder) {
    Descriptor fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) return Probe::cannotOpen;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    if (::fcntl(fd.get(), F_GETLK, &lock) != 0) return Probe::failed;
    if (lock.l_type == F_UNLCK) return Probe::free;
    holder = lock.l_pid;
    return Probe::held;
}

}  // namespace

std::vector<int> LinuxProcessInspector::firefoxProcesses() {
    std::vector<int> pids;
    std::error_code ec;
    fs::directory_iterator it("/proc", ec);
    if (ec) return {};
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        std::optional<int> pid = parsePid(it->path().filename().string());
        if (!pid) continue;
        std::string name = executableName(*pid);
        if (name == "firefox" || name == "firefox-esr" || name == "firefox-bin") pids.push_back(*pid);
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

std::vector<std::string> LinuxProcessInspector::openFiles(int processIdentifier) {
    std::vector<std::string> files;
    if (processIdentifier <= 0) return files;
    std::error_code ec;
    fs::directory_iterator it("/proc/" + std::to_string(processIdentifier) + "/fd", ec);
    if (ec) return {};
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        // Sockets, pipes and anonymous inodes read as "socket:[…]" and the like, never as a path.
        std::optional<std::string> target = readLink(it->path().string());
        if (target && !target->empty() && target->front() == '/') files.push_back(std::move(*target));
    }
    return files;
}

bool LinuxProcessInspector::isProcessAlive(int processIdentifier) {
    // kill() with 0 or a negative number would address whole process groups.
    if (processIdentifier <= 0) return false;
    if (::kill(processIdentifier, 0) == 0) return true;
    return errno == EPERM;
}

platform::ProcessInspector::LockState LinuxProcessInspector::exclusiveLockState(const std::string& path) {
    pid_t holder = 0;
    switch (probeWriteLock(path, holder)) {
        case Probe::held:
            return LockState::held;
        case Probe::free:
            return LockState::free;
        case Probe::cannotOpen:
        case Probe::failed:
            break;
    }
    return LockState::cannotOpen;
}

std::optional<int> LinuxProcessInspector::lockHolder(const std::string& path) {
    pid_t holder = 0;
    // Open file description locks report -1: they belong to no single process.
    if (probeWriteLock(path, holder) != Probe::held || holder <= 0) return std::nullopt;
    return static_cast<int>(holder);
}

}  // namespace quenlit::linux_backend
