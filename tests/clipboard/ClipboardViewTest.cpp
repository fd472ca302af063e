#include "clipboard/ClipboardView.h"

#include "backends/fake/FakeAtomicFile.h"
#include "backends/fake/FakeImageCodec.h"
#include "backends/fake/FakePasteboard.h"
#include "backends/fake/FakeSecretStore.h"
#include "backends/fake/VirtualScheduler.h"
#include "base/Log.h"
#include "support/TempDir.h"

#include "FakeClipboardDesktop.h"

#include <gmock/gmock.h>
#include "QuenlitVersion.h"

#include <gtest/gtest.h>

#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <thread>

namespace quenlit {
namespace {

using namespace std::chrono_literals;
using platform::Seconds;
using std::chrono::sys_days;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Clock = std::chrono::system_clock;

// Thursday, 16 May 2024, 10:00 UTC.
const Clock::time_point kNow = sys_days{std::chrono::May / 16 / 2024} + 10h;

// ICU's default locale and time zone are the user's; each test sets its own and gets the
// previous ones back.
class IcuDefaults {
  public:
    IcuDefaults() { set("en_US", "UTC"); }
    ~IcuDefaults() {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(savedLocale_, status);
        icu::TimeZone::adoptDefault(savedZone_.release());
    }
    static void set(const char* locale, const char* zone) {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale(locale), status);
        icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone(zone));
    }

  private:
    icu::Locale savedLocale_ = icu::Locale::getDefault();
    std::unique_ptr<icu::TimeZone> savedZone_{icu::TimeZone::createDefault()};
};

class ClipboardViewTest : public ::testing::Test, protected testing::FakeClipboardDesktop {
  protected:
    void SetUp() override {
        log::installSinks({sink});
        ClipboardStore::Options options;
        options.appDataDir = dir / "data";
        options.imagesDirectory = dir / "images";
        options.persistToDisk = false;
        options.wallClock = [this] { return captureTime; };
        store = std::make_unique<ClipboardStore>(storeServices(), std::move(options));
        view = std::make_unique<ClipboardView>(
            *store, menu, navigation, [this](const ClipboardItem& item) { pasted.push_back(item); },
            [this] { ++dismissals; },
            ClipboardView::Services{scheduler, notifications, codec, [this] { return now; }, &thumbnails});
        scrolls = view->scrollRequested.connect([this](Uuid id) { scrolledTo.push_back(id); });
        sink->clear();
    }
    void TearDown() override { log::installSinks({}); }

    // Inserts texts oldest first, so the last one given ends up on top.
    void capture(std::initializer_list<std::string> texts) {
        for (const auto& text : texts) {
            ASSERT_TRUE(store->capturedText(text));
            captureTime += 1s;
        }
    }
    // What the view logged; the store's capture lines are not the view's.
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (const auto& line : sink->lines()) {
            std::string message = line.substr(log::kPrefix.size());
            if (message.rfind("clipboard: captured ", 0) != 0) out.push_back(std::move(message));
        }
        return out;
    }
    // The list as a person reads it: headings in brackets, entries by their titles.
    std::vector<std::string> listed() const {
        std::vector<std::string> out;
        for (const auto& row : view->presentation().rows)
            out.push_back(row.kind == ClipboardView::ListRow::Kind::header ? "[" + row.title + "]"
                                                                           : row.title);
        return out;
    }
    std::string selectedTitle() const {
        for (const auto& row : view->presentation().rows)
            if (row.isSelected) return row.title;
        return "";
    }

    IcuDefaults icu;
    testing::TempDir dir;
    std::shared_ptr<log::MemorySink> sink = std::make_shared<log::MemorySink>();
    ClipboardThumbnailCache thumbnails;
    NotificationCenter notifications;
    NavigationState navigation;
    ClipboardActionsModel menu;
    Clock::time_point captureTime = kNow - 1h;
    Clock::time_point now = kNow;
    std::unique_ptr<ClipboardStore> store;
    std::unique_ptr<ClipboardView> view;
    std::vector<ClipboardItem> pasted;
    int dismissals = 0;
    std::vector<Uuid> scrolledTo;
    Connection scrolls;
};

