// The Wayland desktop services against a running sway (SWAYSOCK and WAYLAND_DISPLAY set), with
// two foot terminals standing in for other applications; skipped without sway. The toplevels come
// from a small client of the foreign-toplevel protocol of the test's own.

#include "backends/sway/SwayIpc.h"
#include "backends/sway/SwayScreens.h"
#include "backends/sway/SwayWindowControl.h"
#include "backends/sway/SwayWorkspace.h"
#include "backends/wayland/ForeignToplevels.h"

#include <gtest/gtest.h>

#include <wayland-client.h>
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <thread>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace quenlit::sway {

using namespace quenlit::wayland;
namespace {

// The compositor's toplevels, read by dispatching the connection when the test says so.
class ProtocolToplevels final : public Toplevels {
  public:
    ProtocolToplevels() {
        display_ = wl_display_connect(nullptr);
        if (display_ == nullptr) return;
        wl_registry* registry = wl_display_get_registry(display_);
        static const wl_registry_listener registryListener{
            [](void* data, wl_registry* source, std::uint32_t name, const char* interface,
               std::uint32_t version) {
                auto* self = static_cast<ProtocolToplevels*>(data);
                if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0) {
                    self->manager_ = static_cast<zwlr_foreign_toplevel_manager_v1*>(wl_registry_bind(
                        source, name, &zwlr_foreign_toplevel_manager_v1_interface, std::min(version, 3u)));
                    zwlr_foreign_toplevel_manager_v1_add_listener(self->manager_, &managerListener, self);
                } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && self->seat_ == nullptr) {
                    self->seat_ =
                        static_cast<wl_seat*>(wl_registry_bind(source, name, &wl_seat_interface, 1));
                }
            },
            [](void*, wl_registry*, std::uint32_t) {}};
        wl_registry_add_listener(registry, &registryListener, this);
        wl_display_roundtrip(display_);
        wl_display_roundtrip(display_);
    }
    ~ProtocolToplevels() override {
        if (display_ != nullptr) wl_display_disconnect(display_);
    }
    bool ready() const { return manager_ != nullptr && seat_ != nullptr; }
    void dispatch() { wl_display_roundtrip(display_); }

    std::vector<Toplevel> list() const override {
        std::vector<Toplevel> out;
        for (const Entry& entry : entries_)
            if (entry.complete && !entry.closed) out.push_back(entry.current);
        return out;
    }
    bool activate(std::uint64_t handle) override {
        Entry* entry = find(handle);
        if (entry == nullptr) return false;
        zwlr_foreign_toplevel_handle_v1_activate(entry->proxy, seat_);
        wl_display_flush(display_);
        return true;
    }
    bool setMinimized(std::uint64_t handle, bool minimized) override {
        Entry* entry = find(handle);
        if (entry == nullptr) return false;
        if (minimized)
            zwlr_foreign_toplevel_handle_v1_set_minimized(entry->proxy);
        else
            zwlr_foreign_toplevel_handle_v1_unset_minimized(entry->proxy);
        wl_display_flush(display_);
        return true;
    }

  private:
    struct Entry {
        ProtocolToplevels* owner = nullptr;
        zwlr_foreign_toplevel_handle_v1* proxy = nullptr;
        Toplevel pending;
        Toplevel current;
        bool complete = false;
        bool closed = false;
    };
    Entry* find(std::uint64_t handle) {
        for (Entry& entry : entries_)
            if (entry.current.handle == handle && entry.complete && !entry.closed) return &entry;
        return nullptr;
    }

    static const zwlr_foreign_toplevel_handle_v1_listener handleListener;
    static const zwlr_foreign_toplevel_manager_v1_listener managerListener;

    wl_display* display_ = nullptr;
    zwlr_foreign_toplevel_manager_v1* manager_ = nullptr;
    wl_seat* seat_ = nullptr;
    std::list<Entry> entries_;  // stable addresses: each is its proxy's listener data
    std::uint64_t lastHandle_ = 0;
};

