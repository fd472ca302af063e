// The KDE backend against a real KWin with a real GTK window, inside a private headless one that
// tests/support/with-kwin.sh starts; skipped (77) where KWin or the GTK demo is not installed.
// Prints the time a script takes from loading to its answer, the cost of every window call.

#include "backends/kde/KWinScripting.h"
#include "backends/kde/KWinWindowControl.h"
#include "backends/kde/KWinWindows.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

namespace quenlit::kde {
namespace {

class KWinLive : public ::testing::Test {
  protected:
    void SetUp() override {
        auto connected = KWinScripting::connect();
        ASSERT_TRUE(connected) << connected.error().reason;
        scripting_ = std::move(connected.value());
        windows_ = std::make_unique<KWinWindows>(*scripting_);
    }
    void TearDown() override {
        if (gtk_.state() != QProcess::NotRunning) {
            gtk_.kill();
            gtk_.waitForFinished();
        }
    }
    // Starts the GTK demo and returns its window once KWin lists it.
    std::optional<KWinWindow> startGtkWindow() {
        gtk_.setProgram(QStringLiteral("gtk3-demo-application"));
        gtk_.start();
        if (!gtk_.waitForStarted()) return std::nullopt;
        for (int i = 0; i < 100; ++i) {
            if (auto all = windows_->list()) {
                for (const KWinWindow& w : *all)
                    if (w.processIdentifier == static_cast<int>(gtk_.processId())) return w;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return std::nullopt;
    }

    std::unique_ptr<KWinScripting> scripting_;
    std::unique_ptr<KWinWindows> windows_;
    QProcess gtk_;
};

TEST_F(KWinLive, ScriptsAnswerWithinMillisecondsAndTheirFailuresComeBackAsValues) {
    std::vector<double> took;
    for (int i = 0; i < 30; ++i) {
        const auto start = std::chrono::steady_clock::now();
        auto answer =
            scripting_->run("kwin.answer({ plasma6: kwin.plasma6, n: " + std::to_string(i) + " });");
        took.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        ASSERT_TRUE(answer) << answer.error().reason;
        EXPECT_EQ(*answer, R"({"plasma6":false,"n":)" + std::to_string(i) + "}");
    }
    std::sort(took.begin(), took.end());
    std::printf("KWin script round trip: median %.1f ms, slowest %.1f ms (30 runs)\n", took[took.size() / 2],
                took.back());
    auto failed = scripting_->run("undefinedFunction();");
    ASSERT_FALSE(failed);
    EXPECT_NE(failed.error().reason.find("ReferenceError"), std::string::npos) << failed.error().reason;
}

TEST_F(KWinLive, ANativeWindowIsListedMovedResizedAndActivated) {
    const auto gtk = startGtkWindow();
    ASSERT_TRUE(gtk) << "the GTK window did not appear";
    KWinWindowControl control(*windows_);
    const int pid = gtk->processIdentifier;
    auto listed = control.windows(pid);
    ASSERT_TRUE(listed) << listed.error().reason;
    ASSERT_EQ(listed->size(), 1u);
    EXPECT_TRUE(listed->front().ordinary);

    struct Case {
        platform::Rect frame;
        bool resize;
        platform::Rect expected;
    };
    const platform::Rect before = listed->front().frame;
    const Case cases[] = {
        {{0, 0, 640, 800}, true, {0, 0, 640, 800}},
        {{640, 400, 640, 400}, true, {640, 400, 640, 400}},
        {{100, 50, 10, 10}, false, {100, 50, 640, 400}},
    };
    (void)before;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected.x);
        ASSERT_TRUE(control.setFrame(listed->front().ref, c.frame, c.resize));
        // GTK answers the new size a moment later; KWin reports it as soon as the client commits it.
        platform::Rect now;
        for (int i = 0; i < 40; ++i) {
            auto read = control.window(listed->front().ref);
            ASSERT_TRUE(read) << read.error().reason;
            now = read->frame;
            if (now == c.expected) break;
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        EXPECT_EQ(now, c.expected);
    }
    ASSERT_TRUE(control.activateApplication(pid));
    auto all = windows_->list();
    ASSERT_TRUE(all);
    const auto active = std::find_if(all->begin(), all->end(), [](const KWinWindow& w) { return w.active; });
    ASSERT_NE(active, all->end());
    EXPECT_EQ(active->processIdentifier, pid);

    gtk_.kill();
    gtk_.waitForFinished();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto gone = control.window(listed->front().ref);
    ASSERT_FALSE(gone);
    EXPECT_EQ(gone.error().kind, Failure::Kind::gone);
}

// Showing a panel asks for the list several times in a row: one script serves them all, until the
// event loop turns, another script runs (it may have moved or activated a window) or it grows old.
TEST_F(KWinLive, AListIsReadOnceForAskersInARowAndAgainAfterAnythingThatMayChangeIt) {
    const auto gtk = startGtkWindow();
    ASSERT_TRUE(gtk) << "the GTK window did not appear";
    QCoreApplication::processEvents();
    struct Case {
        const char* between;
        std::function<void()> step;
        unsigned long scripts;  // sent for the second list
    };
    const Case cases[] = {
        {"nothing", [] {}, 0},
        {"a turn of the event loop", [] { QCoreApplication::processEvents(); }, 1},
        {"another script", [this] { ASSERT_TRUE(scripting_->run("kwin.answer(1);")); }, 2},
        {"a wait past the snapshot's age",
         [] { std::this_thread::sleep_for(KWinWindows::kSnapshotAge + std::chrono::milliseconds(5)); }, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.between);
        QCoreApplication::processEvents();
        ASSERT_TRUE(windows_->list());
        const unsigned long before = scripting_->scriptsSent();
        c.step();
        auto again = windows_->list();
        ASSERT_TRUE(again);
        EXPECT_EQ(scripting_->scriptsSent() - before, c.scripts);
        EXPECT_TRUE(std::any_of(again->begin(), again->end(), [&](const KWinWindow& w) {
            return w.processIdentifier == gtk->processIdentifier;
        }));
    }
    // What a script changed is seen by the next list.
    KWinWindowControl control(*windows_);
    ASSERT_TRUE(
        control.setFrame(control.windows(gtk->processIdentifier)->front().ref, {10, 20, 600, 400}, true));
    bool moved = false;
    for (int i = 0; i < 40 && !moved; ++i) {
        auto all = windows_->list();
        ASSERT_TRUE(all);
        for (const KWinWindow& w : *all)
            if (w.processIdentifier == gtk->processIdentifier && w.frame.x == 10 && w.frame.y == 20)
                moved = true;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(moved);
}

}  // namespace
}  // namespace quenlit::kde

int main(int argc, char** argv) {
    if (std::system("command -v gtk3-demo-application >/dev/null 2>&1") != 0) {
        std::fprintf(stderr, "kwin_live_tests: gtk3-demo-application is not installed — skipped\n");
        return 77;
    }
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