TEST_F(ClipboardViewTest, ReturnOrAClickPastesTheSelectedEntryAndClearsTheQuery) {
    capture({"alpha one", "beta", "alpha two"});
    view->setQuery("alpha");
    navigation.moveDown();
    notifications.post(Notification::pasteSelectedClipboardItem);
    ASSERT_EQ(pasted.size(), 1u);
    EXPECT_EQ(pasted[0].text(), "alpha one");
    EXPECT_EQ(view->query(), "");
    EXPECT_EQ(navigation.selectedIndex(), 0);
    EXPECT_THAT(lines(), IsEmpty());
    EXPECT_EQ(dismissals, 0) << "hiding is the paste sequence's business";

    view->clickRow(1);
    ASSERT_EQ(pasted.size(), 2u);
    EXPECT_EQ(pasted[1].text(), "beta");
}

TEST_F(ClipboardViewTest, NothingToPasteLogsWhyWithTheQueryInDebugForm) {
    view->pasteSelected();
    capture({"one", "two"});
    view->setQuery("say \"hi\" \\ \n\t\r");
    view->searchField().keyDown(platform::keysym::returnKey);
    view->setQuery("");
    navigation.setSelectedIndex(5);
    view->pasteSelected();
    EXPECT_THAT(pasted, IsEmpty());
    EXPECT_THAT(
        lines(),
        ElementsAre(
            "clipboard: pasteSelected skipped — empty filter (query=\"\" history=0)",
            R"(clipboard: pasteSelected skipped — empty filter (query="say \"hi\" \\ \n\t\r" history=2))",
            "clipboard: pasteSelected skipped — index 5 out of 2"));
}

TEST_F(ClipboardViewTest, AppearingLogsTheSelectionAndFocusesTheSearchFieldShortlyAfter) {
    capture({"one", "two"});
    navigation.setMaxIndex(1);
    navigation.setSelectedIndex(1);
    view->viewDidAppear();
    view->viewDidAppear();
    EXPECT_THAT(lines(), ElementsAre("debug: ClipboardView onAppear sel=1 items=2"));
    EXPECT_EQ(navigation.selectedIndex(), 0);
    EXPECT_EQ(navigation.maxIndex(), 1);
    EXPECT_FALSE(view->presentation().searchSymbolHighlighted);
    scheduler.advance(Seconds(0.04));
    EXPECT_FALSE(view->isSearchFocused());
    scheduler.advance(Seconds(0.01));
    EXPECT_TRUE(view->presentation().searchSymbolHighlighted);
}

TEST_F(ClipboardViewTest, EntriesAreGroupedUnderDateHeadingsNewestFirst) {
    captureTime = sys_days{std::chrono::May / 16 / 2023} + 12h;  // last year
    capture({"old"});
    captureTime = sys_days{std::chrono::May / 14 / 2024} + 18h;  // Tuesday, same week
    capture({"tuesday", "tuesday later"});
    captureTime = kNow - 30min;
    capture({"this morning"});
    EXPECT_THAT(listed(), ElementsAre("[Today]", "this morning", "[This Week]", "tuesday later", "tuesday",
                                      "[Earlier]", "old"));
    const auto rows = view->rows();
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[0].id(), "header-Today");
    EXPECT_EQ(rows[1].id(), store->items()[0].id.toString());
    EXPECT_EQ(rows[4].index, 2u);
    // The time label is read against the view's clock, not the machine's. The labels' formatters
    // belong to the thread that first uses them, so a fresh thread sees this test's time zone.
    std::string label;
    std::thread([&] { label = view->presentation().rows[1].timeLabel; }).join();
    if (auto at = label.find("\u202f"); at != std::string::npos) label.replace(at, 3, " ");
    EXPECT_EQ(label, "9:30 AM");
}

