#include "ui/ClipboardPanelView.h"

#include "backends/fake/FakeImageCodec.h"
#include "clipboard/FakeClipboardDesktop.h"
#include "support/TempDir.h"
#include "ui/QtTestApplication.h"
#include "ui/Style.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QRegularExpression>

#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace quenlit::ui {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;

// Thursday, 16 May 2024, 10:00 UTC.
const Clock::time_point kNow = std::chrono::sys_days{std::chrono::May / 16 / 2024} + 10h;

// Headings and time labels follow ICU's default locale and time zone: fixed here, restored after.
class IcuDefaults {
  public:
    IcuDefaults() {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale("en_US"), status);
        icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("UTC"));
    }
    ~IcuDefaults() {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(savedLocale_, status);
        icu::TimeZone::adoptDefault(savedZone_.release());
    }

  private:
    icu::Locale savedLocale_ = icu::Locale::getDefault();
    std::unique_ptr<icu::TimeZone> savedZone_{icu::TimeZone::createDefault()};
};

class ClipboardPanelViewTest : public ::testing::Test, protected quenlit::testing::FakeClipboardDesktop {
  protected:
    void SetUp() override {
        quenlit::testing::ensureQtApplication();
        ClipboardStore::Options options;
        options.appDataDir = dir.path() / "data";
        options.imagesDirectory = dir.path() / "images";
        options.persistToDisk = false;
        options.wallClock = [this] { return captureTime; };
        store = std::make_unique<ClipboardStore>(storeServices(), std::move(options));
        model = std::make_unique<ClipboardView>(
            *store, menu, navigation, [this](const ClipboardItem& item) { pasted.push_back(item.text()); },
            [] {},
            ClipboardView::Services{scheduler, notifications, codec, [] { return kNow; }, &thumbnails});
        view = std::make_unique<ClipboardPanelView>(*model, menu);
        view->show();
        settle();
    }

    // Texts captured `age` before now, oldest first, so the last one given ends up on top.
    void capture(std::initializer_list<std::string> texts, Clock::duration age = 1h) {
        captureTime = kNow - age;
        for (const auto& text : texts) {
            ASSERT_TRUE(store->capturedText(text));
            captureTime += 1s;
        }
    }

    // Lets the view draw what the model announced and the pictures decode.
    void settle() {
        QCoreApplication::processEvents();
        scheduler.runPending();
        QCoreApplication::processEvents();
    }

