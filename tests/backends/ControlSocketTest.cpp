#include "backends/linux/ControlSocket.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quenlit::linux_backend::control {
namespace {

TEST(ControlRequest, OnlyOneKnownLineWithinTheSizeCapIsARequest) {
    struct Case {
        std::string bytes;
        std::optional<Request> request;
    };
    const std::vector<Case> cases{
        {"show launcher\n", Request::showLauncher},
        {"toggle launcher\n", Request::toggleLauncher},
        {"toggle clipboard\n", Request::toggleClipboard},
        {"toggle launcher", std::nullopt},  // no line feed: cut short
        {"toggle launcher\r\n", std::nullopt},
        {"toggle launcher\ntoggle launcher\n", std::nullopt},
        {"toggle launcher\nx", std::nullopt},
        {"Toggle Launcher\n", std::nullopt},
        {" toggle launcher\n", std::nullopt},
        {"toggle  launcher\n", std::nullopt},
        {"toggle\n", std::nullopt},
        {"toggle windows\n", std::nullopt},
        {std::string("toggle launcher\0\n", 17), std::nullopt},
        {"\n", std::nullopt},
        {"", std::nullopt},
        {std::string(kMaxRequest, 'x'), std::nullopt},
        {"toggle launcher" + std::string(kMaxRequest, ' ') + "\n", std::nullopt},  // oversized
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.substr(0, 40));
        EXPECT_EQ(parseRequest(c.bytes), c.request);
    }
    for (Request r : {Request::showLauncher, Request::toggleLauncher, Request::toggleClipboard}) {
        EXPECT_EQ(parseRequest(requestLine(r)), r);
    }
}

TEST(ControlPaths, OnePerUserAndDisplayInTheInstanceFolder) {
    const std::string uid = std::to_string(::getuid());
    EXPECT_EQ(socketPath("/run/user/1000", ":0"), "/run/user/1000/quenlit-" + uid + "-_0.sock");
    EXPECT_EQ(instanceFile("/run/user/1000", "host:10", ".lock"),
              "/run/user/1000/quenlit-" + uid + "-host_10.lock");
}