TEST_F(ClipboardViewTest, DateHeadingsFollowTheUsersCalendarAndTimeZone) {
    struct Case {
        const char* locale;
        const char* zone;
        Clock::time_point created;
        Clock::time_point now;
        std::string heading;
    } cases[] = {
        {"en_US", "UTC", kNow - 10h, kNow, "Today"},
        {"en_US", "UTC", kNow - 10h - 1s, kNow, "Yesterday"},
        {"en_US", "UTC", kNow - 34h, kNow, "Yesterday"},
        {"en_US", "UTC", sys_days{std::chrono::May / 12 / 2024}, kNow, "This Week"},   // Sunday
        {"en_US", "UTC", sys_days{std::chrono::May / 11 / 2024}, kNow, "This Month"},  // Saturday
        {"en_US", "UTC", sys_days{std::chrono::May / 1 / 2024}, kNow, "This Month"},
        {"en_US", "UTC", sys_days{std::chrono::April / 30 / 2024}, kNow, "Earlier"},
        // A week that spans the turn of the year is one week.
        {"en_US", "UTC", sys_days{std::chrono::December / 30 / 2024},
         sys_days{std::chrono::January / 2 / 2025}, "This Week"},
        // Where weeks start on Monday, Sunday the 19th shares its week with Tuesday the 14th.
        {"de_DE", "UTC", sys_days{std::chrono::May / 14 / 2024}, sys_days{std::chrono::May / 19 / 2024},
         "This Week"},
        {"en_US", "UTC", sys_days{std::chrono::May / 14 / 2024}, sys_days{std::chrono::May / 19 / 2024},
         "This Month"},
        // 02:00 UTC is still the evening before in New York.
        {"en_US", "America/New_York", sys_days{std::chrono::May / 16 / 2024} + 2h, kNow, "Yesterday"},
        {"en_US", "UTC", sys_days{std::chrono::May / 16 / 2024} + 2h, kNow, "Today"},
    };
    for (const Case& c : cases) {
        IcuDefaults::set(c.locale, c.zone);
        EXPECT_EQ(ClipboardView::dateHeading(c.created, c.now), c.heading) << c.locale << " " << c.zone;
    }
}

TEST_F(ClipboardViewTest, TheClockDecidesTheHeadingsAsTimePasses) {
    capture({"note"});
    EXPECT_THAT(listed(), ElementsAre("[Today]", "note"));
    const std::string today = view->presentation().rows[1].timeLabel;
    EXPECT_EQ(today, store->items()[0].timeLabel(now)) << "the time of day";
    now = kNow + 24h;
    EXPECT_THAT(listed(), ElementsAre("[Yesterday]", "note"));
    const std::string yesterday = view->presentation().rows[1].timeLabel;
    EXPECT_EQ(yesterday, store->items()[0].timeLabel(now)) << "the day";
    EXPECT_NE(yesterday, today);
}

TEST_F(ClipboardViewTest, EmptyHistoryAndEmptyFilterShowTheirOwnEmptyStates) {
    auto p = view->presentation();
    ASSERT_TRUE(p.emptyState);
    EXPECT_EQ(p.emptyState->symbol, "doc.on.clipboard");
    EXPECT_EQ(p.emptyState->text, "Copy something — it will show up here");
    EXPECT_THAT(p.rows, IsEmpty());
    EXPECT_EQ(p.versionLabel, "v" QUENLIT_VERSION);

    capture({"hello"});
    view->setQuery("zebra");
    p = view->presentation();
    ASSERT_TRUE(p.emptyState);
    EXPECT_EQ(p.emptyState->symbol, "magnifyingglass");
    EXPECT_EQ(p.emptyState->text, "No results");
    EXPECT_TRUE(p.showsClearButton);
    view->clearButtonPressed();
    p = view->presentation();
    EXPECT_FALSE(p.emptyState);
    EXPECT_FALSE(p.showsClearButton);
}

TEST_F(ClipboardViewTest, RowsShowShortenedTitlesAndThePreviewTheFullText) {
    const std::string longText = std::string(200, 'x');
    capture({longText, "   \n  ", "two\nlines"});
    navigation.setMaxIndex(2);
    navigation.setSelectedIndex(2);
    const auto p = view->presentation();
    EXPECT_THAT(listed(), ElementsAre("[Today]", "two lines", "", std::string(120, 'x') + "…"));
    EXPECT_EQ(p.rows[3].symbol, "text.alignleft");
    EXPECT_TRUE(p.rows[3].isSelected);
    EXPECT_EQ(p.preview.kind, ClipboardView::Preview::Kind::text);
    EXPECT_EQ(p.preview.text, longText);
}

TEST_F(ClipboardViewTest, TypingAlwaysSelectsTheFirstRowAndClosesTheMenu) {
    capture({"a1", "a2", "a3", "a4"});
    navigation.setMaxIndex(3);
    navigation.setSelectedIndex(3);
    menu.open(store->items()[3], {});
    view->searchField().textDidChange("a");
    EXPECT_EQ(view->query(), "a");
    EXPECT_EQ(navigation.selectedIndex(), 0);
    EXPECT_EQ(navigation.maxIndex(), 3);
    EXPECT_FALSE(menu.isOpen());
    navigation.moveDown();
    view->setQuery("a4");
    EXPECT_EQ(navigation.selectedIndex(), 0);
    EXPECT_EQ(navigation.maxIndex(), 0);
}

