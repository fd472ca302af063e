#include "panel/FloatingPanel.h"

#include "backends/fake/FakeInput.h"
#include "backends/fake/FakePanelWindow.h"
#include "backends/fake/FakeScreens.h"
#include "backends/fake/FakeWindowControl.h"
#include "backends/fake/FakeWorkspace.h"
#include "backends/fake/VirtualScheduler.h"
#include "base/Log.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace quenlit {
namespace {

using platform::Seconds;
namespace key = platform::keysym;
using M = platform::Modifiers;
constexpr M kControl{.control = true};

constexpr int kOwnPid = 4242;
constexpr int kEditorPid = 100;
constexpr int kTerminalPid = 200;

platform::RunningApplication app(int pid, const std::string& identifier, std::string name) {
    platform::RunningApplication a;
    a.processIdentifier = pid;
    a.bundleIdentifier = identifier;
    a.bundlePath = "/usr/share/applications/" + identifier + ".desktop";
    a.localizedName = std::move(name);
    return a;
}

// A window that, like a real desktop, reports the loss of the keyboard while it is still being
// ordered out, so that hide is entered again from inside itself.
class ReentrantWindow final : public platform::PanelWindow {
  public:
    int orderOutCount = 0;
    void setContentSize(platform::Size) override {}
    void setFrameOrigin(platform::Point) override {}
    void orderFrontRegardless() override { visible_ = true; }
    void makeKey() override { key_ = visible_; }
    bool isKeyWindow() override { return key_; }
    bool isVisible() override { return visible_; }
    void orderOut() override {
        ++orderOutCount;
        if (key_) {
            key_ = false;
            didResignKey.emit();
        }
        visible_ = false;
    }
    void activateApplication() override {}
    std::optional<platform::EventType> currentEventType() override { return std::nullopt; }

  private:
    bool visible_ = false;
    bool key_ = false;
};

// Records which hide ran, to show that the key dispatch and the loss of the keyboard reach a
// subclass's hide.
class RecordingPanel final : public FloatingPanel {
  public:
    using FloatingPanel::FloatingPanel;
    std::vector<bool> hides;
    void hide(bool restoreFocus) override {
        hides.push_back(restoreFocus);
        FloatingPanel::hide(restoreFocus);
    }
};

class FloatingPanelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        log::installSinks({logSink});
        FocusRestorer::resetFlagsForTesting();
        workspace.ownProcess = kOwnPid;
        workspace.running = {app(kOwnPid, "quenlit", "Quenlit"),
                             app(kEditorPid, "org.gnome.TextEditor", "Text Editor"),
                             app(kTerminalPid, "org.gnome.Terminal", "Terminal")};
        workspace.frontmostProcess = kEditorPid;
        screens.list = {{{0, 0, 1920, 1080}, {0, 0, 1920, 1048}}};
    }
    void TearDown() override { log::installSinks({}); }

    FloatingPanel::Services services() {
        return {{windowControl, workspace, scheduler, screens}, notifications};
    }
    std::unique_ptr<RecordingPanel> makePanel(std::string prefix = "") {
        auto panel = std::make_unique<RecordingPanel>(
            platform::Size{640, 400}, Notification::launcherWillShow, std::move(prefix), windows, services());
        window = windows.created.back();
        return panel;
    }
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (const auto& line : logSink->lines())
            out.push_back(line.substr(log::kPrefix.size()));
        return out;
    }
    std::size_t count(const std::string& line) const {
        auto all = lines();
        return static_cast<std::size_t>(std::count(all.begin(), all.end(), line));
    }
    std::vector<std::string> activations() const {
        std::vector<std::string> out;
        for (const auto& call : workspace.calls()) {
            if (call.rfind("activate ", 0) == 0) out.push_back(call);
        }
        return out;
    }

    fake::VirtualScheduler scheduler;
    fake::FakeWorkspace workspace;
    fake::FakeWindowControl windowControl;
    fake::FakeInputSynthesizer input;
    fake::FakeScreens screens;
    fake::FakePanelWindowFactory windows;
    fake::FakePanelWindow* window = nullptr;
    NotificationCenter notifications;
    std::shared_ptr<log::MemorySink> logSink = std::make_shared<log::MemorySink>();
};

