#include "launcher/LauncherPanel.h"

#include "backends/fake/FakeInput.h"
#include "backends/fake/FakePanelWindow.h"
#include "backends/fake/FakePasteboard.h"
#include "backends/fake/FakeProcesses.h"
#include "backends/fake/FakeScreens.h"
#include "backends/fake/FakeWindowControl.h"
#include "backends/fake/FakeWorkspace.h"
#include "backends/fake/VirtualScheduler.h"
#include "backends/linux/PosixFileReader.h"
#include "base/Log.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace quenlit {
namespace {

using platform::Seconds;

constexpr int kEditorPid = 100;

class LauncherPanelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        log::installSinks({logSink});
        FocusRestorer::resetFlagsForTesting();
        workspace.ownProcess = 4242;
        platform::RunningApplication editor;
        editor.processIdentifier = kEditorPid;
        editor.bundleIdentifier = "org.gnome.TextEditor";
        editor.localizedName = "Text Editor";
        workspace.running = {editor};
        workspace.frontmostProcess = kEditorPid;
        workspace.installed = {{"maps", "/usr/share/applications/maps.desktop", "Maps", ""}};
        screens.list = {{{0, 0, 1920, 1080}, {0, 0, 1920, 1080}}};
        panel = std::make_unique<LauncherPanel>(
            navigation, windows,
            LauncherPanel::Services{{{windowControl, workspace, scheduler, screens}, notifications},
                                    {scheduler,
                                     notifications,
                                     pasteboard,
                                     workspace,
                                     {workspace, {}, {}},
                                     {runner, "/home/ann"},
                                     {{workspace, windowControl}, {std::nullopt, inspector, fileReader}},
                                     [] {}},
                                    {windowControl, screens, workspace}});
        window = windows.created.back();
        scheduler.runPending();
    }
    void TearDown() override { log::installSinks({}); }

    void choose(const std::string& query, AppItemKind::Case kind) {
        auto& view = panel->contentView();
        view.setQuery(query);
        const auto rows = view.rows();
        auto it = std::find_if(rows.begin(), rows.end(), [&](const AppItem& r) { return r.kind == kind; });
        ASSERT_NE(it, rows.end());
        navigation.setSelectedIndex(it - rows.begin());
        notifications.post(Notification::launchSelectedApp);
    }
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (const auto& line : logSink->lines())
            out.push_back(line.substr(log::kPrefix.size()));
        return out;
    }
    bool logged(const std::string& message) const {
        const auto all = lines();
        return std::find(all.begin(), all.end(), message) != all.end();
    }

    fake::VirtualScheduler scheduler;
    fake::FakeWorkspace workspace;
    fake::FakeWindowControl windowControl;
    fake::FakeInputSynthesizer input;
    fake::FakeScreens screens;
    fake::FakePasteboard pasteboard;
    fake::FakeProcessRunner runner;
    fake::FakeProcessInspector inspector;
    linux_backend::PosixFileReader fileReader;
    fake::FakePanelWindowFactory windows;
    fake::FakePanelWindow* window = nullptr;
    NotificationCenter notifications;
    NavigationState navigation;
    std::unique_ptr<LauncherPanel> panel;
    std::shared_ptr<log::MemorySink> logSink = std::make_shared<log::MemorySink>();
};

TEST_F(LauncherPanelTest, ShowingAnnouncesItselfToTheViewWithoutALogPrefix) {
    EXPECT_EQ(window->contentSize, (platform::Size{640, 400}));
    EXPECT_EQ(window->origin, (platform::Point{640, 600}));
    panel->contentView().setQuery("maps");
    navigation.setMaxIndex(5);
    navigation.setSelectedIndex(3);
    panel->show();
    EXPECT_EQ(navigation.selectedIndex(), 0) << "the view heard launcherWillShow";
    EXPECT_EQ(lines(), (std::vector<std::string>{"Accessibility trusted=1", "remember: Text Editor pid=100",
                                                 "show: nonactivating key window"}));
    EXPECT_FALSE(panel->onCommandK);
    EXPECT_FALSE(panel->onMenuKey);
}

TEST_F(LauncherPanelTest, ChoosingAnApplicationDismissesWithoutRestoringFocus) {
    window->keyWithoutActivation = false;
    panel->show();
    choose("maps", AppItem::Kind::app);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(workspace.calls().back(), "open /usr/share/applications/maps.desktop");
    scheduler.advance(Seconds(1));
    EXPECT_FALSE(logged("fallback restore activate Text Editor")) << "the chosen application takes the focus";
}

TEST_F(LauncherPanelTest, WindowCommandSnapsTheApplicationThatWasInFront) {
    window->keyWithoutActivation = false;
    panel->show();
    choose("left half", AppItem::Kind::leftHalf);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_TRUE(logged("windowSnap: no eligible window for Text Editor"));
    EXPECT_EQ(panel->contentView().query(), "");
    scheduler.runPending();
    EXPECT_TRUE(logged("fallback restore activate Text Editor")) << "hidden with focus restoration";

    workspace.frontmostProcess.reset();
    panel->show();
    choose("maximize", AppItem::Kind::maximize);
    EXPECT_TRUE(logged("windowSnap: no prior app"));
}

}  // namespace
}  // namespace quenlit
