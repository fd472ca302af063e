// The X11 desktop services against a real X server with a window manager (Xvfb and openbox, started
// by tests/support/with-xvfb.sh), with fixture_window standing in for other applications.

#include "automation/TextExpander.h"
#include "backends/linux/QtScheduler.h"
#include "backends/x11/KeyTranslation.h"
#include "backends/x11/X11Connection.h"
#include "backends/x11/X11EventHub.h"
#include "backends/x11/X11KeyboardEvents.h"
#include "backends/x11/X11PanelWindow.h"
#include "backends/x11/X11Screens.h"
#include "backends/x11/X11WindowControl.h"
#include "backends/x11/X11Workspace.h"
#include "backends/x11/XTestInput.h"
#include "base/Log.h"

#include "backends/FixtureProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <xcb/xinput.h>
#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon.h>

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace quenlit::x11 {
namespace {

using namespace std::chrono_literals;
using platform::WindowRef;
using quenlit::testing::TempDir;
constexpr platform::Modifiers kControl{.control = true};
using quenlit::testing::writeFile;

constexpr const char* kFixture = QUENLIT_FIXTURE_WINDOW;

// The desktop entries and program copies the workspace matches against, set up before GIO first
// reads the entries.
struct Desktop {
    TempDir dir;
    std::filesystem::path exeCopy = dir / "bin/exe-fixture";
    std::filesystem::path unlistedCopy = dir / "bin/unlisted-fixture";
    std::filesystem::path classEntry = dir / "data/applications/quenlit-fixture.desktop";
    std::filesystem::path exeEntry = dir / "data/applications/quenlit-exe-fixture.desktop";

    Desktop() {
        std::filesystem::create_directories(dir / "bin");
        std::filesystem::copy_file(kFixture, exeCopy);
        std::filesystem::copy_file(kFixture, unlistedCopy);
        writeFile(classEntry, std::string("[Desktop Entry]\nType=Application\nName=Quenlit Fixture\nExec=") +
                                  kFixture + " --title x\nStartupWMClass=QuenlitFixture\n");
        writeFile(exeEntry,
                  "[Desktop Entry]\nType=Application\nName=Exe Fixture\nExec=" + exeCopy.string() + "\n");
        ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    }
};
Desktop* desktop = nullptr;

// Runs Qt's event loop until the condition holds; whether it did within the bound.
bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound = 10000ms) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// A fixture_window process and the lines it prints.

class X11BackendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto fromQt = X11Connection::fromQt();
        ASSERT_TRUE(fromQt) << "not running on X11";
        x = std::make_unique<X11Connection>(std::move(*fromQt));
    }

    // Starts a fixture and waits until the window manager lists its window. Openbox gives a new
    // window the focus once it has placed it; waiting for that keeps it from taking the focus away
    // later, in the middle of a test.
    std::unique_ptr<Fixture> start(std::vector<std::string> arguments, const std::string& program = kFixture,
                                   bool takesFocus = true) {
        auto fixture = std::make_unique<Fixture>(std::move(arguments), program);
        EXPECT_NE(fixture->window(), XCB_WINDOW_NONE) << "the fixture window did not come up";
        const xcb_window_t window = fixture->window();
        EXPECT_TRUE(pumpUntil([&] {
            const auto clients = x->windows(x->root(), "_NET_CLIENT_LIST");
            return clients && std::find(clients->begin(), clients->end(), window) != clients->end() &&
                   x->cardinals(window, "_NET_FRAME_EXTENTS").has_value() &&
                   (!takesFocus || activeIs(window));
        }));
        return fixture;
    }

    bool activeIs(xcb_window_t window) { return x->activeWindow() == window; }
    bool makeActive(xcb_window_t window) {
        x->requestActivation(window);
        return pumpUntil([&] { return activeIs(window); });
    }

    // The client's origin and size in root coordinates, and the frame extents, straight from the server.
    struct Client {
        int x, y, width, height;
        std::vector<std::uint32_t> extents;
    };
    Client client(xcb_window_t window) {
        xcb_connection_t* c = x->raw();
        auto* g = xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
        auto* t = xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, window, x->root(), 0, 0),
                                                  nullptr);
        Client out{
            t ? t->dst_x : 0, t ? t->dst_y : 0, g ? g->width : 0, g ? g->height : 0,
            x->cardinals(window, "_NET_FRAME_EXTENTS").value_or(std::vector<std::uint32_t>{0, 0, 0, 0})};
        std::free(g);
        std::free(t);
        return out;
    }

    std::unique_ptr<X11Connection> x;
};

// ---------------------------------------------------------------------------------------------
// Screens

TEST(ScreensFrom, OrdersThePrimaryFirstAndConvertsWithItsHeight) {
    const std::vector<Monitor> monitors{{{0, 0, 1920, 1080}, false}, {{1920, 0, 1440, 900}, true}};
    const auto screens = screensFrom(monitors, {}, std::nullopt);
    ASSERT_EQ(screens.size(), 2u);
    EXPECT_EQ(screens[0].frame, (platform::Rect{1920, 0, 1440, 900}));
    EXPECT_EQ(screens[1].frame, (platform::Rect{0, -180, 1920, 1080}));
    EXPECT_EQ(screens[1].visibleFrame, screens[1].frame);
}

TEST(ScreensFrom, TakesTheFirstMonitorAsPrimaryWhenNoneIsMarked) {
    const auto screens =
        screensFrom({{{0, 0, 800, 600}, false}, {{800, 0, 1024, 768}, false}}, {}, std::nullopt);
    ASSERT_EQ(screens.size(), 2u);
    EXPECT_EQ(screens[0].frame, (platform::Rect{0, 0, 800, 600}));
    EXPECT_EQ(screens[1].frame, (platform::Rect{800, -168, 1024, 768}));
    EXPECT_TRUE(screensFrom({}, {}, std::nullopt).empty());
}

