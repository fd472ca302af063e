#include "clipboard/ClipboardMenu.h"

#include "backends/fake/FakePanelWindow.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quenlit {
namespace {

using ::testing::ElementsAre;

// The menu takes key codes as 16-bit values.
constexpr std::uint32_t kReturn = platform::keysym::returnKey;
constexpr std::uint32_t kKeypadEnter = platform::keysym::keypadEnter;
constexpr std::uint32_t kEscape = platform::keysym::escape;
constexpr std::uint32_t kDown = platform::keysym::down;
constexpr std::uint32_t kUp = platform::keysym::up;
constexpr std::uint32_t kLetterA = 'a';
constexpr std::uint32_t kDelete = platform::keysym::backSpace;

ClipboardItem textItem(const std::string& text) {
    return ClipboardItem::makeText(nameBasedUUID(text), text, {});
}

TEST(ClipboardMenuActionTest, CasesInMenuOrderWithTheirTitlesSymbolsAndColour) {
    struct Case {
        int raw;
        std::string title;
        std::string symbol;
        bool red;
    } cases[] = {
        {0, "Paste", "arrow.down.doc", false},
        {1, "Copy", "doc.on.doc", false},
        {2, "Delete Entry", "trash", true},
        {3, "Delete All Entries", "trash", true},
    };
    for (const Case& c : cases) {
        auto action = ClipboardMenuAction::fromRaw(c.raw);
        ASSERT_TRUE(action) << c.raw;
        EXPECT_EQ(action->rawValue(), c.raw);
        EXPECT_EQ(action->title(), c.title);
        EXPECT_EQ(action->symbol(), c.symbol);
        EXPECT_EQ(action->isDrawnInRed(), c.red) << c.title;
    }
    EXPECT_FALSE(ClipboardMenuAction::fromRaw(-1));
    EXPECT_FALSE(ClipboardMenuAction::fromRaw(4));
}

class ClipboardActionsModelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        model.onPerform = [this](ClipboardMenuAction action) {
            performed.push_back(std::string(action.title()));
        };
        model.onToggle = [this] { ++toggles; };
    }
    std::string highlighted() const {
        for (const auto& row : ClipboardActionsMenuView::presentation(model).rows)
            if (row.isSelected) return row.title;
        return "";
    }

    ClipboardActionsModel model;
    std::vector<std::string> performed;
    int toggles = 0;
};

TEST_F(ClipboardActionsModelTest, OpeningAnchorsTheMenuOnTheEntryWithPasteHighlighted) {
    const ClipboardItem item = textItem("hello");
    model.open(item, {8, 40, 274, 42});
    EXPECT_TRUE(model.isOpen());
    EXPECT_EQ(model.anchoredItem(), item);
    EXPECT_EQ(model.anchorFrame(), (platform::Rect{8, 40, 274, 42}));
    const auto p = ClipboardActionsMenuView::presentation(model);
    EXPECT_EQ(p.header, "hello");
    ASSERT_EQ(p.rows.size(), 4u);
    EXPECT_EQ(p.rows[0].title, "Paste");
    EXPECT_TRUE(p.rows[0].isSelected);
    EXPECT_FALSE(p.rows[0].isRed);
    EXPECT_EQ(p.rows[3].title, "Delete All Entries");
    EXPECT_TRUE(p.rows[3].isRed);
}

TEST_F(ClipboardActionsModelTest, DownFourTimesReturnsToPasteAndUpWrapsToDeleteAll) {
    model.open(textItem("x"), {});
    std::vector<std::string> seen;
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(model.handleKey(kDown));
        seen.push_back(highlighted());
    }
    EXPECT_THAT(seen, ElementsAre("Copy", "Delete Entry", "Delete All Entries", "Paste"));
    EXPECT_TRUE(model.handleKey(kUp));
    EXPECT_EQ(highlighted(), "Delete All Entries");
    EXPECT_TRUE(model.handleKey(kUp));
    EXPECT_EQ(highlighted(), "Delete Entry");
    EXPECT_TRUE(performed.empty());
}

TEST_F(ClipboardActionsModelTest, ReturnAndEnterPerformTheHighlightedAction) {
    model.open(textItem("x"), {});
    EXPECT_TRUE(model.handleKey(kReturn));
    model.handleKey(kDown);
    EXPECT_TRUE(model.handleKey(kKeypadEnter));
    EXPECT_THAT(performed, ElementsAre("Paste", "Copy"));
}

TEST_F(ClipboardActionsModelTest, KeysReachTheMenuOnlyWhileItIsOpen) {
    struct Case {
        std::uint32_t key;
        bool open;
        bool consumed;
    } cases[] = {
        {kReturn, false, false}, {kDown, false, false},  {kEscape, false, false}, {kLetterA, false, false},
        {kLetterA, true, false}, {kDelete, true, false}, {kDown, true, true},     {kEscape, true, true},
    };
    for (const Case& c : cases) {
        model.close();
        if (c.open) model.open(textItem("x"), {});
        EXPECT_EQ(model.handleKey(c.key), c.consumed) << "key " << c.key << " open " << c.open;
    }
    EXPECT_TRUE(performed.empty());
    model.open(textItem("x"), {});
    model.handleKey(kEscape);
    EXPECT_FALSE(model.isOpen());
    EXPECT_FALSE(model.anchoredItem());
}

