#include "backends/linux/PosixProcessRunner.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <unistd.h>

namespace quenlit::linux_backend {
namespace {

using Words = std::vector<std::string>;

platform::ProcessOutcome shell(const std::string& script, const Words& extra = {}) {
    PosixProcessRunner runner;
    Words arguments{"-c", script, "sh"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return runner.run("/bin/sh", arguments);
}

class TempDir {
  public:
    TempDir()
        : path_(std::filesystem::temp_directory_path() / ("quenlit-runner-" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

TEST(PosixProcessRunner, ReportsTheExitStatus) {
    const std::pair<const char*, int> cases[] = {
        {"exit 0", 0}, {"exit 3", 3}, {"exit 255", 255}, {"kill -KILL $$", -1},  // did not exit normally
    };
    for (const auto& [script, status] : cases) {
        SCOPED_TRACE(script);
        EXPECT_EQ(shell(script).status, status);
    }
}

TEST(PosixProcessRunner, CapturesEachStreamSeparately) {
    auto outcome = shell("printf 'to out\\n'; printf 'to err' >&2; printf 'more out'; exit 4");
    EXPECT_EQ(outcome.status, 4);
    EXPECT_EQ(outcome.standardOutput, "to out\nmore out");
    EXPECT_EQ(outcome.standardError, "to err");
}

TEST(PosixProcessRunner, PassesArgumentsVerbatim) {
    auto outcome = shell("printf '%s|' \"$@\"", {"a b", "", "été", "$HOME", "--"});
    EXPECT_EQ(outcome.standardOutput, "a b||été|$HOME|--|");
}

TEST(PosixProcessRunner, InheritsTheEnvironment) {
    ::setenv("QUENLIT_RUNNER_PROBE", "probe value", 1);
    auto outcome = shell("printf %s \"$QUENLIT_RUNNER_PROBE\"");
    ::unsetenv("QUENLIT_RUNNER_PROBE");
    EXPECT_EQ(outcome.standardOutput, "probe value");
}

// A runner that read one stream to its end before the other would hang here: the child fills the
// error pipe first and then the output pipe, far beyond what either pipe holds.
TEST(PosixProcessRunner, LargeOutputOnBothStreamsIsReadCompletely) {
    auto outcome = shell(
        "head -c 1500000 /dev/zero | tr '\\0' e >&2; head -c 2000000 /dev/zero | tr '\\0' o;"
        "head -c 1100000 /dev/zero | tr '\\0' E >&2");
    EXPECT_EQ(outcome.status, 0);
    ASSERT_EQ(outcome.standardOutput.size(), 2000000u);
    ASSERT_EQ(outcome.standardError.size(), 2600000u);
    EXPECT_EQ(outcome.standardOutput.find_first_not_of('o'), std::string::npos);
    EXPECT_EQ(outcome.standardError.find_first_not_of('e'), 1500000u);
    EXPECT_EQ(outcome.standardError.find_first_not_of('E', 1500000), std::string::npos);
}

TEST(PosixProcessRunner, StandardInputIsTheNullDevice) {
    PosixProcessRunner runner;
    auto cat = runner.run("/bin/cat", {});
    EXPECT_EQ(cat.status, 0);
    EXPECT_EQ(cat.standardOutput, "");
    EXPECT_EQ(shell("readlink /proc/$$/fd/0").standardOutput, "/dev/null\n");
}

TEST(PosixProcessRunner, ProgramThatCannotStartGivesMinusOneAndTheReason) {
    TempDir dir;
    auto notExecutable = dir.path() / "plain-file";
    std::ofstream(notExecutable) << "#!/bin/sh\necho hi\n";

    PosixProcessRunner runner;
    const std::pair<std::string, int> cases[] = {
        {(dir.path() / "missing").string(), ENOENT},
        {notExecutable.string(), EACCES},
        {dir.path().string(), EACCES},
    };
    for (const auto& [program, error] : cases) {
        SCOPED_TRACE(program);
        auto outcome = runner.run(program, {"x"});
        EXPECT_EQ(outcome.status, -1);
        EXPECT_EQ(outcome.standardOutput, "");
        EXPECT_EQ(outcome.standardError, std::strerror(error));
    }
}

TEST(PosixProcessRunner, InvalidUtf8OutputBecomesEmpty) {
    auto outcome = shell("printf 'ok \\303\\251\\360\\237\\230\\200'; printf 'bad \\377' >&2");
    EXPECT_EQ(outcome.standardOutput, "ok é😀");
    EXPECT_EQ(outcome.standardError, "");
    EXPECT_EQ(shell("printf 'caf\\303'").standardOutput, "") << "a sequence cut off at the end";
}

TEST(PosixProcessRunner, Utf8Validity) {
    const std::pair<std::string_view, bool> cases[] = {
        {"", true},
        {"plain", true},
        {"\xC3\xA9", true},
        {"\xE2\x80\xA8", true},
        {"\xEF\xBF\xBF", true},
        {"\xF0\x90\x80\x80", true},
        {"\xF4\x8F\xBF\xBF", true},  // U+10FFFF
        {"\x80", false},             // continuation without a lead byte
        {"\xC0\xAF", false},         // overlong "/"
        {"\xC1\xBF", false},
        {"\xE0\x9F\xBF", false},      // overlong
        {"\xED\xA0\x80", false},      // surrogate
        {"\xF0\x8F\xBF\xBF", false},  // overlong
        {"\xF4\x90\x80\x80", false},  // past U+10FFFF
        {"\xF5\x80\x80\x80", false},
        {"\xFF", false},
        {"\xE2\x82", false},  // cut off
        {"\xC3(", false},     // continuation missing
    };
    for (const auto& [bytes, valid] : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(bytes)));
        EXPECT_EQ(isValidUtf8(bytes), valid);
    }
}

TEST(PosixProcessRunner, ConcurrentRunsDoNotLeakTheirPipes) {
    TempDir dir;
    const std::string started = (dir.path() / "started").string();
    const std::string hold = (dir.path() / "hold").string();
    std::ofstream(hold) << "";

    // The first child names its pipes and then waits, so its runner's descriptors stay open while
    // the second child lists everything it inherited.
    platform::ProcessOutcome first;
    std::thread thread([&] {
        first = shell(
            "readlink /proc/$$/fd/1 /proc/$$/fd/2; : > \"$1\"; while [ -e \"$2\" ]; do sleep 0.02; done",
            {started, hold});
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!std::filesystem::exists(started) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    auto second = shell("for f in /proc/$$/fd/*; do readlink \"$f\"; done");
    std::filesystem::remove(hold);
    thread.join();

    ASSERT_TRUE(std::filesystem::exists(started));
    std::istringstream pipes(first.standardOutput);
    std::string pipe;
    int seen = 0;
    while (std::getline(pipes, pipe)) {
        ASSERT_EQ(pipe.rfind("pipe:", 0), 0u) << pipe;
        EXPECT_EQ(second.standardOutput.find(pipe), std::string::npos) << second.standardOutput;
        ++seen;
    }
    EXPECT_EQ(seen, 2);
}

// A process of ours that has not ended: gone from /proc, or a zombie nobody reaped (a container's
// first process may never reap the orphans it inherits).
bool isRunning(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    const std::size_t end = line.rfind(')');
    return end == std::string::npos || end + 2 >= line.size() ||
           (line[end + 2] != 'Z' && line[end + 2] != 'X');
}

int readPid(const std::filesystem::path& file) {
    int pid = 0;
    std::ifstream(file) >> pid;
    return pid;
}

bool hasContent(const std::filesystem::path& file) {
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    return !error && size > 0;
}

// Each script writes a pid to the file named by its first argument, then never ends by itself.
struct HangingCase {
    const char* name;
    const char* script;
    bool cancel;  // stopped by the cancel function once the pid is written, else by a 0.2 s timeout
    const char* reason;
};

TEST(PosixProcessRunner, HangingChildIsKilledAndReapedWhenTheLimitsEndTheRun) {
    const HangingCase cases[] = {
        {"timeout", "echo $$ > \"$1\"; exec sleep 30", false, "timed out after 0.2 s"},
        {"cancel", "echo $$ > \"$1\"; exec sleep 30", true, "cancelled"},
        {"outputs closed", "exec >/dev/null 2>&1; echo $$ > \"$1\"; exec sleep 30", false,
         "timed out after 0.2 s"},
        {"outputs closed, cancel", "exec >/dev/null 2>&1; echo $$ > \"$1\"; exec sleep 30", true,
         "cancelled"},
        {"still writing", "echo $$ > \"$1\"; while :; do echo y; sleep 0.01; done", false,
         "timed out after 0.2 s"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const auto program = dir.path() / "hang";
        const auto pidFile = dir.path() / "pid";
        std::ofstream(program) << "#!/bin/sh\n" << c.script << "\n";
        std::filesystem::permissions(program, std::filesystem::perms::owner_all);
        platform::RunLimits limits;
        if (c.cancel) {
            limits.cancelled = [&pidFile] { return hasContent(pidFile); };
        } else {
            limits.timeout = std::chrono::duration<double>(0.2);
        }

        PosixProcessRunner runner;
        const auto begin = std::chrono::steady_clock::now();
        auto outcome = runner.run(program.string(), {pidFile.string()}, limits);
        EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10))
            << "not the sleep's 30 s";
        EXPECT_EQ(outcome, (platform::ProcessOutcome{-1, "", c.reason}));

        const int pid = readPid(pidFile);
        ASSERT_GT(pid, 0);
        errno = 0;
        EXPECT_EQ(::kill(pid, 0), -1) << "the child must be gone, reaped";
        EXPECT_EQ(errno, ESRCH);
    }
}

TEST(PosixProcessRunner, StoppingARunAlsoEndsWhatTheChildStarted) {
    TempDir dir;
    const auto pidFile = dir.path() / "pid";
    platform::RunLimits limits;
    limits.timeout = std::chrono::duration<double>(0.2);
    PosixProcessRunner runner;
    auto outcome =
        runner.run("/bin/sh", {"-c", "sleep 30 & echo $! > \"$1\"; wait", "sh", pidFile.string()}, limits);
    EXPECT_EQ(outcome.standardError, "timed out after 0.2 s");

    const int pid = readPid(pidFile);
    ASSERT_GT(pid, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (isRunning(pid) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(isRunning(pid)) << "the grandchild " << pid << " outlived the run";
}

TEST(PosixProcessRunner, RunCancelledBeforeItStartsStartsNothing) {
    TempDir dir;
    const auto marker = dir.path() / "started";
    platform::RunLimits limits;
    limits.cancelled = [] { return true; };
    PosixProcessRunner runner;
    auto outcome = runner.run("/bin/sh", {"-c", ": > \"$1\"", "sh", marker.string()}, limits);
    EXPECT_EQ(outcome, (platform::ProcessOutcome{-1, "", "cancelled"}));
    EXPECT_FALSE(std::filesystem::exists(marker));
}

// Limits that never trigger change nothing: the whole output, however long, and the exit status.
TEST(PosixProcessRunner, RunWithinItsLimitsIsUnchanged) {
    platform::RunLimits limits;
    limits.timeout = std::chrono::duration<double>(60);
    limits.cancelled = [] { return false; };
    PosixProcessRunner runner;
    auto outcome = runner.run("/bin/sh",
                              {"-c",
                               "head -c 300000 /dev/zero | tr '\\0' o; printf err >&2; sleep 0.1; "
                               "printf ' done'; exit 3"},
                              limits);
    EXPECT_EQ(outcome.status, 3);
    EXPECT_EQ(outcome.standardOutput, std::string(300000, 'o') + " done");
    EXPECT_EQ(outcome.standardError, "err");
}

TEST(PosixProcessRunner, ExecutableFileIsARegularFileWithExecutePermission) {
    TempDir dir;
    auto script = dir.path() / "tool";
    auto plain = dir.path() / "plain";
    std::ofstream(script) << "#!/bin/sh\n";
    std::ofstream(plain) << "text\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    std::filesystem::create_symlink(script, dir.path() / "link");

    PosixProcessRunner runner;
    EXPECT_TRUE(runner.isExecutableFile(script.string()));
    EXPECT_TRUE(runner.isExecutableFile((dir.path() / "link").string()));
    EXPECT_TRUE(runner.isExecutableFile("/bin/sh"));
    EXPECT_FALSE(runner.isExecutableFile(plain.string()));
    EXPECT_FALSE(runner.isExecutableFile(dir.path().string())) << "a directory is searchable, not executable";
    EXPECT_FALSE(runner.isExecutableFile((dir.path() / "missing").string()));
}

}  // namespace
}  // namespace quenlit::linux_backend