TEST(ActiveMonitor, IsTheOneHoldingMostOfTheFocusedWindowElseTheOneUnderThePointer) {
    // Two 1280 x 900 monitors side by side, the left one primary.
    const std::vector<Monitor> monitors{{{0, 0, 1280, 900}, true}, {{1280, 0, 1280, 900}, false}};
    struct Case {
        const char* name;
        std::optional<XRect> window;
        std::optional<XPoint> pointer;
        std::optional<std::size_t> expected;
    };
    const std::vector<Case> cases{
        {"a window on the right monitor, the pointer on the left", XRect{1400, 100, 600, 400}, XPoint{10, 10},
         1},
        {"a window across both, most of it on the left", XRect{900, 100, 600, 400}, XPoint{2000, 10}, 0},
        {"a window across both, most of it on the right", XRect{1100, 100, 600, 400}, XPoint{10, 10}, 1},
        {"no focused window: the pointer's", std::nullopt, XPoint{1300, 899}, 1},
        {"a focused window off every monitor: the pointer's", XRect{5000, 0, 100, 100}, XPoint{5, 5}, 0},
        {"neither: none (the primary counts)", std::nullopt, std::nullopt, std::nullopt},
        {"the pointer off every monitor: none", std::nullopt, XPoint{2560, 0}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(activeMonitor(monitors, c.window, c.pointer), c.expected);
    }
}

TEST(ScreensFrom, CarriesEachMonitorsScale) {
    const auto screens =
        screensFrom({{{0, 0, 2880, 1800}, true, 2}, {{2880, 0, 1920, 1080}, false, 1}}, {}, std::nullopt);
    ASSERT_EQ(screens.size(), 2u);
    EXPECT_EQ(screens[0].scale, 2);
    EXPECT_EQ(screens[1].scale, 1);
}

struct VisibleCase {
    const char* name;
    std::vector<XRect> perMonitor;
    std::optional<XRect> desktop;
    platform::Rect left;   // visible frame of the 1920 x 1080 monitor at the origin (the primary)
    platform::Rect right;  // of the 1440 x 900 monitor beside it
};

TEST(ScreensFrom, VisibleFrameComesFromTheBestWorkArea) {
    const std::vector<Monitor> monitors{{{0, 0, 1920, 1080}, true}, {{1920, 0, 1440, 900}, false}};
    const std::vector<VisibleCase> cases{
        {"per-monitor areas in monitor order",
         {{0, 30, 1920, 1050}, {1920, 0, 1440, 860}},
         XRect{0, 0, 10, 10},
         {0, 0, 1920, 1050},
         {1920, 220, 1440, 860}},
        {"per-monitor areas in another order are matched by position",
         {{1920, 0, 1440, 860}, {0, 30, 1920, 1050}},
         std::nullopt,
         {0, 0, 1920, 1050},
         {1920, 220, 1440, 860}},
        {"the desktop's work area cut to each monitor",
         {},
         XRect{0, 40, 3360, 1040},
         {0, 0, 1920, 1040},
         {1920, 180, 1440, 860}},
        {"a per-monitor area lying on no monitor is not used",
         {{5000, 0, 100, 100}},
         XRect{0, 40, 3360, 1040},
         {0, 0, 1920, 1040},
         {1920, 180, 1440, 860}},
        {"a work area missing a monitor leaves it whole",
         {},
         XRect{0, 40, 1920, 1040},
         {0, 0, 1920, 1040},
         {1920, 180, 1440, 900}},
        {"nothing published", {}, std::nullopt, {0, 0, 1920, 1080}, {1920, 180, 1440, 900}},
    };
    for (const auto& c : cases) {
        const auto screens = screensFrom(monitors, c.perMonitor, c.desktop);
        ASSERT_EQ(screens.size(), 2u) << c.name;
        EXPECT_EQ(screens[0].visibleFrame, c.left) << c.name;
        EXPECT_EQ(screens[1].visibleFrame, c.right) << c.name;
    }
}

TEST_F(X11BackendTest, ScreensReportTheMonitorAndTheWindowManagersWorkArea) {
    X11Screens screens(*x);
    auto all = screens.screens();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].frame, (platform::Rect{0, 0, 1440, 900}));
    EXPECT_EQ(all[0].visibleFrame, all[0].frame);

    // A dock along the top edge: openbox takes it off the work area.
    auto dock = start({"--dock-top", "30", "--size", "1440x30", "--class", "dock,Dock"}, kFixture, false);
    ASSERT_TRUE(pumpUntil([&] {
        auto area = x->cardinals(x->root(), "_NET_WORKAREA");
        return area && area->size() >= 4 && (*area)[1] == 30;
    }));
    all = screens.screens();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].visibleFrame, (platform::Rect{0, 0, 1440, 870}));
    EXPECT_EQ(screens.mainScreen(), all[0]);
}

TEST_F(X11BackendTest, ScreensPreferThePerMonitorWorkArea) {
    const std::uint32_t area[4] = {0, 50, 1440, 800};
    xcb_change_property(x->raw(), XCB_PROP_MODE_REPLACE, x->root(), x->atom("_NET_WORKAREAS_D0"),
                        XCB_ATOM_CARDINAL, 32, 4, area);
    x->sync();
    X11Screens screens(*x);
    const auto main = screens.mainScreen();
    xcb_delete_property(x->raw(), x->root(), x->atom("_NET_WORKAREAS_D0"));
    x->sync();
    ASSERT_TRUE(main);
    EXPECT_EQ(main->visibleFrame, (platform::Rect{0, 50, 1440, 800}));
}

// ---------------------------------------------------------------------------------------------
// Workspace

TEST_F(X11BackendTest, RunningApplicationsAreMatchedToTheirDesktopEntries) {
    auto byClass = start({});
    auto byProgram = start({"--class", "unknown,Unknown"}, desktop->exeCopy.string());
    auto unlisted = start({"--class", "nomatch,NoMatchClass"}, desktop->unlistedCopy.string());
    auto tool = start({"--skip-taskbar", "--class", "tool,Tool"}, desktop->unlistedCopy.string(), false);
    X11EventHub hub;
    X11Workspace workspace(*x, hub);

    const auto apps = workspace.runningApplications();
    auto find = [&](int pid) -> std::optional<platform::RunningApplication> {
        for (const auto& app : apps) {
            if (app.processIdentifier == pid) return app;
        }
        return std::nullopt;
    };
    const auto first = find(byClass->pid());
    ASSERT_TRUE(first);
    EXPECT_EQ(first->bundleIdentifier, "quenlit-fixture");
    EXPECT_EQ(first->bundlePath, desktop->classEntry.string());
    EXPECT_EQ(first->localizedName, "Quenlit Fixture");
    EXPECT_EQ(first->activationPolicy, platform::ActivationPolicy::regular);
    EXPECT_FALSE(first->isHidden);
    EXPECT_FALSE(first->isTerminated);

    const auto second = find(byProgram->pid());
    ASSERT_TRUE(second);
    EXPECT_EQ(second->bundleIdentifier, "quenlit-exe-fixture");
    EXPECT_EQ(second->localizedName, "Exe Fixture");

    const auto third = find(unlisted->pid());
    ASSERT_TRUE(third);
    EXPECT_EQ(third->bundleIdentifier, std::nullopt);
    EXPECT_EQ(third->bundlePath, std::nullopt);
    EXPECT_EQ(third->localizedName, "NoMatchClass");

    const auto fourth = find(tool->pid());
    ASSERT_TRUE(fourth);
    EXPECT_EQ(fourth->activationPolicy, platform::ActivationPolicy::accessory);

    EXPECT_EQ(workspace.runningApplication(byClass->pid()), first);
    EXPECT_EQ(workspace.runningApplication(static_cast<int>(::getpid())), std::nullopt);  // no window
    EXPECT_EQ(workspace.ownProcessIdentifier(), static_cast<int>(::getpid()));
}