    // What the panel shows: paints it (into a PNG in the build folder when named) and answers its
    // painted texts, top to bottom.
    std::vector<ClipboardPanelView::DrawnText> screen(const char* screenshot = nullptr) {
        settle();
        const QPixmap picture = view->grab();
        if (screenshot != nullptr)
            picture.save(QCoreApplication::applicationDirPath() + "/clipboard-panel-" + screenshot + ".png");
        auto drawn = view->drawnTexts();
        // The labels and buttons the panel shows are read as they are.
        for (auto* label : view->findChildren<QLabel*>())
            if (label->isVisibleTo(view.get()) && !label->text().isEmpty())
                drawn.push_back({label->text(), QRect(label->mapTo(view.get(), QPoint()), label->size())});
        for (auto* button : view->findChildren<QAbstractButton*>())
            if (button->isVisibleTo(view.get()) && !button->text().isEmpty())
                drawn.push_back({button->text(), QRect(button->mapTo(view.get(), QPoint()), button->size())});
        // Line by line (texts whose middles lie within a few pixels share a line), then left to right.
        std::stable_sort(drawn.begin(), drawn.end(), [](const auto& a, const auto& b) {
            return a.rect.center().y() < b.rect.center().y();
        });
        std::vector<std::pair<int, ClipboardPanelView::DrawnText>> lines;
        int line = 0;
        for (std::size_t i = 0; i < drawn.size(); ++i) {
            if (i > 0 && drawn[i].rect.center().y() - lines.back().second.rect.center().y() > 4) ++line;
            lines.emplace_back(line, drawn[i]);
        }
        std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) {
            return a.first != b.first ? a.first < b.first : a.second.rect.left() < b.second.rect.left();
        });
        drawn.clear();
        for (auto& [_, d] : lines)
            drawn.push_back(std::move(d));
        return drawn;
    }
    std::vector<std::string> shownTexts(const char* screenshot = nullptr) {
        std::vector<std::string> out;
        for (const auto& d : screen(screenshot))
            out.push_back(d.text.toStdString());
        return out;
    }

    void click(QPoint at, Qt::MouseButton button = Qt::LeftButton) {
        QWidget* target = view->childAt(at);
        ASSERT_NE(target, nullptr) << at.x() << "," << at.y();
        const QPointF local = target->mapFrom(view.get(), QPointF(at));
        const QPointF global = target->mapToGlobal(local);
        QMouseEvent press(QEvent::MouseButtonPress, local, global, button, button, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, local, global, button, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &release);
        settle();
    }
    // Clicks what the user sees labelled `text`: a painted text, else a button.
    void clickOn(const std::string& text, Qt::MouseButton button = Qt::LeftButton) {
        for (const auto& d : screen()) {
            if (d.text.toStdString() == text) return click(d.rect.center(), button);
        }
        for (auto* b : view->findChildren<QAbstractButton*>()) {
            if (b->isVisible() && b->text().toStdString() == text)
                return click(b->mapTo(view.get(), b->rect().center()), button);
        }
        FAIL() << "nothing labelled \"" << text << "\" is shown";
    }
    void type(const QString& text) {
        for (const QChar c : text) {
            QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QCoreApplication::sendEvent(view->searchField(), &key);
        }
        settle();
    }

    IcuDefaults icu;
    quenlit::testing::TempDir dir;
    ClipboardThumbnailCache thumbnails;
    NotificationCenter notifications;
    NavigationState navigation;
    ClipboardActionsModel menu;
    Clock::time_point captureTime = kNow - 1h;
    std::unique_ptr<ClipboardStore> store;
    std::unique_ptr<ClipboardView> model;
    std::unique_ptr<ClipboardPanelView> view;
    std::vector<std::string> pasted;
};

// `shown` holds every pattern of `expected`, in that order (other texts may lie between them).
::testing::AssertionResult showsInOrder(const std::vector<std::string>& shown,
                                        const std::vector<std::string>& expected) {
    std::size_t at = 0;
    for (const auto& pattern : expected) {
        const QRegularExpression re("^(?:" + QString::fromStdString(pattern) + ")$");
        while (at < shown.size() && !re.match(QString::fromStdString(shown[at])).hasMatch())
            ++at;
        if (at == shown.size()) {
            std::string all;
            for (const auto& s : shown)
                all += "\n  \"" + s + "\"";
            return ::testing::AssertionFailure() << "no \"" << pattern << "\" in order among:" << all;
        }
        ++at;
    }
    return ::testing::AssertionSuccess();
}

