// The history file: its format on disk, loading, the debounced save, keeping an unreadable file,
// the image files that go with it, and the real file backend under permissions, links and kills.

#include "backends/linux/PosixAtomicFile.h"
#include "backends/linux/ThreadScheduler.h"
#include "clipboard/HistoryFileFixture.h"
#include "clipboard/HistoryJson.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>

#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

namespace quenlit {
namespace {

using namespace historytest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

TEST_F(ClipboardPersistenceTest, TheFileIsCompactSortedAndReadsBackWithWholeSeconds) {
    auto store = makeStore();
    store->capturedText("a/b \"quoted\"\n\ttab ✓");
    auto image = *store->capturedImage(fake::FakeImageCodec::pngBytes(1, 1));
    clock += 1s;
    store->capturedText("newest");
    scheduler.advance(1s);
    const auto& items = store->items();
    const std::string expected =
        "[" +
        itemJson(items[0].id.toString(), ",\"kind\":\"text\",\"text\":\"newest\"", "2024-05-01T09:30:01Z") +
        "," +
        itemJson(items[1].id.toString(),
                 ",\"imagePath\":\"" + *image.imagePath + "\",\"kind\":\"image\",\"text\":\"\"") +
        "," +
        itemJson(items[2].id.toString(), ",\"kind\":\"text\",\"text\":\"a/b \\\"quoted\\\"\\n\\ttab ✓\"") +
        "]";
    EXPECT_EQ(readAll(history), expected);
    EXPECT_EQ(logged().back(),
              line("clipboard: persisted 3 items (" + std::to_string(expected.size()) + " bytes)"));

    sink->clear();
    auto reloaded = makeStore();
    reloaded->startMonitoring();
    ASSERT_EQ(reloaded->items().size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        ClipboardItem wholeSeconds = items[i];
        wholeSeconds.createdAt = std::chrono::floor<std::chrono::seconds>(wholeSeconds.createdAt);
        EXPECT_EQ(reloaded->items()[i], wholeSeconds);
    }
    EXPECT_THAT(logged(), ElementsAre(line("clipboard: loaded 3 items from disk")));
}

TEST_F(ClipboardPersistenceTest, TextThatIsNotUtf8IsSavedReadably) {
    auto own = makeFile();
    own->list.insertText("/home/u/caf\xE9.txt");  // a Latin-1 file name, copied as a path
    own->file.saveNow();
    scheduler.runPending();
    const auto decoded = historyJson::readFile(files, history);
    ASSERT_FALSE(decoded.error) << *decoded.error;
    ASSERT_EQ(decoded.items.size(), 1u);
    EXPECT_EQ(decoded.items[0].text(), "/home/u/caf\uFFFD.txt");
}

TEST_F(ClipboardPersistenceTest, LoadingIsStrictAboutEveryItem) {
    const std::string good = textJson(1, "fine");
    struct Case {
        std::string name;
        std::string json;
        std::optional<std::string> error;  // part of the description, or loads
    } cases[] = {
        {"missing kind means text",
         array({itemJson("00000000-0000-4000-8000-000000000002", ",\"text\":\"t\"")}), std::nullopt},
        {"escaped slashes", array({good, imageJson(3, "\\/x\\/y.png")}), std::nullopt},
        {"lower-case UUID", array({itemJson("abcdef00-0000-4000-8000-000000000002", ",\"text\":\"t\"")}),
         std::nullopt},
        {"null imagePath and kind",
         array({itemJson("00000000-0000-4000-8000-000000000002",
                         ",\"imagePath\":null,\"kind\":null,\"text\":\"t\"")}),
         std::nullopt},
        {"unknown keys",
         array({itemJson("00000000-0000-4000-8000-000000000002", ",\"text\":\"t\",\"pinned\":true")}),
         std::nullopt},
        {"empty list", "[]", std::nullopt},
        {"unknown kind",
         array({good, itemJson("00000000-0000-4000-8000-000000000002", ",\"kind\":\"video\",\"text\":\"\"")}),
         "item 2: unknown kind \"video\""},
        {"fractional seconds",
         array(
             {itemJson("00000000-0000-4000-8000-000000000002", ",\"text\":\"t\"", "2024-05-01T09:30:00.5Z")}),
         "item 1: malformed date \"2024-05-01T09:30:00.5Z\""},
        {"offset instead of Z",
         array({itemJson("00000000-0000-4000-8000-000000000002", ",\"text\":\"t\"",
                         "2024-05-01T09:30:00+00:00")}),
         "malformed date"},
        {"no such day",
         array({itemJson("00000000-0000-4000-8000-000000000002", ",\"text\":\"t\"", "2023-02-29T09:30:00Z")}),
         "malformed date"},
        {"bad UUID", array({itemJson("00000000-0000-4000-8000-00000000000Z", ",\"text\":\"t\"")}),
         "malformed UUID"},
        {"missing id", array({"{\"createdAt\":\"2024-05-01T09:30:00Z\",\"text\":\"t\"}"}),
         "item 1: missing key \"id\""},
        {"missing text",
         array({good,
                "{\"createdAt\":\"2024-05-01T09:30:00Z\",\"id\":\"00000000-0000-4000-8000-000000000002\"}"}),
         "item 2: missing key \"text\""},
        {"missing createdAt", array({"{\"id\":\"00000000-0000-4000-8000-000000000002\",\"text\":\"t\"}"}),
         "missing key \"createdAt\""},
        {"text is a number", array({itemJson("00000000-0000-4000-8000-000000000002", ",\"text\":5")}),
         "item 1: \"text\" is not a string"},
        {"not a list", "{\"items\":[]}", "not a list of items"},
        {"an item that is not an object", "[1]", "item 1: not an object"},
        {"invalid JSON", "[{\"createdAt\":", "invalid JSON"},
        {"trailing garbage", "[] []", "invalid JSON"},
        {"empty file", "", "invalid JSON"},
        {"invalid UTF-8", array({textJson(1, "\xC3\x28")}), "invalid JSON"},
        {"bad escape", array({textJson(1, "\\q")}), "invalid JSON"},
    };
    for (const auto& c : cases) {
        testing::writeFile(history, c.json);
        sink->clear();
        auto store = makeStore();
        store->startMonitoring();
        scheduler.runPending();
        if (!c.error) {
            EXPECT_THAT(logged(), ElementsAre(StartsWith(line("clipboard: loaded ")))) << c.name;
            continue;
        }
        EXPECT_THAT(store->items(), IsEmpty()) << c.name;
        ASSERT_EQ(logged().size(), 1u) << c.name;
        EXPECT_THAT(logged()[0], StartsWith(line("clipboard: failed to load history — "))) << c.name;
        EXPECT_THAT(logged()[0], HasSubstr(*c.error)) << c.name;
        EXPECT_EQ(readAll(history), c.json) << c.name << ": the file is left as it was";
    }
}

TEST_F(ClipboardPersistenceTest, LoadingKeepsTheFirstItemsAndCapsImagesWithoutSaving) {
    const fs::path images = data / "images";
    std::vector<std::string> objects;
    std::vector<fs::path> imageFiles;
    for (int i = 0; i < 250; ++i) {
        // 35 images among the first 200, the oldest of them at positions 150..199.
        if (i % 5 == 0 && i < 175) {
            imageFiles.push_back(images / ("I" + std::to_string(i) + ".png"));
            testing::writeFile(imageFiles.back(), "png");
            objects.push_back(imageJson(i, imageFiles.back().string()));
        } else {
            objects.push_back(textJson(i, "text " + std::to_string(i)));
        }
    }
    testing::writeFile(history, array(objects));
    const std::string before = readAll(history);
    auto store = makeStore();
    store->startMonitoring();
    scheduler.advance(5s);
    EXPECT_EQ(store->items().size(), 195u);
    EXPECT_EQ(store->history().imageCount(), 30u);
    EXPECT_EQ(store->items().back().text(), "text 199");
    for (const auto& file : imageFiles)
        EXPECT_TRUE(fs::exists(file)) << file << ": the file on disk still names it";
    EXPECT_THAT(logged(), ElementsAre(line("clipboard: loaded 195 items from disk")));
    EXPECT_EQ(readAll(history), before) << "nothing is written until the next change";
    EXPECT_THAT(files.written, IsEmpty());

    store->capturedText("a change");
    scheduler.advance(5s);
    for (std::size_t i = 0; i < imageFiles.size(); ++i) {
        EXPECT_EQ(fs::exists(imageFiles[i]), i < 30) << imageFiles[i];
    }
}

TEST_F(ClipboardPersistenceTest, ABurstOfCapturesIsSavedOnceHalfASecondAfterTheLast) {
    auto store = makeStore();
    for (int i = 0; i < 10; ++i) {
        store->capturedText("copy " + std::to_string(i));
        scheduler.advance(0.1s);
    }
    EXPECT_THAT(loggedContaining("persisted"), IsEmpty());
    scheduler.advance(0.39s);  // 0.49 s after the last insert
    EXPECT_THAT(loggedContaining("persisted"), IsEmpty());
    scheduler.advance(0.01s);
    EXPECT_THAT(loggedContaining("persisted"),
                ElementsAre(StartsWith(line("clipboard: persisted 10 items ("))));
    EXPECT_FALSE(store->file().hasScheduledSave());
    scheduler.advance(10s);
    EXPECT_EQ(loggedContaining("persisted").size(), 1u);
    EXPECT_EQ(historyJson::readFile(files, history).items.size(), 10u);
}

// A save is encoded and written in the background, while the main thread goes on changing the
// history: it writes the history as it was when the save was asked for.
TEST_F(ClipboardPersistenceTest, ASaveWritesTheHistoryAsItWasWhenAskedFor) {
    auto own = makeFile();
    own->list.insertText("first");
    own->file.saveNow();
    own->list.insertText("second");
    own->list.insertImage(data / "images/6F9619FF-8B86-4011-B42D-00C04FC964FF.png", 3);
    scheduler.runPending();
    EXPECT_EQ(testing::texts(historyJson::readFile(files, history).items), std::vector<std::string>{"first"});
    EXPECT_THAT(loggedContaining("persisted"),
                ElementsAre(StartsWith(line("clipboard: persisted 1 items ("))));
    own->file.saveNow();
    scheduler.runPending();
    EXPECT_EQ(testing::texts(historyJson::readFile(files, history).items),
              (std::vector<std::string>{"<image>", "second", "first"}));
}

TEST_F(ClipboardPersistenceTest, WithoutAHistoryFileTheStoreStartsEmptyAndLoadsOnlyOnce) {
    auto store = makeStore();
    store->startMonitoring();
    EXPECT_THAT(logged(), ElementsAre(line("clipboard: no history file yet at " + history.string())));
    store->stopMonitoring();
    testing::writeFile(history, array({textJson(1, "late")}));
    store->startMonitoring();
    EXPECT_THAT(store->items(), IsEmpty());
    EXPECT_THAT(loggedContaining("history file"), ::testing::SizeIs(1));
    EXPECT_THAT(loggedContaining("from disk"), IsEmpty());
}

TEST_F(ClipboardPersistenceTest, AMemoryOnlyStoreNeverTouchesTheDisk) {
    testing::writeFile(history, array({textJson(1, "on disk")}));
    auto o = options();
    o.persistToDisk = false;
    auto store = makeStore(o);
    store->startMonitoring();
    store->capturedText("memory");
    store->removeAll();
    scheduler.advance(5s);
    store->stopMonitoring();
    EXPECT_THAT(files.written, IsEmpty());
    EXPECT_THAT(loggedContaining("persist"), IsEmpty());
    EXPECT_THAT(loggedContaining("from disk"), IsEmpty());
    EXPECT_THAT(loggedContaining("no history file"), IsEmpty());
    EXPECT_EQ(readAll(history), array({textJson(1, "on disk")}));
}

TEST_F(ClipboardPersistenceTest, AFailedSaveIsLoggedAndTheLastGoodFileStays) {
    auto own = makeFile();
    own->list.insertText("saved");
    own->file.saveNow();
    scheduler.runPending();
    const std::string good = readAll(history);
    files.writeError = "No space left on device";
    own->list.insertText("lost this time");
    sink->clear();
    own->file.saveNow();
    scheduler.runPending();
    EXPECT_THAT(logged(), ElementsAre(line("clipboard: persist failed — No space left on device")));
    EXPECT_EQ(readAll(history), good);
    files.writeError.reset();
    files.directoryError = "Permission denied";
    sink->clear();
    own->file.saveNow();
    scheduler.runPending();
    EXPECT_THAT(logged(), ElementsAre(line("clipboard: persist failed — Permission denied")));
}

TEST_F(ClipboardPersistenceTest, AnUnreadableHistoryIsKeptAsideBeforeTheFirstSave) {
    testing::writeFile(history, "[{\"broken\"");
    const fs::path older = data / "clipboard-history.json.unreadable";
    testing::writeFile(older, "an older unreadable copy");
    const fs::path kept = data / "clipboard-history.json.unreadable-2";
    auto store = makeStore();
    store->startMonitoring();
    store->capturedText("new");
    EXPECT_EQ(readAll(history), "[{\"broken\"") << "loading and changing the list write nothing";
    files.writeError = "Input/output error";
    sink->clear();
    scheduler.advance(1s);
    EXPECT_EQ(readAll(kept), "[{\"broken\"") << "kept before anything is written over it";
    EXPECT_EQ(readAll(older), "an older unreadable copy") << "an older copy is not replaced";
    EXPECT_THAT(logged(), ElementsAre(line("clipboard: kept unreadable history as " + kept.string()),
                                      line("clipboard: persist failed — Input/output error")));
    files.writeError.reset();
    sink->clear();
    store->stopMonitoring();  // the last save failed: quitting saves again
    scheduler.runPending();
    EXPECT_EQ(historyJson::readFile(files, history).items.size(), 1u);
    EXPECT_EQ(readAll(kept), "[{\"broken\"") << "our own file is not moved aside";
    EXPECT_THAT(logged(), ElementsAre(StartsWith(line("clipboard: persisted 1 items ("))));
}

TEST_F(ClipboardPersistenceTest, ClosingTheStoreWritesWhatIsPending) {
    auto store = makeStore();
    store->capturedText("copied just before quitting");
    store.reset();
    EXPECT_EQ(historyJson::readFile(files, history).items.size(), 1u);
    scheduler.advance(5s);  // the superseded background task finds nothing to do
    EXPECT_EQ(loggedContaining("persisted").size(), 1u);
}

TEST_F(ClipboardPersistenceTest, LoadingRemovesOnlyTheStoresOwnImageFilesThatNothingNames) {
    const fs::path images = data / "images";
    const std::string named = "6F9619FF-8B86-4011-B42D-00C04FC964FF.png";
    const std::string unnamed = "0E984725-C51C-4BF4-9960-E1C80E27ABA0";
    struct Case {
        std::string file;
        bool kept;
    } cases[] = {
        {named, true},
        {unnamed + ".png", false},
        {unnamed + ".png.tmp", false},
        {unnamed + ".png.tmp.a1B2c3", false},
        {"0e984725-c51c-4bf4-9960-e1c80e27aba0.png", true},  // not a name the store gives
        {unnamed + ".jpg", true},
        {"holiday.png", true},
        {"notes/" + unnamed + ".png", true},
    };
    for (const auto& c : cases)
        testing::writeFile(images / c.file, "png");
    const fs::path outside = dir / "elsewhere" / (unnamed + ".png");
    testing::writeFile(outside, "png");
    testing::writeFile(history, array({imageJson(1, (images / named).string())}));
    auto store = makeStore();
    store->startMonitoring();
    for (const auto& c : cases)
        EXPECT_EQ(fs::exists(images / c.file), c.kept) << c.file;
    EXPECT_TRUE(fs::exists(outside));
    ASSERT_EQ(store->history().imageCount(), 1u);
    EXPECT_TRUE(store->imageURL(store->items()[0]));
}

TEST_F(ClipboardPersistenceTest, AHistoryLargerThanAnyHistoryCanBeIsNotReadAndIsKeptAside) {
    auto o = options();
    o.maxItems = 1;
    o.maxTextLength = 10;
    const std::uintmax_t limit = historyJson::largestFileSize(1, 10);
    const std::string big = array({textJson(1, std::string(limit, 'x'))});
    testing::writeFile(history, big);
    auto store = makeStore(o);
    store->startMonitoring();
    EXPECT_THAT(store->items(), IsEmpty());
    EXPECT_THAT(logged(),
                ElementsAre(line("clipboard: failed to load history — " + history.string() + " is " +
                                 std::to_string(big.size()) + " bytes, larger than any history can be (" +
                                 std::to_string(limit) + " bytes)")));
    EXPECT_THAT(files.read, IsEmpty());
    store->capturedText("new");
    scheduler.advance(1s);
    EXPECT_EQ(readAll(data / "clipboard-history.json.unreadable"), big);
    EXPECT_EQ(historyJson::readFile(files, history).items.size(), 1u);
}

// ---- Real files: permissions, crash safety, write order.

class RealFilesTest : public ClipboardPersistenceTest {
  protected:
    linux_backend::PosixAtomicFile posix;
};

TEST_F(RealFilesTest, FoldersArePrivateAndFilesOwnerOnly) {
    const mode_t previous = ::umask(0);  // the widest the process could ask for
    fs::create_directories(data / "images");
    fs::permissions(data, fs::perms::all);
    fs::permissions(data / "images", static_cast<fs::perms>(0755));
    testing::writeFile(history.string() + ".tmp", "left by a crash");
    fs::permissions(fs::path(history.string() + ".tmp"), fs::perms::all);
    auto store = makeStore(options(), &posix);
    store->startMonitoring();  // clears away what earlier saves left behind
    auto image = store->capturedImage(fake::FakeImageCodec::pngBytes(1, 1));
    scheduler.advance(1s);
    EXPECT_EQ(modeOf(data), 0700u);
    EXPECT_EQ(modeOf(data / "images"), 0700u);
    EXPECT_EQ(modeOf(history), 0600u);
    ASSERT_TRUE(image);
    EXPECT_EQ(modeOf(*image->imagePath), 0600u);
    EXPECT_FALSE(fs::exists(history.string() + ".tmp"));

    auto o = options();
    o.storagePath = dir / "new/deeper/history.json";
    auto fresh = makeStore(o, &posix);
    fresh->startMonitoring();
    fresh->stopMonitoring();  // a history never saved is saved at quit
    EXPECT_EQ(modeOf(dir / "new"), 0700u);
    EXPECT_EQ(modeOf(dir / "new/deeper"), 0700u);
    EXPECT_EQ(modeOf(dir / "new/deeper/history.json"), 0600u);
    ::umask(previous);
}

TEST_F(RealFilesTest, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
    testing::writeFile(history, "old");
    EXPECT_FALSE(posix.writeAtomically(history, data / "missing/x.tmp", "new"));
    EXPECT_EQ(readAll(history), "old");
    fs::create_directories(data / "blocked");
    // A folder where the file should go: the rename fails, and the temporary file is cleaned up.
    auto written = posix.writeAtomically(data / "blocked", data / "blocked.tmp", "new");
    ASSERT_FALSE(written);
    EXPECT_THAT(written.error().reason, HasSubstr("could not move the new file into place"));
    EXPECT_FALSE(fs::exists(data / "blocked.tmp"));
    testing::writeFile(data / "plain", "");
    EXPECT_THAT(posix.ensurePrivateDirectory(data / "plain").error().reason, HasSubstr("is not a folder"));
}

// A save killed at any moment leaves the previous history or the new one, whole.
TEST_F(RealFilesTest, ASaveKilledAtARandomMomentLeavesAWholeHistory) {
    std::vector<ClipboardItem> a, b;
    const auto t = std::chrono::sys_days{std::chrono::May / 1 / 2024};
    for (int i = 0; i < 40; ++i) {
        a.push_back(
            ClipboardItem::makeText(nameBasedUUID("a" + std::to_string(i)), std::string(20000, 'a'), t));
        b.push_back(
            ClipboardItem::makeText(nameBasedUUID("b" + std::to_string(i)), std::string(30000, 'b'), t));
    }
    const std::string bytesA = historyJson::encode(a);
    const std::string bytesB = historyJson::encode(b);
    fs::create_directories(data);
    ASSERT_TRUE(posix.writeAtomically(history, history.string() + ".tmp", bytesA));
    std::mt19937 random(20240501);
    for (int round = 0; round < 20; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) {
                // The parent kills this loop at a random moment; what it wrote is checked there.
                (void)posix.writeAtomically(history, history.string() + ".tmp", bytesB);
                (void)posix.writeAtomically(history, history.string() + ".tmp", bytesA);
            }
        }
        ::usleep(std::uniform_int_distribution<useconds_t>(500, 30000)(random));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        const auto decoded = historyJson::readFile(files, history);
        ASSERT_FALSE(decoded.error) << "round " << round << ": " << *decoded.error;
        EXPECT_TRUE(decoded.items == a || decoded.items == b) << "round " << round;
    }
}