TEST_F(ClipboardViewTest, DeletingTheLastEntriesMovesTheSelectionToTheNewLastRow) {
    capture({"e1", "e2", "e3", "e4", "e5"});  // listed e5 … e1
    navigation.setMaxIndex(4);
    navigation.setSelectedIndex(4);
    const std::vector<ClipboardItem> items = store->items();
    store->remove(items[4]);
    store->remove(items[3]);
    EXPECT_EQ(navigation.selectedIndex(), 2);
    EXPECT_EQ(navigation.maxIndex(), 2);
    EXPECT_EQ(selectedTitle(), "e3");

    // A capture while the panel is open keeps the selected index rather than starting over.
    navigation.setSelectedIndex(1);
    capture({"e6"});
    EXPECT_EQ(navigation.selectedIndex(), 1);
    EXPECT_EQ(navigation.maxIndex(), 3);
}

TEST_F(ClipboardViewTest, MovingTheSelectionScrollsToItsEntry) {
    capture({"s1", "s2", "s3"});
    view->viewDidAppear();
    scrolledTo.clear();
    navigation.moveDown();
    navigation.moveDown();
    navigation.setSelectedIndex(2);  // assigned again, not moved
    EXPECT_THAT(scrolledTo, ElementsAre(store->items()[1].id, store->items()[2].id));
    navigation.setSelectedIndex(7);
    EXPECT_EQ(scrolledTo.size(), 2u) << "nothing to scroll to beyond the list";
}

TEST_F(ClipboardViewTest, ShowingThePanelClearsTheQueryClosesTheMenuAndSelectsTheFirstRow) {
    capture({"w1", "w2", "w3"});
    view->setQuery("w");
    navigation.setSelectedIndex(2);
    menu.open(store->items()[2], {});
    notifications.post(Notification::clipboardWillShow);
    EXPECT_EQ(view->query(), "");
    EXPECT_FALSE(menu.isOpen());
    EXPECT_EQ(navigation.selectedIndex(), 0);
    EXPECT_EQ(navigation.maxIndex(), 2);
    scheduler.advance(Seconds(0.05));
    EXPECT_TRUE(view->isSearchFocused());
}

TEST_F(ClipboardViewTest, CommandKOpensTheMenuOnTheSelectedRowAtItsRecordedFrame) {
    capture({"k1", "k2"});
    menu.toggle();
    EXPECT_FALSE(menu.isOpen()) << "the menu's callbacks arrive when the view appears";
    view->viewDidAppear();
    const std::vector<ClipboardItem> items = store->items();
    view->rowDidLayOut(items[1], {8, 48, 274, 42});
    navigation.moveDown();
    menu.toggle();
    ASSERT_TRUE(menu.isOpen());
    EXPECT_EQ(menu.anchoredItem()->id, items[1].id);
    EXPECT_EQ(menu.anchorFrame(), (platform::Rect{8, 48, 274, 42}));
    const auto p = view->presentation();
    ASSERT_TRUE(p.menu);
    EXPECT_EQ(p.menu->content.header, "k1");
    EXPECT_EQ(p.menu->center, (platform::Point{145, 180}));
    view->menuOverlayClicked();
    EXPECT_FALSE(menu.isOpen());
    EXPECT_FALSE(view->presentation().menu);

    // A row never laid out anchors the menu at the zero rectangle.
    navigation.moveUp();
    menu.toggle();
    EXPECT_EQ(menu.anchorFrame(), platform::Rect{});

    // With nothing listed there is nothing to open the menu on.
    menu.close();
    view->setQuery("nothing like it");
    menu.toggle();
    EXPECT_FALSE(menu.isOpen());
}

TEST_F(ClipboardViewTest, TheMenuClosesWhenItsRowMoves) {
    capture({"m1", "m2"});
    const std::vector<ClipboardItem> items = store->items();
    view->rowDidLayOut(items[0], {8, 6, 274, 42});
    view->rowDidLayOut(items[1], {8, 49, 274, 42});
    view->rightClickRow(items[0]);
    view->rowDidLayOut(items[0], {8, 60, 274, 42});
    EXPECT_TRUE(menu.isOpen()) << "laying a row out again is not a move";
    view->rowFrameChanged(items[1], {8, 20, 274, 42});
    view->rowFrameChanged(items[0], {8, 60, 274, 42});
    EXPECT_TRUE(menu.isOpen()) << "another row moved, or the frame is the one recorded";
    view->rowFrameChanged(items[0], {8, -10, 274, 42});
    EXPECT_FALSE(menu.isOpen());
    EXPECT_EQ(menu.rowFrames().at(items[0].id), (platform::Rect{8, -10, 274, 42}));
}