TEST_F(X11BackendTest, ActivateHideAndUnhideAnApplication) {
    auto a = start({"--title", "A"});
    auto b = start({"--title", "B"});
    X11EventHub hub;
    X11Workspace workspace(*x, hub);

    // The workspace learns of the change from the window manager's property change, a moment after
    // the server has it.
    const auto frontIs = [&](int pid) {
        const auto front = workspace.frontmostApplication();
        return front && front->processIdentifier == pid;
    };
    ASSERT_TRUE(workspace.activate(a->pid(), true));
    ASSERT_TRUE(pumpUntil([&] { return frontIs(a->pid()); }));
    auto front = workspace.frontmostApplication();
    EXPECT_TRUE(front->isActive);
    EXPECT_FALSE(workspace.runningApplication(b->pid())->isActive);

    ASSERT_TRUE(workspace.hide(a->pid()));
    ASSERT_TRUE(pumpUntil([&] { return x->hasState(a->window(), "_NET_WM_STATE_HIDDEN"); }));
    EXPECT_TRUE(workspace.runningApplication(a->pid())->isHidden);

    ASSERT_TRUE(workspace.unhide(a->pid()));
    ASSERT_TRUE(pumpUntil([&] { return !x->hasState(a->window(), "_NET_WM_STATE_HIDDEN"); }));
    EXPECT_FALSE(workspace.runningApplication(a->pid())->isHidden);
    // Unhiding activates too, and a busy window manager may do that after it has shown the window:
    // the next activation must come after it, or the manager hands the focus back to A.
    ASSERT_TRUE(pumpUntil([&] { return frontIs(a->pid()); }));

    ASSERT_TRUE(workspace.activate(b->pid(), false));
    ASSERT_TRUE(pumpUntil([&] { return frontIs(b->pid()); }));
    EXPECT_TRUE(activeIs(b->window()));

    // The application in front quits: it is no longer the answer, whatever the window manager
    // activates next.
    const int gone = b->pid();
    b.reset();
    ASSERT_TRUE(pumpUntil([&] { return !frontIs(gone); }));

    EXPECT_FALSE(workspace.activate(999999, true));
    EXPECT_FALSE(workspace.hide(999999));
}

TEST_F(X11BackendTest, ReportsWhenAnotherApplicationBecomesActive) {
    auto a = start({"--title", "A"});
    auto b = start({"--title", "B"});
    ASSERT_TRUE(makeActive(a->window()));
    X11EventHub hub;
    X11Workspace workspace(*x, hub);
    std::vector<int> activated;
    auto connection = workspace.didActivateApplication.connect(
        [&](const platform::RunningApplication& app) { activated.push_back(app.processIdentifier); });

    x->requestActivation(b->window());
    ASSERT_TRUE(pumpUntil([&] { return !activated.empty(); }));
    EXPECT_EQ(activated, std::vector<int>{b->pid()});

    x->requestActivation(a->window());
    ASSERT_TRUE(pumpUntil([&] { return activated.size() == 2; }));
    EXPECT_EQ(activated.back(), a->pid());
}

// ---------------------------------------------------------------------------------------------
// Panel windows

TEST_F(X11BackendTest, APanelHidesAndShowsAgainHoldingTheKeyboardAndFallsBackWhenItIsTaken) {
    X11EventHub hub;
    X11PanelWindow panel(*x, hub, nullptr, {300, 200}, [] { return 900.0; });
    const auto viewable = [&] {
        const auto window = static_cast<xcb_window_t>(panel.host()->winId());
        auto* attributes =
            xcb_get_window_attributes_reply(x->raw(), xcb_get_window_attributes(x->raw(), window), nullptr);
        const bool mapped = attributes != nullptr && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(attributes);
        return mapped;
    };
    const auto show = [&] {
        panel.orderFrontRegardless();
        panel.makeKey();
    };
    // The first showing goes through Qt, the later ones map the window directly.
    for (int round = 0; round < 3; ++round) {
        show();
        EXPECT_TRUE(viewable()) << round;
        EXPECT_TRUE(panel.isVisible()) << round;
        EXPECT_TRUE(panel.isKeyWindow()) << round;
        panel.orderOut();
        EXPECT_FALSE(viewable()) << round;
        EXPECT_FALSE(panel.isVisible()) << round;
        EXPECT_FALSE(panel.isKeyWindow()) << round;
    }

    // Another program holds the keyboard: the panel becomes a window the window manager activates.
    auto prompt = start({"--grab-keyboard"}, kFixture, false);
    ASSERT_EQ(prompt->nextLine(), "grabbed");
    show();
    EXPECT_FALSE(panel.isKeyWindow());
    panel.activateApplication();
    EXPECT_TRUE(pumpUntil(viewable));
    EXPECT_TRUE(panel.isVisible());
    panel.orderOut();
    // The window manager hands the window back to the root window a moment later, as it does
    // long before a person presses the hotkey again.
    const auto backAtRoot = [&] {
        const auto window = static_cast<xcb_window_t>(panel.host()->winId());
        auto* tree = xcb_query_tree_reply(x->raw(), xcb_query_tree(x->raw(), window), nullptr);
        const bool atRoot = tree != nullptr && tree->parent == x->root();
        std::free(tree);
        return atRoot;
    };
    EXPECT_TRUE(pumpUntil([&] { return !viewable() && backAtRoot(); }));
    EXPECT_FALSE(panel.isVisible());

    // Once the keyboard is free, the panel shows the usual way again.
    prompt.reset();
    show();
    EXPECT_TRUE(viewable());
    EXPECT_TRUE(panel.isKeyWindow());
    panel.orderOut();
    EXPECT_FALSE(viewable());
}

// ---------------------------------------------------------------------------------------------
// Window control

TEST_F(X11BackendTest, WindowsOfAnApplicationTheActiveOneFirst) {
    auto a = start({"--title", "A", "--size", "400x300"});
    auto a2 = start({"--title", "A2"});
    X11WindowControl control(*x);
    EXPECT_TRUE(control.isProcessTrusted(false));
    ASSERT_TRUE(makeActive(a->window()));

    const auto windows = control.windows(a->pid());
    ASSERT_TRUE(windows.has_value());
    ASSERT_EQ(windows->size(), 1u) << "a window belongs to its own process only";
    const platform::WindowInfo& info = windows->front();
    EXPECT_EQ(info.ref, (WindowRef{a->pid(), a->window()}));
    EXPECT_TRUE(info.ordinary);
    EXPECT_TRUE(info.resizable);
    EXPECT_FALSE(info.minimised);
    EXPECT_FALSE(info.fullScreen);
    EXPECT_EQ(control.window(info.ref)->frame, info.frame);

    const auto none = control.windows(999999);
    ASSERT_FALSE(none.has_value());
    EXPECT_EQ(none.error().kind, Failure::Kind::gone);
    const auto gone = control.window({1, 0x7fffff});
    ASSERT_FALSE(gone.has_value());
    EXPECT_EQ(gone.error().kind, Failure::Kind::gone);
    EXPECT_EQ(control.setFrame({1, 0x7fffff}, {0, 0, 100, 100}, true).error().kind, Failure::Kind::gone);
}

