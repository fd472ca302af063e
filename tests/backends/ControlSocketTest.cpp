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
#include <cstring>
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

TEST(ControlPaths, OnePerUserAndDisplayInTheRuntimeFolder) {
    XdgDirs dirs = XdgDirs::current();
    dirs.runtimeDir = "/run/user/1000";
    const std::string uid = std::to_string(::getuid());
    EXPECT_EQ(socketPath(dirs, ":0"), "/run/user/1000/quenlit-" + uid + "-_0.sock");
    EXPECT_EQ(instanceFile(dirs, "host:10.0", ".lock"), "/run/user/1000/quenlit-" + uid + "-host_10_0.lock");
    dirs.runtimeDir.reset();
    EXPECT_EQ(socketPath(dirs, ":1").parent_path(), std::filesystem::temp_directory_path());
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
        ASSERT_TRUE(server) << server.reason();
        server_ = std::move(server.value());
        serving_ = std::thread([this] {
            while (!stop_) {
                pollfd watched{server_->descriptor(), POLLIN, 0};
                if (::poll(&watched, 1, 20) > 0) server_->acceptPending();
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
        ASSERT_TRUE(server) << server.reason();
        EXPECT_TRUE(std::filesystem::is_socket(path));
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace quenlit::linux_backend::control