TEST_F(ClipboardViewTest, MenuPlacementKeepsTheMenuBesideItsRowAndInsideTheList) {
    struct Case {
        platform::Rect anchor;
        platform::Point center;
        const char* why;
    } cases[] = {
        {{8, 300, 274, 42}, {145, 210}, "near the bottom it opens above"},
        {{8, 20, 274, 42}, {145, 152}, "near the top it opens below"},
        {{8, 180, 274, 12}, {145, 274}, "room for it below: below, held inside the list"},
        {{8, 180, 274, 13}, {145, 92}, "one point less room: above, held inside the list"},
        {{8, 150, 274, 42}, {145, 274}, "too close to the top to open above"},
        {{0, 0, 0, 0}, {138, 92}, "the zero rectangle"},
        {{200, 340, 90, 26}, {152, 250}, "x held at most 152"},
        {{8, 400, 274, 42}, {145, 274}, "y held at most 274"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ClipboardView::menuCenter(c.anchor), c.center) << c.why;
    }
}

TEST_F(ClipboardViewTest, MenuActionsActOnTheAnchoredEntry) {
    capture({"p1", "p2", "p3"});
    view->viewDidAppear();
    const std::vector<ClipboardItem> items = store->items();  // p3 p2 p1

    view->rightClickRow(items[1]);
    menu.perform(ClipboardMenuAction::paste);
    ASSERT_EQ(pasted.size(), 1u);
    EXPECT_EQ(pasted[0].text(), "p2");
    EXPECT_FALSE(menu.isOpen());

    view->rightClickRow(items[2]);
    menu.perform(ClipboardMenuAction::copy);
    EXPECT_FALSE(menu.isOpen());
    EXPECT_EQ(pasteboard.string(platform::pasteboardType::string), "p1");
    EXPECT_EQ(pasted.size(), 1u) << "copy sends no keystroke";
    EXPECT_EQ(store->items()[0].text(), "p1") << "a copied entry moves to the top";

    view->rightClickRow(items[0]);
    menu.perform(ClipboardMenuAction::deleteEntry);
    EXPECT_FALSE(menu.isOpen());
    EXPECT_THAT(listed(), ElementsAre("[Today]", "p1", "p2"));

    // Once the menu closed there is no entry to act on.
    menu.perform(ClipboardMenuAction::deleteEntry);
    menu.perform(ClipboardMenuAction::paste);
    EXPECT_EQ(store->items().size(), 2u);
    EXPECT_EQ(pasted.size(), 1u);
}

TEST_F(ClipboardViewTest, DeleteAllAsksFirstAndDeletesWhenChosenAgain) {
    capture({"d1", "d2", "d3"});
    view->viewDidAppear();
    navigation.setSelectedIndex(2);
    view->rightClickRow(store->items()[0]);
    menu.perform(ClipboardMenuAction::deleteAll);
    EXPECT_EQ(store->items().size(), 3u);
    auto p = view->presentation();
    ASSERT_TRUE(p.confirmation);
    EXPECT_EQ(p.confirmation->title, "Delete All Entries");
    EXPECT_EQ(p.confirmation->message, "Are you sure you want to delete all clipboard history entries?");
    EXPECT_EQ(p.confirmation->cancelTitle, "Cancel");
    EXPECT_EQ(p.confirmation->confirmTitle, "Delete All");
    EXPECT_TRUE(menu.isOpen());

    menu.perform(ClipboardMenuAction::deleteAll);
    EXPECT_THAT(store->items(), IsEmpty());
    EXPECT_FALSE(menu.isOpen());
    EXPECT_FALSE(menu.confirmDeleteAll());
    p = view->presentation();
    EXPECT_FALSE(p.confirmation);
    ASSERT_TRUE(p.emptyState);
    EXPECT_EQ(p.emptyState->symbol, "doc.on.clipboard");
    EXPECT_EQ(navigation.selectedIndex(), 0);
    EXPECT_EQ(navigation.maxIndex(), 0);
}

