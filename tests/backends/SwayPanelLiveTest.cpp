// The sway backend against a real sway: run inside a sway session (SWAYSOCK and WAYLAND_DISPLAY
// set), ideally a private headless one (tests/support/with-sway.sh); skipped elsewhere. Needs foot
// and wtype. Waits are bounded polls of sway's state, as sway answers in its own time.

#include "backends/linux/LogSinks.h"
#include "backends/sway/SwayHotKeys.h"
#include "backends/sway/SwayPanelWindow.h"

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QProcess>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include <unistd.h>

namespace quenlit::sway {

namespace {

// Never the user's own session: these tests bind keys, type and move the focus.
bool inSway() {
    return std::getenv("SWAYSOCK") != nullptr && std::getenv("WAYLAND_DISPLAY") != nullptr &&
           std::getenv("QUENLIT_PRIVATE_COMPOSITOR") != nullptr;
}

// Runs the event loop until `done` or the bound.
bool spinUntil(const std::function<bool()>& done,
               std::chrono::milliseconds bound = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

std::optional<SwayWindow> windowNamed(SwayIpc& sway, const std::string& appId,
                                      const std::string& title = {}) {
    if (auto windows = sway.windows()) {
        for (const auto& w : *windows)
            if (w.appId == appId && (title.empty() || w.name == title)) return w;
    }
    return std::nullopt;
}

class SwayLive : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!inSway()) GTEST_SKIP() << "not inside a private sway (tests/support/with-sway.sh runs one)";
        auto connected = SwayIpc::connect();
        ASSERT_TRUE(connected.has_value()) << connected.error().reason;
        sway_ = std::move(connected.value());
    }
    // Runs a program and waits for it to end.
    static int run(const QString& program, const QStringList& arguments) {
        QProcess process;
        process.start(program, arguments);
        spinUntil([&] { return process.state() == QProcess::NotRunning; }, std::chrono::seconds(5));
        return process.exitCode();
    }
    std::unique_ptr<SwayIpc> sway_;
};

TEST_F(SwayLive, APanelFloatsWhereAskedWithTheKeyboardAndGivesTheFocusBack) {
    QProcess foot;
    foot.start("foot", {"--app-id", "quenlit-test-foot"});
    ASSERT_TRUE(spinUntil([&] {
        auto w = windowNamed(*sway_, "quenlit-test-foot");
        return w && w->focused;
    })) << "foot did not start";

    const auto outputs = sway_->outputs();
    ASSERT_TRUE(outputs && !outputs->empty());
    const double screenHeight = outputs->front().rect.height;
    SwayPanelWindowFactory factory(*sway_, [screenHeight] { return screenHeight; });
    auto panel = factory.createPanel({400, 200});
    SwayPanelWindow* window = factory.created.at(0);
    auto* field = new QLineEdit;
    window->setContent(field);
    field->setFocus();
    std::vector<platform::InputEvent> handled;
    panel->keyDownHandler = [&](const platform::InputEvent& e) {
        handled.push_back(e);
        return e.keysym == 'k';
    };
    int resigned = 0;
    Connection resign = panel->didResignKey.connect([&] { ++resigned; });

    panel->setFrameOrigin({100, 300});
    panel->orderFrontRegardless();
    panel->makeKey();
    EXPECT_TRUE(spinUntil([&] { return panel->isKeyWindow(); }));
    // A busy sway maps the window after showing has stopped waiting for it: it still goes to its
    // place, floating and focused.
    // The bottom-left origin (100, 300) of a 200-high window on an 800-high screen: top at 300.
    const platform::Rect expected{100, screenHeight - 300 - 200, 400, 200};
    std::optional<SwayWindow> shown;
    EXPECT_TRUE(spinUntil([&] {
        shown = windowNamed(*sway_, "quenlit", "Quenlit launcher");
        return shown && shown->floating && shown->focused && shown->rect == expected;
    }));
    ASSERT_TRUE(shown.has_value());
    EXPECT_TRUE(shown->floating);
    EXPECT_TRUE(shown->focused);
    EXPECT_EQ(shown->rect, expected);

    // Control+K reaches the core's handler, which takes it; x goes on to the field.
    QProcess typing;
    // wtype's keyboard is new to the panel: a pause lets its keymap arrive before the keys.
    typing.start("sh", {"-c", "sleep 0.3; wtype -s 200 -M ctrl -k k -m ctrl x"});
    EXPECT_TRUE(spinUntil([&] { return field->text() == "x"; })) << field->text().toStdString();
    ASSERT_FALSE(handled.empty());
    EXPECT_EQ(handled.front().keysym, std::uint32_t{'k'});
    EXPECT_EQ(handled.front().modifiers, platform::Modifiers{.control = true});
    EXPECT_NE(handled.front().keycode, 0u);

    panel->orderOut();
    EXPECT_TRUE(spinUntil([&] {
        auto w = windowNamed(*sway_, "quenlit-test-foot");
        return w && w->focused;
    })) << "the focus did not go back to foot";
    EXPECT_TRUE(spinUntil([&] { return !windowNamed(*sway_, "quenlit", "Quenlit launcher").has_value(); }))
        << "the panel is still in sway's tree";
    EXPECT_EQ(resigned, 0);

    // Shown again somewhere else; a click into foot (its focus) takes the keyboard from the panel.
    panel->setFrameOrigin({0, 0});
    panel->orderFrontRegardless();
    panel->makeKey();
    ASSERT_TRUE(spinUntil([&] { return panel->isKeyWindow(); }));
    std::optional<SwayWindow> again;
    EXPECT_TRUE(spinUntil([&] {
        again = windowNamed(*sway_, "quenlit", "Quenlit launcher");
        return again && again->focused && again->rect == platform::Rect{0, screenHeight - 200, 400, 200};
    }));
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->rect, (platform::Rect{0, screenHeight - 200, 400, 200}));
    // (It may be said more than once, as sway and Qt each notice it in their own time: the panel
    // hides either way.)
    ASSERT_TRUE(sway_->command("[app_id=\"^quenlit-test-foot$\"] focus").has_value());
    EXPECT_TRUE(spinUntil([&] { return resigned >= 1; }));
    panel->orderOut();

    // The user goes to another workspace while the panel is open: the panel follows (sticky) but
    // loses the keyboard, and hiding it then leaves the user where they went.
    panel->orderFrontRegardless();
    panel->makeKey();
    ASSERT_TRUE(spinUntil([&] { return panel->isKeyWindow(); }));
    const int resignedBefore = resigned;
    ASSERT_TRUE(sway_->command("workspace quenlit-elsewhere").has_value());
    EXPECT_TRUE(spinUntil([&] { return resigned > resignedBefore; }));
    const auto followed = windowNamed(*sway_, "quenlit", "Quenlit launcher");
    ASSERT_TRUE(followed.has_value());
    EXPECT_EQ(followed->workspace, "quenlit-elsewhere");
    panel->orderOut();
    std::optional<SwayWindow> left;
    EXPECT_TRUE(spinUntil([&] {
        left = windowNamed(*sway_, "quenlit-test-foot");
        return left && !left->focused && !left->visible &&
               !windowNamed(*sway_, "quenlit", "Quenlit launcher").has_value();
    }));
    ASSERT_TRUE(left.has_value());
    EXPECT_FALSE(left->focused);
    EXPECT_FALSE(left->visible);
    ASSERT_TRUE(sway_->command("workspace back_and_forth").has_value());

    foot.terminate();
    foot.waitForFinished(3000);
}