struct PlacementCase {
    const char* name;
    std::vector<platform::Screen> screens;
    std::optional<std::size_t> active;
    platform::Size size;
    platform::Point origin;  // in the screens' units
};

class PanelPlacement : public FloatingPanelTest, public ::testing::WithParamInterface<PlacementCase> {};

TEST_P(PanelPlacement, OpensCentredOnTheMonitorTheUserIsAtWhateverItsScale) {
    const PlacementCase& c = GetParam();
    screens.list = c.screens;
    screens.activeIndex = c.active;
    auto panel =
        std::make_unique<FloatingPanel>(c.size, Notification::launcherWillShow, "", windows, services());
    window = windows.created.back();
    panel->show();
    EXPECT_EQ(window->origin, c.origin) << c.name;
    // The whole panel, in the screens' units, lies on the monitor it was placed on.
    const platform::Screen& on = c.active ? c.screens[*c.active] : c.screens[0];
    const double s = on.scale;
    EXPECT_GE(window->origin.x, on.frame.minX()) << c.name;
    EXPECT_LE(window->origin.x + c.size.width * s, on.frame.maxX()) << c.name;
    EXPECT_GE(window->origin.y, on.frame.minY()) << c.name;
    EXPECT_LE(window->origin.y + c.size.height * s, on.frame.maxY()) << c.name;
    // Centred: as much of the usable area on either side.
    EXPECT_DOUBLE_EQ(window->origin.x - on.visibleFrame.minX(),
                     on.visibleFrame.maxX() - (window->origin.x + c.size.width * s))
        << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Screens, PanelPlacement,
    ::testing::Values(
        PlacementCase{"one monitor at scale 1",
                      {{{0, 0, 1440, 900}, {0, 0, 1440, 900}, 1}},
                      std::nullopt,
                      {640, 400},
                      {400, 420}},
        // 2880 x 1800 device pixels drawn at twice the size: a 1280 x 800 panel, 160 below the top.
        PlacementCase{"2880x1800 at scale 2, launcher",
                      {{{0, 0, 2880, 1800}, {0, 0, 2880, 1800}, 2}},
                      std::nullopt,
                      {640, 400},
                      {800, 840}},
        PlacementCase{"2880x1800 at scale 2, clipboard",
                      {{{0, 0, 2880, 1800}, {0, 0, 2880, 1800}, 2}},
                      std::nullopt,
                      {680, 420},
                      {760, 800}},
        PlacementCase{"scale 1.25",
                      {{{0, 0, 2400, 1500}, {0, 0, 2400, 1500}, 1.25}},
                      std::nullopt,
                      {640, 400},
                      {800, 900}},
        PlacementCase{"scale 1.5",
                      {{{0, 0, 2400, 1500}, {0, 0, 2400, 1500}, 1.5}},
                      std::nullopt,
                      {640, 400},
                      {720, 780}},
        PlacementCase{
            "the right one of two monitors",
            {{{0, 0, 1280, 900}, {0, 0, 1280, 900}, 1}, {{1280, 0, 1280, 900}, {1280, 0, 1280, 900}, 1}},
            1,
            {640, 400},
            {1600, 420}},
        PlacementCase{"the left one of two, at the primary's right",
                      {{{0, 0, 1280, 900}, {0, 0, 1280, 900}, 1},
                       {{-1920, -180, 1920, 1080}, {-1920, -180, 1920, 1050}, 1}},
                      1,
                      {640, 400},
                      {-1280, 390}},
        PlacementCase{
            "mixed scales: the scale-2 monitor beside a scale-1 primary",
            {{{0, 0, 1920, 1080}, {0, 0, 1920, 1080}, 1}, {{1920, 0, 3840, 2160}, {1920, 0, 3840, 2160}, 2}},
            1,
            {640, 400},
            {3200, 1200}},
        PlacementCase{"a panel along the top of the usable area",
                      {{{0, 0, 1440, 900}, {0, 0, 1440, 868}, 2}},
                      std::nullopt,
                      {300, 200},
                      {420, 308}}));