TEST_F(ClipboardViewTest, TheConfirmationsButtonsCancelOrDeleteEverything) {
    capture({"c1", "c2"});
    view->viewDidAppear();
    view->rightClickRow(store->items()[0]);
    menu.perform(ClipboardMenuAction::deleteAll);
    view->cancelDeleteAll();
    EXPECT_FALSE(view->presentation().confirmation);
    EXPECT_EQ(store->items().size(), 2u);

    navigation.setSelectedIndex(1);
    view->rightClickRow(store->items()[0]);
    menu.perform(ClipboardMenuAction::deleteAll);
    view->confirmDeleteAll();
    EXPECT_THAT(store->items(), IsEmpty());
    EXPECT_EQ(navigation.selectedIndex(), 0);
    EXPECT_FALSE(menu.isOpen());
}

TEST_F(ClipboardViewTest, ImageRowsAndThePreviewLoadTheirPicturesAtTheirOwnSizes) {
    const auto image = store->capturedImage(fake::FakeImageCodec::pngBytes(2000, 1000));
    ASSERT_TRUE(image);
    const auto p = view->presentation();
    ASSERT_EQ(p.rows.size(), 2u);
    EXPECT_EQ(p.rows[1].title, "Image");
    EXPECT_EQ(p.rows[1].symbol, "photo");
    ASSERT_TRUE(p.rows[1].imageURL);
    EXPECT_EQ(p.preview.kind, ClipboardView::Preview::Kind::image);
    EXPECT_EQ(p.preview.imageURL, p.rows[1].imageURL);

    auto row = view->makeThumbnail();
    auto preview = view->makeThumbnail();
    int rowChanges = 0;
    Connection c = row->changed.connect([&] { ++rowChanges; });
    row->request(p.rows[1].imageURL, ClipboardView::kRowThumbnailPixels);
    preview->request(p.preview.imageURL, ClipboardView::kPreviewThumbnailPixels);
    EXPECT_FALSE(row->image()) << "decoded in the background";
    scheduler.runPending();
    ASSERT_TRUE(row->image());
    EXPECT_EQ(row->image()->width, 64);
    ASSERT_TRUE(preview->image());
    EXPECT_EQ(preview->image()->width, 900);
    EXPECT_EQ(rowChanges, 1);
    EXPECT_EQ(thumbnails.rows.count(), 1u);
    EXPECT_EQ(thumbnails.previews.count(), 1u);

    // A second row for the same picture takes it from the cache at once.
    codec.clearCalls();
    auto again = view->makeThumbnail();
    again->request(p.rows[1].imageURL, ClipboardView::kRowThumbnailPixels);
    EXPECT_TRUE(again->image());
    EXPECT_EQ(codec.downsampleCount(), 0u);

    // The same request again changes nothing; a missing file leaves the placeholder.
    row->request(p.rows[1].imageURL, 64);
    EXPECT_EQ(rowChanges, 1);
    row->request(std::nullopt, 64);
    EXPECT_FALSE(row->image());
    EXPECT_EQ(rowChanges, 2);
}

TEST_F(ClipboardViewTest, AThumbnailDroppedBeforeItsPictureArrivesDecodesNothingLater) {
    const auto image = store->capturedImage(fake::FakeImageCodec::pngBytes(300, 300));
    ASSERT_TRUE(image);
    auto row = view->makeThumbnail();
    row->request(store->imageURL(*image), 64);
    row.reset();
    scheduler.runPending();
    EXPECT_EQ(codec.downsampleCount(), 0u);
    EXPECT_EQ(thumbnails.rows.count(), 0u);
}

TEST_F(ClipboardViewTest, TheViewOutlivingTheStoreShowsNothingAndActsOnNothing) {
    capture({"gone"});
    view->viewDidAppear();
    sink->clear();
    view->rightClickRow(store->items()[0]);
    store.reset();
    menu.perform(ClipboardMenuAction::copy);
    EXPECT_THAT(view->filteredItems(), IsEmpty());
    EXPECT_EQ(view->presentation().emptyState->symbol, "doc.on.clipboard");
    view->pasteSelected();
    EXPECT_THAT(lines(),
                ElementsAre("clipboard: pasteSelected skipped — empty filter (query=\"\" history=0)"));
}

}  // namespace
}  // namespace quenlit
