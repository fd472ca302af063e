#include "backends/sway/SwayPanelWindow.h"

#include "platform/InputEvents.h"

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>

namespace quenlit::sway {

namespace {

namespace key = platform::keyCode;

TEST(WaylandPanelKeys, NamedKeysByKeysymLettersByWhatTheyPrintOtherCharactersByPosition) {
    struct Case {
        const char* what;
        std::uint16_t evdev;
        std::uint32_t keysym;
        std::optional<int> virtualKey;
    };
    const Case cases[] = {
        {"Escape", 1, XKB_KEY_Escape, key::escape},
        {"Return", 28, XKB_KEY_Return, key::returnKey},
        {"keypad Enter", 96, XKB_KEY_KP_Enter, key::keypadEnter},
        {"Down", 108, XKB_KEY_Down, key::downArrow},
        {"Escape swapped onto Caps Lock", 58, XKB_KEY_Escape, key::escape},
        {"Shift+Tab", 15, XKB_KEY_ISO_Left_Tab, key::tab},
        {"k on a US layout", 37, XKB_KEY_k, key::ansiK},
        {"Shift+K", 37, XKB_KEY_K, key::ansiK},
        {"a on an AZERTY layout: the key labelled A", 16, XKB_KEY_a, key::ansiA},
        {"z on a German layout: the key labelled Z", 21, XKB_KEY_z, 6},
        {"y on a German layout: the key labelled Y", 44, XKB_KEY_y, 16},
        {"1 on an AZERTY layout, Shift held", 2, XKB_KEY_1, 18},
        {"& on an AZERTY layout: its key", 2, XKB_KEY_ampersand, 18},
        {"a Cyrillic letter: its key", 46, XKB_KEY_Cyrillic_es, 8},
        {"a virtual keyboard's k on the Escape key's code", 1, XKB_KEY_k, key::ansiK},
        {"a virtual keyboard's ! on the Escape key's code", 1, XKB_KEY_exclam, std::nullopt},
        {"an unknown key", 240, XKB_KEY_XF86AudioMute, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(panelVirtualKey(c.evdev, c.keysym), c.virtualKey) << c.what;
}

}  // namespace
}  // namespace quenlit::sway
