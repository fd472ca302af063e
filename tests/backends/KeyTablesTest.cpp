// The keys the Linux desktops share: characters as keysyms, positions, and each application's
// paste key.

#include "backends/linux/KeyPositions.h"
#include "backends/linux/PasteKey.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace quenlit::linux_backend {
namespace {

TEST(KeysymForCodePoint, LatinOneDirectlyOthersAsUnicodeKeysyms) {
    const std::vector<std::pair<char32_t, std::optional<std::uint32_t>>> cases{
        {U'a', 0x61},
        {U'~', 0x7e},
        {U'\u00e9', 0xe9},
        {U'\u20ac', 0x10020ac},
        {U'\U0001F600', 0x101f600},
        {U'\n', 0xff0d},
        {U'\t', 0xff09},
        {U'\x07', std::nullopt},
        {U'\x85', std::nullopt},
    };
    for (const auto& [codePoint, keysym] : cases) {
        EXPECT_EQ(keysymForCodePoint(codePoint), keysym) << static_cast<std::uint32_t>(codePoint);
    }
}

TEST(PasteKeyForClass, KnowsTheTerminalEmulators) {
    using enum PasteKey;
    const std::vector<std::tuple<const char*, const char*, PasteKey>> cases{
        {"gnome-terminal-server", "Gnome-terminal", controlShiftV},
        {"xfce4-terminal", "Xfce4-terminal", controlShiftV},
        {"mate-terminal", "Mate-terminal", controlShiftV},
        {"lxterminal", "Lxterminal", controlShiftV},
        {"qterminal", "QTerminal", controlShiftV},
        {"konsole", "konsole", controlShiftV},
        {"Alacritty", "Alacritty", controlShiftV},
        {"kitty", "kitty", controlShiftV},
        {"foot", "foot", controlShiftV},
        {"org.wezfurlong.wezterm", "org.wezfurlong.wezterm", controlShiftV},
        {"tilix", "Tilix", controlShiftV},
        {"terminator", "Terminator", controlShiftV},
        {"sakura", "Sakura", controlShiftV},
        {"terminology", "terminology", controlShiftV},
        {"st", "st-256color", controlShiftV},
        {"org.kde.konsole", "org.kde.konsole", controlShiftV},
        {"xterm", "XTerm", shiftInsert},
        {"urxvt", "URxvt", shiftInsert},
        {"Navigator", "firefox-esr", controlV},
        {"gedit", "Gedit", controlV},
        {"stellarium", "Stellarium", controlV},
    };
    for (const auto& [instance, klass, key] : cases) {
        EXPECT_EQ(pasteKeyForClass(instance, klass), key) << instance << " " << klass;
    }
}

TEST(PasteKeyForAppId, TerminalsTakeControlShiftVOthersControlV) {
    using enum PasteKey;
    // Wayland app ids; xterm and URxvt run under XWayland, where the clipboard is not mirrored to
    // the primary selection, so they get no Shift+Insert.
    const std::vector<std::pair<const char*, PasteKey>> cases{
        {"foot", controlShiftV},
        {"footclient", controlShiftV},
        {"kitty", controlShiftV},
        {"Alacritty", controlShiftV},
        {"alacritty", controlShiftV},
        {"org.wezfurlong.wezterm", controlShiftV},
        {"org.gnome.Terminal", controlShiftV},
        {"gnome-terminal", controlShiftV},
        {"org.kde.konsole", controlShiftV},
        {"konsole", controlShiftV},
        {"com.mitchellh.ghostty", controlShiftV},
        {"xfce4-terminal", controlShiftV},
        {"tilix", controlShiftV},
        {"xterm", controlV},
        {"URxvt", controlV},
        {"firefox", controlV},
        {"org.gnome.TextEditor", controlV},
        {"", controlV},
    };
    for (const auto& [appId, key] : cases) {
        EXPECT_EQ(pasteKeyForAppId(appId), key) << appId;
    }
}

TEST(KeyPositions, EvdevCodesAreTheXKeycodesLessEight) {
    // V, Return, Escape and the left arrow, by keysym.
    const std::vector<std::tuple<std::uint16_t, std::uint32_t>> cases{
        {47, 'v'}, {28, 0xff0d}, {1, 0xff1b}, {105, 0xff51}};
    for (const auto& [evdev, keysym] : cases) {
        const auto key = keyPositionForKeysym(keysym);
        ASSERT_TRUE(key) << keysym;
        EXPECT_EQ(key->evdev, evdev);
        EXPECT_EQ(keyPositionForEvdev(evdev)->keysym, keysym);
    }
    EXPECT_EQ(keyPositionForKeysym('V')->evdev, 47);
    EXPECT_FALSE(keyPositionForKeysym(0xe4)) << "ä is on no US key";
}

}  // namespace
}  // namespace quenlit::linux_backend