TEST_F(ClipboardPanelViewTest, ShowsTheHistoryAsTheUserReadsIt) {
    const std::string longText(200, 'x');
    struct Case {
        const char* name;
        std::function<void()> given;
        std::vector<std::string> shown;  // patterns, top to bottom
    };
    const std::vector<Case> cases{
        {"an empty history", [] {}, {"Copy something — it will show up here"}},
        {"a query that matches nothing",
         [this] {
             capture({"alpha"});
             model->setQuery("zzz");
         },
         {"No results"}},
        {"headings in order of age, each entry with its time or date",
         [this] {
             capture({"from last year"}, 24h * 366);
             capture({"from Tuesday"}, 48h);
             capture({"from this morning"}, 1h);
         },
         {"Today", "from this morning", "9:00.AM", "This Week", "from Tuesday", "May 14, 2024", "Earlier",
          "from last year", "May 16, 2023"}},
        {"a long text on one line, cut at the tail",
         [&] {
             capture({"line one\nline two", longText});
         },
         {"Today", "x{10,}…", "line one line two"}},
        {"an image entry",
         [this] { ASSERT_TRUE(store->capturedImage(fake::FakeImageCodec::pngBytes(300, 200))); },
         {"Today", "Image"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        store->removeAll();
        model->setQuery("");
        c.given();
        EXPECT_TRUE(showsInOrder(shownTexts(), c.shown));
    }
}

TEST_F(ClipboardPanelViewTest, TypingInTheSearchFieldFiltersTheListAndAClickPastes) {
    capture({"alpha one", "beta", "alpha two"});
    EXPECT_TRUE(
        showsInOrder(shownTexts("texts"), {"Today", "alpha two", "9:00.AM", "beta", "9:00.AM", "alpha one"}));
    EXPECT_EQ(view->previewText().toStdString(), "alpha two") << "the first row is selected and previewed";

    type("alp");
    EXPECT_EQ(model->query(), "alp");
    auto shown = shownTexts("filtered");
    EXPECT_TRUE(showsInOrder(shown, {"alpha two", ".*", "alpha one"}));
    EXPECT_EQ(std::count(shown.begin(), shown.end(), "beta"), 0);

    clickOn("alpha one");
    ASSERT_EQ(pasted, std::vector<std::string>{"alpha one"});
    EXPECT_EQ(view->searchField()->text().toStdString(), "") << "a paste clears the query";
}

TEST_F(ClipboardPanelViewTest, TheActionsMenuAndTheDeleteAllConfirmationAnswerClicks) {
    capture({"first", "second", "third"});
    ASSERT_TRUE(store->capturedImage(fake::FakeImageCodec::pngBytes(1600, 1000)));
    model->viewDidAppear();
    EXPECT_TRUE(showsInOrder(shownTexts("image"), {"Image", ".*", "third", ".*", "second", ".*", "first"}));

    const std::vector<std::string> menuRows{"Paste", "Copy", "Delete Entry", "Delete All Entries"};
    struct Step {
        const char* name;
        std::function<void()> act;
        std::vector<std::string> shown;
        std::vector<std::string> absent;
        std::vector<std::string> history;
        const char* screenshot = nullptr;
    };
    const std::vector<Step> steps{
        {"a right click on a row opens the menu on it",
         [&] { clickOn("second", Qt::RightButton); },
         {"second", "Paste", "Copy", "Delete Entry", "Delete All Entries"},
         {},
         {"<image>", "third", "second", "first"},
         "menu"},
        {"a click beside the menu closes it",
         [&] { click(QPoint(20, 60)); },
         {"second"},
         menuRows,
         {"<image>", "third", "second", "first"}},
        {"Delete Entry removes the entry the menu was opened on",
         [&] {
             clickOn("second", Qt::RightButton);
             clickOn("Delete Entry");
         },
         {"third", "first"},
         {"second", "Paste"},
         {"<image>", "third", "first"}},
        {"Delete All Entries asks first",
         [&] {
             clickOn("first", Qt::RightButton);
             clickOn("Delete All Entries");
         },
         {"Are you sure you want to delete all clipboard history entries\\?", "Cancel", "Delete All"},
         {},
         {"<image>", "third", "first"},
         "confirmation"},
        {"Cancel keeps the history",
         [&] { clickOn("Cancel"); },
         {"third", "first"},
         menuRows,
         {"<image>", "third", "first"}},
        {"Delete All empties it",
         [&] {
             clickOn("first", Qt::RightButton);
             clickOn("Delete All Entries");
             clickOn("Delete All");
         },
         {"Copy something — it will show up here"},
         {"third", "first"},
         {}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        step.act();
        const auto shown = shownTexts(step.screenshot);
        EXPECT_TRUE(showsInOrder(shown, step.shown));
        for (const auto& text : step.absent)
            EXPECT_EQ(std::count(shown.begin(), shown.end(), text), 0) << text;
        EXPECT_EQ(quenlit::testing::texts(store->items()), step.history);
    }
    // The confirmation's buttons are real buttons: while it showed, both were visible; now neither.
    for (auto* b : view->findChildren<QAbstractButton*>())
        EXPECT_FALSE(b->isVisible() && (b->text() == "Cancel" || b->text() == "Delete All"));
    EXPECT_TRUE(pasted.empty());
}

TEST_F(ClipboardPanelViewTest, ThePreviewHoldsTheWholeEntryAndCopiesItUnchanged) {
    std::string words;
    while (words.size() < 5000)
        words += "word ";
    std::string emoji;
    while (emoji.size() < 12000)
        emoji += "\xF0\x9F\x98\x80";  // U+1F600, two UTF-16 units
    const std::vector<std::string> entries{
        "two\nlines",
        words,
        emoji,
        std::string(2500, 'y') + "\n\n" + words,
    };
    for (const auto& entry : entries) {
        SCOPED_TRACE(entry.substr(0, 20));
        store->removeAll();
        capture({entry});
        settle();
        EXPECT_EQ(view->previewText().toStdString(), entry);
    }
}

// Typing on and back selects the same few entries again: each time the preview shows the whole
// entry selected, also after an image in between and after more entries than it keeps.
TEST_F(ClipboardPanelViewTest, ThePreviewFollowsTheSelectionAsTheUserTypesOnAndBack) {
    std::string words;
    while (words.size() < 3000)
        words += "then again ";
    capture({"then older\nsecond line", "thin"});
    ASSERT_TRUE(store->capturedImage(fake::FakeImageCodec::pngBytes(300, 200)));
    capture({"thaw", words}, 30min);
    struct Step {
        const char* query;
        std::string previewed;  // empty: an image, no text
    } steps[] = {
        {"", words},
        {"then o", "then older\nsecond line"},
        {"then", words},
        {"ima", ""},
        {"then o", "then older\nsecond line"},
        {"thin", "thin"},
        {"thaw", "thaw"},
        {"then", words},
        {"then o", "then older\nsecond line"},
        {"", words},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.query);
        model->setQuery(step.query);
        settle();
        EXPECT_EQ(view->previewText().toStdString(), step.previewed);
    }
}

}  // namespace
}  // namespace quenlit::ui