// The lock and the socket go only where no other user can plant or replace them: the runtime
// folder when it is ours and closed, else a closed folder of our own in the temporary folder.
TEST(ControlPaths, TheInstanceFolderIsOursAlone) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make folders of another user";
    struct Case {
        std::string name;
        std::function<void(const std::filesystem::path& runtime, const std::filesystem::path& own)> prepare;
        bool useRuntime;
        std::string failure;  // empty: the folder is usable
    };
    const auto mode = [](const std::filesystem::path& p, mode_t m) { ASSERT_EQ(::chmod(p.c_str(), m), 0); };
    const std::vector<Case> cases{
        {"a private runtime folder", [](auto&, auto&) {}, true, ""},
        {"a runtime folder anyone may write", [&](auto& runtime, auto&) { mode(runtime, 01777); }, false, ""},
        {"a runtime folder others may read", [&](auto& runtime, auto&) { mode(runtime, 0755); }, false, ""},
        {"a runtime folder of another user",
         [](auto& runtime, auto&) { ASSERT_EQ(::chown(runtime.c_str(), 65534, 65534), 0); }, false, ""},
        {"our own folder left from before",
         [&](auto& runtime, auto& own) {
             mode(runtime, 0777);
             std::filesystem::create_directory(own);
             mode(own, 0700);
         },
         false, ""},
        {"our own folder taken by another user",
         [&](auto& runtime, auto& own) {
             mode(runtime, 0777);
             std::filesystem::create_directory(own);
             mode(own, 0700);
             ASSERT_EQ(::chown(own.c_str(), 65534, 65534), 0);
         },
         false, "belongs to another user (uid 65534)"},
        {"our own folder open to others",
         [&](auto& runtime, auto& own) {
             mode(runtime, 0777);
             std::filesystem::create_directory(own);
             mode(own, 0777);
         },
         false, "is open to other users (mode 0777, not 0700)"},
        {"our own folder's name linked elsewhere",
         [&](auto& runtime, auto& own) {
             mode(runtime, 0777);
             std::filesystem::create_directory_symlink(runtime, own);
         },
         false, "is not a folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempDir temporary;
        const auto runtime = temporary / "runtime";
        const auto own = temporary / ("quenlit-" + std::to_string(::getuid()));
        std::filesystem::create_directory(runtime);
        mode(runtime, 0700);
        c.prepare(runtime, own);
        XdgDirs dirs = XdgDirs::current();
        dirs.runtimeDir = runtime;
        const auto folder = instanceFolder(dirs, temporary.path());
        if (!c.failure.empty()) {
            ASSERT_FALSE(folder);
            EXPECT_EQ(folder.error().reason, own.string() + " " + c.failure);
            continue;
        }
        ASSERT_TRUE(folder) << folder.error().reason;
        EXPECT_EQ(folder.value(), c.useRuntime ? runtime : own);
        struct stat info {};
        ASSERT_EQ(::lstat(folder.value().c_str(), &info), 0);
        EXPECT_TRUE(S_ISDIR(info.st_mode));
        EXPECT_EQ(info.st_mode & 0777, 0700u);
        EXPECT_EQ(info.st_uid, ::getuid());
    }
    // Without a runtime folder the own folder is made, closed whatever the umask.
    testing::TempDir temporary;
    XdgDirs dirs = XdgDirs::current();
    dirs.runtimeDir.reset();
    const mode_t umask = ::umask(0);
    const auto folder = instanceFolder(dirs, temporary.path());
    ::umask(umask);
    ASSERT_TRUE(folder) << folder.error().reason;
    EXPECT_EQ(folder.value(), temporary / ("quenlit-" + std::to_string(::getuid())));
    EXPECT_EQ(std::filesystem::status(folder.value()).permissions(), std::filesystem::perms::owner_all);
}

TEST(InstanceLock, OneHolderWhoseLockNamesIt) {
    testing::TempDir dir;
    const auto path = dir / "quenlit.lock";
    testing::writeFile(path, "123456789\n");  // left by an instance that ended
    auto first = InstanceLock::open(path);
    ASSERT_TRUE(first) << first.error().reason;
    long owner = -1;
    ASSERT_TRUE(first.value()->acquire(owner));
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, std::to_string(::getpid()) + "\n");
    auto second = InstanceLock::open(path);
    ASSERT_TRUE(second) << second.error().reason;
    EXPECT_FALSE(second.value()->acquire(owner));
    EXPECT_EQ(owner, ::getpid());
    first.value().reset();
    EXPECT_TRUE(second.value()->acquire(owner));
}

// Whatever lies at the lock's path other than our own plain file is refused, and left as it was.
TEST(InstanceLock, NeverWritesThroughALinkOrIntoAnotherFile) {
    testing::TempDir dir;
    const auto victim = dir / "precious";
    const auto path = dir / "quenlit.lock";
    const std::vector<std::pair<std::string, std::function<void()>>> plants{
        {"a symbolic link", [&] { std::filesystem::create_symlink(victim, path); }},
        {"a link to a missing file", [&] { std::filesystem::create_symlink(dir / "missing", path); }},
        {"a hard link", [&] { std::filesystem::create_hard_link(victim, path); }},
        {"a folder", [&] { std::filesystem::create_directory(path); }},
        {"a named pipe", [&] { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }},
    };
    for (const auto& [name, plant] : plants) {
        SCOPED_TRACE(name);
        testing::writeFile(victim, "keep me");
        plant();
        const auto lock = InstanceLock::open(path);
        EXPECT_FALSE(lock);
        std::ifstream in(victim);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text, "keep me");
        EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
        std::filesystem::remove(path);
    }
    if (::geteuid() == 0) {
        testing::writeFile(path, "");
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
        const auto lock = InstanceLock::open(path);
        ASSERT_FALSE(lock);
        EXPECT_EQ(lock.error().reason, path.string() + " is not a lock file of this user");
    }
}

