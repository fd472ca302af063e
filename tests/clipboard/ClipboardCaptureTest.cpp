#include "backends/fake/FakeAtomicFile.h"
#include "backends/fake/FakeImageCodec.h"
#include "backends/fake/FakePasteboard.h"
#include "backends/fake/FakeSecretStore.h"
#include "backends/fake/VirtualScheduler.h"
#include "base/Log.h"
#include "clipboard/CaptureSink.h"
#include "clipboard/ClipboardCapture.h"
#include "clipboard/ClipboardPasteboardFiles.h"
#include "clipboard/ClipboardStore.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace quenlit {
namespace {

namespace fs = std::filesystem;
namespace files = ClipboardPasteboardFiles;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

const std::string kString(platform::pasteboardType::string);
const std::string kPNG(platform::pasteboardType::png);
const std::string kTIFF(platform::pasteboardType::tiff);
const std::string kFileURL(platform::pasteboardType::fileURL);
const std::string kInternal(ClipboardCapture::internalType);

// A folder made under `base` for one test. Capture treats "/tmp" as temporary, so the files that
// must count as durable are made beside the test's working directory instead.
// Files that must count as permanent cannot live in /tmp (a temporary root): they go in the home
// folder, or beside the tests when there is no usable one.
fs::path durableBase() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && fs::path(home).is_absolute() && fs::is_directory(home)) {
        const std::string h = fs::canonical(home).string();
        if (h.rfind("/tmp", 0) != 0 && h.rfind("/var/tmp", 0) != 0 && h.rfind("/dev/shm", 0) != 0) return h;
    }
    return fs::current_path();
}

