// Whole flows of the program on the in-memory desktop with the virtual clock: what a person does,
// and what they would find on the clipboard, in the windows and in the log.

#include "shell/AppDelegate.h"

#include "backends/fake/FakeAtomicFile.h"
#include "backends/fake/FakeHotKeys.h"
#include "backends/fake/FakeImageCodec.h"
#include "backends/fake/FakeInput.h"
#include "backends/fake/FakePanelWindow.h"
#include "backends/fake/FakePasteboard.h"
#include "backends/fake/FakeProcesses.h"
#include "backends/fake/FakeScreens.h"
#include "backends/fake/FakeSecretStore.h"
#include "backends/fake/FakeWindowControl.h"
#include "backends/fake/FakeWorkspace.h"
#include "backends/fake/VirtualScheduler.h"
#include "backends/linux/PosixFileReader.h"
#include "clipboard/ClipboardPanel.h"
#include "panel/FocusRestorer.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quenlit {
namespace {

using platform::Seconds;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace key = platform::keysym;
constexpr std::uint32_t kReturn = key::returnKey, kEscape = key::escape, kDown = key::down, kK = 'k',
                        kSpace = key::space;
constexpr platform::Modifiers kControl{.control = true};
constexpr platform::Modifiers kSuper{.super = true};

class UserStoriesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        FocusRestorer::resetFlagsForTesting();
        HotKeyManager::resetForTesting();
        log::installSinks({logSink});
        terminal = app("org.gnome.Terminal", "Terminal");
        editor = app("org.gnome.TextEditor", "Text Editor");
        workspace.running = {{101, "org.gnome.Terminal", terminal.path, "Terminal"}};
        workspace.identifiersByPath = {{terminal.path, terminal.identifier},
                                       {editor.path, editor.identifier}};
        workspace.activateFromOutside(101);
        windowControl.addWindow(101, 7, {100, 100, 800, 600});
        // One 1440 × 900 screen whose top 25 points belong to a panel.
        screens.list = {{{0, 0, 1440, 900}, {0, 0, 1440, 875}}};

        AppDelegate::Configuration configuration;
        configuration.clipboardOptions.appDataDir = dir / "data";
        configuration.bindings.bindingsFile = dir / "config/bindings.toml";
        configuration.home = dir.path();
        configuration.quit = [this] { quitRequested = true; };
        configuration.wallClock = [] {
            return std::chrono::system_clock::time_point{} + std::chrono::hours(500000);
        };
        delegate = std::make_unique<AppDelegate>(AppDelegate::Platform{.scheduler = scheduler,
                                                                       .workspace = workspace,
                                                                       .windowControl = windowControl,
                                                                       .screens = screens,
                                                                       .input = input,
                                                                       .keyboard = &keyboard,
                                                                       .hotKeys = hotKeys,
                                                                       .pasteboard = pasteboard,
                                                                       .windows = windows,
                                                                       .imageCodec = imageCodec,
                                                                       .secretStore = secrets,
                                                                       .files = files,
                                                                       .processes = processes,
                                                                       .processInspector = inspector,
                                                                       .fileReader = fileReader},
                                                 std::move(configuration));
    }
    void TearDown() override {
        delegate.reset();
        log::installSinks({});
    }

    platform::InstalledApplication app(const std::string& id, const std::string& name) {
        const auto path = dir / ("share/applications/" + id + ".desktop");
        testing::writeFile(path, "[Desktop Entry]\n");
        platform::InstalledApplication entry{id, path.string(), name, id, "", ""};
        workspace.installed.push_back(entry);
        return entry;
    }

    void launch() {
        delegate->applicationDidFinishLaunching();
        scheduler.advance(Seconds(0.1));
    }
    fake::FakePanelWindow& launcherWindow() { return *windows.created.at(0); }
    fake::FakePanelWindow& clipboardWindow() { return *windows.created.at(1); }
    void type(const std::string& text) { delegate->panel()->contentView().setQuery(text); }
    void pressHotKey(std::uint32_t keysym) {
        hotKeys.press(keysym, kSuper);
        scheduler.runPending();
    }
    std::vector<std::string> logged() const {
        std::vector<std::string> out;
        for (const auto& line : logSink->lines())
            out.push_back(line.substr(log::kPrefix.size()));
        return out;
    }
    std::vector<std::string> loggedSince(std::size_t first) const {
        auto all = logged();
        return {all.begin() + static_cast<std::ptrdiff_t>(std::min(first, all.size())), all.end()};
    }

    testing::TempDir dir;
    fake::VirtualScheduler scheduler;
    fake::FakeWorkspace workspace;
    fake::FakeWindowControl windowControl;
    fake::FakeScreens screens;
    fake::FakeInputSynthesizer input;
    fake::FakeKeyboardEvents keyboard;
    fake::FakeHotKeys hotKeys;
    fake::FakePasteboard pasteboard;
    fake::FakeImageCodec imageCodec;
    fake::FakeSecretStore secrets;
    fake::FakeAtomicFile files;
    fake::FakeProcessRunner processes;
    fake::FakeProcessInspector inspector;
    fake::FakePanelWindowFactory windows;
    linux_backend::PosixFileReader fileReader;
    std::shared_ptr<log::MemorySink> logSink = std::make_shared<log::MemorySink>();
    platform::InstalledApplication terminal;
    platform::InstalledApplication editor;
    bool quitRequested = false;
    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(UserStoriesTest, HotkeyTypeAndReturnStartsAnApplicationWithoutStealingActivation) {
    launch();
    ASSERT_TRUE(launcherWindow().isVisible()) << "the launcher shows once at start-up";
    EXPECT_THAT(logged(), Contains("show: nonactivating key window"));
    EXPECT_FALSE(launcherWindow().programActive);
    launcherWindow().pressKey(kEscape);
    ASSERT_FALSE(launcherWindow().isVisible());

    const std::size_t mark = logged().size();
    pressHotKey(kSpace);
    ASSERT_TRUE(launcherWindow().isVisible());
    type("text ed");
    launcherWindow().pressKey(kReturn);
    scheduler.advance(Seconds(0.1));
    EXPECT_FALSE(launcherWindow().isVisible());
    EXPECT_THAT(workspace.calls(), Contains("open " + editor.path));
    EXPECT_THAT(loggedSince(mark),
                ElementsAre("remember: Terminal pid=101", "show: nonactivating key window",
                            "activateOrLaunch path=" + editor.path + " bundleID=org.gnome.TextEditor",
                            "no running instance — falling back to NSWorkspace.open"));
    EXPECT_EQ(delegate->panel()->contentView().query(), "") << "the query is cleared after choosing";
}