// A server answering on a thread of its own while the test plays the client.
class ControlServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto server = Server::listen(path, [this](Request r) {
            std::lock_guard lock(mutex_);
            requests_.push_back(r);
            return r == Request::toggleClipboard
                       ? std::string("error: the clipboard panel is not available yet")
                       : std::string("ok");
        });
        ASSERT_TRUE(server) << server.error().reason;
        server_ = std::move(server.value());
        serving_ = std::thread([this] {
            while (!stop_) {
                pollfd watched{server_->descriptor(), POLLIN, 0};
                if (::poll(&watched, 1, 20) > 0) server_->serve();
            }
        });
    }
    void TearDown() override {
        stop_ = true;
        if (serving_.joinable()) serving_.join();
    }

    // Sends raw bytes and reads the answer to its end.
    std::string raw(const std::string& bytes) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path.c_str());
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        // An oversized request may be cut off by the server's answer: only the answer counts.
        [[maybe_unused]] auto sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        ::shutdown(fd, SHUT_WR);
        std::string answer;
        char buffer[256];
        ssize_t n = 0;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            answer.append(buffer, static_cast<std::size_t>(n));
        ::close(fd);
        return answer;
    }

    testing::TempDir dir;
    std::filesystem::path path = dir / "quenlit.sock";
    // What the handler was asked, in order.
    std::vector<Request> requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

  private:
    std::unique_ptr<Server> server_;
    std::thread serving_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Request> requests_;
};

TEST_F(ControlServerTest, TheSocketIsTheUsersAlone) {
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(ControlServerTest, ARequestIsAnsweredByTheHandler) {
    const Outcome toggled = send(path, Request::toggleLauncher);
    EXPECT_EQ(toggled.kind, Outcome::Kind::answered);
    EXPECT_EQ(toggled.text, "ok");
    const Outcome clipboard = send(path, Request::toggleClipboard);
    EXPECT_EQ(clipboard.kind, Outcome::Kind::answered);
    EXPECT_EQ(clipboard.text, "error: the clipboard panel is not available yet");
    EXPECT_EQ(requests(), (std::vector<Request>{Request::toggleLauncher, Request::toggleClipboard}));
}

TEST_F(ControlServerTest, MalformedOrOversizedRequestsAreRefusedWithoutEffect) {
    const std::vector<std::string> refused{
        "toggle launcher",  // the client ended before the line did
        "toggle launcher\nshow launcher\n",
        "quit\n",
        std::string(kMaxRequest + 1, 'a'),
        "toggle launcher" + std::string(100000, ' ') + "\n",
    };
    for (const auto& bytes : refused) {
        SCOPED_TRACE(bytes.substr(0, 40));
        EXPECT_EQ(raw(bytes), "error: malformed request\n");
    }
    EXPECT_TRUE(requests().empty());
    EXPECT_EQ(raw("show launcher\n"), "ok\n");
    EXPECT_EQ(requests(), std::vector<Request>{Request::showLauncher});
}

TEST_F(ControlServerTest, APeerOfAnotherUserIsNotAnswered) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
    // Past the file mode (root could pass it anyway): the peer's credentials alone must refuse it.
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
        const Outcome outcome = send(path, Request::toggleLauncher);
        ::_exit(outcome.kind == Outcome::Kind::failed ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the other user got an answer";
    EXPECT_EQ(send(path, Request::showLauncher).text, "ok");
    EXPECT_EQ(requests(), std::vector<Request>{Request::showLauncher});
}

// Clients that connect and say nothing cost the server nothing: the next request is answered at
// once, and the silent ones are refused when their time is up.
TEST_F(ControlServerTest, SilentClientsDoNotHoldUpOthers) {
    std::vector<int> silent;
    for (int i = 0; i < 4; ++i) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path.c_str());
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        silent.push_back(fd);
    }
    const auto start = std::chrono::steady_clock::now();
    const Outcome toggled = send(path, Request::toggleLauncher);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(toggled.text, "ok");
    EXPECT_LT(took, std::chrono::milliseconds(100));
    EXPECT_EQ(requests(), std::vector<Request>{Request::toggleLauncher});
    for (int fd : silent) {
        pollfd answered{fd, POLLIN, 0};
        ASSERT_EQ(::poll(&answered, 1, 3000), 1);
        char buffer[64] = {};
        EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(
                                          std::max<ssize_t>(::read(fd, buffer, sizeof buffer), 0))),
                  "error: malformed request\n");
        ::close(fd);
    }
}

