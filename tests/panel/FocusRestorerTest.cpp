#include "panel/FocusRestorer.h"

#include "backends/fake/FakeAccessibility.h"
#include "backends/fake/FakeInput.h"
#include "backends/fake/FakeScreens.h"
#include "backends/fake/FakeWorkspace.h"
#include "backends/fake/VirtualScheduler.h"
#include "base/Log.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace quenlit {
namespace {

using platform::AXElement;
using platform::Point;

constexpr int kPid = 20;

class FocusRestorerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        FocusRestorer::resetFlagsForTesting();
        log::installSinks({logSink});
        // A 900-point-high primary screen: a y flip over it would move every click point.
        screens.list = {{{0, 0, 1440, 900}, {0, 0, 1440, 875}}};
        workspace.running = {{kPid, "editor", "/apps/editor.desktop", "Editor"}};
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
    // A focused window and, inside it, a focused text field 200 × 40 at (150, 700).
    FocusRestorer::Snapshot captureEditorWithField() {
        const AXElement window = accessibility.addWindow(kPid, 1, {100, 100, 800, 700});
        accessibility.application(kPid).focusedWindow = window;
        accessibility.addFocusedControl(kPid, 5, {150, 700, 200, 40});
        return FocusRestorer::capture(kPid, context);
    }
    FocusRestorer::Snapshot captureEditorWithoutField() {
        const AXElement window = accessibility.addWindow(kPid, 1, {100, 100, 800, 700});
        accessibility.application(kPid).focusedWindow = window;
        return FocusRestorer::capture(kPid, context);
    }
    void restore(const FocusRestorer::Snapshot& snapshot, bool allowClick) {
        FocusRestorer::restore(workspace.running.front(), snapshot, 0, allowClick, context);
    }
    // Runs the scheduled attempts one by one; returns the seconds at which each one ran and how
    // many events had been posted after it.
    std::vector<std::pair<double, std::size_t>> runAttempts() {
        std::vector<std::pair<double, std::size_t>> runs;
        while (auto due = scheduler.nextDue()) {
            scheduler.advance(*due - scheduler.now());
            runs.emplace_back(scheduler.elapsed(), input.posted.size());
        }
        return runs;
    }
    long writesOf(std::string_view what) const {
        const auto calls = accessibility.log();
        return std::count(calls.begin(), calls.end(), std::string(what));
    }

    fake::FakeAccessibility accessibility;
    fake::FakeWorkspace workspace;
    fake::VirtualScheduler scheduler;
    fake::FakeInputSynthesizer input;
    fake::FakeScreens screens;
    FocusRestorer::Context context{accessibility, workspace, scheduler, input, screens};
    std::shared_ptr<log::MemorySink> logSink = std::make_shared<log::MemorySink>();
};

// ---------------------------------------------------------------------------------------------
// Capture

TEST_F(FocusRestorerTest, CaptureTakesWindowControlAndTheControlsCentre) {
    const auto snapshot = captureEditorWithField();
    EXPECT_EQ(snapshot.window, fake::FakeAccessibility::windowElement(kPid, 1));
    EXPECT_EQ(snapshot.element, fake::FakeAccessibility::controlElement(kPid, 5));
    EXPECT_EQ(snapshot.clickPoint, (Point{250, 720}));
}

TEST_F(FocusRestorerTest, CaptureFallsBackToTheSystemWideFocusedControl) {
    const AXElement field = fake::FakeAccessibility::controlElement(kPid, 6);
    accessibility.element(field).frame = platform::Rect{10, 10, 100, 20};
    accessibility.systemFocused = field;
    accessibility.application(kPid).focusedElement = platform::AccessibilityError::attributeUnsupported;

    const auto snapshot = FocusRestorer::capture(kPid, context);
    EXPECT_EQ(snapshot.window, std::nullopt);
    EXPECT_EQ(snapshot.element, field);
    EXPECT_EQ(snapshot.clickPoint, (Point{60, 20}));
}

TEST_F(FocusRestorerTest, WithoutAFocusedControlThereIsNoClickPointNotEvenTheWindowsCentre) {
    const auto snapshot = captureEditorWithoutField();
    EXPECT_EQ(snapshot.window, fake::FakeAccessibility::windowElement(kPid, 1));
    EXPECT_EQ(snapshot.element, std::nullopt);
    EXPECT_EQ(snapshot.clickPoint, std::nullopt);
}

TEST_F(FocusRestorerTest, ControlWithoutUsableFrameKeepsTheControlButGivesNoPoint) {
    const AXElement window = accessibility.addWindow(kPid, 1, {100, 100, 800, 700});
    accessibility.application(kPid).focusedWindow = window;
    const AXElement thin = accessibility.addFocusedControl(kPid, 5, {150, 700, 1, 40});

    const auto snapshot = FocusRestorer::capture(kPid, context);
    EXPECT_EQ(snapshot.element, thin);
    EXPECT_EQ(snapshot.clickPoint, std::nullopt);
}

