// The Wayland desktop services against a stand-in for sway's socket and a list of toplevels the
// tests set: which process a toplevel belongs to, what hiding and activating ask of the
// compositor, and the frames written and read back through the accessibility space.

#include "backends/sway/SwayIpc.h"
#include "backends/sway/SwayScreens.h"
#include "backends/sway/SwayWindowControl.h"
#include "backends/sway/SwayWorkspace.h"
#include "backends/wayland/ForeignToplevels.h"

#include "backends/FakeSway.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace quenlit::sway {

using namespace quenlit::wayland;
namespace {

using testing::FakeSway;

// No process has an id above the kernel's largest: these programs are never matched by executable.
constexpr int kFirstPid = 5000001;

// Desktop entries for the tests, in folders of their own. GLib reads the folders' places once per
// process, so they are set before any test runs.
const quenlit::testing::TempDir& dataFolders() {
    static const quenlit::testing::TempDir dir;
    return dir;
}
const bool kEntriesInstalled = [] {
    const auto& dir = dataFolders();
    quenlit::testing::writeFile(dir / "home/applications/foot.desktop",
                                "[Desktop Entry]\nType=Application\nName=Foot\nExec=foot\n");
    quenlit::testing::writeFile(dir / "home/applications/org.gnome.Nautilus.desktop",
                                "[Desktop Entry]\nType=Application\nName=Files\nExec=sh -c nautilus\n");
    quenlit::testing::writeFile(
        dir / "home/applications/code.desktop",
        "[Desktop Entry]\nType=Application\nName=Code\nExec=sh -c code\nStartupWMClass=Code\n");
    ::setenv("XDG_DATA_HOME", (dir / "home").c_str(), 1);
    ::setenv("XDG_DATA_DIRS", (dir / "none").c_str(), 1);
    return true;
}();

// sway's event connection needs an event loop's socket notifier.
void ensureQt() {
    if (QCoreApplication::instance() != nullptr) return;
    static int argc = 1;
    static char name[] = "wayland_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

class FakeToplevels final : public Toplevels {
  public:
    std::vector<Toplevel> list() const override { return toplevels; }
    bool activate(std::uint64_t handle) override {
        requests.push_back("activate " + std::to_string(handle));
        return has(handle);
    }
    bool setMinimized(std::uint64_t handle, bool minimized) override {
        requests.push_back((minimized ? "minimize " : "unminimize ") + std::to_string(handle));
        return has(handle);
    }
    bool has(std::uint64_t handle) const {
        for (const Toplevel& t : toplevels)
            if (t.handle == handle) return true;
        return false;
    }
    std::vector<Toplevel> toplevels;
    std::vector<std::string> requests;
};

// A window of the stand-in tree; `rect` is its outer frame in layout coordinates.
struct TreeWindow {
    long id = 0;
    int pid = 0;
    std::string appId;
    std::string title;
    bool focused = false;
    bool scratchpad = false;
    bool floating = false;
    bool fullscreen = false;
    platform::Rect rect{0, 0, 640, 480};
};

// sway's state as the stand-in socket serves it, and the commands it was sent. Commands that
// move, resize, float and hide windows change the state as sway would.
class SwayState {
  public:
    explicit SwayState(std::vector<TreeWindow> windows) : windows_(std::move(windows)) {}

    std::string answer(std::uint32_t type, const std::string& payload) {
        std::lock_guard lock(mutex_);
        if (type != 2) ++requests_;  // the event subscription arrives on its own connection, any time
        switch (type) {
            case 0:
                commands_.push_back(payload);
                if (refuse) return R"([{"success":false,"error":"No matching node."}])";
                apply(payload);
                return R"([{"success":true}])";
            case 1:
                return workspacesJson();
            case 2:
                return R"({"success":true})";
            case 3:
                return outputsJson();
            case 4:
                return treeJson();
            default:
                return "(hang up)";
        }
    }
    std::vector<std::string> commands() {
        std::lock_guard lock(mutex_);
        return commands_;
    }
    int requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    void setWindows(std::vector<TreeWindow> windows) {
        std::lock_guard lock(mutex_);
        windows_ = std::move(windows);
    }

    bool refuse = false;
    std::vector<long> focusOrder;  // the workspace's windows, most recently focused first
    platform::Rect output{0, 0, 1280, 800};
    platform::Rect usable{0, 0, 1280, 800};

  private:
    static constexpr double kTitle = 25;

    static std::string rectJson(const platform::Rect& r) {
        auto n = [](double v) { return std::to_string(static_cast<long>(v)); };
        return R"({"x":)" + n(r.x) + R"(,"y":)" + n(r.y) + R"(,"width":)" + n(r.width) + R"(,"height":)" +
               n(r.height) + "}";
    }
    static std::string windowJson(const TreeWindow& w) {
        // The title bar sits above "rect", in "deco_rect".
        const platform::Rect below{w.rect.x, w.rect.y + kTitle, w.rect.width, w.rect.height - kTitle};
        return R"({"id":)" + std::to_string(w.id) + R"(,"type":")" + (w.floating ? "floating_con" : "con") +
               R"(","name":")" + w.title + R"(","app_id":")" + w.appId + R"(","pid":)" +
               std::to_string(w.pid) + R"(,"focused":)" + (w.focused ? "true" : "false") +
               R"(,"fullscreen_mode":)" + (w.fullscreen ? "1" : "0") + R"(,"rect":)" + rectJson(below) +
               R"(,"deco_rect":)" + rectJson({0, 0, w.rect.width, kTitle}) +
               R"(,"nodes":[],"floating_nodes":[]})";
    }
    std::string list(bool scratchpad, bool floating) const {
        std::string out;
        for (const TreeWindow& w : windows_) {
            if (w.scratchpad != scratchpad || (!scratchpad && w.floating != floating)) continue;
            out += (out.empty() ? "" : ",") + windowJson(w);
        }
        return out;
    }
    std::string treeJson() const {
        return R"({"id":1,"type":"root","nodes":[{"id":2,"type":"output","name":"__i3","nodes":[{"id":3,"type":"workspace","name":"__i3_scratch","nodes":[],"floating_nodes":[)" +
               list(true, true) +
               R"(]}]},{"id":4,"type":"output","name":"OUT-1","nodes":[{"id":5,"type":"workspace","name":"1","focus":[)" +
               focusJson() + R"(],"nodes":[)" + list(false, false) + R"(],"floating_nodes":[)" +
               list(false, true) + "]}]}]}";
    }
    std::string focusJson() const {
        std::string out;
        for (long id : focusOrder)
            out += (out.empty() ? "" : ",") + std::to_string(id);
        return out;
    }
    std::string outputsJson() const {
        return R"([{"name":"OUT-1","active":true,"focused":true,"current_workspace":"1","rect":)" +
               rectJson(output) + "}]";
    }
    std::string workspacesJson() const {
        return R"([{"name":"1","output":"OUT-1","rect":)" + rectJson(usable) + "}]";
    }
    TreeWindow* window(long id) {
        for (TreeWindow& w : windows_)
            if (w.id == id) return &w;
        return nullptr;
    }
    void apply(const std::string& commands) {
        static const std::regex part(R"(\[con_id=(\d+)\] ([^;]*))");
        static const std::regex position(R"(move absolute position (-?\d+) (-?\d+))");
        static const std::regex size(R"(resize set width (\d+) px height (\d+) px)");
        for (auto it = std::sregex_iterator(commands.begin(), commands.end(), part);
             it != std::sregex_iterator(); ++it) {
            TreeWindow* w = window(std::stol((*it)[1]));
            if (w == nullptr) continue;
            const std::string text = (*it)[2];
            std::smatch m;
            if (text.find("floating enable") != std::string::npos) w->floating = true;
            if (text.find("move scratchpad") != std::string::npos) w->scratchpad = true;
            if (text.find("scratchpad show") != std::string::npos) w->scratchpad = false;
            if (text.find("fullscreen disable") != std::string::npos) w->fullscreen = false;
            // sway keeps the centre when it resizes.
            if (std::regex_search(text, m, size)) {
                const double width = std::stod(m[1]), height = std::stod(m[2]);
                w->rect = {w->rect.midX() - width / 2, w->rect.midY() - height / 2, width, height};
            }
            if (std::regex_search(text, m, position)) {
                w->rect.x = std::stod(m[1]);
                w->rect.y = std::stod(m[2]);
            }
        }
    }