TEST_F(X11BackendTest, FrameIsTheOuterFrameAndOneWriteMovesAndResizes) {
    auto a = start({"--size", "400x300"});
    X11WindowControl control(*x);
    const WindowRef window{a->pid(), a->window()};

    Client before = client(a->window());
    ASSERT_EQ(before.extents.size(), 4u);
    const int left = static_cast<int>(before.extents[0]), right = static_cast<int>(before.extents[1]);
    const int top = static_cast<int>(before.extents[2]), bottom = static_cast<int>(before.extents[3]);
    ASSERT_GT(top, 0) << "openbox draws a title bar";

    EXPECT_EQ(control.window(window)->frame, (platform::Rect{double(before.x - left), double(before.y - top),
                                                             400.0 + left + right, 300.0 + top + bottom}));

    // A move alone keeps the size.
    ASSERT_TRUE(control.setFrame(window, {100, 120, 10, 10}, false).has_value());
    EXPECT_EQ(control.window(window)->frame.origin(), (platform::Point{100, 120}));
    Client moved = client(a->window());
    EXPECT_EQ(moved.x, 100 + left);
    EXPECT_EQ(moved.y, 120 + top);
    EXPECT_EQ(moved.width, 400);

    // Read right after the write, the window is where it was asked to be.
    ASSERT_TRUE(control.setFrame(window, {30, 40, 500, 350}, true).has_value());
    EXPECT_EQ(control.window(window)->frame, (platform::Rect{30, 40, 500, 350}));
    Client resized = client(a->window());
    EXPECT_EQ(resized.width, 500 - left - right);
    EXPECT_EQ(resized.height, 350 - top - bottom);
}

TEST_F(X11BackendTest, WithoutMoveResizeRequestsTheWindowIsConfigured) {
    auto a = start({"--size", "400x300"});
    X11WindowControl control(*x);
    const WindowRef window{a->pid(), a->window()};
    // Hide _NET_MOVERESIZE_WINDOW from the list openbox published, as a window manager without it.
    const auto supported = x->atoms(x->root(), "_NET_SUPPORTED");
    std::vector<xcb_atom_t> without = supported;
    std::erase(without, x->atom("_NET_MOVERESIZE_WINDOW"));
    xcb_change_property(x->raw(), XCB_PROP_MODE_REPLACE, x->root(), x->atom("_NET_SUPPORTED"), XCB_ATOM_ATOM,
                        32, static_cast<std::uint32_t>(without.size()), without.data());
    x->sync();
    ASSERT_FALSE(x->isSupported("_NET_MOVERESIZE_WINDOW"));

    const bool written = control.setFrame(window, {60, 70, 450, 320}, true).has_value();
    const auto frame = control.window(window);
    xcb_change_property(x->raw(), XCB_PROP_MODE_REPLACE, x->root(), x->atom("_NET_SUPPORTED"), XCB_ATOM_ATOM,
                        32, static_cast<std::uint32_t>(supported.size()), supported.data());
    x->sync();

    EXPECT_TRUE(written);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->frame, (platform::Rect{60, 70, 450, 320}));
}

TEST_F(X11BackendTest, AMaximisedWindowIsUnmaximisedBeforeItMoves) {
    auto a = start({});
    X11WindowControl control(*x);
    const WindowRef window{a->pid(), a->window()};
    x->requestState(a->window(), true, "_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ");
    ASSERT_TRUE(pumpUntil([&] { return x->hasState(a->window(), "_NET_WM_STATE_MAXIMIZED_VERT"); }));

    ASSERT_TRUE(control.setFrame(window, {200, 100, 0, 0}, false).has_value());
    EXPECT_FALSE(x->hasState(a->window(), "_NET_WM_STATE_MAXIMIZED_VERT"));
    EXPECT_FALSE(x->hasState(a->window(), "_NET_WM_STATE_MAXIMIZED_HORZ"));
    EXPECT_EQ(control.window(window)->frame.origin(), (platform::Point{200, 100}));
}

TEST_F(X11BackendTest, AFixedSizeWindowIsNotResizableAndOnlyMoves) {
    auto fixed = start({"--fixed", "--size", "300x200"});
    auto free = start({"--size", "300x200"});
    X11WindowControl control(*x);
    const WindowRef fixedWindow{fixed->pid(), fixed->window()};
    const auto before = control.window(fixedWindow);
    ASSERT_TRUE(before.has_value());
    EXPECT_FALSE(before->resizable);
    EXPECT_TRUE(control.window({free->pid(), free->window()})->resizable);
    ASSERT_TRUE(control.setFrame(fixedWindow, {50, 60, 500, 400}, true).has_value());
    EXPECT_EQ(control.window(fixedWindow)->frame,
              (platform::Rect{50, 60, before->frame.width, before->frame.height}));
}

TEST_F(X11BackendTest, FullScreenAndMinimisedStates) {
    auto a = start({});
    X11WindowControl control(*x);
    const WindowRef window{a->pid(), a->window()};

    x->requestState(a->window(), true, "_NET_WM_STATE_FULLSCREEN");
    ASSERT_TRUE(pumpUntil([&] { return x->hasState(a->window(), "_NET_WM_STATE_FULLSCREEN"); }));
    EXPECT_TRUE(control.window(window)->fullScreen);
    ASSERT_TRUE(control.leaveFullScreen(window).has_value());
    EXPECT_FALSE(control.window(window)->fullScreen);

    x->requestIconify(a->window());
    ASSERT_TRUE(pumpUntil([&] { return x->hasState(a->window(), "_NET_WM_STATE_HIDDEN"); }));
    EXPECT_TRUE(control.window(window)->minimised);
    // Activation is what brings a minimised window back.
    ASSERT_TRUE(control.activate(window).has_value());
    EXPECT_FALSE(control.window(window)->minimised);
    EXPECT_TRUE(pumpUntil([&] { return activeIs(a->window()); }));
}

TEST_F(X11BackendTest, ActivatingAnApplicationActivatesItsWindow) {
    auto a = start({"--title", "A"});
    auto b = start({"--title", "B"});
    ASSERT_TRUE(makeActive(b->window()));
    X11WindowControl control(*x);
    ASSERT_TRUE(control.activateApplication(a->pid()).has_value());
    ASSERT_TRUE(pumpUntil([&] { return activeIs(a->window()); }));
    EXPECT_EQ(control.windows(a->pid())->front().ref, (WindowRef{a->pid(), a->window()}));
    EXPECT_EQ(control.activateApplication(999999).error().kind, Failure::Kind::gone);
}

// ---------------------------------------------------------------------------------------------
// Synthesised input

TEST(SyntheticKeyLog, RecognisesOwnEventsInOrderAndForgetsOldOnes) {
    SyntheticKeyLog log;
    const auto t0 = SyntheticKeyLog::Clock::now();
    log.record(37, true, 7, t0);
    log.record(55, true, 7, t0);
    log.record(55, false, 7, t0);
    EXPECT_FALSE(log.isOwnEvent(55, true, t0)) << "the user's key between ours";
    EXPECT_EQ(log.take(37, true, t0), 7);
    EXPECT_FALSE(log.isOwnEvent(55, false, t0)) << "a release is not the press";
    EXPECT_TRUE(log.isOwnEvent(55, true, t0));
    EXPECT_EQ(log.size(), 1u);
    // One that never came back is dropped after a second.
    EXPECT_FALSE(log.isOwnEvent(55, false, t0 + 1100ms));
    EXPECT_EQ(log.size(), 0u);
}