TEST_F(FloatingPanelTest, FollowsTheMonitorsAsTheyChangeWhileTheProgramRuns) {
    screens.list = {{{0, 0, 1280, 900}, {0, 0, 1280, 900}, 1},
                    {{1280, 0, 1280, 900}, {1280, 0, 1280, 900}, 1}};
    screens.activeIndex = 1;
    auto panel = makePanel();
    panel->show();
    EXPECT_EQ(window->origin, (platform::Point{1600, 420})) << "on the monitor of the focused window";
    panel->hide(false);

    // The focus moved to a window on the left monitor.
    screens.activeIndex = 0;
    panel->show();
    EXPECT_EQ(window->origin, (platform::Point{320, 420}));
    panel->hide(false);

    // The two monitors became one 2560 wide.
    screens.list = {{{0, 0, 2560, 900}, {0, 0, 2560, 900}, 1}};
    screens.activeIndex.reset();
    panel->show();
    EXPECT_EQ(window->origin, (platform::Point{960, 420})) << "no stale monitor list";
    panel->hide(false);

    // Now drawn at twice the size.
    screens.list = {{{0, 0, 2880, 1800}, {0, 0, 2880, 1800}, 2}};
    panel->show();
    EXPECT_EQ(window->origin, (platform::Point{800, 840}));
}

TEST_F(FloatingPanelTest, IsCentredEightyPointsBelowTheTopOfTheUsableArea) {
    screens.list = {{{0, 0, 2560, 1440}, {0, 0, 2560, 1410}},
                    {{-1920, 0, 1920, 1080}, {-1920, 0, 1920, 1080}}};
    auto panel = makePanel();
    EXPECT_EQ(window->origin, (platform::Point{960, 930}));
    EXPECT_EQ(window->contentSize, (platform::Size{640, 400}));

    screens.list[0].visibleFrame = {100, 50, 1000, 700};
    auto second = makePanel();
    EXPECT_EQ(window->origin, (platform::Point{280, 270}));

    screens.mainIndex.reset();
    auto third = makePanel();
    EXPECT_EQ(window->origin, (platform::Point{0, 0})) << "no main screen: the origin is left alone";
}

struct KeyCase {
    const char* label;
    std::uint32_t keysym;
    M modifiers;
    bool consumed;
    const char* callback;  // "" when no callback runs
    std::uint32_t keycode = 0;
};

TEST_F(FloatingPanelTest, KeyDispatch) {
    constexpr std::uint32_t cyrillicEl = 0x6cc, cyrillicZe = 0x6da, cyrillicTe = 0x6d4;
    const KeyCase cases[] = {
        {"Up", key::up, {}, true, "up"},
        {"Shift-Up still moves", key::up, {.shift = true}, true, "up"},
        {"Control-Up is passed on", key::up, kControl, false, ""},
        {"Alt-Down is passed on", key::down, {.alt = true}, false, ""},
        {"Down", key::down, {}, true, "down"},
        {"Return", key::returnKey, {}, true, "enter"},
        {"keypad Enter", key::keypadEnter, {}, true, "enter"},
        {"Super-Return is passed on", key::returnKey, {.super = true}, false, ""},
        {"left Control-Return is passed on",
         key::returnKey,
         {.control = true, .leftControl = true},
         false,
         ""},
        {"Control-K", 'k', kControl, true, "commandK"},
        {"Control-K, the right Control key", 'k', {.control = true, .rightControl = true}, true, "commandK"},
        {"Control-K on a Russian layout: the key labelled K", cyrillicEl, kControl, true, "commandK", 45},
        {"Control-K on a Dvorak layout: the key printing k", 'k', kControl, true, "commandK", 55},
        {"Control-Shift-K is passed on", 'K', {.shift = true, .control = true}, false, ""},
        {"Super-K is passed on", 'k', {.super = true}, false, ""},
        {"plain K reaches the field", 'k', {}, false, ""},
        {"a letter reaches the field", 'A', {.shift = true}, false, ""},
        {"Control-N moves down", 'n', kControl, true, "down"},
        {"Control-P moves up", 'p', kControl, true, "up"},
        {"Control-N on a Russian layout", cyrillicTe, kControl, true, "down", 57},
        {"Control-P on a Russian layout", cyrillicZe, kControl, true, "up", 33},
        {"Super-N moves down too", 'n', {.super = true}, true, "down"},
        {"Super-P moves up too", 'p', {.super = true}, true, "up"},
        {"Control-Shift-N is passed on", 'N', {.shift = true, .control = true}, false, ""},
        {"Control-Alt-P is passed on", 'p', {.control = true, .alt = true}, false, ""},
        {"plain N reaches the field", 'n', {}, false, ""},
        {"Page Down", key::pageDown, {}, true, "pageDown"},
        {"Page Up", key::pageUp, {}, true, "pageUp"},
        {"Control-Page Down is passed on", key::pageDown, kControl, false, ""},
        {"Tab does nothing, the field keeps the keyboard", key::tab, {}, true, ""},
        {"Shift-Tab does nothing either", key::isoLeftTab, {.shift = true}, true, ""},
        {"Escape swapped onto Caps Lock hides", key::escape, {}, true, "", 66},
    };
    auto panel = makePanel();
    std::vector<std::string> called;
    panel->onArrowUp = [&] { called.push_back("up"); };
    panel->onArrowDown = [&] { called.push_back("down"); };
    panel->onEnter = [&] { called.push_back("enter"); };
    panel->onCommandK = [&] { called.push_back("commandK"); };
    panel->onPageUp = [&] { called.push_back("pageUp"); };
    panel->onPageDown = [&] { called.push_back("pageDown"); };
    for (const auto& c : cases) {
        called.clear();
        EXPECT_EQ(window->pressKey(c.keysym, c.modifiers, c.keycode), c.consumed) << c.label;
        const std::vector<std::string> expected = std::string(c.callback).empty()
                                                      ? std::vector<std::string>{}
                                                      : std::vector<std::string>{c.callback};
        EXPECT_EQ(called, expected) << c.label;
    }
    platform::InputEvent keyUp;
    keyUp.type = platform::EventType::keyUp;
    keyUp.keysym = key::up;
    EXPECT_FALSE(panel->sendEvent(keyUp));
    EXPECT_TRUE(called.empty());
}