    std::mutex mutex_;
    std::vector<TreeWindow> windows_;
    std::vector<std::string> commands_;
    int requests_ = 0;
};

struct Desktop {
    explicit Desktop(std::vector<TreeWindow> windows)
        : state(std::move(windows)), socket([this](std::uint32_t type, const std::string& payload) {
              return state.answer(type, payload);
          }) {
        ensureQt();
        auto connected = SwayIpc::connect(socket.path());
        EXPECT_TRUE(connected.has_value());
        if (connected.has_value()) sway = std::move(connected).value();
    }
    SwayState state;
    FakeSway socket;
    std::unique_ptr<SwayIpc> sway;
    FakeToplevels toplevels;
};

Toplevel toplevel(std::uint64_t handle, std::string appId, std::string title, bool activated = false,
                  bool minimized = false) {
    return {handle, std::move(appId), std::move(title), activated, minimized};
}

// A panel being shown asks for the front window, the running programs and the screens: sway's
// tree is read once for all of them, and again once anything may have changed it.
TEST(SwayIpc, TheTreeIsReadOncePerTurnOfTheLoop) {
    Desktop desktop({{.id = 5, .pid = kFirstPid, .appId = "foot", .title = "a", .focused = true}});
    SwayIpc& sway = *desktop.sway;
    const auto readsAfter = [&](const std::function<void()>& between) -> int {
        const int before = desktop.state.requests();
        EXPECT_TRUE(sway.windows().has_value());
        EXPECT_TRUE(sway.focusedWindow().has_value());
        EXPECT_TRUE(sway.outputs().has_value());
        between();
        EXPECT_TRUE(sway.focusedWindow().has_value());
        return desktop.state.requests() - before;
    };
    QCoreApplication::processEvents();
    // get_tree, get_outputs and get_workspaces; then what changed is read again (get_tree).
    EXPECT_EQ(readsAfter([] {}), 3);
    QCoreApplication::processEvents();
    EXPECT_EQ(readsAfter([&] {
                  desktop.state.setWindows(
                      {{.id = 5, .pid = kFirstPid, .appId = "foot", .title = "b", .focused = true}});
                  QCoreApplication::processEvents();
              }),
              4);
    EXPECT_EQ(sway.focusedWindow()->name, "b");
    QCoreApplication::processEvents();
    EXPECT_EQ(readsAfter([&] { EXPECT_TRUE(sway.command("[con_id=5] focus").has_value()); }), 5);
    QCoreApplication::processEvents();
    EXPECT_EQ(readsAfter([&] { std::this_thread::sleep_for(std::chrono::milliseconds(60)); }), 4);
}