TEST_F(SwayLive, AHotKeyPressArrivesThroughSwaysBinding) {
    std::vector<std::string> ran;  // every binding sway runs, ours or not
    auto bindings = sway_->bindingRan.connect([&](const std::string& command) { ran.push_back(command); });
    const auto press = [&] { EXPECT_EQ(run("sh", {"-c", "sleep 0.3; wtype -M logo -k space -m logo"}), 0); };
    {
        SwayHotKeys hotKeys(*sway_, {{1, "toggle launcher"}});
        int presses = 0;
        auto connection = hotKeys.pressed.connect([&](std::uint32_t id) { presses += id == 1 ? 1 : 100; });
        auto registered =
            hotKeys.registerHotKey(1, platform::keysym::space, platform::Modifiers{.super = true});
        ASSERT_TRUE(registered.has_value()) << registered.error().reason;
        press();
        EXPECT_TRUE(spinUntil([&] { return presses == 1; })) << "the press did not arrive";
        // A reload of sway's configuration forgets run-time bindings: the program binds again.
        ASSERT_TRUE(sway_->command("reload").has_value());
        // The program binds again once sway reports the reload, which a busy machine delays: the
        // user presses again until the press arrives.
        EXPECT_TRUE(spinUntil(
            [&] {
                press();
                return spinUntil([&] { return presses >= 2; }, std::chrono::seconds(1));
            },
            std::chrono::seconds(10)))
            << "not bound after the reload";
        EXPECT_LT(presses, 100) << "another binding's press arrived";
    }
    // Unbound when the hotkeys went away: the combination runs nothing any more.
    ran.clear();
    press();
    spinUntil([] { return false; }, std::chrono::milliseconds(500));
    EXPECT_TRUE(ran.empty());
}

}  // namespace
}  // namespace quenlit::sway

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // The backend's log lines say what sway did not do in time.
    quenlit::log::installSinks({std::make_shared<quenlit::linux_backend::StderrLogSink>()});
    std::unique_ptr<QApplication> application;
    if (quenlit::sway::inSway()) {
        ::setenv("QT_QPA_PLATFORM", "wayland", 1);
        application = std::make_unique<QApplication>(argc, argv);
    }
    return RUN_ALL_TESTS();
}
