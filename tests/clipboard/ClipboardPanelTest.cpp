#include "clipboard/ClipboardPanel.h"

#include "backends/fake/FakeAtomicFile.h"
#include "backends/fake/FakeImageCodec.h"
#include "backends/fake/FakeInput.h"
#include "backends/fake/FakePanelWindow.h"
#include "backends/fake/FakePasteboard.h"
#include "backends/fake/FakeScreens.h"
#include "backends/fake/FakeSecretStore.h"
#include "backends/fake/FakeWindowControl.h"
#include "backends/fake/FakeWorkspace.h"
#include "backends/fake/VirtualScheduler.h"
#include "base/Log.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quenlit {
namespace {

using ::testing::ElementsAre;

constexpr int kEditorPid = 100;
constexpr std::uint32_t kK = 'k';
constexpr std::uint32_t kLetterA = 'a';
constexpr std::uint32_t kReturn = platform::keysym::returnKey;
constexpr std::uint32_t kEscape = platform::keysym::escape;
constexpr std::uint32_t kDown = platform::keysym::down;
constexpr platform::Modifiers kControl{.control = true};
constexpr platform::Modifiers kControlShift{.shift = true, .control = true};

class ClipboardPanelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        log::installSinks({sink});
        FocusRestorer::resetFlagsForTesting();
        workspace.ownProcess = 4242;
        platform::RunningApplication editor;
        editor.processIdentifier = kEditorPid;
        editor.bundleIdentifier = "org.gnome.TextEditor";
        editor.localizedName = "Text Editor";
        workspace.running = {editor};
        workspace.frontmostProcess = kEditorPid;
        screens.list = {{{0, 0, 1920, 1080}, {0, 0, 1920, 1080}}};

        ClipboardStore::Options options;
        options.appDataDir = dir / "data";
        options.persistToDisk = false;
        store = std::make_unique<ClipboardStore>(
            ClipboardStore::Services{scheduler, pasteboard, codec, secrets, files}, std::move(options));
        for (const char* text : {"oldest", "middle", "newest"})
            store->capturedText(text);

        panel = std::make_unique<ClipboardPanel>(
            *store, navigation, [this](const ClipboardItem& item) { pasted.push_back(item.text()); }, windows,
            ClipboardPanel::Services{
                {{windowControl, workspace, scheduler, screens}, notifications}, codec, {}, &thumbnails});
        window = windows.created.back();
        // What the application delegate wires.
        panel->onArrowDown = [this] { navigation.moveDown(); };
        panel->onArrowUp = [this] { navigation.moveUp(); };
        panel->onEnter = [this] { notifications.post(Notification::pasteSelectedClipboardItem); };
        focusRequests = panel->focusSearchFieldRequested.connect([this] { ++focusRequested; });
        panel->clipboardView().viewDidAppear();
        scheduler.runPending();
        sink->clear();
    }
    void TearDown() override { log::installSinks({}); }

    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (const auto& line : sink->lines())
            out.push_back(line.substr(log::kPrefix.size()));
        return out;
    }
    void cachePictures() {
        platform::Bitmap bitmap{1, 1, 4, std::make_shared<const std::vector<std::uint8_t>>(4, 0xFF)};
        thumbnails.rows.insert("/images/a.png#64", bitmap, bitmap.cost());
        thumbnails.previews.insert("/images/a.png#900", bitmap, bitmap.cost());
    }

    testing::TempDir dir;
    std::shared_ptr<log::MemorySink> sink = std::make_shared<log::MemorySink>();
    fake::VirtualScheduler scheduler;
    fake::FakeWorkspace workspace;
    fake::FakeWindowControl windowControl;
    fake::FakeInputSynthesizer input;
    fake::FakeScreens screens;
    fake::FakePasteboard pasteboard;
    fake::FakeImageCodec codec;
    fake::FakeSecretStore secrets;
    fake::FakeAtomicFile files;
    fake::FakePanelWindowFactory windows;
    fake::FakePanelWindow* window = nullptr;
    ClipboardThumbnailCache thumbnails;
    NotificationCenter notifications;
    NavigationState navigation;
    std::unique_ptr<ClipboardStore> store;
    std::unique_ptr<ClipboardPanel> panel;
    std::vector<std::string> pasted;
    Connection focusRequests;
    int focusRequested = 0;
};