// Saves handed to the writer from a burst land in order: the file ends with the last one.
TEST_F(RealFilesTest, BackgroundWritesLandInOrder) {
    linux_backend::ThreadScheduler threads(2);
    OwnFile own(*this, threads, posix);
    for (int i = 0; i < 60; ++i) {
        own.list.insertText("copy " + std::to_string(i));
        own.file.saveNow();
    }
    own.file.flush();
    auto decoded = historyJson::readFile(files, history);
    ASSERT_FALSE(decoded.error);
    ASSERT_EQ(decoded.items.size(), 60u);
    EXPECT_EQ(decoded.items[0].text(), "copy 59");
}

// Saving takes permissions away from the history's folders, never adds any, and a linked images
// folder is not the store's: nothing is written into it, changed in it or deleted from it.
TEST_F(RealFilesTest, SavingOnlyNarrowsPermissionsAndLeavesALinkedImagesFolderAlone) {
    struct Case {
        unsigned before;
        unsigned after;
    } cases[] = {{0500, 0500}, {0750, 0700}, {0777, 0700}, {0700, 0700}, {0300, 0300}, {0370, 0300}};
    for (const auto& c : cases) {
        const fs::path folder = dir / ("mode" + std::to_string(c.before));
        fs::create_directories(folder);
        fs::permissions(folder, static_cast<fs::perms>(c.before));
        auto o = options();
        o.storagePath = folder / "history.json";
        auto store = makeStore(o, &posix);
        store->capturedText("x");
        scheduler.advance(1s);
        EXPECT_EQ(modeOf(folder), c.after) << std::oct << c.before;
        fs::permissions(folder, fs::perms::owner_all);
    }

    const fs::path elsewhere = dir / "pictures";
    fs::create_directories(elsewhere);
    fs::permissions(elsewhere, static_cast<fs::perms>(0755));
    const fs::path foreign = elsewhere / "0E984725-C51C-4BF4-9960-E1C80E27ABA0.png";
    testing::writeFile(foreign, "png");
    fs::create_directories(data);
    fs::create_directory_symlink(elsewhere, data / "images");
    testing::writeFile(
        history, array({imageJson(1, (data / "images/6F9619FF-8B86-4011-B42D-00C04FC964FF.png").string())}));
    sink->clear();
    auto store = makeStore(options(), &posix);
    store->startMonitoring();
    EXPECT_FALSE(store->capturedImage(fake::FakeImageCodec::pngBytes(1, 1)));
    store->removeAll();
    scheduler.advance(1s);
    EXPECT_EQ(modeOf(elsewhere), 0755u);
    EXPECT_TRUE(fs::exists(foreign));
    EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere), fs::directory_iterator()), 1);
    EXPECT_THAT(loggedContaining("symbolic link"),
                ElementsAre(line("clipboard: image write failed — " + (data / "images").string() +
                                 " is a symbolic link, not a folder of the program's own")));
    EXPECT_THAT(loggedContaining("not a folder of the store's own"), ::testing::SizeIs(1));
}

