#include "app/Cli.h"

#include "backends/linux/ControlSocket.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <thread>

namespace quenlit::app {
namespace {

namespace control = linux_backend::control;

// The command in a runtime folder of its own, on a display nobody else uses.
class ToggleCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        save("DISPLAY");
        save("XDG_RUNTIME_DIR");
        save("WAYLAND_DISPLAY");
        ::setenv("DISPLAY", ":77", 1);
        ::unsetenv("WAYLAND_DISPLAY");
        ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    }
    void TearDown() override {
        stop = true;
        if (serving.joinable()) serving.join();
        for (const auto& [name, value] : saved) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }
    void save(const std::string& name) {
        const char* value = std::getenv(name.c_str());
        saved.emplace_back(name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    }

    // A running instance that answers with `reply`.
    void serve(const std::string& reply) {
        auto listening = control::Server::listen(control::socketPath(dir.path(), ":77"),
                                                 [this, reply](control::Request r) {
                                                     std::lock_guard lock(mutex);
                                                     asked.push_back(r);
                                                     return reply;
                                                 });
        ASSERT_TRUE(listening) << listening.error().reason;
        server = std::move(listening.value());
        serving = std::thread([this] {
            while (!stop) {
                pollfd watched{server->descriptor(), POLLIN, 0};
                if (::poll(&watched, 1, 20) > 0) server->serve();
            }
        });
    }

    struct Run {
        int status;
        std::string out;
        std::string err;
    };
    Run toggle(std::vector<std::string> args) {
        args.insert(args.begin(), "toggle");
        std::ostringstream out, err;
        const int status = runCli(args, out, err);
        return {status, out.str(), err.str()};
    }

    testing::TempDir dir;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
    std::unique_ptr<control::Server> server;
    std::thread serving;
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::vector<control::Request> asked;  // guarded by mutex
};

TEST_F(ToggleCommandTest, WithoutARunningInstanceSaysSoAndFails) {
    for (const char* panel : {"launcher", "clipboard"}) {
        const Run r = toggle({panel});
        EXPECT_EQ(r.status, 1) << panel;
        EXPECT_EQ(r.err, "quenlit is not running\n") << panel;
        EXPECT_EQ(r.out, "") << panel;
    }
}

TEST_F(ToggleCommandTest, UnknownPanelsAreAUsageError) {
    for (const auto& args :
         std::vector<std::vector<std::string>>{{}, {"windows"}, {"launcher", "clipboard"}}) {
        const Run r = toggle(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "usage: quenlit toggle launcher|clipboard\n");
    }
}

TEST_F(ToggleCommandTest, AsksTheRunningInstanceAndReportsItsAnswer) {
    serve("ok");
    const Run launcher = toggle({"launcher"});
    EXPECT_EQ(launcher.status, 0);
    EXPECT_EQ(launcher.err, "");
    const Run clipboard = toggle({"clipboard"});
    EXPECT_EQ(clipboard.status, 0);
    std::lock_guard lock(mutex);
    EXPECT_EQ(asked, (std::vector<control::Request>{control::Request::toggleLauncher,
                                                    control::Request::toggleClipboard}));
}

TEST_F(ToggleCommandTest, ARefusalIsPrintedAndFails) {
    serve("error: the clipboard panel is not available yet");
    const Run r = toggle({"clipboard"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quenlit: the clipboard panel is not available yet\n");
}

// What the command prints comes from this program, never from the socket's other end.
TEST_F(ToggleCommandTest, AnUnknownAnswerIsNotPrinted) {
    for (const std::string reply : {"error: \x1b]2;owned\x07", "sure", "error: please run rm -rf ~"}) {
        stop = true;
        if (serving.joinable()) serving.join();
        server.reset();
        stop = false;
        serve(reply);
        const Run r = toggle({"launcher"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "quenlit: the running instance gave an answer this version does not know\n");
    }
}

// The same X server under another name of its display is the same instance.
TEST_F(ToggleCommandTest, EveryNameOfTheDisplayReachesTheInstance) {
    serve("ok");
    for (const char* display : {":77", ":77.0", ":77.1", "unix:77", "unix:77.0"}) {
        ::setenv("DISPLAY", display, 1);
        const Run r = toggle({"launcher"});
        EXPECT_EQ(r.status, 0) << display << ": " << r.err;
    }
    ::setenv("DISPLAY", "localhost:77", 1);
    EXPECT_EQ(toggle({"launcher"}).err, "quenlit is not running\n");
}

}  // namespace
}  // namespace quenlit::app
