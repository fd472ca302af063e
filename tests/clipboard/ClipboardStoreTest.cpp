#include "backends/fake/FakeAtomicFile.h"
#include "backends/fake/FakeImageCodec.h"
#include "backends/fake/FakePasteboard.h"
#include "backends/fake/FakeSecretStore.h"
#include "backends/fake/VirtualScheduler.h"
#include "base/Log.h"
#include "base/Text.h"
#include "clipboard/ClipboardStore.h"
#include "support/TempDir.h"

#include "FakeClipboardDesktop.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <algorithm>
#include <functional>
#include <random>
#include <thread>

namespace quenlit {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

using testing::texts;

class ClipboardStoreTest : public ::testing::Test, protected testing::FakeClipboardDesktop {
  protected:
    void SetUp() override { log::installSinks({sink}); }
    void TearDown() override { log::installSinks({}); }

    ClipboardStore::Options options(bool persist = true) {
        ClipboardStore::Options o;
        o.appDataDir = dir / "data";
        o.persistToDisk = persist;
        o.wallClock = [this] { return clock; };
        return o;
    }
    std::unique_ptr<ClipboardStore> makeStore(ClipboardStore::Options o) {
        auto store = std::make_unique<ClipboardStore>(storeServices(), std::move(o));
        changes = store->itemsChanged.connect([this] { ++changeCount; });
        return store;
    }
    std::vector<std::string> logged() const { return sink->lines(); }
    static std::string line(const std::string& message) { return std::string(log::kPrefix) + message; }

