#include "backends/sway/SwayIpc.h"
#include "base/Log.h"

#include "backends/FakeSway.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quenlit::sway {

namespace {

// The shape of sway 1.7's get_tree with a tiled and a floating window on workspace 1 (fields the
// backend does not read are left out), and a window hidden in the scratchpad. The floating window
// has the focus, the xterm had it before, the full-screen foot before that.
constexpr const char* kTree =
    R"({"id":1,"type":"root","name":"root","rect":{"x":0,"y":0,"width":1280,"height":800},"focus":[4,2],
 "nodes":[
  {"id":2,"type":"output","name":"__i3","rect":{"x":0,"y":0,"width":1280,"height":800},"nodes":[
    {"id":3,"type":"workspace","name":"__i3_scratch","rect":{"x":0,"y":0,"width":1280,"height":800},"nodes":[],
     "floating_nodes":[{"id":9,"type":"floating_con","name":"notes","app_id":"org.gnome.TextEditor","pid":41,
       "shell":"xdg_shell","focused":false,"visible":false,"rect":{"x":10,"y":20,"width":300,"height":200},
       "deco_rect":{"x":0,"y":0,"width":0,"height":0},"nodes":[],"floating_nodes":[]}]}],"floating_nodes":[]},
  {"id":4,"type":"output","name":"HEADLESS-1","rect":{"x":0,"y":0,"width":1280,"height":800},"focus":[5],"nodes":[
    {"id":5,"type":"workspace","name":"1","rect":{"x":0,"y":0,"width":1280,"height":800},"focus":[7,10,6],
     "nodes":[{"id":6,"type":"con","name":"~ - foot","app_id":"foot","pid":27279,"shell":"xdg_shell",
       "focused":false,"visible":true,"fullscreen_mode":1,"rect":{"x":0,"y":25,"width":1280,"height":775},
       "deco_rect":{"x":0,"y":0,"width":1280,"height":25},"nodes":[],"floating_nodes":[]},
      {"id":10,"type":"con","name":"split","layout":"splitv","rect":{"x":0,"y":0,"width":0,"height":0},"focus":[11],
       "nodes":[{"id":11,"type":"con","name":"xterm","app_id":null,"pid":500,"shell":"xwayland",
         "window_properties":{"class":"XTerm","instance":"xterm"},"focused":false,"visible":true,
         "rect":{"x":0,"y":0,"width":10,"height":10},"deco_rect":{"x":0,"y":0,"width":0,"height":0},
         "nodes":[],"floating_nodes":[]}],"floating_nodes":[]}],
     "floating_nodes":[{"id":7,"type":"floating_con","name":"second","app_id":"second","pid":27293,
       "shell":"xdg_shell","focused":true,"visible":true,"rect":{"x":288,"y":150,"width":704,"height":502},
       "deco_rect":{"x":288,"y":125,"width":704,"height":25},"nodes":[],"floating_nodes":[]}]}],
  "floating_nodes":[]}],"floating_nodes":[]})";

TEST(SwayJson, WindowsAreTheTreesProgramsWithTheirOuterFrames) {
    const auto windows = swayjson::windows(kTree);
    ASSERT_TRUE(windows.has_value());
    struct Expected {
        long id;
        int pid;
        const char* appId;
        bool focused, floating, visible, xwayland, fullscreen;
        int focusRank;
        platform::Rect rect;
        const char* workspace;
    };
    const Expected expected[] = {
        {9,
         41,
         "org.gnome.TextEditor",
         false,
         true,
         false,
         false,
         false,
         3,
         {10, 20, 300, 200},
         "__i3_scratch"},
        // The title bar sits above "rect": the outer frame starts at the top of the title.
        {6, 27279, "foot", false, false, true, false, true, 2, {0, 0, 1280, 800}, "1"},
        {11, 500, "XTerm", false, false, true, true, false, 1, {0, 0, 10, 10}, "1"},
        {7, 27293, "second", true, true, true, false, false, 0, {288, 125, 704, 527}, "1"},
    };
    ASSERT_EQ(windows->size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const auto& w = (*windows)[i];
        const auto& e = expected[i];
        SCOPED_TRACE(e.appId);
        EXPECT_EQ(w.id, e.id);
        EXPECT_EQ(w.pid, e.pid);
        EXPECT_EQ(w.appId, e.appId);
        EXPECT_EQ(w.focused, e.focused);
        EXPECT_EQ(w.floating, e.floating);
        EXPECT_EQ(w.visible, e.visible);
        EXPECT_EQ(w.xwayland, e.xwayland);
        EXPECT_EQ(w.fullscreen, e.fullscreen);
        EXPECT_EQ(w.focusRank, e.focusRank);
        EXPECT_EQ(w.rect, e.rect);
        EXPECT_EQ(w.workspace, e.workspace);
    }
    EXPECT_FALSE(swayjson::windows("[1,2").has_value());
}

