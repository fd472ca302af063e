#include "automation/VirtualKeys.h"

#include "platform/Keys.h"

#include <gtest/gtest.h>

#include <optional>

namespace quenlit {
namespace {

namespace key = platform::keysym;

TEST(VirtualKeys, TheVirtualKeyOfAKeyTheDesktopReports) {
    struct Case {
        const char* what;
        std::uint32_t keysym;
        std::uint32_t keycode;  // XKB: evdev + 8; 0 when not said
        std::optional<std::uint16_t> virtualKey;
    };
    const Case cases[] = {
        {"v", 'v', 55, 9},
        {"Shift+V", 'V', 55, 9},
        {"the key labelled Z on a German layout", 'z', 29, 6},
        {"the K key on a Russian layout", 0x6cc, 45, 40},
        {"ä on a German layout: its place", 0xe4, 48, 39},
        {"Return", key::returnKey, 36, virtualKeys::returnKey},
        {"keypad Enter", key::keypadEnter, 104, virtualKeys::keypadEnter},
        {"Escape on the Caps Lock key", key::escape, 66, virtualKeys::escape},
        {"Backspace", key::backSpace, 22, virtualKeys::deleteBackward},
        {"Delete", key::deleteKey, 119, virtualKeys::forwardDelete},
        {"Shift+Tab", key::isoLeftTab, 23, virtualKeys::tab},
        {"Page Down", key::pageDown, 117, virtualKeys::pageDown},
        {"the left Control key", key::controlL, 37, virtualKeys::leftControl},
        {"the right Control key", key::controlR, 105, virtualKeys::rightControl},
        {"a dead key", 0xfe51, 0, std::nullopt},
        {"a key without a code", 0x1008ff12, 121, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(virtualKeys::forKey(c.keysym, c.keycode), c.virtualKey) << c.what;

    EXPECT_EQ(virtualKeys::keysymOf(40), std::uint32_t{'k'});
    EXPECT_EQ(virtualKeys::keysymOf(virtualKeys::space), key::space);
    EXPECT_EQ(virtualKeys::keysymOf(virtualKeys::escape), key::escape);
    EXPECT_EQ(virtualKeys::keysymOf(10), 0u) << "no key has code 10";
}

}  // namespace
}  // namespace quenlit