// Whatever occupies the name of the kept-aside copy or of the temporary file, the next save lands.
TEST_F(RealFilesTest, SavesAreNotStuckOnWhatOccupiesTheirNames) {
    struct Case {
        std::string name;
        std::string history;
        std::function<void(const fs::path& file)> occupy;
        bool load;  // a load would clear leftover temporary files away first
    } cases[] = {
        {"a folder where the kept copy goes", "[{\"broken\"",
         [](const fs::path& file) { fs::create_directories(file.string() + ".unreadable/inside"); }, true},
        {"a link where the temporary file went", "[]",
         [this](const fs::path& file) { fs::create_symlink(dir / "target", file.string() + ".tmp"); }, false},
        {"a link to nowhere there", "[]",
         [this](const fs::path& file) { fs::create_symlink(dir / "nowhere", file.string() + ".tmp"); },
         false},
    };
    testing::writeFile(dir / "target", "not ours");
    for (const auto& c : cases) {
        const fs::path file = dir / c.name / "history.json";
        testing::writeFile(file, c.history);
        c.occupy(file);
        auto o = options();
        o.storagePath = file;
        sink->clear();
        auto store = makeStore(o, &posix);
        if (c.load) store->startMonitoring();
        store->capturedText("new");
        scheduler.advance(1s);
        EXPECT_THAT(loggedContaining("persist"),
                    ElementsAre(StartsWith(line("clipboard: persisted 1 items ("))))
            << c.name;
        EXPECT_EQ(historyJson::readFile(posix, file).items.size(), 1u) << c.name;
    }
    EXPECT_EQ(readAll(dir / "target"), "not ours");
    EXPECT_FALSE(fs::exists(dir / "nowhere"));
    EXPECT_EQ(readAll(dir / "a folder where the kept copy goes/history.json.unreadable-2"), "[{\"broken\"");
}