namespace quenlit::ui {
namespace {

double luminanceOf(QRgb pixel) {
    return QColor(pixel).lightnessF();
}

// How many pixels of `area` stand out from `background` by at least 4.5:1: those of readable text
// (the caret alone is a line of some 20).
int readablePixels(const QImage& image, const QRect& area, const QColor& background) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (style::contrastRatio(QColor(image.pixel(x, y)), background) >= 4.5) ++count;
    return count;
}

TEST_F(ClipboardPanelViewTest, FollowsTheDesktopsColourSchemeWhileShownAndStaysReadable) {
    capture({"alpha one", "beta"});
    type("alpha");
    struct Case {
        const char* name;
        ui::style::Scheme scheme;
        bool dark;
    };
    const std::vector<Case> cases{{"dark", ui::style::Scheme::dark, true},
                                  {"back to light, without a restart", ui::style::Scheme::light, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ui::style::setScheme(c.scheme);
        settle();
        const QImage picture = view->grab().toImage();
        picture.save(QCoreApplication::applicationDirPath() + "/clipboard-panel-scheme-" +
                     (c.dark ? "dark" : "light") + ".png");
        // The panel's background, beside the search field and under the list.
        const QColor background(picture.pixel(660, 4));
        EXPECT_EQ(luminanceOf(background.rgb()) < 0.3, c.dark);
        EXPECT_EQ(luminanceOf(picture.pixel(picture.width() / 2, picture.height() - 3)) < 0.3, c.dark);
        // The typed query, in the search field, reads against it.
        QWidget* field = view->searchField();
        const QRect fieldArea(field->mapTo(view.get(), QPoint()), field->size());
        EXPECT_GT(readablePixels(picture, fieldArea, background), 60);
        // The field itself is no lighter or darker box inside the panel.
        const QColor insideField(picture.pixel(fieldArea.right() - 2, fieldArea.top() + 2));
        EXPECT_LT(ui::style::contrastRatio(insideField, background), 1.1);
    }
}

}  // namespace
}  // namespace quenlit::ui