class XTestInputTest : public X11BackendTest {
  protected:
    void SetUp() override {
        X11BackendTest::SetUp();
        input = std::make_unique<XTestInput>(*x, nullptr);
    }
    // Posts a key press and release of the keysym with the modifiers.
    void press(std::uint32_t keysym, platform::Modifiers modifiers) {
        auto source = input->createEventSource();
        ASSERT_TRUE(source);
        auto down = source->keyboardEvent(keysym, true);
        auto up = source->keyboardEvent(keysym, false);
        ASSERT_TRUE(down && up);
        down->modifiers = up->modifiers = modifiers;
        ASSERT_TRUE(source->post(*down));
        ASSERT_TRUE(source->post(*up));
    }
    std::uint8_t keycodeOf(std::uint32_t keysym) {
        xcb_connection_t* c = x->raw();
        const xcb_setup_t* setup = xcb_get_setup(c);
        auto* mapping = xcb_get_keyboard_mapping_reply(
            c, xcb_get_keyboard_mapping(c, setup->min_keycode, setup->max_keycode - setup->min_keycode + 1),
            nullptr);
        std::uint8_t found = 0;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping);
        for (int k = setup->min_keycode; k <= setup->max_keycode && found == 0; ++k) {
            if (syms[(k - setup->min_keycode) * mapping->keysyms_per_keycode] == keysym) {
                found = static_cast<std::uint8_t>(k);
            }
        }
        std::free(mapping);
        return found;
    }
    std::unique_ptr<XTestInput> input;
};

TEST_F(XTestInputTest, CommandVBecomesControlV) {
    auto a = start({"--class", "editor,Editor"});
    ASSERT_TRUE(makeActive(a->window()));
    press('v', kControl);
    const std::string v = std::to_string(keycodeOf('v'));
    EXPECT_EQ(a->nextKey(), "key " + v + " keysym=0x76 state=0x4");

    // Everything posted is in the log, in order: Control, v, v, Control.
    const std::uint8_t control = keycodeOf(0xffe3);
    SyntheticKeyLog& log = *input->keyLog();
    EXPECT_TRUE(log.isOwnEvent(control, true));
    EXPECT_TRUE(log.isOwnEvent(static_cast<std::uint8_t>(std::stoi(v)), true));
    EXPECT_TRUE(log.isOwnEvent(static_cast<std::uint8_t>(std::stoi(v)), false));
    EXPECT_TRUE(log.isOwnEvent(control, false));
    EXPECT_EQ(log.size(), 0u);
}

TEST_F(XTestInputTest, CommandVBecomesControlShiftVInATerminal) {
    auto a = start({"--class", "kitty,kitty"});
    ASSERT_TRUE(makeActive(a->window()));
    press('v', kControl);
    EXPECT_EQ(a->nextKey(), "key " + std::to_string(keycodeOf('v')) + " keysym=0x56 state=0x5");
}

TEST_F(XTestInputTest, CommandVBecomesShiftInsertFromPrimaryInXterm) {
    auto a = start({"--class", "xterm,XTerm"});
    ASSERT_TRUE(makeActive(a->window()));
    int published = 0;
    input->publishPrimary = [&published] { return ++published > 0; };
    press('v', kControl);
    EXPECT_EQ(published, 1);
    EXPECT_EQ(a->nextKey(), "key " + std::to_string(keycodeOf(0xff63)) + " keysym=0xff63 state=0x1");

    // Without PRIMARY to paste from, nothing is typed and the post reports it.
    input->publishPrimary = [] { return false; };
    auto source = input->createEventSource();
    auto down = source->keyboardEvent('v', true);
    ASSERT_TRUE(down);
    down->modifiers = kControl;
    EXPECT_FALSE(source->post(*down));
}

TEST_F(XTestInputTest, AModifierTheUserStillHoldsIsLetGoFirst) {
    auto a = start({"--class", "editor,Editor"});
    ASSERT_TRUE(makeActive(a->window()));
    const std::uint8_t shift = keycodeOf(0xffe1);
    xcb_connection_t* c = x->raw();
    std::free(xcb_request_check(
        c, xcb_test_fake_input_checked(c, XCB_KEY_PRESS, shift, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0)));

    const auto started = std::chrono::steady_clock::now();
    press('v', kControl);
    // Shift would have made it Control+Shift+V: the paste as plain text in many editors.
    EXPECT_EQ(a->nextKey(), "key " + std::to_string(keycodeOf('v')) + " keysym=0x76 state=0x4");
    EXPECT_GE(std::chrono::steady_clock::now() - started, 900ms) << "the user had a moment to let go";
    auto* keys = xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr);
    ASSERT_NE(keys, nullptr);
    EXPECT_EQ(keys->keys[shift / 8] & (1 << (shift % 8)), 0);
    std::free(keys);
}

TEST_F(XTestInputTest, NamedKeysAndOtherModifiers) {
    auto a = start({});
    ASSERT_TRUE(makeActive(a->window()));
    press(platform::keysym::backSpace, {});
    EXPECT_EQ(a->nextKey(), "key " + std::to_string(keycodeOf(0xff08)) + " keysym=0xff08 state=0x0");
    press(platform::keysym::returnKey, {.shift = true});
    EXPECT_EQ(a->nextKey(), "key " + std::to_string(keycodeOf(0xff0d)) + " keysym=0xff0d state=0x1");
    press('a', {.alt = true});
    EXPECT_EQ(a->nextKey(), "key " + std::to_string(keycodeOf('a')) + " keysym=0x61 state=0x8");
    auto source = input->createEventSource();
    EXPECT_FALSE(source->keyboardEvent(0, true)) << "no keysym, no key";
    auto missing = source->keyboardEvent(0x100fffe, true);  // a character on no key
    ASSERT_TRUE(missing);
    EXPECT_FALSE(source->post(*missing)) << "a key the keyboard does not have is not typed";
}