TEST_F(FloatingPanelTest, UnsetCallbacksStillSwallowTheirKeys) {
    auto panel = makePanel();
    EXPECT_TRUE(window->pressKey(key::returnKey));
    EXPECT_TRUE(window->pressKey(key::down));
    EXPECT_TRUE(window->pressKey('k', kControl));
    EXPECT_TRUE(window->pressKey(key::pageDown));
    EXPECT_TRUE(window->pressKey('n', kControl));
}

TEST_F(FloatingPanelTest, MenuKeyHasFirstRefusalOnUnmodifiedKeysOnly) {
    auto panel = makePanel();
    std::vector<std::uint32_t> offered;
    int downs = 0;
    panel->onArrowDown = [&] { ++downs; };
    panel->onMenuKey = [&](std::uint32_t keysym) {
        offered.push_back(keysym);
        return keysym == key::down || keysym == 'd';
    };
    EXPECT_TRUE(window->pressKey(key::down));
    EXPECT_EQ(downs, 0) << "the menu took the Down arrow";
    EXPECT_TRUE(window->pressKey('d'));
    EXPECT_TRUE(window->pressKey(key::up));  // refused: the Up arrow's own (unset) callback swallows it
    EXPECT_FALSE(window->pressKey('h'));     // refused and not a panel key
    EXPECT_FALSE(window->pressKey('d', kControl));
    EXPECT_TRUE(window->pressKey('n', kControl));  // Control-N is the Down arrow, for the menu too
    EXPECT_EQ(downs, 0);
    EXPECT_EQ(offered, (std::vector<std::uint32_t>{key::down, 'd', key::up, 'h', key::down}));
}

