#include "automation/WindowSnap.h"

#include "backends/fake/FakeAccessibility.h"
#include "backends/fake/FakeScreens.h"
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

using platform::AXElement;
using platform::Rect;
using platform::Screen;
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
// The accessibility side

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
    void setFocusedWindow(const AXElement& window) { accessibility.application(kPid).focusedWindow = window; }
    void apply(Command command) { WindowSnap::apply(command, notes(), context); }

    fake::FakeAccessibility accessibility;
    fake::FakeScreens screens;
    fake::FakeWorkspace workspace;
    WindowSnap::Context context{accessibility, screens, workspace};
    std::shared_ptr<log::MemorySink> logSink = std::make_shared<log::MemorySink>();
};

TEST_F(WindowSnapTest, ResizingCommandWritesSizePositionSizeThenRaisesAndActivates) {
    const AXElement window = accessibility.addWindow(kPid, 1, {100, 100, 400, 300});
    setFocusedWindow(window);

    apply(Command::left);

    EXPECT_EQ(logged(),
              std::vector<std::string>{
                  "windowSnap: left app=Notes target=(0.0, 25.0, 720.0, 805.0) canResize=true resizes=true"});
    EXPECT_EQ(accessibility.log(), (std::vector<std::string>{
                                       "timeout 1.0 on app 10",
                                       "timeout 1.0 on window 1",
                                       "setSize (720.0, 805.0) on window 1",
                                       "setPosition (0.0, 25.0) on window 1",
                                       "setSize (720.0, 805.0) on window 1",
                                       "raise on window 1",
                                       "bringToFront on app 10",
                                   }));
    EXPECT_EQ(workspace.calls(), std::vector<std::string>{"activate 10 allWindows=false"});
}

TEST_F(WindowSnapTest, MoveCommandWritesOnlyThePositionEvenWhenSizeIsSettable) {
    setFocusedWindow(accessibility.addWindow(kPid, 1, {100, 100, 400, 300}));

    apply(Command::moveToRight);

    EXPECT_EQ(logged(),
              std::vector<std::string>{"windowSnap: moveToRight app=Notes target=(1040.0, 100.0, 400.0, "
                                       "300.0) canResize=true resizes=false"});
    EXPECT_EQ(accessibility.log(), (std::vector<std::string>{
                                       "timeout 1.0 on app 10",
                                       "timeout 1.0 on window 1",
                                       "setPosition (1040.0, 100.0) on window 1",
                                       "raise on window 1",
                                       "bringToFront on app 10",
                                   }));
}

TEST_F(WindowSnapTest, FixedSizeWindowIsOnlyMovedAndStillReportsAResizingCommand) {
    const AXElement window = accessibility.addWindow(kPid, 1, {100, 100, 400, 300});
    accessibility.element(window).resizable = false;
    setFocusedWindow(window);

    apply(Command::maximize);

    EXPECT_EQ(logged(),
              std::vector<std::string>{"windowSnap: maximize app=Notes target=(0.0, 25.0, 1440.0, 805.0) "
                                       "canResize=false resizes=true"});
    const auto writes = accessibility.log();
    EXPECT_EQ(std::count_if(writes.begin(), writes.end(), [](auto& w) { return w.starts_with("setSize"); }),
              0);
    EXPECT_NE(std::find(writes.begin(), writes.end(), "setPosition (0.0, 25.0) on window 1"), writes.end());
}

TEST_F(WindowSnapTest, FullScreenWindowLeavesFullScreenAndIsSnappedAtOnce) {
    const AXElement window = accessibility.addWindow(kPid, 1, {0, 0, 1440, 900});
    accessibility.element(window).fullScreen = true;
    setFocusedWindow(window);

    apply(Command::right);

    EXPECT_EQ(
        logged(),
        (std::vector<std::string>{
            "windowSnap: exiting native fullscreen before right",
            "windowSnap: right app=Notes target=(720.0, 25.0, 720.0, 805.0) canResize=true resizes=true",
        }));
    const auto writes = accessibility.log();
    ASSERT_GE(writes.size(), 4u);
    EXPECT_EQ(writes[2], "leaveFullScreen on window 1");
    EXPECT_EQ(writes[3], "setSize (720.0, 805.0) on window 1");
}