TEST_F(ClipboardPanelTest, ShowingPrefixesItsLinesAndThenAsksForTheSearchField) {
    EXPECT_EQ(window->contentSize, (platform::Size{680, 420}));
    EXPECT_EQ(window->origin, (platform::Point{620, 580}));
    panel->clipboardView().setQuery("mid");
    panel->show();
    EXPECT_EQ(panel->clipboardView().query(), "") << "the view heard clipboardWillShow";
    EXPECT_THAT(lines(), ElementsAre("Accessibility trusted=1", "clipboard remember: Text Editor pid=100",
                                     "clipboard show: nonactivating key window"));
    EXPECT_EQ(focusRequested, 0) << "the focus moves from the main queue";
    scheduler.runPending();
    EXPECT_EQ(focusRequested, 1);
}

TEST_F(ClipboardPanelTest, TheFallbackShowAsksForTheSearchFieldTwice) {
    window->keyWithoutActivation = false;
    int afterKey = 0;
    panel->show([&] { ++afterKey; });
    scheduler.runPending();
    EXPECT_EQ(focusRequested, 2);
    EXPECT_EQ(afterKey, 2);
    EXPECT_TRUE(panel->didStealActivation());
}

TEST_F(ClipboardPanelTest, CommandKTogglesTheMenuOnTheSelectedEntry) {
    panel->show();
    window->pressKey(kDown);
    EXPECT_TRUE(window->pressKey(kK, kControl));
    ASSERT_TRUE(panel->menuModel().isOpen());
    EXPECT_EQ(panel->menuModel().anchoredItem()->text(), "middle");
    EXPECT_TRUE(window->pressKey(kK, kControl));
    EXPECT_FALSE(panel->menuModel().isOpen());
    EXPECT_FALSE(window->pressKey('K', kControlShift)) << "Control-Shift-K is not the menu's";
    EXPECT_FALSE(panel->menuModel().isOpen());
}

TEST_F(ClipboardPanelTest, MenuKeysAreRoutedBeforeTheList) {
    panel->show();
    window->pressKey(kK, kControl);
    EXPECT_TRUE(window->pressKey(kDown));
    EXPECT_EQ(navigation.selectedIndex(), 0) << "the menu's highlight moved, not the list's selection";
    EXPECT_EQ(panel->menuModel().selection(), 1);
    // Control+N and Control+P are the arrows there too.
    EXPECT_TRUE(window->pressKey('n', kControl));
    EXPECT_EQ(panel->menuModel().selection(), 2);
    EXPECT_TRUE(window->pressKey('p', kControl));
    EXPECT_EQ(panel->menuModel().selection(), 1);
    EXPECT_EQ(navigation.selectedIndex(), 0);
    EXPECT_FALSE(window->pressKey(kLetterA)) << "typing reaches the search field";
    EXPECT_TRUE(window->pressKey(kReturn));  // Copy
    EXPECT_FALSE(panel->menuModel().isOpen());
    EXPECT_TRUE(pasted.empty()) << "Return chose Copy, it did not paste the selection";
    EXPECT_EQ(pasteboard.string(platform::pasteboardType::string), "newest");
    EXPECT_TRUE(panel->isVisible());

    // With the menu closed, the same keys drive the list.
    window->pressKey(kDown);
    EXPECT_EQ(navigation.selectedIndex(), 1);
    window->pressKey(kReturn);
    EXPECT_THAT(pasted, ElementsAre("middle"));
}

TEST_F(ClipboardPanelTest, EscapeClosesTheMenuFirstThenHidesAndEmptiesThePreviews) {
    panel->show();
    cachePictures();
    window->pressKey(kK, kControl);
    EXPECT_TRUE(window->pressKey(kEscape));
    EXPECT_FALSE(panel->menuModel().isOpen());
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(thumbnails.previews.count(), 1u);

    EXPECT_TRUE(window->pressKey(kEscape));
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(thumbnails.previews.count(), 0u);
    EXPECT_EQ(thumbnails.rows.count(), 1u) << "row pictures go only by eviction";
}

TEST_F(ClipboardPanelTest, EveryWayOfHidingEmptiesThePreviews) {
    struct Case {
        const char* how;
        std::function<void()> hide;
    } cases[] = {
        {"toggle", [this] { panel->hide(true); }},
        {"click elsewhere", [this] { window->loseKey(); }},
        {"paste", [this] { panel->hideForPaste(); }},
        {"through the base panel", [this] { static_cast<FloatingPanel&>(*panel).hide(false); }},
    };
    for (const Case& c : cases) {
        panel->show();
        cachePictures();
        c.hide();
        EXPECT_FALSE(panel->isVisible()) << c.how;
        EXPECT_EQ(thumbnails.previews.count(), 0u) << c.how;
    }
}

TEST_F(ClipboardPanelTest, AFocusRequestForAPanelThatIsGoneDoesNothing) {
    panel->show();
    panel.reset();
    scheduler.runPending();
    EXPECT_EQ(focusRequested, 0);
}

}  // namespace
}  // namespace quenlit