class ScratchDir {
  public:
    explicit ScratchDir(const fs::path& base) {
        std::string pattern = (base / "quenlit-capture-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed in " + base.string());
        path_ = fs::canonical(pattern);
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    fs::path write(const std::string& relative, const std::string& bytes) const {
        const fs::path p = path_ / relative;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

using Codec = fake::FakeImageCodec;

platform::PasteboardItem fileItem(const std::string& url) {
    return {{{kFileURL, url}}};
}

// ---- The file helpers.

struct PathCase {
    std::string url;
    std::optional<std::string> path;
};

class FilePathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(FilePathTest, DecodesLocalFileURLsOnly) {
    EXPECT_EQ(files::filePath(GetParam().url), GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(
    Urls, FilePathTest,
    ::testing::Values(
        PathCase{"file:///home/ann/My%20Notes.txt", "/home/ann/My Notes.txt"},
        PathCase{"file://localhost/srv/a.png", "/srv/a.png"}, PathCase{"file:/srv/a.png", "/srv/a.png"},
        PathCase{"file:///caf%C3%A9/%e2%82%ac.txt", "/café/€.txt"},
        PathCase{"file:///a%23b%3Fc.txt", "/a#b?c.txt"}, PathCase{"file:///a.txt#frag", "/a.txt"},
        PathCase{"file://otherhost/a.txt", std::nullopt}, PathCase{"https://example.org/a.png", std::nullopt},
        PathCase{"file:a.txt", std::nullopt}, PathCase{"file://", std::nullopt},
        PathCase{"file:///a%2", std::nullopt}, PathCase{"file:///a%00b", std::nullopt}));

TEST(ClipboardPasteboardFilesTest, FileURLEncodesWhatAPathMayHoldAndDecodesBack) {
    const std::string path = "/home/ann/My File #1 100%?.png";
    EXPECT_EQ(files::fileURL(path), "file:///home/ann/My%20File%20%231%20100%25%3F.png");
    EXPECT_EQ(files::filePath(files::fileURL(path)), path);
    EXPECT_EQ(files::filePath(files::fileURL("/caf\xC3\xA9")), "/caf\xC3\xA9");
}

TEST(ClipboardPasteboardFilesTest, VolatileRootsComeFromTheUsersFolders) {
    const XdgDirs dirs = XdgDirs::fromEnvironment([](const char* name) -> const char* {
        const std::string key = name;
        if (key == "HOME") return "/home/nobody-quenlit";
        if (key == "XDG_RUNTIME_DIR") return "/run/user/4711";
        return nullptr;
    });
    const std::vector<std::string> roots = files::volatileRoots(dirs);
    ASSERT_GE(roots.size(), 5u);
    EXPECT_EQ(roots.front(), "/tmp");
    EXPECT_THAT(roots, Contains("/var/tmp"));
    EXPECT_THAT(roots, Contains("/dev/shm"));
    EXPECT_THAT(roots, Contains("/run/user/4711"));
    EXPECT_EQ(roots.back(), "/home/nobody-quenlit/.cache");

    const XdgDirs withoutRuntime = XdgDirs::fromEnvironment([](const char* name) -> const char* {
        return std::string(name) == "XDG_CACHE_HOME" ? "/srv/cache-quenlit/" : nullptr;
    });
    const std::vector<std::string> other = files::volatileRoots(withoutRuntime);
    EXPECT_THAT(other, Not(Contains(HasSubstr("/run/user"))));
    EXPECT_EQ(other.back(), "/srv/cache-quenlit");
}

class DurableFilesTest : public ::testing::Test {
  protected:
    ScratchDir dir{durableBase()};
    std::vector<std::string> roots{(dir.path() / "cache").string()};
    fake::FakePasteboard pasteboard;
    Codec codec;
};

TEST_F(DurableFilesTest, FilesInsideARootAreTemporaryButNotFilesBesideIt) {
    const fs::path cached = dir.write("cache/thumb.png", "x");
    const fs::path beside = dir.write("cache-notes/todo.txt", "x");
    fs::create_symlink(cached, dir.path() / "link.png");
    EXPECT_FALSE(files::isDurableFile(cached.string(), roots));
    EXPECT_FALSE(files::isDurableFile((dir.path() / "link.png").string(), roots));  // judged where it leads
    EXPECT_TRUE(files::isDurableFile(beside.string(), roots));
    EXPECT_FALSE(files::isDurableFile((dir.path() / "missing.txt").string(), roots));
}

TEST_F(DurableFilesTest, ItemURLsAreKeptAsGivenInOrderUpToTheLimit) {
    const fs::path a = dir.write("a b.txt", "a");
    const fs::path b = dir.write("b.txt", "b");
    const fs::path c = dir.write("c.txt", "c");
    const std::string aURL = "file://localhost" + files::fileURL(a.string()).substr(7);
    pasteboard.copy({fileItem(aURL + "\r\n"), fileItem(files::fileURL(b.string())),
                     fileItem(files::fileURL(c.string()))});

    EXPECT_THAT(files::durableFileURLs(pasteboard, 2, roots),
                ElementsAre(files::FileURL{aURL, a.string()},
                            files::FileURL{files::fileURL(b.string()), b.string()}));
}

TEST_F(DurableFilesTest, LegacyListIsReadOnlyWhenNoItemCarriesAFileURL) {
    const fs::path cached = dir.write("cache/tmp.txt", "x");
    const fs::path kept = dir.write("kept.txt", "x");

    pasteboard.copy({fileItem(files::fileURL(cached.string()))});
    pasteboard.legacyList = std::vector<std::string>{kept.string()};
    EXPECT_THAT(files::durableFileURLs(pasteboard, 32, roots), IsEmpty());

    pasteboard.copyText("hello");
    pasteboard.legacyList = std::vector<std::string>{"relative.txt", cached.string(), kept.string()};
    EXPECT_THAT(files::durableFileURLs(pasteboard, 32, roots),
                ElementsAre(files::FileURL{files::fileURL(kept.string()), kept.string()}));
}

TEST_F(DurableFilesTest, FirstImageIsTheFirstPictureAmongTheFiles) {
    const fs::path notes = dir.write("notes.txt", "x");
    const fs::path photo = dir.write("photo", Codec::pngBytes(4, 3, "raw"));
    const fs::path logo = dir.write("logo.png", "png");
    pasteboard.copy({fileItem(files::fileURL(notes.string())), fileItem(files::fileURL(photo.string())),
                     fileItem(files::fileURL(logo.string()))});

    const auto first = files::firstDurableImageFileURL(pasteboard, codec, roots);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->path, photo.string());
    EXPECT_EQ(files::pngData(*first, codec), Codec::pngBytes(4, 3, "raw"));
}

// ---- Capture on its own: what it hands to its sink.

// Keeps what the capture hands over as entries of its own, newest first; pictures get no file.
class RecordingSink final : public CaptureSink {
  public:
    std::optional<ClipboardItem> capturedText(std::string text) override {
        if (!keep) return std::nullopt;
        handed.insert(handed.begin(), text);
        return add(ClipboardItem::makeText(nextId(), std::move(text), {}));
    }
    std::optional<ClipboardItem> capturedImage(std::string_view png) override {
        if (!keep) return std::nullopt;
        handed.insert(handed.begin(), "<image " + std::string(png) + ">");
        return add(ClipboardItem::makeImage(nextId(), "", {}));
    }
    std::optional<ClipboardItem> newest() const override {
        if (entries.empty()) return std::nullopt;
        return entries.front();
    }
    std::optional<fs::path> imageURL(const ClipboardItem&) const override { return std::nullopt; }

    bool keep = true;                 // false: nothing handed over is kept
    std::vector<std::string> handed;  // newest first; "<image BYTES>" for a picture
    std::vector<ClipboardItem> entries;

  private:
    Uuid nextId() const { return nameBasedUUID("entry " + std::to_string(entries.size())); }
    ClipboardItem add(ClipboardItem item) {
        entries.insert(entries.begin(), item);
        return item;
    }
};

class CaptureToSinkTest : public ::testing::Test {
  protected:
    void SetUp() override { log::installSinks({sink}); }
    void TearDown() override { log::installSinks({}); }

    void poll() { scheduler.advance(platform::Seconds(2)); }
    std::vector<std::string> texts() const { return received.handed; }
    std::vector<std::string> logLines() const {
        std::vector<std::string> out;
        for (const std::string& line : sink->lines())
            out.push_back(line.substr(log::kPrefix.size()));
        return out;
    }

    std::shared_ptr<log::MemorySink> sink = std::make_shared<log::MemorySink>();
    fake::VirtualScheduler scheduler;
    fake::FakePasteboard pasteboard;
    Codec codec;
    ScratchDir volatileDir{"/tmp"};
    RecordingSink received;
    std::unique_ptr<ClipboardCapture> capture = std::make_unique<ClipboardCapture>(
        ClipboardCapture::Services{scheduler, pasteboard, codec}, received, platform::Seconds(2));
};

TEST_F(CaptureToSinkTest, StartTakesTheCurrentContentOnceAndFollowsTheClipboardUntilStopped) {
    pasteboard.copyText("current");
    EXPECT_FALSE(capture->isRunning());
    capture->start();
    capture->start();
    EXPECT_TRUE(capture->isRunning());
    EXPECT_EQ(capture->lastChangeCount(), pasteboard.changeCount());
    EXPECT_EQ(capture->pollInterval().count(), 2.0);
    EXPECT_THAT(texts(), ElementsAre("current"));
    EXPECT_THAT(logLines(), IsEmpty()) << "the capture itself logs nothing for a text";
    capture->stop();
    EXPECT_FALSE(capture->isRunning());
}

// Paste-back marks what it writes, and the capture counts the clipboard's change as handled. The
// newest entry goes back on a clipboard its owner left empty only when it is that owner's copy:
// a copy the sink did not keep leaves the clipboard empty, though an older entry is there.
TEST_F(CaptureToSinkTest, AnOwnerLeavingTheClipboardEmptyGetsBackOnlyACopyTheSinkKept) {
    for (const bool kept : {true, false}) {
        SCOPED_TRACE(kept ? "kept" : "not kept");
        pasteboard.clearByAnotherProgram();
        received.handed.clear();
        received.entries.clear();
        received.keep = true;
        pasteboard.announcing = true;
        capture->start();
        pasteboard.copyText("older");
        scheduler.advance(platform::Seconds(0.2));
        received.keep = kept;
        pasteboard.copyText("copied");
        pasteboard.ownerExits();
        scheduler.runPending();
        if (kept) {
            EXPECT_THAT(pasteboard.types(), ElementsAre(kString, kInternal));
            EXPECT_EQ(pasteboard.string(platform::pasteboardType::string), "copied");
            EXPECT_EQ(capture->lastChangeCount(), pasteboard.changeCount());
            EXPECT_THAT(logLines(),
                        Contains("clipboard: clipboard left empty by its owner — republishing newest item"));
        } else {
            EXPECT_THAT(pasteboard.types(), IsEmpty());
        }
        poll();
        const std::vector<std::string> expected =
            kept ? std::vector<std::string>{"copied", "older"} : std::vector<std::string>{"older"};
        EXPECT_EQ(texts(), expected) << "paste-back is not captured again";
        capture->stop();
        pasteboard.announcing = false;
        sink->clear();
    }
}

TEST_F(CaptureToSinkTest, SeveralCopiesBetweenTwoPollsGiveOnlyTheLast) {
    capture->start();
    scheduler.advance(platform::Seconds(0.5));
    pasteboard.copyText("first");
    scheduler.advance(platform::Seconds(1));
    pasteboard.copyText("second");
    EXPECT_THAT(texts(), IsEmpty());

    scheduler.advance(platform::Seconds(0.5));
    EXPECT_THAT(texts(), ElementsAre("second"));
    poll();
    poll();
    EXPECT_THAT(texts(), ElementsAre("second"));
}

TEST_F(CaptureToSinkTest, TextIsTrimmedAndBlankTextIgnored) {
    capture->start();
    for (const char* copied : {"  hello\n", "   ", "\t\n", "\u00A0x y\u2003"}) {
        pasteboard.copyText(copied);
        poll();
    }
    EXPECT_THAT(texts(), ElementsAre("x y", "hello"));
}

TEST_F(CaptureToSinkTest, CopiedPictureFilesBecomeImages) {
    ScratchDir pictures{durableBase()};
    const fs::path png = pictures.write("logo.png", Codec::pngBytes(2, 2, "logo"));
    const fs::path jpg = pictures.write("Holiday Photo.jpg", "JFIF");
    codec.convertedFiles[jpg.string()] = Codec::pngBytes(8, 6, "holiday");
    capture->start();

    pasteboard.copy({fileItem(files::fileURL(png.string()))});
    poll();
    pasteboard.copy({fileItem(files::fileURL(jpg.string()))});
    poll();

    EXPECT_THAT(texts(), ElementsAre("<image " + Codec::pngBytes(8, 6, "holiday") + ">",
                                     "<image " + Codec::pngBytes(2, 2, "logo") + ">"));
}

TEST_F(CaptureToSinkTest, OtherFilesGiveTheirPath) {
    ScratchDir docs{durableBase()};
    const fs::path txt = docs.write("notes.txt", "just text");
    capture->start();
    pasteboard.copy({fileItem(files::fileURL(txt.string()))});
    poll();
    EXPECT_THAT(texts(), ElementsAre(txt.string()));
}

TEST_F(CaptureToSinkTest, SeveralFilesGiveOneItem) {
    ScratchDir docs{durableBase()};
    const std::string a = files::fileURL(docs.write("a.txt", "a").string());
    const fs::path bPath = docs.write("b.jpg", "JFIF");
    codec.convertedFiles[bPath.string()] = "png of b";
    const std::string b = files::fileURL(bPath.string());
    const std::string c = files::fileURL(docs.write("c.png", "c").string());
    const std::string d = files::fileURL(docs.write("d.md", "d").string());
    capture->start();

    pasteboard.copy({fileItem(a), fileItem(b), fileItem(c)});
    poll();
    pasteboard.copy({fileItem(a), fileItem(d)});
    poll();

    EXPECT_THAT(texts(), ElementsAre((docs.path() / "a.txt").string(), "<image png of b>"));
}

TEST_F(CaptureToSinkTest, TemporaryFilesFallThroughToImageDataAndText) {
    const fs::path tmpPicture = fs::path(volatileDir.write("shot.png", "tmp png"));
    ScratchDir cacheHome{durableBase()};
    const fs::path cachedNote = cacheHome.write("app/note.txt", "cached");
    const char* previous = std::getenv("XDG_CACHE_HOME");
    const std::optional<std::string> saved = previous ? std::optional<std::string>(previous) : std::nullopt;
    ::setenv("XDG_CACHE_HOME", cacheHome.path().c_str(), 1);
    capture->start();

    pasteboard.copy({{{{kFileURL, files::fileURL(tmpPicture.string())}, {kPNG, "data png"}}}});
    poll();
    pasteboard.copy({{{{kFileURL, files::fileURL(cachedNote.string())}, {kString, "the note"}}}});
    poll();

    if (saved) {
        ::setenv("XDG_CACHE_HOME", saved->c_str(), 1);
    } else {
        ::unsetenv("XDG_CACHE_HOME");
    }
    EXPECT_THAT(texts(), ElementsAre("the note", "<image data png>"));
}

TEST_F(CaptureToSinkTest, PNGDataIsPreferredAndTIFFConverted) {
    codec.tiffToPng["TIFF:one"] = "png from tiff one";
    codec.tiffToPng["TIFF:two"] = "png from tiff two";
    capture->start();
    pasteboard.copy({{{{kTIFF, "TIFF:one"}, {kPNG, "png one"}}}});
    poll();
    pasteboard.copy({{{{kTIFF, "TIFF:two"}, {kString, "caption"}}}});
    poll();
    EXPECT_THAT(texts(), ElementsAre("<image png from tiff two>", "<image png one>"));
}

TEST_F(CaptureToSinkTest, FailedConversionsAreLoggedAndNothingIsStored) {
    ScratchDir docs{durableBase()};
    const fs::path broken = docs.write("broken.jpg", "not a picture after all");
    capture->start();
    sink->clear();

    pasteboard.copy({{{{kTIFF, "not a tiff"}, {kString, "caption"}}}});
    poll();
    pasteboard.copy({fileItem(files::fileURL(broken.string()))});
    poll();
    // A desktop offers its other pictures the way TIFF comes: the line says what it was.
    pasteboard.copy({{{{kTIFF, "\xFF\xD8\xFF\xE0 a broken jpeg"}}}});
    poll();

    EXPECT_THAT(texts(), IsEmpty());
    EXPECT_THAT(logLines(), ElementsAre("clipboard: TIFF→PNG failed — skipped image",
                                        "clipboard: failed to read image file broken.jpg",
                                        "clipboard: JPEG→PNG failed — skipped image"));
}

TEST_F(CaptureToSinkTest, CopiesAreRecordedInTheOrderTheyWereMadeWhileAPictureIsConverted) {
    codec.tiffToPng["TIFF:slow"] = "png of the screenshot";
    ScratchDir pictures{durableBase()};
    const fs::path photo = pictures.write("photo.jpg", "JFIF");
    codec.convertedFiles[photo.string()] = "png of the photo";
    pasteboard.announcing = true;
    capture->start();

    // Each copy comes before the background work of the one before it has run.
    pasteboard.copy({{{{kTIFF, "TIFF:slow"}}}});
    pasteboard.copyText("caption");
    pasteboard.copy({fileItem(files::fileURL(photo.string()))});
    pasteboard.copyText("after the photo");
    scheduler.advance(platform::Seconds(0.5));

    EXPECT_THAT(texts(), ElementsAre("after the photo", "<image png of the photo>", "caption",
                                     "<image png of the screenshot>"));
}

TEST_F(CaptureToSinkTest, ConversionOutlivingTheCaptureIsDropped) {
    codec.tiffToPng["TIFF:late"] = "late png";
    pasteboard.copy({{{{kTIFF, "TIFF:late"}}}});
    capture->ingestCurrentPasteboardIfNeeded();
    ASSERT_EQ(scheduler.pendingBackgroundCount(), 1u);
    capture.reset();
    sink->clear();

    scheduler.runPending();
    EXPECT_THAT(logLines(), IsEmpty());
    EXPECT_THAT(texts(), IsEmpty());
}

TEST_F(CaptureToSinkTest, StoppedMonitoringNoLongerPolls) {
    capture->start();
    capture->stop();
    pasteboard.copyText("after stop");
    poll();
    poll();
    EXPECT_THAT(texts(), IsEmpty());
}

class SkippedTypeTest : public CaptureToSinkTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(SkippedTypeTest, MarkedContentIsNotRecorded) {
    capture->start();
    pasteboard.copyText("hunter2", {GetParam()});
    poll();
    EXPECT_THAT(texts(), IsEmpty());
    EXPECT_THAT(logLines(), Not(Contains(HasSubstr("captured"))));
}

INSTANTIATE_TEST_SUITE_P(Types, SkippedTypeTest,
                         ::testing::Values("org.nspasteboard.ConcealedType", "org.nspasteboard.TransientType",
                                           "com.apple.is-sensitive", "x-kde-passwordManagerHint",
                                           "com.quenlit.internal"));

// ---- Capture and paste-back through the store.

class ClipboardCaptureTest : public ::testing::Test {
  protected:
    void SetUp() override { log::installSinks({sink}); }
    void TearDown() override { log::installSinks({}); }

    std::unique_ptr<ClipboardStore> makeStore(bool persist = false) {
        ClipboardStore::Options options;
        options.appDataDir = data.path();
        options.imagesDirectory = data.path() / "images";
        options.persistToDisk = persist;
        if (persist) options.storagePath = data.path() / "clipboard-history.json";
        return std::make_unique<ClipboardStore>(
            ClipboardStore::Services{scheduler, pasteboard, codec, secrets, atomicFiles}, options);
    }

    void poll() { scheduler.advance(platform::Seconds(2)); }

    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const ClipboardItem& item : store->items()) {
            out.push_back(item.kind == ClipboardItem::Kind::image
                              ? "<image " + readFile(*item.imagePath) + ">"
                              : item.text());
        }
        return out;
    }

    std::vector<std::string> logLines() const {
        std::vector<std::string> out;
        for (const std::string& line : sink->lines())
            out.push_back(line.substr(log::kPrefix.size()));
        return out;
    }

    std::shared_ptr<log::MemorySink> sink = std::make_shared<log::MemorySink>();
    fake::VirtualScheduler scheduler;
    fake::FakePasteboard pasteboard;
    Codec codec;
    fake::FakeSecretStore secrets;
    fake::FakeAtomicFile atomicFiles;
    ScratchDir data{durableBase()};
    std::unique_ptr<ClipboardStore> store = makeStore();
};

TEST_F(ClipboardCaptureTest, StartLogsTheSettingsAndOffersTheCurrentText) {
    store->capturedText("old");
    store->capturedText("current");
    store->capturedText("newest");
    pasteboard.copyText("current");
    sink->clear();

    store->startMonitoring();
    store->startMonitoring();

    EXPECT_THAT(texts(), ElementsAre("current", "newest", "old"));
    EXPECT_THAT(logLines(),
                ElementsAre("clipboard: monitoring started (interval=2.0s bg, max=200, images≤30, "
                            "store=(memory-only))"));
}

TEST_F(ClipboardCaptureTest, StartLineNamesTheHistoryFile) {
    store = makeStore(true);
    store->startMonitoring();
    EXPECT_THAT(logLines(),
                Contains("clipboard: monitoring started (interval=2.0s bg, max=200, images≤30, store=" +
                         (data.path() / "clipboard-history.json").string() + ")"));
}

TEST_F(ClipboardCaptureTest, PicturesClaimingOverFortyMegapixelsAreRefusedWithOneLine) {
    ScratchDir pictures{durableBase()};
    const fs::path bombFile = pictures.write("bomb.png", Codec::pngBytes(30000, 30000, "file"));
    struct Case {
        std::vector<platform::PasteboardItem> copied;
        std::vector<std::string> history;
        std::vector<std::string> log;
    };
    const std::vector<Case> cases{
        {{{{{kPNG, Codec::pngBytes(30000, 30000, "bomb")}}}},
         {},
         {"clipboard: image of 30000×30000 pixels is over 40 megapixels — skipped"}},
        {{{{{kPNG, Codec::pngBytes(65536, 32768, "absurd")}}}},
         {},
         {"clipboard: image of 65536×32768 pixels is over 40 megapixels — skipped"}},
        {{fileItem(files::fileURL(bombFile.string()))},
         {},
         {"clipboard: image of 30000×30000 pixels is over 40 megapixels — skipped"}},
        {{{{{kPNG, Codec::pngBytes(8000, 5000, "forty")}}}},
         {"<image " + Codec::pngBytes(8000, 5000, "forty") + ">"},
         {"clipboard: captured image (38 bytes) history=1 images=1"}},
    };
    for (const Case& c : cases) {
        pasteboard.clearByAnotherProgram();
        store = makeStore();
        store->startMonitoring();
        sink->clear();
        pasteboard.copy(c.copied);
        poll();
        EXPECT_EQ(texts(), c.history);
        EXPECT_EQ(logLines(), c.log);
        store->stopMonitoring();
    }
}

TEST_F(ClipboardCaptureTest, AProgramCopyingTheSameTextOverAndOverDoesNotHoldTheSaveBack) {
    store = makeStore(true);
    pasteboard.announcing = true;
    store->startMonitoring();
    sink->clear();
    // Twenty copies a second for three seconds, far more often than the save's debounce.
    for (int i = 0; i < 60; ++i) {
        pasteboard.copyText("storm");
        scheduler.advance(platform::Seconds(0.05));
    }
    EXPECT_THAT(texts(), ElementsAre("storm"));
    EXPECT_THAT(logLines(), Contains(HasSubstr("clipboard: persisted 1 items")));
}

TEST_F(ClipboardCaptureTest, PastedTextCarriesTheMarkerAndIsNotCapturedAgain) {
    store->startMonitoring();
    store->capturedText("older");
    store->capturedText("newer");
    const ClipboardItem older = store->items()[1];
    sink->clear();

    store->copyToPasteboard(older);

    EXPECT_THAT(pasteboard.types(), ElementsAre(kString, kInternal));
    EXPECT_EQ(pasteboard.string(platform::pasteboardType::string), "older");
    EXPECT_EQ(pasteboard.data(kInternal), "");
    EXPECT_THAT(texts(), ElementsAre("older", "newer"));
    EXPECT_EQ(store->items()[0].id, older.id);

    poll();
    EXPECT_THAT(texts(), ElementsAre("older", "newer"));
    EXPECT_THAT(logLines(), ElementsAre("clipboard: wrote 5 chars to pasteboard"));
}

TEST_F(ClipboardCaptureTest, AWriteTheDesktopRefusesIsSaidNotCountedAsDone) {
    store->startMonitoring();
    store->capturedText("kept");
    sink->clear();
    pasteboard.writeFailure = "the compositor's clipboard cannot be reached";

    store->copyToPasteboard(store->items()[0]);

    EXPECT_THAT(logLines(), ElementsAre("clipboard: write to pasteboard failed — the compositor's clipboard "
                                        "cannot be reached"));
}

TEST_F(ClipboardCaptureTest, PastedImageCarriesItsBytesItsFileAndTheMarker) {
    const std::optional<ClipboardItem> image = store->capturedImage("\x89PNG picture");
    ASSERT_TRUE(image);
    store->capturedText("later");
    sink->clear();

    store->copyToPasteboard(*image);

    EXPECT_THAT(pasteboard.types(), ElementsAre(kPNG, kFileURL, kInternal));
    EXPECT_EQ(pasteboard.data(kPNG), "\x89PNG picture");
    EXPECT_EQ(pasteboard.data(kFileURL), files::fileURL(*image->imagePath));
    EXPECT_EQ(files::filePath(*pasteboard.data(kFileURL)), *image->imagePath);
    EXPECT_EQ(pasteboard.data(kInternal), "");
    EXPECT_EQ(store->items()[0].id, image->id);
    EXPECT_THAT(logLines(), ElementsAre("clipboard: wrote image (12 bytes) to pasteboard"));
}

TEST_F(ClipboardCaptureTest, PastingAnImageWhoseFileIsGoneChangesNothing) {
    const std::optional<ClipboardItem> image = store->capturedImage("png");
    ASSERT_TRUE(image);
    store->capturedText("later");
    pasteboard.copyText("someone else's");
    const long count = pasteboard.changeCount();
    fs::remove(*image->imagePath);
    sink->clear();

    store->copyToPasteboard(*image);

    EXPECT_EQ(pasteboard.changeCount(), count);
    EXPECT_EQ(pasteboard.string(platform::pasteboardType::string), "someone else's");
    EXPECT_EQ(store->items()[0].text(), "later");
    EXPECT_THAT(logLines(), ElementsAre("clipboard: image paste failed — missing blob"));
}

TEST_F(ClipboardCaptureTest, ClipboardLeftEmptyByItsOwnerGetsTheNewestEntryBack) {
    store->startMonitoring();
    pasteboard.copyText("older");
    poll();
    pasteboard.copyText("kept");
    poll();
    sink->clear();

    pasteboard.announcing = true;
    pasteboard.ownerExits();

    EXPECT_THAT(pasteboard.types(), ElementsAre(kString, kInternal));
    EXPECT_EQ(pasteboard.string(platform::pasteboardType::string), "kept");
    poll();
    EXPECT_THAT(texts(), ElementsAre("kept", "older"));
    EXPECT_THAT(logLines(),
                ElementsAre("clipboard: clipboard left empty by its owner — republishing newest item",
                            "clipboard: wrote 4 chars to pasteboard"));
}

TEST_F(ClipboardCaptureTest, EmptyClipboardWithEmptyHistoryStaysEmpty) {
    store->startMonitoring();
    pasteboard.clearContents();
    poll();
    EXPECT_THAT(pasteboard.types(), IsEmpty());
    EXPECT_THAT(texts(), IsEmpty());
}

// ---- Capture as the desktop announces each change.

struct Step {
    enum class Kind { copy, copySensitive, ownerExits, clear, pasteBackOldest, wait } kind;
    std::string text;
    double seconds = 0;
};

Step copy(std::string text) {
    return {Step::Kind::copy, std::move(text)};
}
Step copySensitive(std::string text) {
    return {Step::Kind::copySensitive, std::move(text)};
}
Step wait(double seconds) {
    return {Step::Kind::wait, "", seconds};
}
const Step ownerExits{Step::Kind::ownerExits, ""};
const Step cleared{Step::Kind::clear, ""};
const Step pasteBackOldest{Step::Kind::pasteBackOldest, ""};

struct AnnouncedCase {
    std::string name;
    std::vector<Step> steps;
    std::vector<std::string> history;
    // What a paste gives 4 s later: the text, "(ours)" when the program offers it again, "" when the
    // clipboard is empty.
    std::string clipboard;
};

void PrintTo(const AnnouncedCase& announced, std::ostream* os) {
    *os << announced.name;
}

class AnnouncedChangeTest : public ClipboardCaptureTest, public ::testing::WithParamInterface<AnnouncedCase> {
  protected:
    std::string clipboard() {
        const std::vector<std::string> types = pasteboard.types();
        if (types.empty()) return "";
        const std::string text = pasteboard.string(platform::pasteboardType::string).value_or("?");
        return std::find(types.begin(), types.end(), kInternal) != types.end() ? text + " (ours)" : text;
    }
};

TEST_P(AnnouncedChangeTest, EveryCopyIsRecordedAndOnlyAVanishedOwnerIsReplaced) {
    pasteboard.announcing = true;
    store->startMonitoring();
    scheduler.advance(platform::Seconds(0.7));  // between two polls
    for (const Step& step : GetParam().steps) {
        switch (step.kind) {
            case Step::Kind::copy:
                pasteboard.copyText(step.text);
                break;
            case Step::Kind::copySensitive:
                pasteboard.copyText(step.text, {"x-kde-passwordManagerHint"});
                break;
            case Step::Kind::ownerExits:
                pasteboard.ownerExits();
                break;
            case Step::Kind::clear:
                pasteboard.clearByAnotherProgram();
                break;
            case Step::Kind::pasteBackOldest:
                store->copyToPasteboard(store->items().back());
                pasteboard.announce(platform::PasteboardChange::newOwner);
                break;
            case Step::Kind::wait:
                scheduler.advance(platform::Seconds(step.seconds));
                break;
        }
    }
    scheduler.advance(platform::Seconds(4));

    EXPECT_EQ(texts(), GetParam().history);
    EXPECT_EQ(clipboard(), GetParam().clipboard);
}

INSTANTIATE_TEST_SUITE_P(
    Copies, AnnouncedChangeTest,
    ::testing::Values(
        AnnouncedCase{"TwoCopiesAFifthOfASecondApart",
                      {copy("first"), wait(0.2), copy("second")},
                      {"second", "first"},
                      "second"},
        AnnouncedCase{"OwnerThatExitsRightAfterItsCopy",
                      {copy("older"), wait(0.2), copy("quick"), ownerExits},
                      {"quick", "older"},
                      "quick (ours)"},
        AnnouncedCase{"OwnerGoneLater",
                      {copy("older"), wait(1), copy("kept"), wait(3), ownerExits},
                      {"kept", "older"},
                      "kept (ours)"},
        AnnouncedCase{"DeliberateClear", {copy("kept"), wait(1), cleared}, {"kept"}, ""},
        AnnouncedCase{"SensitiveCopyWhoseOwnerExits",
                      {copy("kept"), wait(1), copySensitive("hunter2"), wait(0.3), ownerExits},
                      {"kept"},
                      ""},
        AnnouncedCase{"PasswordManagersTimedClear",
                      {copy("kept"), copySensitive("hunter2"), wait(10), cleared},
                      {"kept"},
                      ""},
        AnnouncedCase{
            "OwnerOfABlankCopyExits", {copy("kept"), wait(0.5), copy("   "), ownerExits}, {"kept"}, ""},
        AnnouncedCase{"ClearThenAnOwnerOfNothingExits", {copy("kept"), cleared, ownerExits}, {"kept"}, ""},
        AnnouncedCase{"PasteBackIsNotRecordedAgain",
                      {copy("a"), wait(0.2), copy("b"), wait(0.2), pasteBackOldest},
                      {"a", "b"},
                      "a (ours)"}),
    [](const ::testing::TestParamInfo<AnnouncedCase>& param) { return param.param.name; });

TEST_F(ClipboardCaptureTest, AnImageOwnerExitingBeforeItsPictureIsStoredGetsItBack) {
    pasteboard.announcing = true;
    store->startMonitoring();
    pasteboard.copy({{{{kPNG, "png bytes"}}}});
    pasteboard.ownerExits();  // before the background capture came back
    scheduler.runPending();

    EXPECT_THAT(texts(), ElementsAre("<image png bytes>"));
    EXPECT_EQ(pasteboard.data(kPNG), "png bytes");
    EXPECT_THAT(pasteboard.types(), Contains(kInternal));
}

TEST_F(ClipboardCaptureTest, TheSamePictureIsOneEntryAndOneFileAcrossCopiesAndRestarts) {
    const std::string png = Codec::pngBytes(3, 3, "shot");
    auto pngFiles = [&] {
        std::size_t count = 0;
        for (const auto& entry : fs::directory_iterator(data.path() / "images"))
            count += entry.path().extension() == ".png" ? 1 : 0;
        return count;
    };
    store = makeStore(true);
    pasteboard.announcing = true;
    store->startMonitoring();

    pasteboard.copy({{{{kPNG, png}}}});
    scheduler.advance(platform::Seconds(0.2));
    pasteboard.copyText("between");
    scheduler.advance(platform::Seconds(0.2));
    pasteboard.copy({{{{kPNG, png}}}});
    scheduler.advance(platform::Seconds(0.2));
    pasteboard.copy({{{{kPNG, Codec::pngBytes(3, 3, "other")}}}});
    scheduler.advance(platform::Seconds(0.2));
    pasteboard.copy({{{{kPNG, png}}}});
    scheduler.advance(platform::Seconds(1));
    EXPECT_THAT(texts(), ElementsAre("<image " + png + ">", "<image " + Codec::pngBytes(3, 3, "other") + ">",
                                     "between"));
    EXPECT_EQ(pngFiles(), 2u);

    // Quit and start again with the picture still on the clipboard.
    store->stopMonitoring();
    store.reset();
    store = makeStore(true);
    store->startMonitoring();
    scheduler.advance(platform::Seconds(1));
    EXPECT_THAT(texts(), ElementsAre("<image " + png + ">", "<image " + Codec::pngBytes(3, 3, "other") + ">",
                                     "between"));
    EXPECT_EQ(pngFiles(), 2u);
}

}  // namespace
}  // namespace quenlit