TEST_F(WindowSnapTest, EnhancedInterfaceIsSwitchedOffForTheWritesAndBackOnAfterwards) {
    accessibility.application(kPid).enhancedUserInterface = true;
    setFocusedWindow(accessibility.addWindow(kPid, 1, {100, 100, 400, 300}));

    apply(Command::moveToLeft);

    EXPECT_EQ(accessibility.log(), (std::vector<std::string>{
                                       "timeout 1.0 on app 10",
                                       "timeout 1.0 on window 1",
                                       "setEnhancedUserInterface false on app 10",
                                       "setPosition (0.0, 100.0) on window 1",
                                       "raise on window 1",
                                       "bringToFront on app 10",
                                       "setEnhancedUserInterface true on app 10",
                                   }));
}

TEST_F(WindowSnapTest, EnhancedInterfaceIsRestoredAfterAFailedWriteAndTheWindowIsLeftAlone) {
    accessibility.application(kPid).enhancedUserInterface = true;
    const AXElement window = accessibility.addWindow(kPid, 1, {100, 100, 400, 300});
    accessibility.element(window).positionError = platform::AccessibilityError::cannotComplete;
    setFocusedWindow(window);

    apply(Command::top);

    EXPECT_EQ(logged(), std::vector<std::string>{
                            "windowSnap: write failed top app=Notes target=(0.0, 25.0, 1440.0, 402.0)"});
    EXPECT_EQ(accessibility.log(), (std::vector<std::string>{
                                       "timeout 1.0 on app 10",
                                       "timeout 1.0 on window 1",
                                       "setEnhancedUserInterface false on app 10",
                                       "setSize (1440.0, 402.0) on window 1",
                                       "setPosition (0.0, 25.0) on window 1",
                                       "setEnhancedUserInterface true on app 10",
                                   }));
    EXPECT_TRUE(workspace.calls().empty());
}

TEST_F(WindowSnapTest, WithVoiceOverTheEnhancedInterfaceIsNeverReadOrWritten) {
    workspace.voiceOver = true;
    accessibility.recordReads = true;
    accessibility.application(kPid).enhancedUserInterface = true;
    setFocusedWindow(accessibility.addWindow(kPid, 1, {100, 100, 400, 300}));

    apply(Command::maximize);

    ASSERT_EQ(logged().size(), 1u);
    EXPECT_TRUE(logged()[0].starts_with("windowSnap: maximize app=Notes"));
    for (const auto& call : accessibility.log())
        EXPECT_EQ(call.find("EnhancedUserInterface"), std::string::npos);
    for (const auto& read : accessibility.reads())
        EXPECT_EQ(read.find("enhancedUserInterface"), std::string::npos);
    EXPECT_FALSE(accessibility.reads().empty());
}

// ---------------------------------------------------------------------------------------------
// Window choice

TEST_F(WindowSnapTest, MinimisedFocusedWindowGivesWayToTheMainWindow) {
    const AXElement focused = accessibility.addWindow(kPid, 1, {0, 0, 400, 300});
    accessibility.element(focused).minimised = true;
    const AXElement main = accessibility.addWindow(kPid, 2, {0, 0, 400, 300});
    setFocusedWindow(focused);
    accessibility.application(kPid).mainWindow = main;

    EXPECT_EQ(WindowSnap::targetWindow(kPid, accessibility), main);
}

TEST_F(WindowSnapTest, WithoutUsableFocusedOrMainWindowTheFirstEligibleListedWindowIsTaken) {
    const AXElement minimised = accessibility.addWindow(kPid, 1, {0, 0, 400, 300});
    accessibility.element(minimised).minimised = true;
    accessibility.addWindow(kPid, 2, {0, 0, 1, 1});
    const AXElement sheet = accessibility.addWindow(kPid, 3, {0, 0, 400, 300});
    accessibility.element(sheet).role = platform::AXRole::other;
    const AXElement unknownMinimised = accessibility.addWindow(kPid, 4, {0, 0, 400, 300});
    accessibility.element(unknownMinimised).minimised = platform::AccessibilityError::cannotComplete;
    accessibility.addWindow(kPid, 5, {0, 0, 400, 300});
    setFocusedWindow(minimised);
    accessibility.application(kPid).mainWindow = platform::AccessibilityError::noValue;

    // A minimised state that cannot be read does not count as minimised.
    EXPECT_EQ(WindowSnap::targetWindow(kPid, accessibility), unknownMinimised);
}