TEST_F(FocusRestorerTest, UntrustedCaptureIsEmpty) {
    accessibility.trusted = false;
    EXPECT_EQ(captureEditorWithField(), FocusRestorer::Snapshot{});
}

// ---------------------------------------------------------------------------------------------
// Restore

TEST_F(FocusRestorerTest, FiveAttemptsOverHalfASecondEachPuttingTheFocusBack) {
    const auto snapshot = captureEditorWithField();
    restore(snapshot, false);
    const auto runs = runAttempts();

    const std::vector<double> expected = {0.05, 0.15, 0.30, 0.50};
    ASSERT_EQ(runs.size(), expected.size());
    for (std::size_t i = 0; i < runs.size(); ++i)
        EXPECT_NEAR(runs[i].first, expected[i], 1e-9) << i;
    EXPECT_EQ(writesOf("bringToFront on app 20"), 5);
    EXPECT_EQ(writesOf("raise on window 1"), 5);
    EXPECT_EQ(writesOf("setFocusedWindow window 1 on app 20"), 5);
    EXPECT_EQ(writesOf("setMainWindow window 1 on app 20"), 5);
    EXPECT_EQ(writesOf("setFocusedElement control 5 on app 20"), 5);
    EXPECT_EQ(writesOf("focus on control 5"), 5);
    EXPECT_TRUE(input.posted.empty());
    // Activation belongs to the first attempt alone.
    EXPECT_EQ(workspace.calls(), std::vector<std::string>{"activate 20 allWindows=false"});
    EXPECT_EQ(logged(), std::vector<std::string>{"fallback restore activate Editor"});
}

TEST_F(FocusRestorerTest, ClicksTheControlAtAttemptsOneAndThreeAtTheCapturedPoint) {
    const auto snapshot = captureEditorWithField();
    restore(snapshot, true);
    const auto runs = runAttempts();

    // Events posted after attempts 1, 2, 3 and 4: a press and a release at 1 and at 3.
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0].second, 2u);
    EXPECT_EQ(runs[1].second, 2u);
    EXPECT_EQ(runs[2].second, 4u);
    EXPECT_EQ(runs[3].second, 4u);
    // Mouse events take accessibility-space points, where the field's centre was captured: the
    // click lands at (250, 720), not at the mirrored (250, 180).
    const std::string down = "mouse 1 (250.0, 720.0)";
    const std::string up = "mouse 2 (250.0, 720.0)";
    EXPECT_EQ(input.posted, (std::vector<std::string>{down, up, down, up}));
    EXPECT_EQ(input.sources, (std::vector<std::string>{"hidSystem", "hidSystem"}));
}

TEST_F(FocusRestorerTest, WithoutAFocusedControlItRaisesAndActivatesButNeverClicks) {
    const auto snapshot = captureEditorWithoutField();
    restore(snapshot, true);
    const auto runs = runAttempts();

    EXPECT_EQ(runs.size(), 4u);
    EXPECT_TRUE(input.posted.empty());
    EXPECT_TRUE(input.sources.empty());
    EXPECT_EQ(writesOf("raise on window 1"), 5);
    EXPECT_EQ(workspace.calls(), std::vector<std::string>{"activate 20 allWindows=false"});
}

TEST_F(FocusRestorerTest, ApplicationThatTerminatesStopsTheRun) {
    const auto snapshot = captureEditorWithField();
    restore(snapshot, true);
    scheduler.advance(platform::Seconds(0.05));
    EXPECT_EQ(writesOf("bringToFront on app 20"), 2);

    workspace.running.front().isTerminated = true;
    scheduler.advance(platform::Seconds(0.1));
    EXPECT_EQ(writesOf("bringToFront on app 20"), 2);
    EXPECT_EQ(scheduler.pendingMainCount(), 0u);
}

TEST_F(FocusRestorerTest, ApplicationThatIsGoneOrRecordedTerminatedIsNotTouched) {
    auto app = workspace.running.front();
    workspace.running.clear();
    FocusRestorer::restore(app, {}, 0, true, context);
    app.isTerminated = true;
    FocusRestorer::restore(app, {}, 0, true, context);
    EXPECT_TRUE(workspace.calls().empty());
    EXPECT_TRUE(logged().empty());
    EXPECT_EQ(scheduler.pendingMainCount(), 0u);
}