TEST_F(ClipboardActionsModelTest, APendingConfirmationSwallowsEveryKey) {
    model.open(textItem("x"), {});
    model.setConfirmDeleteAll(true);
    for (std::uint32_t key : {kLetterA, kDown, kUp, kDelete}) {
        EXPECT_TRUE(model.handleKey(key)) << key;
    }
    EXPECT_TRUE(performed.empty());
    EXPECT_EQ(highlighted(), "Paste") << "the arrows do not move the highlight behind the confirmation";
    EXPECT_TRUE(model.handleKey(kReturn));
    EXPECT_THAT(performed, ElementsAre("Delete All Entries"));
    EXPECT_TRUE(model.handleKey(kEscape));
    EXPECT_FALSE(model.isOpen());
    EXPECT_FALSE(model.confirmDeleteAll());
    EXPECT_FALSE(model.handleKey(kLetterA));
}

TEST_F(ClipboardActionsModelTest, OpeningAgainResetsTheHighlightAndCancelsTheConfirmation) {
    model.open(textItem("x"), {});
    model.handleKey(kDown);
    model.handleKey(kDown);
    model.setConfirmDeleteAll(true);
    model.close();
    EXPECT_EQ(highlighted(), "Delete Entry") << "closing keeps the highlight";
    EXPECT_EQ(ClipboardActionsMenuView::presentation(model).header, "");
    model.setConfirmDeleteAll(true);
    model.open(textItem("y"), {});
    EXPECT_EQ(highlighted(), "Paste");
    EXPECT_FALSE(model.confirmDeleteAll());
    EXPECT_EQ(ClipboardActionsMenuView::presentation(model).header, "y");
}

TEST_F(ClipboardActionsModelTest, CommandKAsksTheViewToOpenThenCloses) {
    model.toggle();
    EXPECT_EQ(toggles, 1);
    model.open(textItem("x"), {});
    model.toggle();
    EXPECT_FALSE(model.isOpen());
    EXPECT_EQ(toggles, 1);

    // A confirmation left pending closes too, rather than opening the menu again.
    model.setConfirmDeleteAll(true);
    model.toggle();
    EXPECT_FALSE(model.confirmDeleteAll());
    EXPECT_EQ(toggles, 1);
}

TEST(ShortenedEntryTextTest, FlattensTrimsAndCutsAt120Characters) {
    const std::string a120(120, 'a');
    struct Case {
        std::string text;
        std::string shown;
    } cases[] = {
        {"plain", "plain"},
        {"  line one\nline two\tend \n", "line one line two end"},
        {"windows\r\nline", "windows line"},
        {" \n\t ", ""},
        {a120, a120},
        {std::string(200, 'b'), std::string(120, 'b') + "…"},
        // Characters, not bytes: 130 accented letters keep 120 of them.
        {[] {
             std::string s;
             for (int i = 0; i < 130; ++i)
                 s += "e\u0301";
             return s;
         }(),
         [] {
             std::string s;
             for (int i = 0; i < 120; ++i)
                 s += "e\u0301";
             return s + "…";
         }()},
        // The cut happens after flattening: 119 letters, a line feed, then more.
        {std::string(119, 'c') + "\nddd", std::string(119, 'c') + " …"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(shortenedEntryText(textItem(c.text)), c.shown) << c.text;
    }
    EXPECT_EQ(shortenedEntryText(ClipboardItem::makeImage(Uuid{}, "/x/a.png", {})), "Image");
}

TEST(ShortenedEntryTextTest, TheMenuHeadingShowsTheShortenedText) {
    ClipboardActionsModel model;
    model.open(textItem(std::string(200, 'z')), {});
    EXPECT_EQ(ClipboardActionsMenuView::presentation(model).header, std::string(120, 'z') + "…");
    model.open(textItem("first\nsecond"), {});
    EXPECT_EQ(ClipboardActionsMenuView::presentation(model).header, "first second");
}

TEST(RightClickCatcherTest, TakesOnlyRightMouseDowns) {
    fake::FakePanelWindow window;
    int opened = 0;
    RightClickCatcher catcher;
    catcher.action = [&] { ++opened; };
    struct Case {
        std::optional<platform::EventType> event;
        bool hit;
    } cases[] = {
        {platform::EventType::rightMouseDown, true}, {platform::EventType::leftMouseDown, false},
        {platform::EventType::leftMouseUp, false},   {platform::EventType::otherMouseDown, false},
        {platform::EventType::keyDown, false},       {std::nullopt, false},
    };
    for (const Case& c : cases) {
        window.eventType = c.event;
        EXPECT_EQ(RightClickCatcher::takesHit(window), c.hit);
    }
    catcher.rightMouseDown();
    catcher.action = [&] { opened += 10; };
    catcher.rightMouseDown();
    EXPECT_EQ(opened, 11) << "a new action replaces the old one";
}

}  // namespace
}  // namespace quenlit