    testing::TempDir dir;
    std::shared_ptr<log::MemorySink> sink = std::make_shared<log::MemorySink>();
    std::chrono::system_clock::time_point clock =
        std::chrono::sys_days{std::chrono::May / 1 / 2024} + 9h + 30min;
    Connection changes;
    int changeCount = 0;
};

TEST_F(ClipboardStoreTest, InsertingATextPutsItOnTopAndLogsTheCapture) {
    auto store = makeStore(options());
    EXPECT_TRUE(store->capturedText("first"));
    clock += 1s;
    EXPECT_TRUE(store->capturedText("zweite Zeile ✓"));
    ASSERT_THAT(texts(store->items()), ElementsAre("zweite Zeile ✓", "first"));
    const ClipboardItem& top = store->items()[0];
    EXPECT_EQ(top.kind, ClipboardItem::Kind::text);
    EXPECT_FALSE(top.imagePath);
    EXPECT_EQ(top.createdAt, clock);
    EXPECT_NE(top.id, store->items()[1].id);
    EXPECT_THAT(logged(), ElementsAre(line("clipboard: captured text len=5 history=1"),
                                      line("clipboard: captured text len=14 history=2")));
    EXPECT_EQ(changeCount, 2);
    EXPECT_TRUE(store->file().hasScheduledSave()) << "saved after the debounce";
}

TEST_F(ClipboardStoreTest, AnEqualTextMovesToTheTopWithItsIdentityAndIsNotLoggedAgain) {
    auto store = makeStore(options());
    store->capturedText("a");
    const ClipboardItem original = store->items()[0];
    clock += 1h;
    store->capturedText("b");
    sink->clear();
    EXPECT_TRUE(store->capturedText("a"));
    ASSERT_THAT(texts(store->items()), ElementsAre("a", "b"));
    EXPECT_EQ(store->items()[0], original) << "same id and createdAt";
    EXPECT_THAT(logged(), IsEmpty());
    EXPECT_TRUE(store->file().hasScheduledSave());
}

TEST_F(ClipboardStoreTest, TextComparisonIsExactAndImagesAreNeverComparedWithTexts) {
    auto store = makeStore(options());
    store->capturedText("a");
    store->capturedText("A");
    store->capturedText("a ");
    ASSERT_TRUE(store->capturedImage(fake::FakeImageCodec::pngBytes(1, 1)));
    store->capturedText("");
    EXPECT_THAT(texts(store->items()), ElementsAre("", "<image>", "a ", "A", "a"));
}

TEST_F(ClipboardStoreTest, TheLengthLimitCountsUserPerceivedCharacters) {
    struct Case {
        std::string unit;
        std::size_t repeat;
        bool kept;
    } cases[] = {
        {"x", 100000, true},
        {"x", 100001, false},
        {"e\u0301", 100000, true},  // two code points, one character
        {"€", 100001, false},
        {"\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", 100000, true},  // a thumb with a skin tone: one character
    };
    for (const auto& c : cases) {
        auto store = makeStore(options());
        sink->clear();
        std::string text;
        for (std::size_t i = 0; i < c.repeat; ++i)
            text += c.unit;
        EXPECT_EQ(store->capturedText(text).has_value(), c.kept) << c.unit;
        EXPECT_EQ(store->items().size(), c.kept ? 1u : 0u) << c.unit;
        const std::string expected =
            c.kept ? "clipboard: captured text len=" + std::to_string(c.repeat) + " history=1"
                   : "clipboard: skipped oversized item len=" + std::to_string(c.repeat) + " (max=100000)";
        EXPECT_THAT(logged(), ElementsAre(line(expected))) << c.unit;
        EXPECT_EQ(store->file().hasScheduledSave(), c.kept);
    }
}

TEST_F(ClipboardStoreTest, TheOldestItemGoesAtTheItemLimitWithItsImageFile) {
    auto store = makeStore(options());
    auto image = store->capturedImage(fake::FakeImageCodec::pngBytes(2, 2));
    ASSERT_TRUE(image && image->imagePath);
    for (int i = 0; i < 199; ++i)
        store->capturedText("text " + std::to_string(i));
    ASSERT_EQ(store->items().size(), 200u);
    ASSERT_TRUE(fs::exists(*image->imagePath));
    sink->clear();
    store->capturedText("one more");
    EXPECT_EQ(store->items().size(), 200u);
    EXPECT_EQ(store->history().imageCount(), 0u);
    EXPECT_EQ(store->items().back().text(), "text 0");
    EXPECT_THAT(logged(), ElementsAre(line("clipboard: captured text len=8 history=200")));
    EXPECT_TRUE(fs::exists(*image->imagePath)) << "until a history without it is saved";
    scheduler.advance(1s);
    EXPECT_FALSE(fs::exists(*image->imagePath));
}

TEST_F(ClipboardStoreTest, ADroppedImageOutsideTheImagesFolderIsNotDeleted) {
    auto o = options();
    o.maxItems = 2;
    auto store = makeStore(o);
    const fs::path foreign = dir / "elsewhere/picture.png";
    testing::writeFile(foreign, "png");
    const fs::path escaping = dir / "data/images/../picture.png";
    testing::writeFile(escaping, "png");
    // Items loaded from a history file may name any path; only owned files are ever deleted.
    const std::string json =
        "[{\"createdAt\":\"2024-05-01T09:30:00Z\",\"id\":\"6F9619FF-8B86-D011-B42D-00C04FC964FF\","
        "\"imagePath\":\"" +
        foreign.string() +
        "\",\"kind\":\"image\",\"text\":\"\"},"
        "{\"createdAt\":\"2024-05-01T09:30:00Z\",\"id\":\"6F9619FF-8B86-D011-B42D-00C04FC964FE\","
        "\"imagePath\":\"" +
        escaping.string() + "\",\"kind\":\"image\",\"text\":\"\"}]";
    testing::writeFile(dir / "data/clipboard-history.json", json);
    store->startMonitoring();
    ASSERT_EQ(store->history().imageCount(), 2u);
    store->capturedText("new");
    store->capturedText("newer");
    EXPECT_THAT(texts(store->items()), ElementsAre("newer", "new"));
    EXPECT_TRUE(fs::exists(foreign));
    EXPECT_TRUE(fs::exists(escaping));
}

TEST_F(ClipboardStoreTest, TheThirtyFirstImageRemovesTheOldestImageWhereverItIs) {
    auto store = makeStore(options());
    std::vector<ClipboardItem> images;
    store->capturedText("oldest text");
    for (int i = 0; i < 30; ++i) {
        images.push_back(*store->capturedImage(fake::FakeImageCodec::pngBytes(1, 1, std::to_string(i))));
        if (i % 10 == 0) store->capturedText("text " + std::to_string(i));
    }
    ASSERT_EQ(store->history().imageCount(), 30u);
    const std::size_t before = store->items().size();
    sink->clear();
    const std::string png = fake::FakeImageCodec::pngBytes(3, 3, "new");
    auto added = store->capturedImage(png);
    ASSERT_TRUE(added);
    EXPECT_EQ(store->history().imageCount(), 30u);
    EXPECT_EQ(store->items().size(), before);
    EXPECT_EQ(store->items()[0], *added);
    EXPECT_EQ(store->items().back().text(), "oldest text")
        << "the oldest image was removed, not the oldest item";
    EXPECT_THAT(logged(), ElementsAre(line("clipboard: captured image (" + std::to_string(png.size()) +
                                           " bytes) history=" + std::to_string(before) + " images=30")));
    EXPECT_TRUE(store->file().hasScheduledSave());
    EXPECT_TRUE(fs::exists(*images[0].imagePath)) << "until a history without it is saved";
    scheduler.advance(1s);
    EXPECT_FALSE(fs::exists(*images[0].imagePath));
    EXPECT_TRUE(fs::exists(*images[1].imagePath));
}

TEST_F(ClipboardStoreTest, AnImageIsWrittenAsANewFileInTheImagesFolderEveryTime) {
    auto store = makeStore(options());
    const std::string png = fake::FakeImageCodec::pngBytes(4, 4);
    const std::string otherPng = fake::FakeImageCodec::pngBytes(4, 5);
    auto first = store->capturedImage(png);
    auto second = store->capturedImage(otherPng);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(store->items().size(), 2u);
    for (const auto& [item, bytes] : {std::pair{*first, png}, std::pair{*second, otherPng}}) {
        ASSERT_TRUE(item.imagePath);
        const fs::path file(*item.imagePath);
        EXPECT_EQ(file.parent_path(), dir / "data/images");
        const std::string stem = file.stem().string();
        EXPECT_EQ(file.extension(), ".png");
        ASSERT_TRUE(Uuid::parse(stem));
        EXPECT_EQ(Uuid::parse(stem)->toString(), stem) << "upper-case file name";
        EXPECT_NE(stem, item.id.toString()) << "the file name and the id differ";
        EXPECT_EQ(item.text(), "");
        EXPECT_EQ(item.createdAt, clock);
        std::ifstream in(file, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), bytes);
        EXPECT_EQ(store->imageURL(item), file);
    }
    EXPECT_NE(*first->imagePath, *second->imagePath);
    EXPECT_FALSE(fs::exists(dir / "data/clipboard-history.json")) << "not before the debounce";
}