TEST_F(WindowSnapTest, OneByOneWindowIsNeverEligible) {
    const AXElement tiny = accessibility.addWindow(kPid, 1, {0, 0, 1, 1});
    setFocusedWindow(tiny);
    EXPECT_FALSE(WindowSnap::isEligible(tiny, accessibility));
    EXPECT_EQ(WindowSnap::targetWindow(kPid, accessibility), std::nullopt);

    apply(Command::left);
    EXPECT_EQ(logged(), std::vector<std::string>{"windowSnap: no eligible window for Notes"});
}

TEST_F(WindowSnapTest, FrameMustReadAndBeMoreThanOnePointEachWay) {
    const AXElement window = accessibility.addWindow(kPid, 1, {10, 20, 2, 2});
    EXPECT_EQ(WindowSnap::axFrame(window, accessibility), (Rect{10, 20, 2, 2}));
    accessibility.element(window).frame = Rect{10, 20, 400, 1};
    EXPECT_EQ(WindowSnap::axFrame(window, accessibility), std::nullopt);
    accessibility.element(window).frame = Rect{10, 20, 1, 300};
    EXPECT_EQ(WindowSnap::axFrame(window, accessibility), std::nullopt);
    accessibility.element(window).frame = platform::AccessibilityError::cannotComplete;
    EXPECT_EQ(WindowSnap::axFrame(window, accessibility), std::nullopt);
    EXPECT_EQ(WindowSnap::axFrame(fake::FakeAccessibility::windowElement(kPid, 99), accessibility),
              std::nullopt);
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
    setFocusedWindow(accessibility.addWindow(kPid, 1, {-1000, 100, 400, 300}));

    apply(Command::maximize);

    EXPECT_EQ(logged(),
              std::vector<std::string>{"windowSnap: maximize app=Notes target=(-1920.0, -150.0, 1920.0, "
                                       "1050.0) canResize=true resizes=true"});
}

TEST_F(WindowSnapTest, PrimaryListedSecondStillGivesTheHeightAndCentreOffEveryScreenUsesTheMain) {
    // The main screen is the one below the primary; the window's centre lies on no screen.
    screens.list.insert(screens.list.begin(), Screen{{0, -1080, 1920, 1080}, {0, -1080, 1920, 1040}});
    screens.mainIndex = 0;
    setFocusedWindow(accessibility.addWindow(kPid, 1, {5000, 100, 400, 300}));

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
    setFocusedWindow(accessibility.addWindow(kPid, 1, {100, 100, 400, 300}));
    std::optional<platform::RunningApplication> app = notes();
    GetParam().arrange(*this, app);

    WindowSnap::apply(Command::firstThird, app, context);

    EXPECT_EQ(logged(), GetParam().expected) << GetParam().name;
    const auto calls = accessibility.log();
    const bool touched =
        std::any_of(calls.begin(), calls.end(), [](auto& c) { return c.starts_with("setPosition"); });
    EXPECT_FALSE(touched) << GetParam().name;
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "timeout 1.0 on window 1") == 1,
              GetParam().reachesWindow)
        << GetParam().name;
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
                    [](WindowSnapTest& fixture, auto&) { fixture.accessibility.trusted = false; },
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
                        fixture.accessibility.element(fake::FakeAccessibility::windowElement(kPid, 1)).role =
                            platform::AXRole::other;
                    },
                    {"windowSnap: no eligible window for ?"},
                    false},
        FailureCase{"frame gone after leaving full screen",
                    [](WindowSnapTest& fixture, auto&) {
                        const AXElement window = fake::FakeAccessibility::windowElement(kPid, 1);
                        fixture.accessibility.element(window).fullScreen = true;
                        fixture.accessibility.onChange = [&fixture, window](const std::string& change) {
                            if (change == "leaveFullScreen on window 1") {
                                fixture.accessibility.element(window).frame =
                                    platform::AccessibilityError::cannotComplete;
                            }
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
    accessibility.trusted = false;
    workspace.acceptsURL = [](const std::string& url) {
        return url.find("PrivacySecurity") != std::string::npos;
    };
    setFocusedWindow(accessibility.addWindow(kPid, 1, {100, 100, 400, 300}));

    apply(Command::left);

    EXPECT_EQ(logged().back(), "opened Accessibility setting");
    EXPECT_EQ(
        workspace.calls(),
        (std::vector<std::string>{
            "openURL x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility",
            "openURL "
            "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?Privacy_Accessibility",
        }));
    EXPECT_TRUE(accessibility.log().empty());
}

}  // namespace
}  // namespace quenlit
