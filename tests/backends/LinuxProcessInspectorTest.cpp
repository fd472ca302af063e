#include "backends/linux/LinuxProcessInspector.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quenlit::linux_backend {
namespace {

namespace fs = std::filesystem;
using LockState = platform::ProcessInspector::LockState;

using quenlit::testing::TempDir;

// A child process that tries to lock the whole file and reports whether it could; it then keeps the
// lock until killed (at most a minute).
class LockingChild {
  public:
    LockingChild(const std::string& path, short type) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            ::alarm(60);
            int fd = ::open(path.c_str(), O_RDWR);
            struct flock lock {};
            lock.l_type = type;
            lock.l_whence = SEEK_SET;
            char result = fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0 ? '1' : '0';
            if (::write(fds[1], &result, 1) != 1) ::_exit(1);
            for (;;)
                ::pause();
        }
        ::close(fds[1]);
        char result = '0';
        locked_ = pid_ > 0 && ::read(fds[0], &result, 1) == 1 && result == '1';
        ::close(fds[0]);
    }
    ~LockingChild() { stop(); }
    LockingChild(const LockingChild&) = delete;
    LockingChild& operator=(const LockingChild&) = delete;

    pid_t pid() const { return pid_; }
    bool locked() const { return locked_; }
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
    bool locked_ = false;
};

pid_t spawn(const fs::path& executable, const char* argument) {
    std::string exe = executable.string();
    std::string arg = argument;
    char* argv[] = {exe.data(), arg.data(), nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, environ) != 0) return -1;
    return pid;
}

void reap(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

bool contains(const std::vector<int>& pids, int pid) {
    return std::find(pids.begin(), pids.end(), pid) != pids.end();
}

TEST(LinuxProcessInspector, LockHeldByAnotherProcessNamesIt) {
    TempDir dir;
    const std::string file = (dir.path() / ".parentlock").string();
    std::ofstream(file) << "";
    LinuxProcessInspector inspector;

    for (short type : {F_WRLCK, F_RDLCK}) {
        LockingChild child(file, type);
        ASSERT_TRUE(child.locked());
        EXPECT_EQ(inspector.exclusiveLockState(file), LockState::held) << type;
        EXPECT_EQ(inspector.lockHolder(file), child.pid()) << type;
        // The probe leaves the holder's lock alone.
        EXPECT_EQ(inspector.lockHolder(file), child.pid()) << type;
        child.stop();
        EXPECT_EQ(inspector.exclusiveLockState(file), LockState::free) << type;
        EXPECT_EQ(inspector.lockHolder(file), std::nullopt) << type;
    }
}

TEST(LinuxProcessInspector, FreeFileStaysFree) {
    TempDir dir;
    const std::string file = (dir.path() / ".parentlock").string();
    std::ofstream(file) << "";
    LinuxProcessInspector inspector;
    EXPECT_EQ(inspector.exclusiveLockState(file), LockState::free);
    EXPECT_EQ(inspector.lockHolder(file), std::nullopt);
    // Probing took no lock that would keep Firefox out.
    LockingChild child(file, F_WRLCK);
    EXPECT_TRUE(child.locked());
}

TEST(LinuxProcessInspector, FilesThatCannotBeOpened) {
    TempDir dir;
    LinuxProcessInspector inspector;
    EXPECT_EQ(inspector.exclusiveLockState((dir.path() / "missing").string()), LockState::cannotOpen);
    EXPECT_EQ(inspector.lockHolder((dir.path() / "missing").string()), std::nullopt);
    EXPECT_EQ(inspector.exclusiveLockState(dir.path().string()), LockState::cannotOpen);
    // Probing never creates the file.
    EXPECT_FALSE(fs::exists(dir.path() / "missing"));
}

TEST(LinuxProcessInspector, OpenFilesAreTheDescriptorsPaths) {
    TempDir dir;
    const std::string file = (dir.path() / ".parentlock").string();
    std::ofstream(file) << "";
    LinuxProcessInspector inspector;

    LockingChild child(file, F_WRLCK);
    ASSERT_TRUE(child.locked());
    std::vector<std::string> files = inspector.openFiles(child.pid());
    EXPECT_NE(std::find(files.begin(), files.end(), file), files.end());
    for (const auto& f : files)
        EXPECT_EQ(f.front(), '/') << f;  // no sockets or pipes

    {
        std::ifstream mine(dir.path() / ".parentlock");
        files = inspector.openFiles(::getpid());
        EXPECT_NE(std::find(files.begin(), files.end(), file), files.end());
    }
    child.stop();
    EXPECT_TRUE(inspector.openFiles(child.pid()).empty());
    EXPECT_TRUE(inspector.openFiles(0).empty());
    EXPECT_TRUE(inspector.openFiles(-1).empty());
}

TEST(LinuxProcessInspector, AliveProcesses) {
    LinuxProcessInspector inspector;
    EXPECT_TRUE(inspector.isProcessAlive(::getpid()));
    EXPECT_TRUE(inspector.isProcessAlive(1));
    pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    EXPECT_FALSE(inspector.isProcessAlive(child));
    EXPECT_FALSE(inspector.isProcessAlive(0));
    EXPECT_FALSE(inspector.isProcessAlive(-1));
}

TEST(LinuxProcessInspector, FirefoxProcessesByExecutableName) {
    TempDir dir;
    for (const char* name : {"firefox-esr", "firefox-bin", "firefoxy", "firefox"}) {
        fs::copy_file("/bin/sleep", dir.path() / name);
        fs::permissions(dir.path() / name, fs::perms::owner_all, fs::perm_options::add);
    }
    pid_t esr = spawn(dir.path() / "firefox-esr", "60");
    pid_t bin = spawn(dir.path() / "firefox-bin", "60");
    pid_t other = spawn(dir.path() / "firefoxy", "60");
    pid_t upgraded = spawn(dir.path() / "firefox", "60");
    ASSERT_GT(esr, 0);
    ASSERT_GT(bin, 0);
    ASSERT_GT(other, 0);
    ASSERT_GT(upgraded, 0);
    // A package upgrade replaces the binary under a running Firefox.
    fs::remove(dir.path() / "firefox");

    LinuxProcessInspector inspector;
    std::vector<int> pids = inspector.firefoxProcesses();
    EXPECT_TRUE(contains(pids, esr));
    EXPECT_TRUE(contains(pids, bin));
    EXPECT_TRUE(contains(pids, upgraded));
    EXPECT_FALSE(contains(pids, other));
    EXPECT_FALSE(contains(pids, ::getpid()));
    EXPECT_TRUE(std::is_sorted(pids.begin(), pids.end()));

    for (pid_t pid : {esr, bin, other, upgraded})
        reap(pid);
    pids = inspector.firefoxProcesses();
    EXPECT_FALSE(contains(pids, esr));
    EXPECT_FALSE(contains(pids, upgraded));
}

}  // namespace
}  // namespace quenlit::linux_backend
