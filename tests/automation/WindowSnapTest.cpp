#include "automation/WindowSnap.h"

#include "backends/fake/FakeScreens.h"
#include "backends/fake/FakeWindowControl.h"
#include "backends/fake/FakeWorkspace.h"
#include "base/Log.h"
#include "panel/FocusRestorer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <limits>

namespace quenlit {
namespace platform {

// Failures print rectangles as the log lines write them.
void PrintTo(const Rect& r, std::ostream* out) {
    *out << WindowSnap::describe(r);
}

}  // namespace platform
namespace {

using platform::Rect;
using platform::Screen;
using platform::WindowRef;
using WindowSnap::Command;

constexpr int kPid = 10;
constexpr double kH0 = 900;

// ---------------------------------------------------------------------------------------------
// Geometry

struct FrameCase {
    Rect bounds;
    Command command;
    Rect current;
    Rect expected;
};

class TargetFrameTest : public ::testing::TestWithParam<FrameCase> {};

TEST_P(TargetFrameTest, GivesTheExpectedFrame) {
    const FrameCase& c = GetParam();
    EXPECT_EQ(WindowSnap::targetFrame(c.bounds, c.command, c.current), c.expected)
        << WindowSnap::caseName(c.command) << " got "
        << WindowSnap::describe(WindowSnap::targetFrame(c.bounds, c.command, c.current));
}

constexpr Rect kOddWidth{0, 25, 1441, 875};
constexpr Rect kThousand{0, 25, 1000, 875};
constexpr Rect kLaptop{0, 25, 1440, 875};
constexpr Rect kWide{0, 25, 2560, 1415};
constexpr Rect kAny{300, 300, 400, 300};

INSTANTIATE_TEST_SUITE_P(
    Commands, TargetFrameTest,
    ::testing::Values(
        FrameCase{kOddWidth, Command::left, kAny, {0, 25, 720, 875}},
        FrameCase{kOddWidth, Command::right, kAny, {720, 25, 721, 875}},
        FrameCase{kOddWidth, Command::top, kAny, {0, 25, 1441, 437}},
        FrameCase{kOddWidth, Command::bottom, kAny, {0, 462, 1441, 438}},
        // The two thirds share the edge at 333 after rounding.
        FrameCase{kThousand, Command::firstThird, kAny, {0, 25, 333, 875}},
        FrameCase{kThousand, Command::lastTwoThirds, kAny, {333, 25, 667, 875}},
        FrameCase{kLaptop, Command::reasonableSize, kAny, {288, 200, 864, 525}},
        // Capped at 1025 × 849, centred: x from 767.5 rounds to 768.
        FrameCase{kWide, Command::reasonableSize, kAny, {768, 308, 1025, 849}},
        FrameCase{{0.5, 25.25, 1439.5, 874.75}, Command::maximize, kAny, {0.5, 25.25, 1439.5, 874.75}},
        // Wider than the bounds: pinned to the left edge, size unchanged.
        FrameCase{kLaptop, Command::moveToRight, {100, 100, 1600, 500}, {0, 100, 1600, 500}},
        FrameCase{kLaptop, Command::moveToRight, {100, 100, 400, 300}, {1040, 100, 400, 300}},
        FrameCase{kLaptop, Command::moveToBottom, {100, 100, 400, 300}, {100, 600, 400, 300}},
        FrameCase{kLaptop, Command::moveToBottom, {-50, 100, 400, 300}, {0, 600, 400, 300}},
        FrameCase{kLaptop, Command::moveToBottom, {1300, 100, 400, 300}, {1040, 600, 400, 300}},
        FrameCase{kLaptop, Command::moveToTop, {100.5, 400, 400, 300}, {101, 25, 400, 300}},
        FrameCase{kLaptop, Command::moveToLeft, {500, 300.4, 400, 300}, {0, 300, 400, 300}},
        // Halves round away from zero on negative coordinates too (a screen left of the primary).
        FrameCase{{-1440, 0, 1440, 900}, Command::moveToTop, {-600.5, 50, 400, 300}, {-601, 0, 400, 300}},
        // Edges are rounded, not sizes: 400.4 wide from 100.3 ends at 500.7, so 100 to 501.
        FrameCase{kLaptop, Command::moveToTop, {100.3, 400, 400.4, 300}, {100, 25, 401, 300}},
        // A degenerate visible frame gives an empty third, never a negative width.
        FrameCase{{0, 0, -30, 10}, Command::firstThird, kAny, {0, 0, 0, 10}}));

TEST(WindowSnapGeometry, HalfAndThirdFramesCoverTheirOwnCommandsAndPassTheRestThrough) {
    const Rect reasonable = WindowSnap::targetFrame(kLaptop, Command::reasonableSize, kAny);
    EXPECT_EQ(WindowSnap::halfFrame(kLaptop, Command::reasonableSize), reasonable);
    EXPECT_EQ(WindowSnap::halfFrame(kThousand, Command::firstThird), (Rect{0, 25, 333, 875}));
    EXPECT_EQ(WindowSnap::halfFrame(kOddWidth, Command::top), (Rect{0, 25, 1441, 437}));
    for (Command unchanged : {Command::maximize, Command::moveToTop, Command::moveToRight}) {
        EXPECT_EQ(WindowSnap::halfFrame(kOddWidth, unchanged), kOddWidth) << WindowSnap::caseName(unchanged);
    }
    for (Command unchanged : {Command::left, Command::reasonableSize, Command::moveToLeft}) {
        EXPECT_EQ(WindowSnap::thirdFrame(kOddWidth, unchanged), kOddWidth) << WindowSnap::caseName(unchanged);
    }
}

TEST(WindowSnapGeometry, PrimaryHeightComesFromTheScreenAtTheOrigin) {
    const Screen left{{-1920, 0, 1920, 1080}, {-1920, 0, 1920, 1080}};
    const Screen primary{{0, 0, 1440, 900}, {0, 0, 1440, 875}};
    const Screen offset{{10, 0, 800, 600}, {10, 0, 800, 600}};
    EXPECT_EQ(WindowSnap::primaryScreenHeight({left, primary}, left), 900);
    EXPECT_EQ(WindowSnap::primaryScreenHeight({left, offset}, offset), 600);
    EXPECT_EQ(WindowSnap::primaryScreenHeight({}, std::nullopt), 0);
}

TEST(WindowSnapGeometry, RectanglesReadBackExactlyWithAFractionalDigit) {
    EXPECT_EQ(WindowSnap::describe({720, 25, 721, 875}), "(720.0, 25.0, 721.0, 875.0)");
    EXPECT_EQ(WindowSnap::describe({767.5, -0.0, 0.1, 1.0 / 3}), "(767.5, -0.0, 0.1, 0.3333333333333333)");
    EXPECT_EQ(WindowSnap::formatNumber(1e21), "1e+21");
    EXPECT_EQ(WindowSnap::formatNumber(-std::numeric_limits<double>::infinity()), "-inf");
    EXPECT_EQ(WindowSnap::formatNumber(std::nan("")), "nan");
}

// ---------------------------------------------------------------------------------------------
// The window side

class WindowSnapTest : public ::testing::Test {
  public:
    void SetUp() override {
        FocusRestorer::resetFlagsForTesting();
        log::installSinks({logSink});
        // A 1440 × 900 primary with a 25-point menu bar and a 70-point dock.
        screens.list = {{{0, 0, 1440, 900}, {0, 70, 1440, 805}}};
        workspace.running = {{kPid, "notes", "/apps/notes.desktop", "Notes"}};
    }
    void TearDown() override {
        log::installSinks({});
        FocusRestorer::resetFlagsForTesting();
    }

