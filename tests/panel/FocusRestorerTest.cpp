#include "panel/FocusRestorer.h"

#include "backends/fake/FakeScreens.h"
#include "backends/fake/FakeWindowControl.h"
#include "backends/fake/FakeWorkspace.h"
#include "backends/fake/VirtualScheduler.h"
#include "base/Log.h"

#include <gtest/gtest.h>

namespace quenlit {
namespace {

using platform::WindowRef;

constexpr int kPid = 20;

class FocusRestorerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        FocusRestorer::resetFlagsForTesting();
        log::installSinks({logSink});
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
    // The editor's focused window, listed before another one of its windows.
    FocusRestorer::Snapshot captureEditor() {
        windowControl.addWindow(kPid, 2, {0, 0, 300, 200});
        windowControl.addWindow(kPid, 1, {100, 100, 800, 700});
        windowControl.focus({kPid, 1});
        return FocusRestorer::capture(kPid, context);
    }
    void restore(const FocusRestorer::Snapshot& snapshot) {
        FocusRestorer::restore(workspace.running.front(), snapshot, 0, context);
    }
    // Runs the scheduled attempts one by one; returns the seconds at which each one ran.
    std::vector<double> runAttempts() {
        std::vector<double> runs;
        while (auto due = scheduler.nextDue()) {
            scheduler.advance(*due - scheduler.now());
            runs.push_back(scheduler.elapsed());
        }
        return runs;
    }