TEST_F(UserStoriesTest, ChoosingARunningApplicationActivatesIt) {
    workspace.running.push_back({202, "org.gnome.TextEditor", editor.path, "Text Editor"});
    launch();
    type("text");
    launcherWindow().pressKey(kReturn);
    EXPECT_THAT(workspace.calls(), Contains("activate 202 allWindows=true"));
    EXPECT_THAT(logged(), Contains("restore Text Editor pid=202 hidden=false active=false"));
}

TEST_F(UserStoriesTest, CalculationIsCopiedAndThePanelHidden) {
    launch();
    type("2+3");
    ASSERT_EQ(delegate->panel()->contentView().rows().at(0).name, "5");
    launcherWindow().pressKey(kReturn);
    EXPECT_EQ(pasteboard.string(platform::pasteboardType::string), "5");
    EXPECT_THAT(pasteboard.types(), ElementsAre(std::string(platform::pasteboardType::string)))
        << "no internal marker: the history records the answer";
    EXPECT_FALSE(launcherWindow().isVisible());
}

TEST_F(UserStoriesTest, LeftHalfSnapsThePreviouslyActiveApplication) {
    launch();
    type("left half");
    launcherWindow().pressKey(kReturn);
    EXPECT_FALSE(launcherWindow().isVisible());
    EXPECT_THAT(logged(),
                Contains("windowSnap: left app=Terminal target=(0.0, 25.0, 720.0, 875.0) canResize=true "
                         "resizes=true"));
    EXPECT_EQ(windowControl.info({101, 7}).frame, (platform::Rect{0, 25, 720, 875}));
}

TEST_F(UserStoriesTest, ClipboardEntryIsFilteredPastedWithTheMarkerAndCommandVFollows) {
    launch();
    pasteboard.copyText("hello world");
    scheduler.advance(Seconds(2.1));
    pasteboard.copyText("another text");
    scheduler.advance(Seconds(2.1));
    ASSERT_EQ(delegate->clipboardStore().items().size(), 2u);

    const std::size_t mark = logged().size();
    pressHotKey(kEscape);
    ASSERT_TRUE(clipboardWindow().isVisible());
    EXPECT_FALSE(launcherWindow().isVisible()) << "one panel at a time";
    auto& view = delegate->clipboardPanel()->clipboardView();
    view.viewDidAppear();
    view.setQuery("hello");
    clipboardWindow().pressKey(kReturn);
    EXPECT_FALSE(clipboardWindow().isVisible());
    EXPECT_EQ(pasteboard.string(platform::pasteboardType::string), "hello world");
    EXPECT_THAT(pasteboard.types(), Contains(std::string(ClipboardCapture::internalType)));
    EXPECT_TRUE(input.posted.empty()) << "the keystroke waits for the application to be in front";
    scheduler.advance(Seconds(0.149));
    EXPECT_TRUE(input.posted.empty());
    scheduler.advance(Seconds(0.002));
    EXPECT_THAT(input.posted, ElementsAre("keyDown Control+v marker=0", "keyUp Control+v marker=0"));
    const auto lines = loggedSince(mark);
    EXPECT_THAT(lines, Contains("clipboard: ⌘Esc toggle → show"));
    EXPECT_THAT(lines, Contains("clipboard: paste selected kind=text len=11"));
    EXPECT_THAT(lines,
                Contains("clipboard hideForPaste: activation intact — skip restore, paste target Terminal"));
    EXPECT_THAT(lines, Contains("clipboard: posted ⌘V (frontmost=Terminal, ax=1)"));
    EXPECT_EQ(delegate->clipboardStore().items().front().text(), "hello world") << "promoted to the top";
    scheduler.advance(Seconds(2.1));
    EXPECT_EQ(delegate->clipboardStore().items().size(), 2u) << "our own write is not recorded again";
}