// A store killed at any moment of its saves leaves a history whose images are all there, and the
// next load leaves no image file that nothing names. The loop runs in a program of its own, so
// each kill is a real one.
TEST_F(RealFilesTest, AStoreKilledAtRandomMomentsLosesNoImageAndLeavesNoOrphan) {
    const fs::path images = data / "images";
    std::mt19937 random(20261207);
    int imagesSeen = 0;
    for (int round = 0; round < 300; ++round) {
        const std::string seed = std::to_string(round);
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::dup2(ready[1], STDOUT_FILENO);
            ::execl(QUENLIT_SAVE_LOOP, QUENLIT_SAVE_LOOP, data.c_str(), seed.c_str(), nullptr);
            ::_exit(127);
        }
        ::close(ready[1]);
        char byte = 0;
        const bool started = ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
        ASSERT_TRUE(started) << "round " << round << ": the loop did not start";
        ::usleep(std::uniform_int_distribution<useconds_t>(2000, 12000)(random));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round << ": the loop ended by itself";

        sink->clear();
        auto o = options();
        o.maxItems = 6;
        o.maxImages = 3;
        auto store = makeStore(o, &posix);
        store->startMonitoring();
        ASSERT_THAT(loggedContaining("failed"), IsEmpty()) << "round " << round;
        std::set<fs::path> named;
        for (const auto& item : store->items()) {
            if (item.kind != ClipboardItem::Kind::image) continue;
            ++imagesSeen;
            named.insert(*item.imagePath);
            EXPECT_TRUE(fs::exists(*item.imagePath)) << "round " << round << ": " << *item.imagePath;
        }
        if (!fs::exists(images)) continue;
        for (const auto& entry : fs::directory_iterator(images))
            EXPECT_TRUE(named.contains(entry.path())) << "round " << round << ": orphan " << entry.path();
    }
    EXPECT_GT(imagesSeen, 0) << "the loop saved no image at all";
}

}  // namespace
}  // namespace quenlit