TEST_F(ClipboardStoreTest, ImageCaptureFailuresAreLoggedAndNothingIsAdded) {
    struct Case {
        bool persistToDisk;
        std::optional<std::string> directoryError;
        std::optional<std::string> writeError;
        std::string expected;
    } cases[] = {
        {false, std::nullopt, std::nullopt, "clipboard: no images dir — skipped image capture"},
        {true, "Permission denied", std::nullopt, "clipboard: image write failed — Permission denied"},
        {true, std::nullopt, "No space left on device",
         "clipboard: image write failed — No space left on device"},
    };
    for (const auto& c : cases) {
        files.directoryError = c.directoryError;
        files.writeError = c.writeError;
        auto store = makeStore(options(c.persistToDisk));
        sink->clear();
        EXPECT_FALSE(store->capturedImage(fake::FakeImageCodec::pngBytes(1, 1)));
        EXPECT_THAT(store->items(), IsEmpty());
        EXPECT_THAT(logged(), ElementsAre(line(c.expected)));
        EXPECT_FALSE(store->file().hasScheduledSave());
    }
}

TEST_F(ClipboardStoreTest, AMemoryOnlyStoreCanStillBeGivenAnImagesFolder) {
    auto o = options(false);
    o.imagesDirectory = dir / "pictures";
    auto store = makeStore(o);
    EXPECT_FALSE(store->file().path());
    EXPECT_TRUE(store->capturedImage(fake::FakeImageCodec::pngBytes(1, 1)));
    EXPECT_FALSE(store->file().hasScheduledSave()) << "nothing is ever saved";
    EXPECT_TRUE(fs::is_directory(dir / "pictures"));
}

