// The Wayland probe that runs before anything starts, against stand-in compositors: one that
// accepts the connection and never answers must not hold the program up.

#include "backends/wayland/WaylandConnection.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>

namespace quenlit::wayland {
namespace {

// A Unix socket at `path` that takes connections (the kernel does, from its backlog) and reads
// nothing: a compositor that hangs.
class SilentCompositor {
  public:
    explicit SilentCompositor(const std::filesystem::path& path) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        bound_ =
            ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(fd_, 8) == 0;
    }
    ~SilentCompositor() { ::close(fd_); }
    SilentCompositor(const SilentCompositor&) = delete;
    SilentCompositor& operator=(const SilentCompositor&) = delete;
    bool bound() const { return bound_; }

  private:
    int fd_ = -1;
    bool bound_ = false;
};

TEST(WaylandProbe, AHungCompositorIsGivenUpOnWithinTheDeadline) {
    testing::TempDir dir;
    const auto path = dir / "wayland-hung";
    SilentCompositor compositor(path);
    ASSERT_TRUE(compositor.bound());
    const auto start = std::chrono::steady_clock::now();
    // On a thread, so that a probe that never returns fails the test rather than hanging it.
    auto probing = std::make_shared<std::promise<std::pair<bool, std::string>>>();
    auto probed = probing->get_future();
    std::thread([probing, display = path.string()] {
        std::string problem;
        const bool answered =
            WaylandConnection::probe(display, WaylandConnection::kProbeWait, &problem).has_value();
        probing->set_value({answered, problem});
    }).detach();
    ASSERT_EQ(probed.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "the probe still waits";
    const auto took = std::chrono::steady_clock::now() - start;
    const auto [answered, problem] = probed.get();
    EXPECT_FALSE(answered);
    EXPECT_EQ(problem, "the compositor at " + path.string() + " did not answer within 1000 ms");
    EXPECT_GE(took, std::chrono::milliseconds(900));
    EXPECT_LT(took, std::chrono::milliseconds(1500));
}

TEST(WaylandProbe, NoCompositorIsNoAnswer) {
    testing::TempDir dir;
    std::string problem;
    EXPECT_FALSE(
        WaylandConnection::probe((dir / "wayland-none").string(), WaylandConnection::kProbeWait, &problem));
}

}  // namespace
}  // namespace quenlit::wayland
