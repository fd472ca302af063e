// The CLIPBOARD read from real owners on a private X server: clipboard_owner plays the program that
// copied, fast or slow, in one piece or in increments.

#include "backends/FixtureProcess.h"
#include "backends/x11/SelectionReader.h"
#include "backends/x11/X11Pasteboard.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace quenlit::x11 {
namespace {

using namespace std::chrono_literals;
using Kind = SelectionReader::Outcome::Kind;

// clipboard_owner, running until destroyed; it owns the CLIPBOARD once it is ready().
struct Owner : Fixture {
    explicit Owner(std::vector<std::string> arguments)
        : Fixture(std::move(arguments), QUENLIT_CLIPBOARD_OWNER) {}
};

std::unique_ptr<SelectionReader> openReader() {
    auto reader = SelectionReader::open(nullptr, "CLIPBOARD");
    EXPECT_TRUE(reader) << "no X display with XFixes";
    return reader;
}

TEST(SelectionReader, ReadsWhatTheOwnerOffersInOnePieceOrInIncrements) {
    std::string large(1'000'000, '\0');
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>('a' + i * 7 % 26);
    const quenlit::testing::TempDir dir;
    const std::string file = (dir / "large.bin").string();
    FILE* f = std::fopen(file.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(large.data(), 1, large.size(), f);
    std::fclose(f);

    Owner owner(
        {"--offer-text", "UTF8_STRING=héllo", "--offer", "image/png=" + file, "--incr-chunk", "65536"});
    ASSERT_TRUE(owner.ready());
    auto reader = openReader();
    ASSERT_TRUE(reader);

    bool timedOut = true;
    const auto targets = reader->targets(1000ms, timedOut);
    ASSERT_TRUE(targets);
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(*targets, (std::vector<std::string>{"TARGETS", "UTF8_STRING", "image/png"}));

    auto text = reader->read("UTF8_STRING", 1000ms, 1 << 20);
    EXPECT_EQ(text.kind, Kind::ok);
    EXPECT_EQ(text.bytes, "héllo");
    EXPECT_EQ(text.type, "UTF8_STRING");

    auto image = reader->read("image/png", 3000ms, 4 << 20);
    ASSERT_EQ(image.kind, Kind::ok);
    EXPECT_EQ(image.bytes.size(), large.size());
    EXPECT_TRUE(image.bytes == large) << "the increments arrive whole and in order";

    EXPECT_EQ(reader->read("image/png", 3000ms, 500'000).kind, Kind::tooLarge);
    EXPECT_EQ(reader->read("text/html", 1000ms, 1 << 20).kind, Kind::refused);
    // After all that the reader still works.
    EXPECT_EQ(reader->read("UTF8_STRING", 1000ms, 1 << 20).bytes, "héllo");
}

TEST(SelectionReader, GivesUpOnASlowOwnerWithinTheBoundAndIgnoresItsLateAnswer) {
    Owner owner({"--offer-text", "UTF8_STRING=late", "--delay-ms", "400"});
    ASSERT_TRUE(owner.ready());
    auto reader = openReader();
    ASSERT_TRUE(reader);

    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(reader->read("UTF8_STRING", 150ms, 1 << 20).kind, Kind::timedOut);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_LT(took, 350ms) << "the read must end at its bound, not when the owner answers";

    // The abandoned read's answer comes meanwhile; the next read takes its own answer.
    auto next = reader->read("UTF8_STRING", 2000ms, 1 << 20);
    EXPECT_EQ(next.kind, Kind::ok);
    EXPECT_EQ(next.bytes, "late");
}

TEST(SelectionReader, CountsEveryChangeOfOwnerAndTheOwnersExit) {
    auto reader = openReader();
    ASSERT_TRUE(reader);
    const long before = reader->ownerChanges();
    {
        Owner first({"--offer-text", "UTF8_STRING=one", "--exit-after-ms", "200"});
        ASSERT_TRUE(first.ready());
        first.waitForExit();
    }
    // The change and the exit arrive as events: give the server a moment to send them.
    long after = before;
    for (int i = 0; i < 100 && after < before + 2; ++i) {
        std::this_thread::sleep_for(10ms);
        after = reader->ownerChanges();
    }
    EXPECT_EQ(after, before + 2);
    EXPECT_EQ(reader->owner(), static_cast<xcb_window_t>(XCB_WINDOW_NONE));
    EXPECT_EQ(reader->read("UTF8_STRING", 500ms, 1 << 20).kind, Kind::noOwner);
}

TEST(SelectionReader, TakesEachTargetOnceAndNoMoreThanTheCap) {
    Owner owner(
        {"--offer-text", "UTF8_STRING=many", "--offer-text", "UTF8_STRING=again", "--junk-targets", "16382"});
    ASSERT_TRUE(owner.ready());
    auto reader = openReader();
    ASSERT_TRUE(reader);
    bool timedOut = false;
    const auto targets = reader->targets(3000ms, timedOut);
    ASSERT_TRUE(targets);
    ASSERT_EQ(targets->size(), SelectionReader::kMaxTargets);
    EXPECT_EQ((*targets)[0], "TARGETS");
    EXPECT_EQ((*targets)[1], "UTF8_STRING");
    EXPECT_EQ((*targets)[2], "x-junk-target-0");
    EXPECT_EQ(std::set<std::string>(targets->begin(), targets->end()).size(), targets->size());
}

// Delivers the content of the current copy through the event loop; how long it took.
std::chrono::milliseconds readCopy(X11Pasteboard& board, platform::PasteboardContent& content) {
    const auto asked = std::chrono::steady_clock::now();
    bool delivered = false;
    board.readCurrentContent({}, [&](platform::PasteboardContent read) {
        content = std::move(read);
        delivered = true;
    });
    // Asking does not wait for the owner.
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 100ms);
    while (!delivered && std::chrono::steady_clock::now() < asked + 5s)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_TRUE(delivered);
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - asked);
}

TEST(X11Pasteboard, ReadsCopiesOffTheMainThreadWithinASecondAndLeavesASilentOwnerAlone) {
    X11Pasteboard board(SelectionReader::open(nullptr, "CLIPBOARD"));
    ASSERT_TRUE(board.canRead());
    platform::PasteboardContent content;
    {
        Owner slow({"--offer-text", "UTF8_STRING=slow", "--delay-ms", "700"});
        ASSERT_TRUE(slow.ready());
        // The targets come after 0.7 s, the text would after 1.4 s: the copy's second is over first.
        const auto took = readCopy(board, content);
        EXPECT_GE(took, 900ms);
        EXPECT_LT(took, 1500ms);
        EXPECT_EQ(content.text, std::nullopt);
    }
    Owner silent({"--offer-text", "UTF8_STRING=silent", "--never-answer"});
    ASSERT_TRUE(silent.ready());
    const std::vector<std::string> unresponsive{"x-quenlit-unresponsive-owner"};
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto took = readCopy(board, content);
        EXPECT_GE(took, 900ms);
        EXPECT_LT(took, 1500ms);
        EXPECT_EQ(content.types, unresponsive);
    }
    // Twice in a row: left alone.
    EXPECT_LT(readCopy(board, content), 200ms);
    EXPECT_EQ(content.types, unresponsive);

    Owner prompt({"--offer-text", "UTF8_STRING=prompt"});
    ASSERT_TRUE(prompt.ready());
    EXPECT_LT(readCopy(board, content), 500ms);
    EXPECT_EQ(content.text, "prompt");
}

TEST(X11Pasteboard, OffersExactlyTheDeclaredTypesAndReadsItsOwnWriteBack) {
    X11Pasteboard board(SelectionReader::open(nullptr, "CLIPBOARD"));
    ASSERT_TRUE(board.canRead());
    // Qt takes its clipboard timestamps from the owner changes it has seen (earlier tests' owners
    // came and went), as the running program's event loop always has.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_TRUE(board.write({{"image/png", "\x89PNG data"},
                             {"text/uri-list", "file:///tmp/picture.png"},
                             {"com.quenlit.internal", ""}}));

    // What another program sees; we answer it from this thread's event loop meanwhile.
    std::optional<std::vector<std::string>> offered;
    std::atomic<bool> done = false;
    std::thread other([&] {
        bool timedOut = false;
        if (auto reader = SelectionReader::open(nullptr, "CLIPBOARD"))
            offered = reader->targets(3000ms, timedOut);
        done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!done && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    other.join();
    ASSERT_TRUE(offered);
    std::vector<std::string> content;
    for (const std::string& target : *offered) {
        if (target != "TARGETS" && target != "TIMESTAMP" && target != "MULTIPLE" && target != "SAVE_TARGETS")
            content.push_back(target);
    }
    std::sort(content.begin(), content.end());
    // Qt's X11 clipboard always offers a URL list as text/x-moz-url and as plain text too.
    EXPECT_EQ(content, (std::vector<std::string>{"com.quenlit.internal", "image/png", "text/plain",
                                                 "text/uri-list", "text/x-moz-url"}));

    EXPECT_EQ(board.data("image/png"), "\x89PNG data");
    const auto items = board.items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].dataFor("text/uri-list"), "file:///tmp/picture.png");
}

}  // namespace
}  // namespace quenlit::x11