const zwlr_foreign_toplevel_handle_v1_listener ProtocolToplevels::handleListener{
    [](void* data, zwlr_foreign_toplevel_handle_v1*, const char* title) {
        static_cast<Entry*>(data)->pending.title = title;
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1*, const char* appId) {
        static_cast<Entry*>(data)->pending.appId = appId;
    },
    [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    [](void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
        auto* entry = static_cast<Entry*>(data);
        entry->pending.activated = entry->pending.minimized = entry->pending.maximized =
            entry->pending.fullscreen = false;
        const auto* state = static_cast<const std::uint32_t*>(states->data);
        for (std::size_t i = 0; i < states->size / sizeof(std::uint32_t); ++i) {
            entry->pending.activated |= state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
            entry->pending.minimized |= state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MINIMIZED;
            entry->pending.maximized |= state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MAXIMIZED;
            entry->pending.fullscreen |= state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_FULLSCREEN;
        }
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1*) {
        auto* entry = static_cast<Entry*>(data);
        entry->current = entry->pending;
        entry->complete = true;
        entry->owner->changed.emit();
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1*) {
        auto* entry = static_cast<Entry*>(data);
        entry->closed = true;
        entry->owner->changed.emit();
    },
    [](void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {},
};
const zwlr_foreign_toplevel_manager_v1_listener ProtocolToplevels::managerListener{
    [](void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* proxy) {
        auto* self = static_cast<ProtocolToplevels*>(data);
        Entry& entry = self->entries_.emplace_back();
        entry.owner = self;
        entry.proxy = proxy;
        entry.pending.handle = ++self->lastHandle_;
        zwlr_foreign_toplevel_handle_v1_add_listener(proxy, &handleListener, &entry);
    },
    [](void*, zwlr_foreign_toplevel_manager_v1*) {},
};

class Terminal {
  public:
    explicit Terminal(const char* title) {
        char program[] = "foot";
        std::string titleArgument = std::string("--title=") + title;
        char* argv[] = {program, titleArgument.data(), nullptr};
        if (::posix_spawnp(&pid_, "foot", nullptr, nullptr, argv, environ) != 0) pid_ = 0;
    }
    ~Terminal() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    int pid() const { return pid_; }

  private:
    pid_t pid_ = 0;
};

// Polls until `condition` holds, dispatching the toplevels' events and Qt's in between.
bool eventually(ProtocolToplevels& toplevels, const std::function<bool()>& condition,
                std::chrono::seconds bound = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
        toplevels.dispatch();
        QCoreApplication::processEvents();
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TEST(SwayLive, TwoTerminalsArePlacedListedActivatedAndHidden) {
    // Never the user's own session: these tests open, move and hide windows.
    if (std::getenv("SWAYSOCK") == nullptr || std::getenv("WAYLAND_DISPLAY") == nullptr ||
        std::getenv("QUENLIT_PRIVATE_COMPOSITOR") == nullptr)
        GTEST_SKIP() << "needs a private sway (tests/support/with-sway.sh runs one)";
    static int argc = 1;
    static char name[] = "wayland_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    auto connected = SwayIpc::connect();
    ASSERT_TRUE(connected.has_value()) << connected.error().reason;
    SwayIpc& sway = *connected.value();
    ProtocolToplevels toplevels;
    ASSERT_TRUE(toplevels.ready());

    Terminal first("quenlit-live");
    Terminal second("quenlit-live");  // the same app id and title: only the pairing tells them apart
    ASSERT_GT(first.pid(), 0);
    ASSERT_GT(second.pid(), 0);
    SwayWorkspace workspace(toplevels, &sway);
    auto pids = [&] {
        std::vector<int> out;
        for (const auto& running : workspace.runningApplications())
            out.push_back(running.processIdentifier);
        std::sort(out.begin(), out.end());
        return out;
    };
    std::vector<int> expected{first.pid(), second.pid()};
    std::sort(expected.begin(), expected.end());
    ASSERT_TRUE(eventually(toplevels, [&] {
        const auto all = pids();
        return std::includes(all.begin(), all.end(), expected.begin(), expected.end());
    }));
    for (const auto& running : workspace.runningApplications()) {
        std::printf("running: pid=%d id=%s name=%s active=%d hidden=%d\n", running.processIdentifier,
                    running.bundleIdentifier.value_or("-").c_str(),
                    running.localizedName.value_or("-").c_str(), running.isActive, running.isHidden);
    }

    // A frame written is the frame read back.
    SwayWindowControl control(sway);
    const auto windows = control.windows(first.pid());
    ASSERT_TRUE(windows.has_value());
    const platform::WindowRef window = windows->front().ref;
    const platform::Rect target{100, 50, 500, 300};
    EXPECT_TRUE(control.setFrame(window, target, true).has_value());
    // sway shows the new frame once the terminal has taken it, which a busy one does late.
    std::optional<platform::Rect> frame;
    EXPECT_TRUE(eventually(
        toplevels,
        [&] {
            const auto read = control.window(window);
            frame = read.has_value() ? std::optional(read->frame) : std::nullopt;
            return frame == target;
        },
        std::chrono::seconds(15)));
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(*frame, target);
    // The frame lies on the primary screen, whose top-left corner is the accessibility origin.
    SwayScreens screens(sway);
    const auto main = screens.mainScreen();
    ASSERT_TRUE(main.has_value());
    EXPECT_EQ(main->frame.origin(), (platform::Point{0, 0}));
    EXPECT_LE(target.maxY(), main->frame.height);

    // The second was made last and has the focus: the first comes to the front, then the second.
    for (const int pid : {first.pid(), second.pid()}) {
        EXPECT_TRUE(workspace.activate(pid, false));
        EXPECT_TRUE(eventually(toplevels,
                               [&] {
                                   const auto front = workspace.frontmostApplication();
                                   const auto focused = sway.focusedWindow();
                                   return front && front->processIdentifier == pid && focused &&
                                          focused->pid == pid;
                               }))
            << "pid " << pid;
    }

    // Hidden in the scratchpad and back; a second request changes nothing and says so.
    EXPECT_TRUE(workspace.hide(first.pid()));
    EXPECT_TRUE(workspace.runningApplication(first.pid())->isHidden);
    EXPECT_FALSE(workspace.hide(first.pid()));
    EXPECT_TRUE(workspace.unhide(first.pid()));
    EXPECT_FALSE(workspace.runningApplication(first.pid())->isHidden);
    EXPECT_FALSE(workspace.unhide(first.pid()));
    // Activation brings a hidden window back too.
    EXPECT_TRUE(workspace.hide(second.pid()));
    EXPECT_TRUE(workspace.activate(second.pid(), true));
    EXPECT_TRUE(eventually(toplevels, [&] {
        const auto running = workspace.runningApplication(second.pid());
        return running && !running->isHidden && running->isActive;
    }));
}

}  // namespace
}  // namespace quenlit::sway