    fake::FakeWindowControl windowControl;
    fake::FakeWorkspace workspace;
    fake::VirtualScheduler scheduler;
    fake::FakeScreens screens;
    FocusRestorer::Context context{windowControl, workspace, scheduler, screens};
    std::shared_ptr<log::MemorySink> logSink = std::make_shared<log::MemorySink>();
};

// ---------------------------------------------------------------------------------------------
// Capture

TEST_F(FocusRestorerTest, CaptureTakesTheFocusedWindowOrNothing) {
    EXPECT_EQ(captureEditor().window, (WindowRef{kPid, 1}));
    // No windows, a desktop that lists none, or no trust: nothing to give the focus back to.
    EXPECT_EQ(FocusRestorer::capture(kPid + 1, context), FocusRestorer::Snapshot{});
    windowControl.can.listWindows = false;
    EXPECT_EQ(FocusRestorer::capture(kPid, context), FocusRestorer::Snapshot{});
    windowControl.can.listWindows = true;
    windowControl.trusted = false;
    EXPECT_EQ(FocusRestorer::capture(kPid, context), FocusRestorer::Snapshot{});
}

// ---------------------------------------------------------------------------------------------
// Restore

TEST_F(FocusRestorerTest, FiveAttemptsOverHalfASecondEachActivatingTheWindow) {
    const auto snapshot = captureEditor();
    windowControl.focus({kPid, 2});  // the panel's departure left the other window in front
    restore(snapshot);
    const auto runs = runAttempts();

    const std::vector<double> expected = {0.05, 0.15, 0.30, 0.50};
    ASSERT_EQ(runs.size(), expected.size());
    for (std::size_t i = 0; i < runs.size(); ++i)
        EXPECT_NEAR(runs[i], expected[i], 1e-9) << i;
    EXPECT_EQ(windowControl.log(), std::vector<std::string>(5, "activate window 1"));
    EXPECT_EQ(windowControl.windows(kPid)->front().ref, (WindowRef{kPid, 1}));
    // Activation of the application belongs to the first attempt alone.
    EXPECT_EQ(workspace.calls(), std::vector<std::string>{"activate 20 allWindows=false"});
    EXPECT_EQ(logged(), std::vector<std::string>{"fallback restore activate Editor"});
}

TEST_F(FocusRestorerTest, WithoutTheWindowTheApplicationIsActivated) {
    const auto snapshot = captureEditor();
    windowControl.close({kPid, 1});
    restore(snapshot);
    scheduler.advance(platform::Seconds(0.05));
    EXPECT_EQ(windowControl.log(),
              (std::vector<std::string>{"activate window 1", "activateApplication app 20",
                                        "activate window 1", "activateApplication app 20"}));
    windowControl.clearLog();
    restore({});
    EXPECT_EQ(windowControl.log(), std::vector<std::string>{"activateApplication app 20"});
}

TEST_F(FocusRestorerTest, ApplicationThatTerminatesStopsTheRun) {
    const auto snapshot = captureEditor();
    restore(snapshot);
    scheduler.advance(platform::Seconds(0.05));
    EXPECT_EQ(windowControl.log().size(), 2u);

    workspace.running.front().isTerminated = true;
    scheduler.advance(platform::Seconds(0.1));
    EXPECT_EQ(windowControl.log().size(), 2u);
    EXPECT_EQ(scheduler.pendingMainCount(), 0u);
}

TEST_F(FocusRestorerTest, ApplicationThatIsGoneOrRecordedTerminatedIsNotTouched) {
    auto app = workspace.running.front();
    workspace.running.clear();
    FocusRestorer::restore(app, {}, 0, context);
    app.isTerminated = true;
    FocusRestorer::restore(app, {}, 0, context);
    EXPECT_TRUE(workspace.calls().empty());
    EXPECT_TRUE(logged().empty());
    EXPECT_EQ(scheduler.pendingMainCount(), 0u);
}

TEST_F(FocusRestorerTest, UntrustedOrUnableRestoreActivatesLogsAndStops) {
    workspace.running.front().localizedName.reset();
    windowControl.trusted = false;
    restore({});
    windowControl.trusted = true;
    windowControl.can.activate = false;
    restore({});
    EXPECT_EQ(workspace.calls(), std::vector<std::string>(2, "activate 20 allWindows=false"));
    EXPECT_EQ(logged(), std::vector<std::string>(2, "fallback restore activate ?"));
    EXPECT_TRUE(windowControl.log().empty());
    EXPECT_EQ(scheduler.pendingMainCount(), 0u);
}

// ---------------------------------------------------------------------------------------------
// Trust

const std::string kPrompting =
    "Accessibility not trusted — prompting once (required for clipboard ⌘V / window snap / text expander / "
    "app "
    "toggle)";

TEST_F(FocusRestorerTest, PromptsOnceWhileUntrusted) {
    windowControl.trusted = false;
    EXPECT_FALSE(FocusRestorer::ensureTrusted(true, windowControl));
    EXPECT_FALSE(FocusRestorer::ensureTrusted(true, windowControl));
    EXPECT_FALSE(FocusRestorer::ensureTrusted(true, windowControl));
    EXPECT_EQ(windowControl.promptCount, 1);
    EXPECT_EQ(logged(), (std::vector<std::string>{kPrompting,
                                                  "Accessibility still denied — enable Quenlit in Privacy → "
                                                  "Accessibility, then fully quit & relaunch Quenlit"}));
}

TEST_F(FocusRestorerTest, TrustGrantedAtThePromptIsReported) {
    windowControl.trusted = false;
    windowControl.grantOnPrompt = true;
    EXPECT_TRUE(FocusRestorer::ensureTrusted(true, windowControl));
    EXPECT_TRUE(FocusRestorer::ensureTrusted(true, windowControl));
    EXPECT_EQ(logged(), (std::vector<std::string>{kPrompting, "Accessibility trusted=1 (after prompt)"}));
}

TEST_F(FocusRestorerTest, WithoutPromptNothingIsAskedOrLogged) {
    windowControl.trusted = false;
    EXPECT_FALSE(FocusRestorer::ensureTrusted(false, windowControl));
    windowControl.trusted = true;
    EXPECT_TRUE(FocusRestorer::ensureTrusted(false, windowControl));
    EXPECT_TRUE(FocusRestorer::ensureTrusted(true, windowControl));
    EXPECT_EQ(windowControl.promptCount, 0);
    EXPECT_TRUE(logged().empty());
}

TEST_F(FocusRestorerTest, TrustStateIsLoggedOnce) {
    windowControl.trusted = false;
    FocusRestorer::logTrustOnce(windowControl);
    windowControl.trusted = true;
    FocusRestorer::logTrustOnce(windowControl);
    EXPECT_EQ(logged(), std::vector<std::string>{"Accessibility trusted=0"});

    FocusRestorer::resetFlagsForTesting();
    logSink->clear();
    FocusRestorer::logTrustOnce(windowControl);
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
