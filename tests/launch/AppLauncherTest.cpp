#include "launch/AppActivator.h"
#include "launch/AppLauncher.h"

#include "backends/fake/FakeProcesses.h"
#include "backends/fake/FakeWindowControl.h"
#include "backends/fake/FakeWorkspace.h"
#include "backends/linux/PosixFileReader.h"
#include "base/Log.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace quenlit {
namespace {

using platform::RunningApplication;
using testing::TempDir;
using testing::writeFile;

class LaunchTest : public ::testing::Test {
  protected:
    void SetUp() override { log::installSinks({logSink}); }
    void TearDown() override { log::installSinks({}); }

    std::vector<std::string> logged() {
        std::vector<std::string> out;
        for (auto& line : logSink->lines())
            out.push_back(line.substr(log::kPrefix.size()));
        return out;
    }

    fake::FakeWorkspace workspace;
    fake::FakeWindowControl windowControl;
    fake::FakeProcessInspector processes;
    AppActivator::Context activator{workspace, windowControl};
    std::shared_ptr<log::MemorySink> logSink = std::make_shared<log::MemorySink>();
};

TEST_F(LaunchTest, HiddenApplicationIsUnhiddenActivatedAndItsMinimisedWindowsRaised) {
    workspace.identifiersByPath["/apps/mail.desktop"] = "mail";
    workspace.running = {
        {10, "mail", "/apps/mail.desktop", "Mail", platform::ActivationPolicy::regular, true}};
    windowControl.addWindow(10, 1, {0, 0, 400, 300});
    auto minimised = windowControl.addWindow(10, 2, {0, 0, 400, 300});
    windowControl.info(minimised).minimised = true;

    EXPECT_TRUE(AppActivator::activateOrLaunch("/apps/mail.desktop", activator).has_value());
    EXPECT_EQ(logged(), (std::vector<std::string>{
                            "activateOrLaunch path=/apps/mail.desktop bundleID=mail",
                            "restore Mail pid=10 hidden=true active=false",
                            "Mail: was hidden — unhide()",
                            "Mail: windows total=2 visible=1 unminimized=1",
                        }));
    EXPECT_EQ(workspace.calls(), (std::vector<std::string>{"unhide 10", "activate 10 allWindows=true"}));
    EXPECT_EQ(windowControl.log(), std::vector<std::string>{"activate window 2"});
}

TEST_F(LaunchTest, WithoutIdentifierOrInstanceThePathIsOpened) {
    EXPECT_TRUE(AppActivator::activateOrLaunch("/apps/tool.desktop", activator).has_value());
    EXPECT_EQ(logged(), (std::vector<std::string>{"activateOrLaunch path=/apps/tool.desktop bundleID=nil",
                                                  "no running instance — falling back to NSWorkspace.open"}));
    EXPECT_EQ(workspace.calls(), std::vector<std::string>{"open /apps/tool.desktop"});
}

TEST_F(LaunchTest, FirstOfTwoInstancesIsRestoredAndUntrustedSkipsOnlyUnminimising) {
    windowControl.trusted = false;
    workspace.identifiersByPath["/apps/term.desktop"] = "term";
    workspace.running = {
        {5, "term", std::nullopt, "Term", platform::ActivationPolicy::regular, false, false, true},
        {6, "term", std::nullopt, "Term"},
        {7, "term", std::nullopt, "Term"}};
    EXPECT_TRUE(AppActivator::activateOrLaunch("/apps/term.desktop", activator).has_value());
    EXPECT_EQ(workspace.calls(), std::vector<std::string>{"activate 6 allWindows=true"});
    EXPECT_EQ(logged().back(), "Term: accessibility untrusted — cannot unminimize windows");
    EXPECT_EQ(windowControl.promptCount, 0) << "never prompts here";
}

class FirefoxLaunchTest : public LaunchTest {
  protected:
    void SetUp() override {
        LaunchTest::SetUp();
        writeFile(support / "profiles.ini",
                  "[Profile0]\nName=work\nIsRelative=1\nPath=w.work\n\n"
                  "[Profile1]\nName=home\nIsRelative=1\nPath=h.home\nDefault=1\n");
        writeFile(support / "w.work/prefs.js", "");
        writeFile(support / "h.home/prefs.js", "");
        workspace.running = {{30, "firefox-esr", std::nullopt, "Firefox"},
                             {31, "firefox-esr", std::nullopt, "Firefox"}};
    }

    TempDir dir;
    std::filesystem::path support = dir.path();
    linux_backend::PosixFileReader fileReader;
    AppLauncher::Context context{activator, {support, processes, fileReader}};
};

TEST_F(FirefoxLaunchTest, RunningProfileBringsItsOwnProcessForward) {
    processes.firefox = {30, 31};
    processes.files[31] = {(support / "w.work/.parentlock").string()};
    AppLauncher::launchFirefoxProfile("work", "/apps/firefox-esr.desktop", context);
    EXPECT_EQ(workspace.calls(), std::vector<std::string>{"activate 31 allWindows=true"});
}

TEST_F(FirefoxLaunchTest, ProfileNotRunningStartsAFirefoxOfItsOwn) {
    processes.firefox = {30};
    processes.files[30] = {(support / "h.home/.parentlock").string()};
    AppLauncher::launchFirefoxProfile("work", "/apps/firefox-esr.desktop", context);
    EXPECT_EQ(workspace.calls(),
              std::vector<std::string>{"openApplication /apps/firefox-esr.desktop activates=true "
                                       "-no-remote --profile " +
                                       (support / "w.work").string() + " -foreground"});
}

TEST_F(FirefoxLaunchTest, RefusedLaunchFallsBackToPlainFirefox) {
    workspace.launchError = [](const std::string&, const platform::OpenConfiguration& c) {
        return c.arguments.empty() ? std::nullopt : std::optional<std::string>("refused");
    };
    AppLauncher::launchFirefoxProfile("work", "/apps/ff.desktop", context);
    ASSERT_EQ(workspace.calls().size(), 2u);
    EXPECT_EQ(workspace.calls()[1], "openApplication /apps/ff.desktop activates=true");
}

TEST_F(FirefoxLaunchTest, UnknownProfileOpensFirefoxAndUnknownLockOwnerRestoresTheFirstFirefox) {
    AppLauncher::launchFirefoxProfile("gone", "/apps/ff.desktop", context);
    EXPECT_EQ(workspace.calls(), std::vector<std::string>{"openApplication /apps/ff.desktop activates=true"});
    workspace.clearCalls();
    processes.locks[(support / "h.home/.parentlock").string()] = platform::ProcessInspector::LockState::held;
    AppLauncher::launchFirefoxProfile("home", "/apps/ff.desktop", context);
    EXPECT_EQ(workspace.calls(), std::vector<std::string>{"activate 30 allWindows=true"});
}

}  // namespace
}  // namespace quenlit