TEST_F(XTestInputTest, TextIsTypedWhetherOrNotTheLayoutHasIt) {
    auto a = start({});
    ASSERT_TRUE(makeActive(a->window()));
    auto source = input->createEventSource();
    for (const std::u16string text : {u"a", u"A", u"\u00e9", u"\u20ac", u"\U0001F600"}) {
        auto down = source->keyboardEvent(TextExpander::kTextKeysym, true);
        auto up = source->keyboardEvent(TextExpander::kTextKeysym, false);
        ASSERT_TRUE(down && up);
        down->text = up->text = text;
        down->userData = up->userData = 0x51554558;
        ASSERT_TRUE(source->post(*down));
        ASSERT_TRUE(source->post(*up));
    }
    std::vector<std::string> keysyms;
    for (int i = 0; i < 5; ++i) {
        const std::string line = a->nextKey();
        const auto at = line.find("keysym=");
        keysyms.push_back(at == std::string::npos ? line : line.substr(at + 7, line.find(' ', at) - at - 7));
    }
    EXPECT_EQ(keysyms, (std::vector<std::string>{"0x61", "0x41", "0xe9", "0x10020ac", "0x101f600"}));

    // The spare keycodes are given back.
    const std::uint8_t euroKey = keycodeOf(0x10020ac);
    EXPECT_NE(euroKey, 0);
    input->restoreSpareKeycodes();
    EXPECT_EQ(keycodeOf(0x10020ac), 0);
    EXPECT_EQ(keycodeOf(0xe9), 0);
}

TEST_F(XTestInputTest, AnExpansionTypesCharactersTheKeyboardLacks) {
    auto a = start({});
    ASSERT_TRUE(makeActive(a->window()));
    ASSERT_TRUE(TextExpander::typeUnicode("é→😀", *input));
    std::vector<std::string> keysyms;
    for (int i = 0; i < 3; ++i) {
        const std::string line = a->nextKey();
        const auto at = line.find("keysym=");
        keysyms.push_back(at == std::string::npos ? line : line.substr(at + 7, line.find(' ', at) - at - 7));
    }
    EXPECT_EQ(keysyms, (std::vector<std::string>{"0xe9", "0x1002192", "0x101f600"}));
}

// The user's own keyboard: Xvfb's keyboard device, which XTest can type through (a key event of
// the input extension names the device).
class Typist {
  public:
    Typist() : c_(xcb_connect(nullptr, nullptr)) {
        const xcb_query_extension_reply_t* xinput = xcb_get_extension_data(c_, &xcb_input_id);
        if (xinput == nullptr || xinput->present == 0) return;
        firstEvent_ = xinput->first_event;
        auto* reply =
            xcb_input_xi_query_device_reply(c_, xcb_input_xi_query_device(c_, XCB_INPUT_DEVICE_ALL), nullptr);
        for (auto it = xcb_input_xi_query_device_infos_iterator(reply); reply != nullptr && it.rem > 0;
             xcb_input_xi_device_info_next(&it)) {
            const std::string name(xcb_input_xi_device_info_name(it.data),
                                   static_cast<std::size_t>(xcb_input_xi_device_info_name_length(it.data)));
            if (name == "Xvfb keyboard") device_ = static_cast<std::uint8_t>(it.data->deviceid);
        }
        std::free(reply);
    }
    ~Typist() { xcb_disconnect(c_); }
    bool ready() const { return device_ != 0; }
    void type(std::uint8_t keycode) {
        // DeviceKeyPress and DeviceKeyRelease of the first version of the input extension.
        for (int offset : {1, 2}) {
            std::free(xcb_request_check(
                c_, xcb_test_fake_input_checked(c_, static_cast<std::uint8_t>(firstEvent_ + offset), keycode,
                                                XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, device_)));
        }
    }

  private:
    xcb_connection_t* c_;
    int firstEvent_ = 0;
    std::uint8_t device_ = 0;
};

TEST_F(XTestInputTest, KeysTheUserTypesMeanwhileComeAfterWhatIsBeingTyped) {
    auto a = start({});
    ASSERT_TRUE(makeActive(a->window()));
    Typist typist;
    ASSERT_TRUE(typist.ready());
    typist.type(keycodeOf('w'));
    EXPECT_EQ(a->nextKey(), "key " + std::to_string(keycodeOf('w')) + " keysym=0x77 state=0x0");

    {
        // An expansion: its deletions, then its text, by separate sources as the expander makes them.
        auto deletions = input->createEventSource();
        auto down = deletions->keyboardEvent(platform::keysym::backSpace, true);
        auto up = deletions->keyboardEvent(platform::keysym::backSpace, false);
        ASSERT_TRUE(deletions->post(*down) && deletions->post(*up));
        deletions.reset();
        EXPECT_TRUE(input->holdsUserKeyboards());
        typist.type(keycodeOf('q'));  // typed between the deletions and the text
        auto text = input->createEventSource();
        auto press = text->keyboardEvent(TextExpander::kTextKeysym, true);
        auto release = text->keyboardEvent(TextExpander::kTextKeysym, false);
        press->text = release->text = u"z";
        ASSERT_TRUE(text->post(*press) && text->post(*release));
        typist.type(keycodeOf('r'));  // typed while the text is typed
    }
    EXPECT_FALSE(input->holdsUserKeyboards());
    std::vector<std::string> keysyms;
    for (int i = 0; i < 4; ++i) {
        const std::string line = a->nextKey();
        const auto at = line.find("keysym=");
        keysyms.push_back(at == std::string::npos ? line : line.substr(at + 7, line.find(' ', at) - at - 7));
    }
    EXPECT_EQ(keysyms, (std::vector<std::string>{"0xff08", "0x7a", "0x71", "0x72"}));
}

// ---------------------------------------------------------------------------------------------
// Scheduler

TEST(QtScheduler, MainQueueWorkRunsInTheOrderItWasQueuedFromAnyThread) {
    linux_backend::QtScheduler scheduler;
    std::vector<std::string> ran;
    scheduler.post([&] {
        ran.push_back("a");
        // Queued while the first batch runs: after what another thread queued before it.
        scheduler.post([&] { ran.push_back("c"); });
    });
    std::thread([&] { scheduler.post([&] { ran.push_back("b"); }); }).join();
    scheduler.post([&] { ran.push_back("a2"); });
    ASSERT_TRUE(pumpUntil([&] { return ran.size() == 4; }));
    EXPECT_EQ(ran, (std::vector<std::string>{"a", "b", "a2", "c"}));
}

// ---------------------------------------------------------------------------------------------
// Keyboard taps

// A bound letter or digit is the key that prints it, on the active layout or else the first one
// with Latin letters; keys are named by their US position (X keycodes).
TEST(KeycodePrinting, IsTheKeyThatPrintsTheLetterOnTheUsersLayout) {
    constexpr xcb_keycode_t usZ = 52, usY = 29, usA = 38, usQ = 24, usSemicolon = 47, us1 = 10;
    struct Row {
        const char* layout;
        std::uint32_t active;
        std::uint32_t keysym;
        std::optional<xcb_keycode_t> keycode;
    };
    const Row rows[] = {
        {"us", 0, 'z', usZ},
        {"us", 0, 'a', usA},
        {"us", 0, 'A', usA},
        {"us", 0, '1', us1},
        {"de", 0, 'z', usY},
        {"de", 0, 'y', usZ},
        {"de", 0, 'a', usA},
        {"fr", 0, 'a', usQ},
        {"fr", 0, 'q', usA},
        {"fr", 0, 'm', usSemicolon},
        {"fr", 0, '1', us1},           // printed with Shift on AZERTY
        {"ru", 0, 'z', std::nullopt},  // no Latin letters at all: the caller keeps the position
        {"us,ru", 1, 'z', usZ},
        {"de,ru", 1, 'z', usY},
        {"ru,fr", 0, 'a', usQ},
        {"us", 0, platform::keysym::space, std::nullopt},  // not a letter: found by its keysym elsewhere
    };
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    ASSERT_NE(context, nullptr);
    for (const Row& row : rows) {
        const xkb_rule_names names{"evdev", "pc105", row.layout, nullptr, nullptr};
        xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
        ASSERT_NE(keymap, nullptr) << row.layout;
        EXPECT_EQ(x11::keycodePrinting(keymap, row.active, row.keysym), row.keycode)
            << row.layout << " layout " << row.active << " keysym " << row.keysym;
        xkb_keymap_unref(keymap);
    }
    xkb_context_unref(context);
}