TEST_F(FloatingPanelTest, NonActivatingShowRemembersTheFrontApplicationAndKeepsItActive) {
    auto panel = makePanel();
    std::vector<bool> visibleWhenAnnounced;
    Connection c = notifications.observe(Notification::launcherWillShow,
                                         [&] { visibleWhenAnnounced.push_back(window->isVisible()); });
    int afterKey = 0;
    panel->show([&] { ++afterKey; });
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(window->isKeyWindow());
    EXPECT_FALSE(window->programActive);
    EXPECT_EQ(visibleWhenAnnounced, std::vector<bool>{false})
        << "the view hears of it before the window shows";
    EXPECT_EQ(afterKey, 1);
    EXPECT_EQ(window->calls, (std::vector<std::string>{"orderFront", "makeKey"}));
    EXPECT_FALSE(panel->didStealActivation());
    EXPECT_EQ(panel->previousAppPID(), kEditorPid);
    EXPECT_EQ(lines(), (std::vector<std::string>{"Accessibility trusted=1", "remember: Text Editor pid=100",
                                                 "show: nonactivating key window"}));

    EXPECT_TRUE(window->pressKey(key::escape));
    EXPECT_EQ(panel->hides, std::vector<bool>{true});
    EXPECT_FALSE(panel->isVisible());
    scheduler.advance(Seconds(1));
    EXPECT_TRUE(activations().empty()) << "the editor never lost activation";
    EXPECT_EQ(count("fallback restore activate Text Editor"), 0u);
}

TEST_F(FloatingPanelTest, FallbackShowActivatesTheProgramAndEscapeGivesTheFocusBackAfterwards) {
    auto panel = makePanel("clipboard ");
    window->keyWithoutActivation = false;
    int afterKey = 0;
    panel->show([&] { ++afterKey; });
    EXPECT_TRUE(window->isKeyWindow());
    EXPECT_TRUE(panel->didStealActivation());
    EXPECT_EQ(afterKey, 2);
    EXPECT_EQ(window->calls, (std::vector<std::string>{"orderFront", "makeKey", "activateApplication",
                                                       "makeKey", "orderFront"}));
    EXPECT_EQ(lines(),
              (std::vector<std::string>{"Accessibility trusted=1", "clipboard remember: Text Editor pid=100",
                                        "clipboard show: fallback NSApp.activate"}));

    EXPECT_TRUE(window->pressKey(key::escape));
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(panel->previouslyActiveApp());
    EXPECT_FALSE(panel->didStealActivation());
    EXPECT_TRUE(activations().empty()) << "restoration waits until the hide has finished";
    scheduler.runPending();
    EXPECT_EQ(activations(), std::vector<std::string>{"activate 100 allWindows=false"});
    EXPECT_EQ(count("fallback restore activate Text Editor"), 1u);
}

TEST_F(FloatingPanelTest, SecondHideFindsNothingToRestore) {
    auto panel = makePanel();
    window->keyWithoutActivation = false;
    panel->show();
    panel->hide(true);
    const std::size_t scheduled = scheduler.pendingMainCount();
    panel->hide(true);
    EXPECT_EQ(scheduler.pendingMainCount(), scheduled);
    scheduler.advance(Seconds(1));
    EXPECT_EQ(count("fallback restore activate Text Editor"), 1u);
}

TEST_F(FloatingPanelTest, HideWithoutRestoreOrForAQuitApplicationRestoresNothing) {
    auto panel = makePanel();
    window->keyWithoutActivation = false;
    panel->show();
    panel->hide(false);
    panel->show();
    workspace.running.erase(workspace.running.begin() + 1);  // the editor quits while the panel is open
    panel->hide(true);
    scheduler.advance(Seconds(1));
    EXPECT_TRUE(activations().empty());
}

TEST_F(FloatingPanelTest, LosingTheKeyboardHidesWithoutRestoringFocus) {
    auto panel = makePanel();
    window->keyWithoutActivation = false;
    panel->show();
    window->loseKey();
    EXPECT_EQ(panel->hides, std::vector<bool>{false});
    EXPECT_FALSE(panel->isVisible());
    scheduler.advance(Seconds(1));
    EXPECT_TRUE(activations().empty()) << "the click went to an application that has the focus already";
}

TEST_F(FloatingPanelTest, HideIsNotReenteredWhenOrderingOutTakesTheKeyboard) {
    auto owned = std::make_unique<ReentrantWindow>();
    ReentrantWindow* reentrant = owned.get();
    RecordingPanel panel({640, 400}, Notification::launcherWillShow, "", std::move(owned), services());
    panel.show();
    panel.hide(true);
    EXPECT_EQ(reentrant->orderOutCount, 1);
    EXPECT_EQ(panel.hides, (std::vector<bool>{true, false})) << "the inner hide returns at once";
    EXPECT_FALSE(panel.isVisible());
}

