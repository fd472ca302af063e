#include "backends/gnome/GnomeInput.h"
#include "backends/gnome/GnomeWorkspace.h"

#include <gtest/gtest.h>

namespace quenlit::gnome {
namespace {

namespace ks = platform::keysym;

TEST(GnomeHotKeys, OnlyTheTwoKeysTheExtensionBindsAreNamed) {
    const struct {
        std::uint32_t key;
        platform::Modifiers modifiers;
        std::optional<std::string> name;
    } cases[] = {
        {ks::space, {.super = true}, "launcher-hotkey"},
        {ks::escape, {.super = true}, "clipboard-hotkey"},
        {ks::space, {.shift = true, .super = true}, std::nullopt},
        {ks::space, {.control = true}, std::nullopt},
        {'k', {.super = true}, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(extensionHotKeyName(c.key, c.modifiers), c.name) << c.key;
}

std::string spell(const std::vector<ShellKey>& keys) {
    std::string out;
    for (const ShellKey& k : keys) {
        char buffer[24];
        std::snprintf(buffer, sizeof buffer, "%s%x ", k.pressed ? "+" : "-", k.keysym);
        out += buffer;
    }
    return out;
}

platform::InputEvent key(platform::EventType type, std::uint32_t keysym, platform::Modifiers modifiers) {
    platform::InputEvent event;
    event.type = type;
    event.keysym = keysym;
    event.modifiers = modifiers;
    return event;
}

// The paste key is Control+V, Control+Shift+V in a terminal, Shift+Insert in xterm; its modifiers
// go down before the key and up after it, in reverse order.
TEST(GnomeInput, EachEventIsTypedWithItsModifiersAroundTheKey) {
    using platform::EventType;
    using enum linux_backend::PasteKey;
    const platform::Modifiers control{.control = true};
    const struct {
        const char* name;
        platform::InputEvent event;
        linux_backend::PasteKey pasteKey;
        std::string keys;
    } cases[] = {
        {"paste press", key(EventType::keyDown, 'v', control), controlV, "+ffe3 +76 "},
        {"paste release", key(EventType::keyUp, 'v', control), controlV, "-76 -ffe3 "},
        {"paste press in a terminal", key(EventType::keyDown, 'v', control), controlShiftV,
         "+ffe3 +ffe1 +76 "},
        {"paste release in a terminal", key(EventType::keyUp, 'v', control), controlShiftV,
         "-76 -ffe1 -ffe3 "},
        {"paste press in xterm", key(EventType::keyDown, 'v', control), shiftInsert, "+ffe1 +ff63 "},
        {"paste release in xterm", key(EventType::keyUp, 'v', control), shiftInsert, "-ff63 -ffe1 "},
        {"Return alone, in a terminal", key(EventType::keyDown, ks::returnKey, {}), controlShiftV, "+ff0d "},
        {"Alt+Shift+A", key(EventType::keyDown, 'a', {.shift = true, .alt = true}), controlV,
         "+ffe1 +ffe9 +61 "},
        {"a mouse event", key(EventType::leftMouseDown, 0, {}), controlV, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(spell(keysForEvent(c.event, c.pasteKey)), c.keys) << c.name;

    platform::InputEvent text = key(EventType::keyDown, 0, {});
    text.text = u"hé€";
    EXPECT_EQ(spell(keysForEvent(text, controlV)), "+68 -68 +e9 -e9 +10020ac -10020ac ");
    text.type = EventType::keyUp;
    EXPECT_EQ(spell(keysForEvent(text, controlV)), "") << "the text is typed with the press";
}

// Monitors come top-left first; the screens are in the bottom-left-origin space of the primary one.
TEST(GnomeScreens, MonitorsBecomeScreensMeasuredFromThePrimaryMonitorsBottom) {
    const std::vector<ShellMonitor> monitors{
        {{0, 0, 1280, 800}, {0, 32, 1280, 768}},
        {{1280, 0, 1920, 1080}, {1280, 0, 1920, 1080}},
    };
    const auto screens = screensFromMonitors(monitors);
    ASSERT_EQ(screens.size(), 2u);
    EXPECT_EQ(screens[0].frame, (platform::Rect{0, 0, 1280, 800}));
    EXPECT_EQ(screens[0].visibleFrame, (platform::Rect{0, 0, 1280, 768}));
    EXPECT_EQ(screens[1].frame, (platform::Rect{1280, -280, 1920, 1080}));
    EXPECT_TRUE(screensFromMonitors({}).empty());
}

}  // namespace
}  // namespace quenlit::gnome