TEST(KeyText, TextFollowsTheLayoutAndComposeRules) {
    using M = platform::Modifiers;
    struct Press {
        std::uint8_t keycode;
        bool press;
    };
    struct Case {
        const char* name;
        const char* layout;
        const char* variant;
        std::vector<Press> presses;
        // The last press's event.
        platform::EventType type;
        std::uint32_t keysym;
        std::u16string text;
        M modifiers;
    } cases[] = {
        {"a letter", "us", "", {{38, true}}, platform::EventType::keyDown, 'a', u"a", {}},
        {"Shift and 4",
         "us",
         "",
         {{50, true}, {13, true}},
         platform::EventType::keyDown,
         '$',
         u"$",
         {.shift = true}},
        {"the key in the place of z on a German keyboard",
         "de",
         "",
         {{52, true}},
         platform::EventType::keyDown,
         'y',
         u"y",
         {}},
        {"a dead key gives no text",
         "us",
         "intl",
         {{48, true}},
         platform::EventType::keyDown,
         0xfe51,
         u"",
         {}},
        {"a dead key and e give é",
         "us",
         "intl",
         {{48, true}, {48, false}, {26, true}},
         platform::EventType::keyDown,
         'e',
         u"é",
         {}},
        {"Control and a give no text",
         "us",
         "",
         {{37, true}, {38, true}},
         platform::EventType::keyDown,
         'a',
         u"",
         {.control = true, .leftControl = true}},
        {"the right Control key",
         "us",
         "",
         {{105, true}},
         platform::EventType::flagsChanged,
         platform::keysym::controlR,
         u"",
         {.control = true, .rightControl = true}},
        {"BackSpace",
         "us",
         "",
         {{22, true}},
         platform::EventType::keyDown,
         platform::keysym::backSpace,
         u"",
         {}},
        {"a release", "us", "", {{38, true}, {38, false}}, platform::EventType::keyUp, 'a', u"", {}},
        {"a Cyrillic letter", "ru", "", {{45, true}}, platform::EventType::keyDown, 0x6cc, u"л", {}},
    };
    for (const auto& c : cases) {
        auto keys = KeyText::fromNames(c.layout, c.variant, "en_US.UTF-8");
        ASSERT_TRUE(keys) << c.name;
        KeyText::Key last;
        for (const Press& p : c.presses)
            last = keys->key(p.keycode, p.press);
        EXPECT_EQ(last.type, c.type) << c.name;
        EXPECT_EQ(last.keysym, c.keysym) << c.name;
        EXPECT_EQ(last.text, c.text) << c.name;
        EXPECT_EQ(last.modifiers, c.modifiers) << c.name;
    }
}

// What a tap's callback saw, from whatever thread the tap calls it on.
class SeenEvents {
  public:
    void add(const platform::InputEvent& event) {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
    }
    std::size_t size() const {
        std::lock_guard lock(mutex_);
        return events_.size();
    }
    bool empty() const { return size() == 0; }
    platform::InputEvent operator[](std::size_t i) const {
        std::lock_guard lock(mutex_);
        return events_.at(i);
    }
    platform::InputEvent back() const {
        std::lock_guard lock(mutex_);
        return events_.back();
    }
    void clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<platform::InputEvent> events_;
};

class KeyboardTapTest : public XTestInputTest {
  protected:
    static constexpr std::uint64_t kKeys = 0x1C00;  // key down, key up, flags changed

    void fake(std::uint8_t type, std::uint8_t keycode) {
        std::free(
            xcb_request_check(x->raw(), xcb_test_fake_input_checked(x->raw(), type, keycode, XCB_CURRENT_TIME,
                                                                    XCB_WINDOW_NONE, 0, 0, 0)));
    }
    // Presses and releases the key with the modifier held, as a person does.
    void chord(std::uint32_t modifier, std::uint32_t key) {
        fake(XCB_KEY_PRESS, keycodeOf(modifier));
        fake(XCB_KEY_PRESS, keycodeOf(key));
        fake(XCB_KEY_RELEASE, keycodeOf(key));
        fake(XCB_KEY_RELEASE, keycodeOf(modifier));
    }
    std::unique_ptr<platform::EventTap> tap(X11KeyboardEvents& keyboard, platform::TapMode mode,
                                            platform::KeyboardEvents::Callback callback) {
        auto created = keyboard.createTap(mode, mode == platform::TapMode::swallowing ? kKeys : 0x200140A,
                                          std::move(callback));
        EXPECT_TRUE(created.has_value());
        if (!created) return nullptr;
        (*created)->setEnabled(true);
        return std::move(created).value();
    }
    std::string keyLine(std::uint32_t keysym, const char* state) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%x", keysym);
        return "key " + std::to_string(keycodeOf(keysym)) + " keysym=" + hex + " state=" + state;
    }
};

TEST_F(KeyboardTapTest, TheSwallowingTapTellsTheControlKeysApartAndSwallowsWhatItIsTold) {
    auto a = start({});
    ASSERT_TRUE(makeActive(a->window()));
    X11KeyboardEvents keyboard({input->keyLog()});
    keyboard.setSwallowableKeys({'x'});
    SeenEvents seen;
    auto swallowing = tap(keyboard, platform::TapMode::swallowing, [&](const platform::InputEvent& e) {
        seen.add(e);
        return !e.modifiers.leftControl || e.autorepeat;
    });

    chord(0xffe3, 'x');  // Control_L
    ASSERT_TRUE(pumpUntil([&] { return seen.size() == 1; }));
    EXPECT_EQ(seen[0].type, platform::EventType::keyDown);
    EXPECT_EQ(seen[0].keysym, std::uint32_t{'x'});
    EXPECT_EQ(seen[0].keycode, keycodeOf('x'));
    EXPECT_EQ(seen[0].modifiers, (platform::Modifiers{.control = true, .leftControl = true}));
    EXPECT_FALSE(seen[0].autorepeat);

    chord(0xffe4, 'x');  // Control_R
    ASSERT_TRUE(pumpUntil([&] { return seen.size() == 2; }));
    EXPECT_EQ(seen[1].modifiers, (platform::Modifiers{.control = true, .rightControl = true}));
    // The first x was swallowed, the second passed on unchanged.
    EXPECT_EQ(a->nextKey(), keyLine('x', "0x4"));
    chord(0xffe1, 'x');  // Shift: no grab, the tap is not asked
    EXPECT_EQ(a->nextKey(), "key " + std::to_string(keycodeOf('x')) + " keysym=0x58 state=0x1");
    EXPECT_EQ(seen.size(), 2u);

    // Held down: the first press is swallowed; the server's repeats come marked as such (and here
    // go on), until the key is let go.
    fake(XCB_KEY_PRESS, keycodeOf(0xffe3));
    fake(XCB_KEY_PRESS, keycodeOf('x'));
    ASSERT_TRUE(pumpUntil([&] { return seen.size() == 3; }));
    fake(XCB_KEY_PRESS, keycodeOf('x'));
    ASSERT_TRUE(pumpUntil([&] { return seen.size() == 4; }));
    fake(XCB_KEY_RELEASE, keycodeOf('x'));
    chord(0xffe3, 'x');
    ASSERT_TRUE(pumpUntil([&] { return seen.size() == 5; }));
    fake(XCB_KEY_RELEASE, keycodeOf(0xffe3));
    EXPECT_FALSE(seen[2].autorepeat);
    EXPECT_TRUE(seen[3].autorepeat);
    EXPECT_FALSE(seen[4].autorepeat) << "a new press after the release";
    EXPECT_EQ(a->nextKey(), keyLine('x', "0x4"));
}

