#include "automation/HotKeyManager.h"

#include "backends/fake/FakeHotKeys.h"
#include "backends/fake/VirtualScheduler.h"
#include "base/Log.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace quenlit {
namespace {

using Lines = std::vector<std::string>;
constexpr platform::Modifiers kSuper{.super = true};
constexpr std::uint32_t kSpace = platform::keysym::space;
constexpr std::uint32_t kEscape = platform::keysym::escape;

class HotKeyManagerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        HotKeyManager::resetForTesting();
        log::installSinks({sink});
    }
    void TearDown() override {
        log::installSinks({});
        HotKeyManager::resetForTesting();
    }

    std::unique_ptr<HotKeyManager> makeManager(int& launcherRuns, int& clipboardRuns) {
        return std::make_unique<HotKeyManager>(
            hotKeys, scheduler, [&launcherRuns] { ++launcherRuns; }, [&clipboardRuns] { ++clipboardRuns; });
    }
    Lines messages() const {
        Lines out;
        for (const auto& l : sink->lines())
            out.push_back(l.substr(log::kPrefix.size()));
        return out;
    }

    std::shared_ptr<log::MemorySink> sink = std::make_shared<log::MemorySink>();
    fake::FakeHotKeys hotKeys;
    fake::VirtualScheduler scheduler;
    int launcher = 0;
    int clipboard = 0;
};

TEST_F(HotKeyManagerTest, RegistersSuperSpaceAndSuperEscape) {
    auto manager = makeManager(launcher, clipboard);
    EXPECT_EQ(hotKeys.calls, (Lines{"register 1 Super+Space", "register 2 Super+Escape"}));
    ASSERT_EQ(hotKeys.registrations().size(), 2u);
    EXPECT_EQ(hotKeys.registrations()[0].keysym, kSpace);
    EXPECT_EQ(hotKeys.registrations()[0].modifiers, kSuper);
    EXPECT_EQ(hotKeys.registrations()[1].keysym, kEscape);
    EXPECT_EQ(hotKeys.registrations()[1].modifiers, kSuper);
    EXPECT_TRUE(manager->isLauncherHotKeyRegistered());
    EXPECT_TRUE(manager->isClipboardHotKeyRegistered());
    EXPECT_EQ(HotKeyManager::activeManager(), manager.get());
    EXPECT_TRUE(messages().empty());
}

TEST_F(HotKeyManagerTest, ACombinationHeldByAnotherProgramIsLoggedAndStaysInactive) {
    struct Case {
        std::uint32_t takenKey;
        const char* line;
        bool launcherRegistered;
    };
    const Case cases[] = {
        {kSpace, "hotkey: Super+Space unavailable — taken by another program", false},
        {kEscape, "hotkey: Super+Escape unavailable — taken by another program", true},
    };
    for (const auto& c : cases) {
        fake::FakeHotKeys other;
        other.takenByOthers = {{c.takenKey, kSuper}};
        sink->clear();
        HotKeyManager::resetForTesting();
        launcher = clipboard = 0;
        HotKeyManager manager(
            other, scheduler, [this] { ++launcher; }, [this] { ++clipboard; });
        EXPECT_EQ(messages(), Lines{c.line});
        EXPECT_EQ(manager.isLauncherHotKeyRegistered(), c.launcherRegistered);
        EXPECT_EQ(manager.isClipboardHotKeyRegistered(), !c.launcherRegistered);
        EXPECT_EQ(other.registrations().size(), 1u);

        // The other hotkey still works; the taken one never reaches us.
        EXPECT_EQ(other.press(kSpace, kSuper), c.launcherRegistered);
        EXPECT_EQ(other.press(kEscape, kSuper), !c.launcherRegistered);
        scheduler.runPending();
        EXPECT_EQ(launcher, c.launcherRegistered ? 1 : 0);
        EXPECT_EQ(clipboard, c.launcherRegistered ? 0 : 1);
    }
}

TEST_F(HotKeyManagerTest, EachHotKeyRunsOnlyItsOwnActionOnTheMainQueue) {
    struct Case {
        std::uint32_t keysym;
        int launcherRuns;
        int clipboardRuns;
    };
    for (const Case& c : {Case{kSpace, 1, 0}, Case{kEscape, 0, 1}}) {
        launcher = clipboard = 0;
        auto manager = makeManager(launcher, clipboard);
        ASSERT_TRUE(hotKeys.press(c.keysym, kSuper));
        // Nothing runs inside the press itself.
        EXPECT_EQ(launcher + clipboard, 0);
        EXPECT_EQ(scheduler.pendingMainCount(), 1u);
        scheduler.runPending();
        EXPECT_EQ(launcher, c.launcherRuns) << c.keysym;
        EXPECT_EQ(clipboard, c.clipboardRuns) << c.keysym;
    }
}

TEST_F(HotKeyManagerTest, OtherCombinationsAndIdsRunNothing) {
    auto manager = makeManager(launcher, clipboard);
    EXPECT_FALSE(hotKeys.press(kSpace, platform::Modifiers{.control = true}));
    EXPECT_FALSE(hotKeys.press(platform::keysym::returnKey, kSuper));
    hotKeys.pressed.emit(0);
    hotKeys.pressed.emit(3);
    EXPECT_EQ(scheduler.pendingMainCount(), 0u);
    scheduler.runPending();
    EXPECT_EQ(launcher + clipboard, 0);
}

TEST_F(HotKeyManagerTest, DestructionUnregistersBothAndStopsPresses) {
    auto manager = makeManager(launcher, clipboard);
    hotKeys.calls.clear();
    ASSERT_TRUE(hotKeys.press(kSpace, kSuper));  // pressed just before the teardown
    manager.reset();
    EXPECT_EQ(hotKeys.calls, (Lines{"unregister 1 Super+Space", "unregister 2 Super+Escape"}));
    EXPECT_TRUE(hotKeys.registrations().empty());
    EXPECT_EQ(HotKeyManager::activeManager(), nullptr);
    hotKeys.pressed.emit(1);
    scheduler.runPending();
    EXPECT_EQ(launcher, 0);
}

TEST_F(HotKeyManagerTest, TheNewestManagerReceivesThePressesThroughOneHandler) {
    auto first = makeManager(launcher, clipboard);
    int secondLauncher = 0;
    int secondClipboard = 0;
    auto second = makeManager(secondLauncher, secondClipboard);
    EXPECT_EQ(hotKeys.pressed.connectionCount(), 1u);
    EXPECT_EQ(HotKeyManager::activeManager(), second.get());
    // The combinations are already ours: the second registration is refused and said so.
    EXPECT_EQ(messages(), (Lines{"hotkey: Super+Space unavailable — already registered by this program",
                                 "hotkey: Super+Escape unavailable — already registered by this program"}));

    hotKeys.press(kSpace, kSuper);
    hotKeys.press(kEscape, kSuper);
    scheduler.runPending();
    EXPECT_EQ(launcher + clipboard, 0);
    EXPECT_EQ(secondLauncher, 1);
    EXPECT_EQ(secondClipboard, 1);

    // The older manager going away leaves the newer one in charge.
    first.reset();
    EXPECT_EQ(HotKeyManager::activeManager(), second.get());
    hotKeys.pressed.emit(2);
    scheduler.runPending();
    EXPECT_EQ(secondClipboard, 2);
}

}  // namespace
}  // namespace quenlit