TEST_F(FloatingPanelTest, NoPriorAppWhenThisProgramOrNothingIsInFront) {
    workspace.frontmostProcess = kOwnPid;
    auto panel = makePanel();
    window->keyWithoutActivation = false;
    panel->show();
    EXPECT_EQ(count("remember: no prior app (front=Quenlit)"), 1u);
    EXPECT_FALSE(panel->previousAppPID());
    EXPECT_FALSE(panel->previouslyActiveApp())
        << "the fallback does not take this program as the one to return to";
    panel->hide(true);
    scheduler.advance(Seconds(1));
    EXPECT_TRUE(activations().empty());
    EXPECT_EQ(count("fallback restore activate Quenlit"), 0u);

    workspace.frontmostProcess.reset();
    panel->show();
    EXPECT_EQ(count("remember: no prior app (front=nil)"), 1u);
}

TEST_F(FloatingPanelTest, HideForPasteAfterANonActivatingShowLeavesActivationAlone) {
    auto panel = makePanel("clipboard ");
    panel->show();
    auto target = panel->hideForPaste();
    ASSERT_TRUE(target);
    EXPECT_EQ(target->processIdentifier, kEditorPid);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(lines().back(),
              "clipboard hideForPaste: activation intact — skip restore, paste target Text Editor");
    EXPECT_TRUE(activations().empty());
}

TEST_F(FloatingPanelTest, HideForPasteAfterStealingActivationActivatesTheTargetAtOnce) {
    auto panel = makePanel("clipboard ");
    window->keyWithoutActivation = false;
    panel->show();
    auto target = panel->hideForPaste();
    ASSERT_TRUE(target);
    EXPECT_EQ(target->localizedName, "Text Editor");
    const auto all = lines();
    EXPECT_NE(
        std::find(all.begin(), all.end(), "clipboard hideForPaste: activate Text Editor pid=100 ok=true"),
        all.end());
    EXPECT_EQ(count("fallback restore activate Text Editor"), 1u) << "restored directly, not deferred";
    EXPECT_FALSE(panel->didStealActivation());
    EXPECT_FALSE(panel->previousAppPID());
}

TEST_F(FloatingPanelTest, HideForPasteResolvesTheRememberedProcessIdentifier) {
    auto panel = makePanel();
    panel->show();
    // The editor quit and its process identifier now belongs to another application.
    workspace.running[1] = app(kEditorPid, "org.kde.kate", "Kate");
    auto target = panel->hideForPaste();
    ASSERT_TRUE(target);
    EXPECT_EQ(target->localizedName, "Kate");
    const auto all = lines();
    EXPECT_EQ(
        std::vector<std::string>(all.end() - 2, all.end()),
        (std::vector<std::string>{"hideForPaste: resolved pid=100",
                                  "hideForPaste: activation intact — skip restore, paste target Kate"}));
}

TEST_F(FloatingPanelTest, HideForPasteFallsBackToTheFrontmostApplication) {
    auto panel = makePanel();
    window->keyWithoutActivation = false;
    panel->show();
    workspace.running.erase(workspace.running.begin() + 1);  // the editor quit, its pid is gone
    workspace.frontmostProcess = kTerminalPid;
    auto target = panel->hideForPaste();
    ASSERT_TRUE(target);
    EXPECT_EQ(target->processIdentifier, kTerminalPid);
    const auto all = lines();
    EXPECT_NE(std::find(all.begin(), all.end(), "hideForPaste: fallback frontmost=Terminal"), all.end());
    EXPECT_NE(std::find(all.begin(), all.end(), "hideForPaste: activate Terminal pid=200 ok=true"),
              all.end());
}

TEST_F(FloatingPanelTest, HideForPasteWithNothingToReturnTo) {
    auto panel = makePanel();
    panel->show();
    workspace.running.erase(workspace.running.begin() + 1);
    workspace.frontmostProcess = kOwnPid;
    EXPECT_FALSE(panel->hideForPaste());
    EXPECT_EQ(lines().back(), "hideForPaste: no app to restore");
    EXPECT_FALSE(panel->isVisible());
}

}  // namespace
}  // namespace quenlit