TEST_F(ClipboardStoreTest, AnEntryPastedBackMovesToTheTopAndIsNotSavedForThat) {
    auto store = makeStore(options());
    store->capturedText("one");
    store->capturedText("two");
    auto image = *store->capturedImage(fake::FakeImageCodec::pngBytes(1, 1));
    store->capturedText("three");
    const ClipboardItem one = store->items()[3];
    ClipboardItem ghostOfTwo = ClipboardItem::makeText(Uuid{}, "two", clock);
    ClipboardItem unknownImage = ClipboardItem::makeImage(Uuid{}, *image.imagePath, clock);
    ClipboardItem unknownText = ClipboardItem::makeText(Uuid{}, "never copied", clock);
    scheduler.advance(1s);  // the copies are saved

    struct Step {
        ClipboardItem item;
        std::vector<std::string> after;
        bool changed;
    } steps[] = {
        {store->items()[0], {"three", "<image>", "two", "one"}, false},
        {one, {"one", "three", "<image>", "two"}, true},
        {ghostOfTwo, {"two", "one", "three", "<image>"}, true},
        {ghostOfTwo, {"two", "one", "three", "<image>"}, false},
        {unknownImage, {"two", "one", "three", "<image>"}, false},
        {unknownText, {"two", "one", "three", "<image>"}, false},
        {image, {"<image>", "two", "one", "three"}, true},
    };
    for (const auto& step : steps) {
        const int before = changeCount;
        store->copyToPasteboard(step.item);
        EXPECT_EQ(texts(store->items()), step.after);
        EXPECT_EQ(changeCount != before, step.changed);
    }
    EXPECT_EQ(store->items()[2].id, one.id);
    EXPECT_FALSE(store->file().hasScheduledSave());
    EXPECT_EQ(scheduler.pendingBackgroundCount(), 0u);
}

TEST_F(ClipboardStoreTest, RemovingAnItemDeletesItsImageAndSavesAtOnce) {
    auto store = makeStore(options());
    store->capturedText("keep");
    auto image = *store->capturedImage(fake::FakeImageCodec::pngBytes(1, 1));
    sink->clear();
    store->remove(ClipboardItem::makeText(Uuid{}, "keep", clock));
    EXPECT_EQ(store->items().size(), 2u) << "an unknown id removes nothing, whatever its text";
    EXPECT_THAT(logged(), IsEmpty());
    EXPECT_EQ(scheduler.pendingBackgroundCount(), 0u);

    store->remove(image);
    EXPECT_THAT(texts(store->items()), ElementsAre("keep"));
    EXPECT_TRUE(fs::exists(*image.imagePath)) << "until a history without it is saved";
    scheduler.runPending();  // no time passes
    EXPECT_FALSE(fs::exists(*image.imagePath));
    EXPECT_THAT(logged(), ElementsAre(line("clipboard: removed item (history=1)"),
                                      ::testing::StartsWith(line("clipboard: persisted 1 items ("))));
    EXPECT_TRUE(fs::exists(dir / "data/clipboard-history.json"));
}