TEST_F(UserStoriesTest, DeleteAllAsksForConfirmationFromTheActionsMenu) {
    launch();
    pasteboard.copyText("secret-ish");
    scheduler.advance(Seconds(2.1));
    pressHotKey(kEscape);
    delegate->clipboardPanel()->clipboardView().viewDidAppear();
    clipboardWindow().pressKey(kK, kControl);
    for (int i = 0; i < 3; ++i)
        clipboardWindow().pressKey(kDown);
    clipboardWindow().pressKey(kReturn);
    EXPECT_EQ(delegate->clipboardStore().items().size(), 1u) << "the first Return only asks";
    clipboardWindow().pressKey(kSpace);  // any other key does nothing while the question is up
    clipboardWindow().pressKey(kReturn);
    EXPECT_TRUE(delegate->clipboardStore().items().empty());
    EXPECT_THAT(logged(), Contains("clipboard: removed all items"));
    EXPECT_TRUE(clipboardWindow().isVisible());
}

TEST_F(UserStoriesTest, EscapeRestoresFocusOnlyAfterActivationWasStolen) {
    launch();
    launcherWindow().pressKey(kEscape);
    scheduler.advance(Seconds(1));
    EXPECT_THAT(logged(), ::testing::Not(Contains(HasSubstr("fallback restore activate"))));

    launcherWindow().keyWithoutActivation = false;  // another program holds the keyboard
    pressHotKey(kSpace);
    EXPECT_THAT(logged(), Contains("show: fallback NSApp.activate"));
    workspace.clearCalls();
    launcherWindow().pressKey(kEscape);
    scheduler.advance(Seconds(1));
    EXPECT_THAT(logged(), Contains("fallback restore activate Terminal"));
    EXPECT_THAT(workspace.calls(), Contains("activate 101 allWindows=false"));
}

TEST_F(UserStoriesTest, LauncherKeysMoveTheSelectionByRowsAndPages) {
    for (int i = 0; i < 12; ++i)
        app("org.example.Tool" + std::to_string(i), "Tool " + std::to_string(i));
    launch();
    LauncherPanel& panel = *delegate->panel();
    panel.navigationState().setPageSize(5);  // as the list view reports its height
    type("tool");
    ASSERT_EQ(panel.contentView().rows().size(), 12u);
    struct Key {
        std::uint32_t keysym;
        platform::Modifiers modifiers = {};
    };
    const Key pageDown{key::pageDown}, pageUp{key::pageUp}, down{kDown}, tab{key::tab};
    const Key controlN{'n', kControl}, controlP{'p', kControl};
    struct Case {
        const char* label;
        std::vector<Key> keys;
        std::int64_t selected;
    };
    const Case cases[] = {
        {"Page Down moves by a page", {pageDown}, 5},
        {"and stops at the last row", {pageDown, pageDown, pageDown}, 11},
        {"Page Up comes back by a page", {pageDown, pageDown, pageUp}, 5},
        {"and stops at the first row", {down, down, pageUp}, 0},
        {"Control-N moves down like Down", {controlN, controlN}, 2},
        {"Control-P moves up like Up", {controlN, controlN, controlN, controlP}, 2},
        {"Super-N moves down too", {{'n', kSuper}}, 1},
        {"Tab moves nothing", {tab, down}, 1},
    };
    for (const auto& c : cases) {
        panel.navigationState().sync(12);
        for (const Key& k : c.keys)
            EXPECT_TRUE(launcherWindow().pressKey(k.keysym, k.modifiers))
                << c.label << ": the panel takes the key";
        EXPECT_EQ(panel.navigationState().selectedIndex(), c.selected) << c.label;
    }
}

TEST_F(UserStoriesTest, QuitEndsTheProgramAndTerminationStopsTheMonitors) {
    launch();
    type("quit");
    launcherWindow().pressKey(kReturn);
    EXPECT_TRUE(quitRequested);
    delegate->applicationWillTerminate();
    EXPECT_EQ(keyboard.tapCount(), 0u);
    EXPECT_THAT(logged(), Contains("textexpander: stop"));
}

// Quitting while the catalogue is still being read: the scan's background task outlives the
// delegate and must touch nothing of it (the sanitizer build catches any use after free).
TEST_F(UserStoriesTest, QuittingWhileTheCatalogueIsReadLeavesTheScanNothingThatIsGone) {
    delegate->applicationDidFinishLaunching();  // showing the launcher starts a scan
    ASSERT_GT(scheduler.pendingBackgroundCount(), 0u);
    delegate->applicationWillTerminate();
    delegate.reset();
    scheduler.advance(Seconds(1));
    EXPECT_EQ(scheduler.pendingBackgroundCount(), 0u) << "the scan ran to its end";
}

}  // namespace
}  // namespace quenlit
