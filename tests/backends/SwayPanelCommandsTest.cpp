// What a panel asks of sway, against the stand-in socket, with Qt on its offscreen platform: where
// it moves the window, and to which window it gives the focus back. (The same against a real sway is
// in SwayLiveTest.)

#include "backends/sway/SwayPanelWindow.h"

#include "backends/FakeSway.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <unistd.h>

namespace quenlit::sway {

namespace {

using testing::FakeSway;

QApplication& application() {
    static int argc = 1;
    static char name[] = "wayland_tests";
    static char* argv[] = {name, nullptr};
    static std::unique_ptr<QApplication> app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        return std::make_unique<QApplication>(argc, argv);
    }();
    return *app;
}

std::string con(long id, const char* appId, int pid, const char* name, bool focused) {
    return R"({"id":)" + std::to_string(id) + R"(,"type":"con","app_id":")" + appId + R"(","pid":)" +
           std::to_string(pid) + R"(,"name":")" + name + R"(","focused":)" + (focused ? "true" : "false") +
           R"(,"rect":{"x":0,"y":0,"width":10,"height":10},"nodes":[],"floating_nodes":[]})";
}

std::string workspace(const char* name, const std::vector<std::string>& windows) {
    std::string nodes;
    for (const auto& w : windows)
        nodes += (nodes.empty() ? "" : ",") + w;
    return R"({"id":)" + std::to_string(100 + name[0]) + R"(,"type":"workspace","name":")" + name +
           R"(","nodes":[)" + nodes + R"(],"floating_nodes":[]})";
}

std::string tree(const std::vector<std::string>& workspaces) {
    std::string nodes;
    for (const auto& w : workspaces)
        nodes += (nodes.empty() ? "" : ",") + w;
    return R"({"id":1,"type":"root","name":"root","nodes":[{"id":2,"type":"output","name":"HEADLESS-1","nodes":[)" +
           nodes + R"(],"floating_nodes":[]}],"floating_nodes":[]})";
}

struct Scenario {
    const char* what;
    std::string treeShown;   // sway's tree once the panel is shown
    std::string treeHidden;  // … and when it hides: the panel may have lost the focus meanwhile
    std::vector<std::string> commands;
};

TEST(WaylandPanelCommands, ThePanelIsPlacedAndTheFocusGoesBackOnlyWhereItBelongs) {
    application();
    const int me = ::getpid();
    const std::string foot = con(6, "foot", 4242, "~", true);
    const std::string treeBefore = tree({workspace("1", {foot})});
    const std::string panelHere = con(20, "quenlit", me, "Quenlit launcher", true);
    const std::string footBehind = con(6, "foot", 4242, "~", false);
    const std::string panelBehind = con(20, "quenlit", me, "Quenlit launcher", false);
    const std::string otherInFront = con(7, "org.gnome.Nautilus", 4343, "Home", true);
    const std::string placed =
        "[con_id=20] floating enable, border none, sticky enable, move absolute position 100 300";
    const Scenario scenarios[] = {
        {"hidden with the keyboard",
         tree({workspace("1", {footBehind, panelHere})}),
         tree({workspace("1", {footBehind, panelHere})}),
         {placed, "[con_id=20] focus", "[con_id=6] focus"}},
        // Chosen from the panel, the program is activated before the panel hides; Qt has not heard
        // of it yet, sway has.
        {"hidden after another window took the keyboard",
         tree({workspace("1", {footBehind, panelHere})}),
         tree({workspace("1", {footBehind, otherInFront, panelBehind})}),
         {placed, "[con_id=20] focus"}},
        {"hidden on another workspace than the window before it",
         tree({workspace("1", {footBehind}), workspace("2", {panelHere})}),
         tree({workspace("1", {footBehind}), workspace("2", {panelHere})}),
         {placed, "[con_id=20] focus"}},
    };
    for (const auto& scenario : scenarios) {
        SCOPED_TRACE(scenario.what);
        std::mutex lock;
        std::vector<std::string> commands;
        // The first look at the tree, for the window in front, comes before the panel shows; the
        // later ones find it.
        std::atomic<int> treeReads = 0;
        std::atomic<bool> hiding = false;
        FakeSway sway([&](std::uint32_t type, const std::string& payload) -> std::string {
            if (type == 4)
                return treeReads++ == 0 ? treeBefore : hiding ? scenario.treeHidden : scenario.treeShown;
            if (type == 0) {
                std::lock_guard<std::mutex> hold(lock);
                if (!payload.starts_with("for_window")) commands.push_back(payload);
                return R"([{"success":true}])";
            }
            return "(hang up)";
        });
        auto ipc = SwayIpc::connect(sway.path());
        ASSERT_TRUE(ipc.has_value()) << ipc.error().reason;
        {
            SwayPanelWindowFactory factory(*ipc.value(), [] { return 800.0; });
            auto panel = factory.createPanel({400, 200});
            panel->setFrameOrigin({100, 300});  // bottom-left origin: the top is 800 - 300 - 200 = 300
            panel->orderFrontRegardless();
            panel->makeKey();
            EXPECT_TRUE(panel->isKeyWindow());
            hiding = true;
            panel->orderOut();
        }
        std::lock_guard<std::mutex> hold(lock);
        EXPECT_EQ(commands, scenario.commands);
    }
}

}  // namespace
}  // namespace quenlit::sway