// More silent clients than the server keeps: the one waiting longest is let go.
TEST_F(ControlServerTest, TheLongestWaitingClientMakesRoom) {
    std::vector<int> silent;
    for (std::size_t i = 0; i < Server::kMaxWaiting + 1; ++i) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path.c_str());
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        silent.push_back(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pollfd first{silent.front(), POLLIN, 0};
    ASSERT_EQ(::poll(&first, 1, int(Server::kRequestWait.count() / 2)), 1);
    char buffer[64] = {};
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(
                                      std::max<ssize_t>(::read(silent.front(), buffer, sizeof buffer), 0))),
              "error: too many requests are waiting\n");
    EXPECT_EQ(send(path, Request::showLauncher).text, "ok");
    for (int fd : silent)
        ::close(fd);
}

// The client believes only a server of its own user: another user's socket at the path learns
// nothing and its answer is not taken.
TEST_F(ControlServerTest, AServerOfAnotherUserIsNotBelieved) {
    const Outcome outcome =
        send(path, Request::toggleLauncher, std::chrono::milliseconds(5000), ::geteuid() + 1);
    EXPECT_EQ(outcome.kind, Outcome::Kind::failed);
    EXPECT_EQ(outcome.text, path.string() + " is served by another user (uid " + std::to_string(::geteuid()) +
                                "), not by quenlit");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(requests().empty());
}

TEST(ControlAnswers, OnlyKnownRefusalsAreShown) {
    EXPECT_EQ(knownRefusal("error: malformed request"), kMalformed);
    EXPECT_EQ(knownRefusal("error: the clipboard panel is not available yet"), kClipboardNotReady);
    EXPECT_EQ(knownRefusal("error: the launcher is not ready yet"), kLauncherNotReady);
    EXPECT_EQ(knownRefusal("error: too many requests are waiting"), kBusy);
    for (std::string_view other :
         {"ok", "error: ", "error: \x1b]0;owned\x07", "error: malformed request ", "hello"})
        EXPECT_EQ(knownRefusal(other), std::nullopt) << other;
}

TEST(ControlClient, NothingListeningIsNotRunning) {
    testing::TempDir dir;
    EXPECT_EQ(send(dir / "missing.sock", Request::toggleLauncher).kind, Outcome::Kind::notRunning);
    // A socket left behind by an instance that ended.
    const auto stale = dir / "stale.sock";
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, stale.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    EXPECT_EQ(send(stale, Request::toggleLauncher).kind, Outcome::Kind::notRunning);
}

TEST(ControlServer, ReplacesAStaleSocketAndRemovesItsOwnOnExit) {
    testing::TempDir dir;
    const auto path = dir / "quenlit.sock";
    testing::writeFile(path, "left over");
    {
        auto server = Server::listen(path, [](Request) { return std::string("ok"); });
        ASSERT_TRUE(server) << server.error().reason;
        EXPECT_TRUE(std::filesystem::is_socket(path));
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace quenlit::linux_backend::control