TEST(SwayJson, OutputsTakeTheirUsableAreaFromTheVisibleWorkspace) {
    const auto outputs = swayjson::outputs(
        R"([{"name":"DP-1","active":true,"focused":false,"rect":{"x":0,"y":0,"width":1920,"height":1080},"current_workspace":"2"},
            {"name":"HDMI-A-1","active":true,"focused":true,"rect":{"x":1920,"y":0,"width":1280,"height":1024},"current_workspace":"3"}])",
        R"([{"name":"1","output":"DP-1","rect":{"x":0,"y":0,"width":1920,"height":1080}},
            {"name":"2","output":"DP-1","rect":{"x":0,"y":30,"width":1920,"height":1050}},
            {"name":"3","output":"HDMI-A-1","rect":{"x":1920,"y":0,"width":1280,"height":1024}}])");
    ASSERT_TRUE(outputs.has_value());
    ASSERT_EQ(outputs->size(), 2u);
    EXPECT_EQ((*outputs)[0].usable, (platform::Rect{0, 30, 1920, 1050}));
    EXPECT_TRUE((*outputs)[1].focused);
    EXPECT_EQ((*outputs)[1].rect, (platform::Rect{1920, 0, 1280, 1024}));
}

TEST(SwayJson, ACommandFailsWithSwaysOwnErrorText) {
    EXPECT_TRUE(swayjson::commandOutcome(R"([{"success":true},{"success":true}])").has_value());
    const auto failed = swayjson::commandOutcome(
        R"([{"success":true},{"success":false,"parse_error":true,"error":"Unknown/invalid command 'flaot'"}])");
    EXPECT_EQ(failed.error().reason, "Unknown/invalid command 'flaot'");
    EXPECT_FALSE(swayjson::commandOutcome("{}").has_value());
}

TEST(SwayIpc, CriteriaMatchTheTextLiterally) {
    EXPECT_EQ(SwayIpc::quoteForCriteria("org.gnome.Terminal"), R"("org\.gnome\.Terminal")");
    EXPECT_EQ(SwayIpc::quoteForCriteria(R"(say "hi" (1))"), R"x("say \"hi\" \(1\)")x");
}

using testing::FakeSway;

TEST(SwayIpc, RequestsAreFramedAndAnsweredInOrder) {
    std::vector<std::string> seen;
    FakeSway sway([&](std::uint32_t type, const std::string& payload) -> std::string {
        seen.push_back(std::to_string(type) + ":" + payload);
        if (type == 0)
            return payload == "flaot" ? R"([{"success":false,"error":"Unknown command"}])"
                                      : R"([{"success":true}])";
        if (type == 4) return kTree;
        return "(hang up)";
    });
    auto ipc = SwayIpc::connect(sway.path());
    ASSERT_TRUE(ipc.has_value()) << ipc.error().reason;
    auto log = std::make_shared<log::MemorySink>();
    log::installSinks({log});
    // A command sent without waiting: its answer is read before the next request's, which still
    // gets its own.
    ipc.value()->commandLater("flaot", "rule: ");
    EXPECT_TRUE(ipc.value()->command("[con_id=7] focus").has_value());
    log::installSinks({});
    EXPECT_EQ(log->lines().size(), 1u);
    EXPECT_TRUE(!log->lines().empty() && log->lines().front().ends_with("rule: Unknown command"));
    EXPECT_EQ(ipc.value()->command("flaot").error().reason, "Unknown command");
    const auto focused = ipc.value()->focusedWindow();
    ASSERT_TRUE(focused.has_value());
    EXPECT_EQ(focused->appId, "second");
    // sway going away is a failure, and every later request fails at once.
    EXPECT_FALSE(ipc.value()->config().has_value());
    EXPECT_FALSE(ipc.value()->command("focus").has_value());
    EXPECT_EQ(seen, (std::vector<std::string>{"0:flaot", "0:[con_id=7] focus", "0:flaot", "4:", "9:"}));
}

TEST(SwayIpc, ConnectingWithoutASocketSaysWhy) {
    EXPECT_EQ(SwayIpc::connect("/nonexistent/sway.sock").error().reason,
              "cannot connect to /nonexistent/sway.sock: No such file or directory");
}

}  // namespace
}  // namespace quenlit::sway