    std::vector<std::string> logged() const {
        std::vector<std::string> out;
        for (auto& line : logSink->lines())
            out.push_back(line.substr(log::kPrefix.size()));
        return out;
    }
    std::optional<platform::RunningApplication> notes() const { return workspace.running.front(); }
    // A window of Notes, given the focus.
    WindowRef focusedWindow(Rect frame) {
        const WindowRef window = windowControl.addWindow(kPid, 1, frame);
        windowControl.focus(window);
        return window;
    }
    void apply(Command command) { WindowSnap::apply(command, notes(), context); }

    fake::FakeWindowControl windowControl;
    fake::FakeScreens screens;
    fake::FakeWorkspace workspace;
    WindowSnap::Context context{windowControl, screens, workspace};
    std::shared_ptr<log::MemorySink> logSink = std::make_shared<log::MemorySink>();
};

TEST_F(WindowSnapTest, EachCommandIsOneWriteThenTheWindowIsActivated) {
    struct Case {
        Command command;
        bool resizable;
        bool fullScreen;
        std::vector<std::string> lines;
        std::vector<std::string> changes;
    };
    const Case cases[] = {
        {Command::left,
         true,
         false,
         {"windowSnap: left app=Notes target=(0.0, 25.0, 720.0, 805.0) canResize=true resizes=true"},
         {"setFrame (0.0, 25.0, 720.0, 805.0) on window 1", "activate window 1"}},
        // A move keeps the size even where it could be set.
        {Command::moveToRight,
         true,
         false,
         {"windowSnap: moveToRight app=Notes target=(1040.0, 100.0, 400.0, 300.0) canResize=true "
          "resizes=false"},
         {"setFrame (1040.0, 100.0) on window 1", "activate window 1"}},
        // A fixed-size window is only moved, and the command still says it resizes.
        {Command::maximize,
         false,
         false,
         {"windowSnap: maximize app=Notes target=(0.0, 25.0, 1440.0, 805.0) canResize=false resizes=true"},
         {"setFrame (0.0, 25.0) on window 1", "activate window 1"}},
        // Full screen is left first, and the snap uses the frame the window has then.
        {Command::right,
         true,
         true,
         {"windowSnap: exiting native fullscreen before right",
          "windowSnap: right app=Notes target=(720.0, 25.0, 720.0, 805.0) canResize=true resizes=true"},
         {"leaveFullScreen on window 1", "setFrame (720.0, 25.0, 720.0, 805.0) on window 1",
          "activate window 1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(WindowSnap::caseName(c.command)));
        fake::FakeWindowControl fresh;
        WindowSnap::Context local{fresh, screens, workspace};
        const WindowRef window = fresh.addWindow(kPid, 1, {100, 100, 400, 300});
        fresh.info(window).resizable = c.resizable;
        fresh.info(window).fullScreen = c.fullScreen;
        logSink->clear();
        workspace.clearCalls();

        WindowSnap::apply(c.command, notes(), local);

        EXPECT_EQ(logged(), c.lines);
        EXPECT_EQ(fresh.log(), c.changes);
        EXPECT_EQ(workspace.calls(), std::vector<std::string>{"activate 10 allWindows=false"});
    }
}

TEST_F(WindowSnapTest, RefusedWriteIsOneLineAndTheWindowIsLeftAlone) {
    windowControl.refusesFrame.insert(focusedWindow({100, 100, 400, 300}).id);

    apply(Command::top);

    EXPECT_EQ(logged(), std::vector<std::string>{
                            "windowSnap: write failed top app=Notes target=(0.0, 25.0, 1440.0, 402.0)"});
    EXPECT_EQ(windowControl.log(),
              std::vector<std::string>{"setFrame (0.0, 25.0, 1440.0, 402.0) on window 1"});
    EXPECT_TRUE(workspace.calls().empty());
}

TEST_F(WindowSnapTest, TheFocusedWindowIsTakenWhenEligibleElseTheFirstEligibleOne) {
    const WindowRef minimised = windowControl.addWindow(kPid, 1, {0, 0, 400, 300});
    windowControl.info(minimised).minimised = true;
    windowControl.addWindow(kPid, 2, {0, 0, 1, 1});
    windowControl.addWindow(kPid, 3, {0, 0, 400, 1});
    const WindowRef popup = windowControl.addWindow(kPid, 4, {0, 0, 400, 300});
    windowControl.info(popup).ordinary = false;
    const WindowRef plain = windowControl.addWindow(kPid, 5, {0, 0, 400, 300});
    windowControl.addWindow(kPid, 6, {0, 0, 400, 300});

    EXPECT_EQ(WindowSnap::targetWindow(kPid, windowControl)->ref, plain);
    windowControl.focus({kPid, 6});
    EXPECT_EQ(WindowSnap::targetWindow(kPid, windowControl)->ref, (WindowRef{kPid, 6}));
    windowControl.focus(minimised);
    EXPECT_EQ(WindowSnap::targetWindow(kPid, windowControl)->ref, (WindowRef{kPid, 6}));
    EXPECT_EQ(WindowSnap::targetWindow(kPid + 1, windowControl), std::nullopt);
}

// ---------------------------------------------------------------------------------------------
// Screen choice

struct ScreenCase {
    const char* name;
    Rect window;  // accessibility space
    std::size_t expected;
};

class ScreenChoiceTest : public ::testing::TestWithParam<ScreenCase> {};

TEST_P(ScreenChoiceTest, CentreInTheBottomLeftSpacePicksTheScreen) {
    fake::FakeScreens screens;
    screens.list = {
        {{0, 0, 1440, 900}, {0, 0, 1440, 875}},            // primary
        {{-1920, 0, 1920, 1080}, {-1920, 0, 1920, 1080}},  // left of it, taller
        {{0, -1080, 1920, 1080}, {0, -1080, 1920, 1040}},  // below it
    };
    const auto screen = WindowSnap::screenContainingCenterOf(GetParam().window, kH0, screens);
    ASSERT_TRUE(screen.has_value());
    EXPECT_EQ(*screen, screens.list[GetParam().expected]) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ScreenChoiceTest,
    ::testing::Values(ScreenCase{"on the primary", {100, 100, 400, 300}, 0},
                      ScreenCase{"left screen, above the primary's top", {-1000, -150, 400, 200}, 1},
                      ScreenCase{"left screen", {-1000, 100, 400, 300}, 1},
                      ScreenCase{"below", {100, 1000, 400, 300}, 2},
                      // Left and bottom edges belong to a screen, right and top edges do not.
                      ScreenCase{"centre on the shared vertical edge", {-200, 100, 400, 300}, 0},
                      ScreenCase{"centre on the shared horizontal edge", {100, 750, 400, 300}, 0},
                      ScreenCase{"centre on no screen: the main one", {3000, 3000, 400, 300}, 0}));

TEST_F(WindowSnapTest, WindowOnAScreenLeftOfThePrimaryIsPlacedInThatScreen) {
    screens.list.push_back({{-1920, 0, 1920, 1080}, {-1920, 0, 1920, 1050}});
    focusedWindow({-1000, 100, 400, 300});

    apply(Command::maximize);

    EXPECT_EQ(logged(),
              std::vector<std::string>{"windowSnap: maximize app=Notes target=(-1920.0, -150.0, 1920.0, "
                                       "1050.0) canResize=true resizes=true"});
}

TEST_F(WindowSnapTest, PrimaryListedSecondStillGivesTheHeightAndCentreOffEveryScreenUsesTheMain) {
    // The main screen is the one below the primary; the window's centre lies on no screen.
    screens.list.insert(screens.list.begin(), Screen{{0, -1080, 1920, 1080}, {0, -1080, 1920, 1040}});
    screens.mainIndex = 0;
    focusedWindow({5000, 100, 400, 300});

    apply(Command::maximize);

    EXPECT_EQ(logged(), std::vector<std::string>{"windowSnap: maximize app=Notes target=(0.0, 940.0, 1920.0, "
                                                 "1040.0) canResize=true resizes=true"});
}

// ---------------------------------------------------------------------------------------------
// Failures: one line each, and nothing written to the window

struct FailureCase {
    const char* name;
    std::function<void(WindowSnapTest&, std::optional<platform::RunningApplication>& app)> arrange;
    std::vector<std::string> expected;
    bool reachesWindow;
};

class WindowSnapFailures : public WindowSnapTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(WindowSnapFailures, EndWithOneLine) {
    focusedWindow({100, 100, 400, 300});
    std::optional<platform::RunningApplication> app = notes();
    GetParam().arrange(*this, app);

    WindowSnap::apply(Command::firstThird, app, context);

    EXPECT_EQ(logged(), GetParam().expected) << GetParam().name;
    const auto calls = windowControl.log();
    const bool touched =
        std::any_of(calls.begin(), calls.end(), [](auto& c) { return c.starts_with("setFrame"); });
    EXPECT_FALSE(touched) << GetParam().name;
    EXPECT_EQ(windowControl.listCount() == 1, GetParam().reachesWindow) << GetParam().name;
}

const std::string kPrompting =
    "Accessibility not trusted — prompting once (required for clipboard ⌘V / window snap / text expander / "
    "app "
    "toggle)";
const std::string kDenied =
    "Accessibility still denied — enable Quenlit in Privacy → Accessibility, then fully quit & relaunch "
    "Quenlit";

INSTANTIATE_TEST_SUITE_P(
    Lines, WindowSnapFailures,
    ::testing::Values(
        FailureCase{"untrusted",
                    [](WindowSnapTest& fixture, auto&) { fixture.windowControl.trusted = false; },
                    {kPrompting, kDenied, "windowSnap: Accessibility not trusted — abort firstThird",
                     "failed to open Accessibility setting"},
                    false},
        FailureCase{"absent application",
                    [](WindowSnapTest&, auto& app) { app.reset(); },
                    {"windowSnap: no prior app"},
                    false},
        FailureCase{"terminated record",
                    [](WindowSnapTest&, auto& app) { app->isTerminated = true; },
                    {"windowSnap: no prior app"},
                    false},
        FailureCase{
            "terminated since the launcher opened",
            [](WindowSnapTest& fixture, auto&) { fixture.workspace.running.front().isTerminated = true; },
            {"windowSnap: no prior app"},
            false},
        FailureCase{"exited since the launcher opened",
                    [](WindowSnapTest& fixture, auto&) { fixture.workspace.running.clear(); },
                    {"windowSnap: no prior app"},
                    false},
        FailureCase{
            "own process",
            [](WindowSnapTest& fixture, auto& app) {
                fixture.workspace.running.push_back({fixture.workspace.ownProcess, "quenlit", {}, "Quenlit"});
                app->processIdentifier = fixture.workspace.ownProcess;
            },
            {"windowSnap: refusing to snap our own process"},
            false},
        FailureCase{"no eligible window, nameless application",
                    [](WindowSnapTest& fixture, auto& app) {
                        app->localizedName.reset();
                        fixture.windowControl.info({kPid, 1}).ordinary = false;
                    },
                    {"windowSnap: no eligible window for ?"},
                    true},
        FailureCase{"frame gone after leaving full screen",
                    [](WindowSnapTest& fixture, auto&) {
                        const WindowRef window{kPid, 1};
                        fixture.windowControl.info(window).fullScreen = true;
                        fixture.windowControl.onChange = [&fixture, window](const std::string& change) {
                            if (change == "leaveFullScreen on window 1") fixture.windowControl.close(window);
                        };
                    },
                    {"windowSnap: exiting native fullscreen before firstThird",
                     "windowSnap: cannot read window frame"},
                    true},
        FailureCase{"no screen at all",
                    [](WindowSnapTest& fixture, auto&) {
                        fixture.screens.list.clear();
                        fixture.screens.mainIndex.reset();
                    },
                    {"windowSnap: no screen"},
                    true}),
    [](const ::testing::TestParamInfo<FailureCase>& caseInfo) {
        std::string name;
        for (const char* p = caseInfo.param.name; *p != '\0'; ++p) {
            if (std::isalnum(static_cast<unsigned char>(*p)) != 0) name += *p;
        }
        return name;
    });

TEST_F(WindowSnapTest, UntrustedOpensThePrivacySettingsWhereTheDesktopHasThem) {
    windowControl.trusted = false;
    workspace.acceptsURL = [](const std::string& url) {
        return url.find("PrivacySecurity") != std::string::npos;
    };
    focusedWindow({100, 100, 400, 300});

    apply(Command::left);

    EXPECT_EQ(logged().back(), "opened Accessibility setting");
    EXPECT_EQ(
        workspace.calls(),
        (std::vector<std::string>{
            "openURL x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility",
            "openURL "
            "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?Privacy_Accessibility",
        }));
    EXPECT_TRUE(windowControl.log().empty());
}

}  // namespace
}  // namespace quenlit