// Quitting writes the history only when it changed since it was loaded or last saved: the largest
// one takes seconds to write, and a second start waits for the first to end.
TEST_F(ClipboardStoreTest, QuittingSavesOnlyAChangedHistory) {
    const fs::path history = dir / "data/clipboard-history.json";
    {
        auto first = makeStore(options());
        first->capturedText("older");
        first->capturedText("newer");
        first->stopMonitoring();
    }
    ASSERT_TRUE(fs::exists(history));
    struct Case {
        std::string name;
        std::function<void(ClipboardStore&)> session;
        std::size_t savesAtQuit;
    };
    const std::vector<Case> cases{
        {"nothing happened", [](ClipboardStore&) {}, 0},
        {"a copy was saved already",
         [this](ClipboardStore& store) {
             store.capturedText("copied");
             scheduler.advance(platform::Seconds(1));
             files.written.clear();
         },
         0},
        {"a copy waits for its save", [](ClipboardStore& store) { store.capturedText("copied"); }, 1},
        {"an entry was used", [](ClipboardStore& store) { store.copyToPasteboard(store.items()[1]); }, 1},
        {"the top entry was used again",
         [](ClipboardStore& store) { store.copyToPasteboard(store.items()[0]); }, 0},
        {"the last save failed",
         [this](ClipboardStore& store) {
             files.writeError = "disk full";
             store.capturedText("copied");
             scheduler.advance(platform::Seconds(1));
             files.writeError.reset();
         },
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto store = makeStore(options());
        store->startMonitoring();
        ASSERT_EQ(store->items().size(), 2u);
        c.session(*store);
        files.written.clear();
        store->stopMonitoring();
        scheduler.runPending();
        EXPECT_EQ(std::count(files.written.begin(), files.written.end(), history), c.savesAtQuit);
        // Back to the two entries for the next case.
        if (store->items().size() > 2) store->remove(store->items()[0]);
        if (store->items()[0].text() != "newer") store->copyToPasteboard(store->items()[1]);
        store->stopMonitoring();
        scheduler.runPending();
    }
}

TEST_F(ClipboardStoreTest, RemovingEverythingLeavesTheFolderAndForeignFiles) {
    auto store = makeStore(options());
    const fs::path foreign = dir / "outside.png";
    testing::writeFile(foreign, "png");
    auto owned = *store->capturedImage(fake::FakeImageCodec::pngBytes(1, 1));
    store->capturedText("text");
    store->items();
    sink->clear();
    store->removeAll();
    scheduler.runPending();
    EXPECT_THAT(store->items(), IsEmpty());
    EXPECT_FALSE(fs::exists(*owned.imagePath));
    EXPECT_TRUE(fs::is_directory(dir / "data/images"));
    EXPECT_TRUE(fs::exists(foreign));
    EXPECT_THAT(logged(), ElementsAre(line("clipboard: removed all items"),
                                      line("clipboard: persisted 0 items (2 bytes)")));

    sink->clear();
    store->removeAll();
    scheduler.runPending();
    EXPECT_THAT(logged(), ElementsAre(line("clipboard: removed all items"),
                                      line("clipboard: persisted 0 items (2 bytes)")))
        << "an empty history is still saved and logged";
}

TEST_F(ClipboardStoreTest, AnImageURLExistsOnlyForAnImageWhoseFileIsThere) {
    auto store = makeStore(options());
    auto image = *store->capturedImage(fake::FakeImageCodec::pngBytes(1, 1));
    store->capturedText("text");
    EXPECT_EQ(store->imageURL(image), fs::path(*image.imagePath));
    EXPECT_FALSE(store->imageURL(store->items()[0]));
    EXPECT_FALSE(store->imageURL(ClipboardItem::makeImage(Uuid{}, "", clock)));
    fs::remove(*image.imagePath);
    EXPECT_FALSE(store->imageURL(image));
}

// A history file may name any path; only a file of the images folder is ever shown, previewed or
// pasted, so a crafted history makes the program read nothing else.
TEST_F(ClipboardStoreTest, AnImagePathOutsideTheImagesFolderCountsAsMissing) {
    auto store = makeStore(options());
    const fs::path images = dir / "data/images";
    const auto own = *store->capturedImage(fake::FakeImageCodec::pngBytes(1, 1));
    const fs::path foreign = dir / "elsewhere/picture.png";
    testing::writeFile(foreign, "png");
    testing::writeFile(images / "sub/A.png", "png");
    fs::create_symlink(foreign, images / "link.png");
    struct Case {
        std::string path;
        bool found;
    } cases[] = {
        {*own.imagePath, true},
        {(images / "." / fs::path(*own.imagePath).filename()).string(), true},
        {foreign.string(), false},
        {(images / "../../elsewhere/picture.png").string(), false},
        {"../../elsewhere/picture.png", false},
        {(images / "sub/A.png").string(), false},
        {(images / "link.png").string(), false},
        {images.string(), false},
        {"/etc/passwd", false},
    };
    for (const auto& c : cases) {
        const ClipboardItem item = ClipboardItem::makeImage(Uuid{}, c.path, clock);
        EXPECT_EQ(store->imageURL(item).has_value(), c.found) << c.path;
        const long before = pasteboard.changeCount();
        store->copyToPasteboard(item);
        EXPECT_EQ(pasteboard.changeCount() != before, c.found) << c.path << ": pasted";
    }
}

TEST_F(ClipboardStoreTest, DefaultsFollowTheDataFolder) {
    auto store = makeStore(options());
    EXPECT_EQ(store->history().maxItems(), 200);
    EXPECT_EQ(store->history().maxImages(), 30);
    EXPECT_EQ(store->history().maxTextLength(), 100000u);
    EXPECT_EQ(store->file().debounce().count(), 0.5);
    EXPECT_EQ(store->file().path(), dir / "data/clipboard-history.json");
    EXPECT_EQ(store->history().imagesDirectory(), dir / "data/images");

    auto o = options();
    o.storagePath = dir / "elsewhere/h.json";
    auto moved = makeStore(o);
    EXPECT_EQ(moved->history().imagesDirectory(), dir / "elsewhere/images");
}

TEST_F(ClipboardStoreTest, LoweredTextIsComputedOnceAndSharedByCopies) {
    auto store = makeStore(options());
    store->capturedText("ÄBC İ");
    store->capturedText("ABC é€ 中");
    const ClipboardItem copy = store->items()[1];
    EXPECT_EQ(copy.searchText().bytes, "äbc i̇");
    EXPECT_FALSE(copy.searchText().foldAscii);
    EXPECT_EQ(&copy.searchText().bytes, &store->items()[1].searchText().bytes);
    EXPECT_EQ(&copy.text(), &store->items()[1].text()) << "copies share one text";

    // Where lowering changes only A-Z, the text itself is searched: no second copy is kept.
    const ClipboardItem folded = store->items()[0];
    EXPECT_TRUE(folded.searchText().foldAscii);
    EXPECT_EQ(&folded.searchText().bytes, &folded.text());
}

// The label is made by ICU in the locale and time zone of the thread's first call, so each case
// runs on a fresh thread with the defaults set first. Relative words are relative to the real
// date, so those cases are placed around the real clock.
class TimeLabelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale("en_US"), status);
    }
    void TearDown() override {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(savedLocale_, status);
        icu::TimeZone::adoptDefault(savedZone_.release());
    }
    static std::string label(std::chrono::system_clock::time_point created,
                             std::chrono::system_clock::time_point now) {
        std::string out;
        std::thread([&] { out = ClipboardItem::makeText(Uuid{}, "x", created).timeLabel(now); }).join();
        // Newer ICU data puts a narrow no-break space before "AM".
        if (auto at = out.find("\u202f"); at != std::string::npos) out.replace(at, 3, " ");
        return out;
    }

  private:
    icu::Locale savedLocale_ = icu::Locale::getDefault();
    std::unique_ptr<icu::TimeZone> savedZone_{icu::TimeZone::createDefault()};
};