TEST_F(KeyboardTapTest, APressQueuedBehindASwallowedOneIsDecidedOnItsOwn) {
    auto a = start({});
    ASSERT_TRUE(makeActive(a->window()));
    X11KeyboardEvents keyboard({input->keyLog()});
    keyboard.setSwallowableKeys({'x'});
    SeenEvents seen;
    auto swallowing = tap(keyboard, platform::TapMode::swallowing, [&](const platform::InputEvent& e) {
        seen.add(e);
        return seen.size() > 1;  // the first press is swallowed, the next one goes on
    });

    // Typed before the first decision: the second press waits behind the frozen keyboard, and
    // starts a grab of its own the moment the first one is let go.
    fake(XCB_KEY_PRESS, keycodeOf(0xffe3));
    fake(XCB_KEY_PRESS, keycodeOf('x'));
    fake(XCB_KEY_RELEASE, keycodeOf('x'));
    std::this_thread::sleep_for(5ms);  // a later server time than the first press, as fingers give
    fake(XCB_KEY_PRESS, keycodeOf('x'));
    fake(XCB_KEY_RELEASE, keycodeOf('x'));
    fake(XCB_KEY_RELEASE, keycodeOf(0xffe3));
    ASSERT_TRUE(pumpUntil([&] { return seen.size() == 2; }));
    EXPECT_EQ(seen[1].modifiers, (platform::Modifiers{.control = true, .leftControl = true}));
    EXPECT_EQ(a->nextKey(), keyLine('x', "0x4"));
}

TEST_F(KeyboardTapTest, ABusyMainThreadNeitherDelaysNorChangesTheDecision) {
    auto a = start({});
    ASSERT_TRUE(makeActive(a->window()));
    X11KeyboardEvents keyboard({input->keyLog()});
    keyboard.setSwallowableKeys({'x'});
    std::atomic<int> asked = 0;
    auto swallowing = tap(keyboard, platform::TapMode::swallowing, [&](const platform::InputEvent&) {
        ++asked;
        return false;
    });

    // This test does not run its event loop: the key is still decided, and swallowed, at once.
    chord(0xffe3, 'x');
    fake(XCB_KEY_PRESS, keycodeOf('a'));
    fake(XCB_KEY_RELEASE, keycodeOf('a'));
    EXPECT_EQ(a->nextKey(), keyLine('a', "0x0"));
    EXPECT_EQ(asked, 1);
    // (Counted just after the key went on.)
    for (int i = 0; i < 100 && keyboard.freezes().count == 0; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(keyboard.freezes().count, 1u);
}

TEST_F(KeyboardTapTest, AGrabAnotherProgramHoldsIsLoggedOnceWithTheBinding) {
    auto sink = std::make_shared<log::MemorySink>();
    log::installSinks({sink});
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    std::free(xcb_request_check(
        other, xcb_grab_key_checked(other, 0, x->root(), XCB_MOD_MASK_CONTROL, keycodeOf('k'),
                                    XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
    {
        X11KeyboardEvents keyboard({input->keyLog()});
        keyboard.setSwallowableKeys({'k', 'x'});
        auto swallowing =
            tap(keyboard, platform::TapMode::swallowing, [](const platform::InputEvent&) { return true; });
    }
    xcb_disconnect(other);
    log::installSinks({});
    EXPECT_EQ(sink->lines(),
              std::vector<std::string>{
                  "Quenlit focus: apptoggle: leftControl+k unavailable — taken by another program"});
}

TEST_F(KeyboardTapTest, TheListeningTapKnowsOurOwnEventsTheTextAndSecureInput) {
    auto a = start({});
    ASSERT_TRUE(makeActive(a->window()));
    X11KeyboardEvents keyboard({input->keyLog()});
    SeenEvents seen;
    auto listening = tap(keyboard, platform::TapMode::listenOnly, [&](const platform::InputEvent& e) {
        seen.add(e);
        return true;
    });
    EXPECT_FALSE(keyboard.isSecureEventInputEnabled());

    ASSERT_TRUE(TextExpander::typeUnicode("é", *input));  // ours, through a spare keycode
    fake(XCB_KEY_PRESS, keycodeOf('q'));                  // someone else's
    fake(XCB_KEY_RELEASE, keycodeOf('q'));
    ASSERT_TRUE(pumpUntil([&] { return seen.size() >= 2; }));
    EXPECT_EQ(seen[0].userData, TextExpander::kSyntheticMarker);
    EXPECT_EQ(seen[0].text, u"é");
    EXPECT_EQ(seen[1].userData, 0);
    EXPECT_EQ(seen[1].text, u"q");
    EXPECT_EQ(seen[1].keysym, std::uint32_t{'q'});
    EXPECT_EQ(seen[1].keycode, keycodeOf('q'));

    // Another window becomes active: what was typed so far is forgotten, as at a click.
    seen.clear();
    auto other = start({});
    ASSERT_TRUE(makeActive(other->window()));
    ASSERT_TRUE(pumpUntil([&] { return !seen.empty(); }));
    EXPECT_EQ(seen.back().type, platform::EventType::otherMouseDown);

    auto prompt = start({"--grab-keyboard"});
    EXPECT_EQ(prompt->nextLine(), "grabbed");
    EXPECT_TRUE(keyboard.isSecureEventInputEnabled());
    prompt.reset();
    EXPECT_TRUE(pumpUntil([&] { return !keyboard.isSecureEventInputEnabled(); }));
}

}  // namespace
}  // namespace quenlit::x11

int main(int argc, char** argv) {
    // Before anything reads the desktop entries.
    quenlit::x11::Desktop desktop;
    quenlit::x11::desktop = &desktop;
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