TEST_F(FocusRestorerTest, UntrustedRestoreActivatesLogsAndStops) {
    workspace.running.front().localizedName.reset();
    accessibility.trusted = false;
    restore({}, true);
    EXPECT_EQ(workspace.calls(), std::vector<std::string>{"activate 20 allWindows=false"});
    EXPECT_EQ(logged(), std::vector<std::string>{"fallback restore activate ?"});
    EXPECT_TRUE(accessibility.log().empty());
    EXPECT_EQ(scheduler.pendingMainCount(), 0u);
}

// ---------------------------------------------------------------------------------------------
// Trust

const std::string kPrompting =
    "Accessibility not trusted — prompting once (required for clipboard ⌘V / window snap / text expander / "
    "app "
    "toggle)";

TEST_F(FocusRestorerTest, PromptsOnceWhileUntrusted) {
    accessibility.trusted = false;
    EXPECT_FALSE(FocusRestorer::ensureTrusted(true, accessibility));
    EXPECT_FALSE(FocusRestorer::ensureTrusted(true, accessibility));
    EXPECT_FALSE(FocusRestorer::ensureTrusted(true, accessibility));
    EXPECT_EQ(accessibility.promptCount, 1);
    EXPECT_EQ(logged(), (std::vector<std::string>{kPrompting,
                                                  "Accessibility still denied — enable Quenlit in Privacy → "
                                                  "Accessibility, then fully quit & relaunch Quenlit"}));
}

TEST_F(FocusRestorerTest, TrustGrantedAtThePromptIsReported) {
    accessibility.trusted = false;
    accessibility.grantOnPrompt = true;
    EXPECT_TRUE(FocusRestorer::ensureTrusted(true, accessibility));
    EXPECT_TRUE(FocusRestorer::ensureTrusted(true, accessibility));
    EXPECT_EQ(logged(), (std::vector<std::string>{kPrompting, "Accessibility trusted=1 (after prompt)"}));
}

TEST_F(FocusRestorerTest, WithoutPromptNothingIsAskedOrLogged) {
    accessibility.trusted = false;
    EXPECT_FALSE(FocusRestorer::ensureTrusted(false, accessibility));
    accessibility.trusted = true;
    EXPECT_TRUE(FocusRestorer::ensureTrusted(false, accessibility));
    EXPECT_TRUE(FocusRestorer::ensureTrusted(true, accessibility));
    EXPECT_EQ(accessibility.promptCount, 0);
    EXPECT_TRUE(logged().empty());
}

TEST_F(FocusRestorerTest, TrustStateIsLoggedOnce) {
    accessibility.trusted = false;
    FocusRestorer::logTrustOnce(accessibility);
    accessibility.trusted = true;
    FocusRestorer::logTrustOnce(accessibility);
    EXPECT_EQ(logged(), std::vector<std::string>{"Accessibility trusted=0"});

    FocusRestorer::resetFlagsForTesting();
    logSink->clear();
    FocusRestorer::logTrustOnce(accessibility);
    EXPECT_EQ(logged(), std::vector<std::string>{"Accessibility trusted=1"});
}

// ---------------------------------------------------------------------------------------------
// Privacy settings

const std::string kSecurity = "x-apple.systempreferences:com.apple.preference.security?";
const std::string kPrivacy = "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?";

TEST_F(FocusRestorerTest, PrivacyPaneOpensAtTheFirstAcceptedAddress) {
    workspace.acceptsURL = [](const std::string& url) { return url == kPrivacy + "Privacy_Accessibility"; };
    FocusRestorer::openPrivacyPane({"Privacy_Accessibility", "Privacy"}, "Accessibility", workspace);
    EXPECT_EQ(workspace.calls(), (std::vector<std::string>{
                                     "openURL " + kSecurity + "Privacy_Accessibility",
                                     "openURL " + kSecurity + "Privacy",
                                     "openURL " + kPrivacy + "Privacy_Accessibility",
                                 }));
    EXPECT_EQ(logged(), std::vector<std::string>{"opened Accessibility setting"});
}

TEST_F(FocusRestorerTest, PrivacyPaneFailureIsLoggedAfterEveryAddress) {
    FocusRestorer::openPrivacyPane({"Privacy_Accessibility"}, "Accessibility", workspace);
    EXPECT_EQ(workspace.calls().size(), 2u);
    EXPECT_EQ(logged(), std::vector<std::string>{"failed to open Accessibility setting"});
}

TEST_F(FocusRestorerTest, PrivacyPaneWithoutAnchorsFailsAtOnce) {
    FocusRestorer::openPrivacyPane({}, "Input Monitoring", workspace);
    EXPECT_TRUE(workspace.calls().empty());
    EXPECT_EQ(logged(), std::vector<std::string>{"failed to open Input Monitoring setting"});
}

}  // namespace
}  // namespace quenlit