TEST_F(TimeLabelTest, TodayShowsTheTimeOtherDaysARelativeDate) {
    icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("UTC"));
    const auto now = std::chrono::system_clock::now();
    const auto today = std::chrono::floor<std::chrono::days>(now);
    struct Case {
        std::chrono::system_clock::time_point created;
        std::string label;
    } cases[] = {
        {today + 9h + 5min + 59s, "9:05 AM"},
        {today + 23h + 59min, "11:59 PM"},
        {today - 1s, "Yesterday"},
        {today - 24h, "Yesterday"},
        {today + 24h, "Tomorrow"},
        {std::chrono::sys_days{std::chrono::March / 9 / 2023} + 12h, "Mar 9, 2023"},
    };
    for (const auto& c : cases) {
        std::string got = label(c.created, now);
        // ICU writes the relative words in lower case in some releases.
        if (!got.empty() && c.label[0] >= 'A' && c.label[0] <= 'Z' && got[0] >= 'a' && got[0] <= 'z')
            got[0] -= 32;
        EXPECT_EQ(got, c.label);
    }
}

TEST_F(TimeLabelTest, TheDayIsTheUsersDayInTheirTimeZone) {
    icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("America/New_York"));
    using std::chrono::sys_days;
    // 23:00 and 01:00 in New York: two days there, one day in UTC.
    const auto created = sys_days{std::chrono::May / 2 / 2024} + 3h;
    EXPECT_EQ(label(created, created + 2h), "May 1, 2024");
    EXPECT_EQ(label(created, created + 30min), "11:00 PM");
}

}  // namespace
}  // namespace quenlit