// ---------------------------------------------------------------------------------------------
// Running applications

struct App {
    int pid;
    std::string bundleIdentifier;  // empty: no entry
    std::string name;
    bool active;
    bool hidden;
    bool operator==(const App&) const = default;
};

std::ostream& operator<<(std::ostream& out, const App& a) {
    return out << "{" << a.pid << " " << a.bundleIdentifier << " '" << a.name << "' active=" << a.active
               << " hidden=" << a.hidden << "}";
}

TEST(SwayWorkspace, ToplevelsAreGroupedByTheProcessSwaysTreeGivesThem) {
    const int p1 = kFirstPid, p2 = kFirstPid + 1, p3 = kFirstPid + 2;
    struct Case {
        const char* name;
        std::vector<Toplevel> toplevels;
        std::vector<TreeWindow> tree;
        std::vector<App> expected;
    };
    const std::vector<Case> cases{
        {"two terminals alike are paired in the order they were made, whichever is activated",
         {toplevel(1, "foot", "foot"), toplevel(2, "foot", "foot", true)},
         {{.id = 6, .pid = p2, .appId = "foot", .title = "foot", .focused = true},
          {.id = 5, .pid = p1, .appId = "foot", .title = "foot"}},
         {{p1, "foot", "Foot", false, false}, {p2, "foot", "Foot", true, false}}},
        {"several windows of one process are one application, hidden only when all are",
         {toplevel(1, "org.gnome.Nautilus", "Home"), toplevel(2, "org.gnome.Nautilus", "Documents"),
          toplevel(3, "Code", "main.cpp", false, true)},
         {{.id = 5, .pid = p1, .appId = "org.gnome.Nautilus", .title = "Home"},
          {.id = 6, .pid = p1, .appId = "org.gnome.Nautilus", .title = "Documents", .scratchpad = true},
          {.id = 7, .pid = p2, .appId = "Code", .title = "main.cpp", .focused = true}},
         {{p1, "org.gnome.Nautilus", "Files", false, false}, {p2, "code", "Code", true, true}}},
        {"without an entry the app id names it; a toplevel the tree lacks is no application",
         {toplevel(1, "mystery", "Thing", true), toplevel(2, "ghost", "Boo")},
         {{.id = 5, .pid = p3, .appId = "mystery", .title = "Thing", .scratchpad = true}},
         {{p3, "", "mystery", true, true}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Desktop desktop(c.tree);
        desktop.toplevels.toplevels = c.toplevels;
        SwayWorkspace workspace(desktop.toplevels, desktop.sway.get());
        std::vector<App> apps;
        for (const auto& app : workspace.runningApplications())
            apps.push_back({app.processIdentifier, app.bundleIdentifier.value_or(""),
                            app.localizedName.value_or(""), app.isActive, app.isHidden});
        EXPECT_EQ(apps, c.expected);
        const auto front = workspace.frontmostApplication();
        const auto active =
            std::find_if(c.expected.begin(), c.expected.end(), [](const App& a) { return a.active; });
        ASSERT_EQ(front.has_value(), active != c.expected.end());
        if (front) {
            EXPECT_EQ(front->processIdentifier, active->pid);
        }
    }
}

TEST(SwayWorkspace, ABackgroundThreadSeesTheMainThreadsLastReading) {
    Desktop desktop({{.id = 5, .pid = kFirstPid, .appId = "foot", .title = "foot", .focused = true}});
    desktop.toplevels.toplevels = {toplevel(1, "foot", "foot", true)};
    SwayWorkspace workspace(desktop.toplevels, desktop.sway.get());
    desktop.toplevels.toplevels.push_back(toplevel(2, "foot", "other"));
    desktop.state.setWindows({{.id = 5, .pid = kFirstPid, .appId = "foot", .title = "foot"},
                              {.id = 6, .pid = kFirstPid + 1, .appId = "foot", .title = "other"}});
    QCoreApplication::processEvents();  // what sway said is read again once the loop turned
    std::vector<platform::RunningApplication> seen;
    // Neither the toplevels nor sway's socket are touched off the main thread.
    const int requests = desktop.state.requests();
    std::thread([&] { seen = workspace.runningApplications(); }).join();
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(desktop.state.requests(), requests);
    EXPECT_EQ(workspace.runningApplications().size(), 2u);  // the main thread reads afresh
    std::thread([&] { seen = workspace.runningApplications(); }).join();
    EXPECT_EQ(seen.size(), 2u);
}

TEST(SwayWorkspace, AnotherProgramBecomingActiveIsAnnouncedOnce) {
    const int p1 = kFirstPid, p2 = kFirstPid + 1;
    std::vector<TreeWindow> windows{{.id = 5, .pid = p1, .appId = "foot", .title = "a", .focused = true},
                                    {.id = 6, .pid = p1, .appId = "foot", .title = "b"},
                                    {.id = 7, .pid = p2, .appId = "org.gnome.Nautilus", .title = "Home"}};
    Desktop desktop(windows);
    desktop.toplevels.toplevels = {toplevel(1, "foot", "a", true), toplevel(2, "foot", "b"),
                                   toplevel(3, "org.gnome.Nautilus", "Home")};
    SwayWorkspace workspace(desktop.toplevels, desktop.sway.get());
    std::vector<int> announced;
    auto connection = workspace.didActivateApplication.connect(
        [&](const platform::RunningApplication& app) { announced.push_back(app.processIdentifier); });
    // Toplevel 1 is window 5, 2 is 6, 3 is 7: sway's focus moves with the activation.
    auto activateOnly = [&](std::uint64_t handle) {
        for (Toplevel& t : desktop.toplevels.toplevels)
            t.activated = t.handle == handle;
        for (TreeWindow& w : windows)
            w.focused = w.id == static_cast<long>(handle) + 4;
        desktop.state.setWindows(windows);
        desktop.toplevels.changed.emit();
    };
    activateOnly(2);  // another window of the active program
    activateOnly(3);
    desktop.toplevels.changed.emit();  // a title changed
    activateOnly(1);
    EXPECT_EQ(announced, (std::vector<int>{p2, p1}));
}

// ---------------------------------------------------------------------------------------------
// Activating, hiding and showing

TEST(SwayWorkspace, HidingAndShowingSayWhetherAnythingChanged) {
    const int pid = kFirstPid;
    struct Case {
        const char* name;
        bool refuse;
        std::vector<bool> inScratchpad;  // of windows 5 and 6
        std::vector<bool> minimized;     // of toplevels 1 and 2
        bool hide;                       // else unhide
        int target;
        bool expected;
        std::vector<std::string> commands;
        std::vector<std::string> requests;
    };
    const std::vector<Case> cases{
        {"sway hides the shown windows in its scratchpad",
         false,
         {false, true},
         {false, false},
         true,
         pid,
         true,
         {"[con_id=5] move scratchpad"},
         {}},
        {"hiding a hidden program changes nothing",
         false,
         {true, true},
         {false, false},
         true,
         pid,
         false,
         {},
         {}},
        {"hiding fails when sway refuses",
         true,
         {false, false},
         {false, false},
         true,
         pid,
         false,
         {"[con_id=5] move scratchpad; [con_id=6] move scratchpad"},
         {}},
        {"showing takes the windows out of the scratchpad",
         false,
         {true, true},
         {false, false},
         false,
         pid,
         true,
         {"[con_id=5] scratchpad show; [con_id=6] scratchpad show"},
         {}},
        {"showing un-minimises what the compositor reports minimised",
         false,
         {false, false},
         {false, true},
         false,
         pid,
         true,
         {},
         {"unminimize 2"}},
        {"showing a shown program changes nothing",
         false,
         {false, false},
         {false, false},
         false,
         pid,
         false,
         {},
         {}},
        {"showing fails when sway refuses",
         true,
         {true, false},
         {false, false},
         false,
         pid,
         false,
         {"[con_id=5] scratchpad show"},
         {}},
        {"an unknown process is neither hidden nor shown",
         false,
         {false, false},
         {false, false},
         true,
         pid + 7,
         false,
         {},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Desktop desktop(
            {{.id = 5, .pid = pid, .appId = "foot", .title = "a", .scratchpad = c.inScratchpad[0]},
             {.id = 6, .pid = pid, .appId = "foot", .title = "b", .scratchpad = c.inScratchpad[1]}});
        desktop.state.refuse = c.refuse;
        desktop.toplevels.toplevels = {toplevel(1, "foot", "a", false, c.minimized[0]),
                                       toplevel(2, "foot", "b", false, c.minimized[1])};
        SwayWorkspace workspace(desktop.toplevels, desktop.sway.get());
        const bool result = c.hide ? workspace.hide(c.target) : workspace.unhide(c.target);
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(desktop.state.commands(), c.commands);
        EXPECT_EQ(desktop.toplevels.requests, c.requests);
        // What sway did shows in the application's state at once.
        if (!c.refuse && c.target == pid) {
            EXPECT_EQ(workspace.runningApplication(pid)->isHidden, c.hide);
        }
    }
}

TEST(SwayWorkspace, ActivationEndsWithTheWindowTheProgramHadInFront) {
    const int pid = kFirstPid;
    struct Case {
        const char* name;
        std::uint64_t activated;  // 0: none
        bool allWindows;
        int target;
        bool expected;
        std::vector<std::string> requests;
    };
    // sway focused window 6 last, then 7, then 5.
    const std::vector<Case> cases{
        {"all windows, the activated one last",
         1,
         true,
         pid,
         true,
         {"activate 3", "activate 2", "activate 1"}},
        {"all windows, the one focused last in front",
         0,
         true,
         pid,
         true,
         {"activate 1", "activate 3", "activate 2"}},
        {"one window: the one in front", 0, false, pid, true, {"activate 2"}},
        {"a process without windows", 0, true, pid + 9, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Desktop desktop({{.id = 5, .pid = pid, .appId = "foot", .title = "a"},
                         {.id = 6, .pid = pid, .appId = "foot", .title = "b", .focused = true},
                         {.id = 7, .pid = pid, .appId = "foot", .title = "c"}});
        desktop.state.focusOrder = {6, 7, 5};
        desktop.toplevels.toplevels = {toplevel(1, "foot", "a", c.activated == 1), toplevel(2, "foot", "b"),
                                       toplevel(3, "foot", "c")};
        SwayWorkspace workspace(desktop.toplevels, desktop.sway.get());
        EXPECT_EQ(workspace.activate(c.target, c.allWindows), c.expected);
        EXPECT_EQ(desktop.toplevels.requests, c.requests);
    }
}

// ---------------------------------------------------------------------------------------------
// Screens and frames

struct Frames {
    platform::Rect frame;
    platform::Rect visible;
    bool operator==(const Frames&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Frames& f) {
    auto r = [&](const platform::Rect& x) {
        out << "(" << x.x << "," << x.y << "," << x.width << "," << x.height << ")";
    };
    r(f.frame);
    r(f.visible);
    return out;
}

TEST(SwayScreens, TheActiveOneIsTheFocusedOutputElseThePrimary) {
    const SwayOutput left{"A", true, false, {0, 0, 1280, 900}, {0, 0, 1280, 900}};
    const SwayOutput right{"B", true, true, {1280, 0, 1280, 900}, {1280, 0, 1280, 900}};
    const SwayOutput off{"C", false, false, {0, 0, 640, 480}, {0, 0, 640, 480}};
    struct Case {
        const char* name;
        std::vector<SwayOutput> outputs;
        std::optional<platform::Rect> frame;
    };
    SwayOutput leftFocused = left;
    leftFocused.focused = true;
    SwayOutput rightUnfocused = right;
    rightUnfocused.focused = false;
    const std::vector<Case> cases{
        {"the focused output on the right", {off, left, right}, platform::Rect{1280, 0, 1280, 900}},
        {"the focused output is the primary", {leftFocused, rightUnfocused}, platform::Rect{0, 0, 1280, 900}},
        {"none focused: the primary", {left, rightUnfocused}, platform::Rect{0, 0, 1280, 900}},
        {"no active output", {off}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto screen = focusedScreen(c.outputs);
        ASSERT_EQ(screen.has_value(), c.frame.has_value());
        if (screen) {
            EXPECT_EQ(screen->frame, *c.frame);
        }
    }
}

TEST(SwayScreens, OutputsConvertToTheBottomLeftSpaceOfThePrimaryOne) {
    struct Case {
        const char* name;
        std::vector<SwayOutput> outputs;
        std::vector<Frames> expected;
        platform::Point accessibilityOrigin;
    };
    const std::vector<Case> cases{
        {"one output with a bar along its top",
         {{"A", true, true, {0, 0, 1280, 800}, {0, 30, 1280, 770}}},
         {{{0, 0, 1280, 800}, {0, 0, 1280, 770}}},
         {0, 0}},
        {"the output at the origin is the primary one wherever it is listed",
         {{"B", true, true, {1920, 0, 1280, 1024}, {1920, 0, 1280, 1024}},
          {"A", true, false, {0, 0, 1920, 1080}, {0, 0, 1920, 1050}}},
         {{{0, 0, 1920, 1080}, {0, 30, 1920, 1050}}, {{1920, 56, 1280, 1024}, {1920, 56, 1280, 1024}}},
         {0, 0}},
        {"none at the origin: the first active one; inactive ones are left out",
         {{"X", false, false, {0, 0, 640, 480}, {0, 0, 640, 480}},
          {"Y", true, false, {100, 50, 800, 600}, {100, 50, 800, 600}},
          {"Z", true, true, {900, 50, 800, 700}, {0, 0, 0, 0}}},
         {{{0, 0, 800, 600}, {0, 0, 800, 600}}, {{800, -100, 800, 700}, {800, -100, 800, 700}}},
         {100, 50}},
        {"no active output", {{"X", false, false, {0, 0, 640, 480}, {0, 0, 640, 480}}}, {}, {0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Frames> screens;
        for (const auto& screen : screensFrom(c.outputs))
            screens.push_back({screen.frame, screen.visibleFrame});
        EXPECT_EQ(screens, c.expected);
        const platform::Point origin = accessibilityOrigin(c.outputs);
        EXPECT_EQ(origin, c.accessibilityOrigin);
        const platform::Rect layout{150, 70, 300, 200};
        const platform::Rect accessible = layoutToAccessibility(layout, origin);
        EXPECT_EQ(accessible.origin(), (platform::Point{150 - origin.x, 70 - origin.y}));
        EXPECT_EQ(accessibilityToLayout(accessible.origin(), origin), layout.origin());
    }
}

TEST(SwayWindowControl, AFrameWrittenIsTheFrameReadBack) {
    // The only output lies right of the layout's origin: frames start at its corner.
    Desktop desktop(
        {{.id = 5, .pid = kFirstPid, .appId = "foot", .title = "a", .rect = {1280, 0, 640, 800}}});
    desktop.state.output = desktop.state.usable = {1280, 0, 1280, 800};
    SwayWindowControl control(*desktop.sway);
    const platform::WindowRef window{kFirstPid, 5};
    struct Step {
        const char* name;
        platform::Rect frame;
        bool resize;
        std::string command;
        platform::Rect read;
    };
    const std::vector<Step> steps{
        {"a tiled window floats first, then is sized and moved in one command",
         {0, 0, 500, 300},
         true,
         "[con_id=5] resize set width 500 px height 300 px, move absolute position 1280 0",
         {0, 0, 500, 300}},
        {"a move alone keeps the size",
         {100, 50, 1, 1},
         false,
         "[con_id=5] move absolute position 1380 50",
         {100, 50, 500, 300}},
        {"a size keeps the corner though sway keeps the centre",
         {100, 50, 801.4, 402.6},
         true,
         "[con_id=5] resize set width 801 px height 403 px, move absolute position 1380 50",
         {100, 50, 801, 403}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        EXPECT_TRUE(control.setFrame(window, step.frame, step.resize).has_value());
        EXPECT_EQ(desktop.state.commands().back(), step.command);
        const auto read = control.window(window);
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ(read->frame, step.read);
    }
    EXPECT_EQ(desktop.state.commands().front(), "[con_id=5] floating enable");
    EXPECT_EQ(desktop.state.commands().size(), steps.size() + 1);
    EXPECT_EQ(control.setFrame({kFirstPid, 99}, {0, 0, 10, 10}, true).error().kind, Failure::Kind::gone);
}

TEST(SwayWindowControl, AProcessesWindowsComeMostRecentlyFocusedFirst) {
    Desktop desktop({{.id = 5, .pid = kFirstPid, .appId = "foot", .title = "a"},
                     {.id = 6, .pid = kFirstPid + 1, .appId = "foot", .title = "other", .focused = true},
                     {.id = 7, .pid = kFirstPid, .appId = "foot", .title = "b", .fullscreen = true}});
    desktop.state.focusOrder = {6, 7, 5};
    SwayWindowControl control(*desktop.sway);
    EXPECT_TRUE(control.isProcessTrusted(false));
    const auto windows = control.windows(kFirstPid);
    ASSERT_TRUE(windows.has_value());
    std::vector<std::uint64_t> ids;
    for (const auto& w : *windows)
        ids.push_back(w.ref.id);
    EXPECT_EQ(ids, (std::vector<std::uint64_t>{7, 5}));
    EXPECT_EQ(control.windows(kFirstPid + 5).error().kind, Failure::Kind::gone);

    const platform::WindowInfo front = windows->front();
    EXPECT_TRUE(front.fullScreen);
    EXPECT_TRUE(control.leaveFullScreen(front.ref).has_value());
    EXPECT_FALSE(control.window(front.ref)->fullScreen);
    EXPECT_TRUE(control.activate(front.ref).has_value());
    EXPECT_EQ(desktop.state.commands(),
              (std::vector<std::string>{"[con_id=7] fullscreen disable", "[con_id=7] focus"}));
}

}  // namespace
}  // namespace quenlit::sway
