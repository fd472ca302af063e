#include "panel/ShortcutKeys.h"

#include "platform/Keys.h"

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>

namespace quenlit {

namespace {

namespace key = platform::keysym;

TEST(ShortcutKeys, NamedKeysByKeysymLettersByWhatTheyPrintOtherCharactersByPlace) {
    struct Case {
        const char* what;
        std::uint32_t keycode;  // XKB: evdev + 8
        std::uint32_t keysym;
        std::uint32_t shortcut;
    };
    const Case cases[] = {
        {"Escape", 9, XKB_KEY_Escape, key::escape},
        {"Return", 36, XKB_KEY_Return, key::returnKey},
        {"keypad Enter", 104, XKB_KEY_KP_Enter, key::keypadEnter},
        {"Down", 116, XKB_KEY_Down, key::down},
        {"Escape swapped onto Caps Lock", 66, XKB_KEY_Escape, key::escape},
        {"Shift+Tab", 23, XKB_KEY_ISO_Left_Tab, key::tab},
        {"k on a US layout", 45, XKB_KEY_k, 'k'},
        {"Shift+K", 45, XKB_KEY_K, 'k'},
        {"a on an AZERTY layout: the key labelled A", 24, XKB_KEY_a, 'a'},
        {"z on a German layout: the key labelled Z", 29, XKB_KEY_z, 'z'},
        {"y on a German layout: the key labelled Y", 52, XKB_KEY_y, 'y'},
        {"1 on an AZERTY layout, Shift held", 10, XKB_KEY_1, '1'},
        {"& on an AZERTY layout: its key", 10, XKB_KEY_ampersand, '1'},
        {"a Cyrillic letter: its key", 54, XKB_KEY_Cyrillic_es, 'c'},
        {"a virtual keyboard's k on the Escape key's code", 9, XKB_KEY_k, 'k'},
        {"a virtual keyboard's ! on the Escape key's code: itself", 9, XKB_KEY_exclam, '!'},
        {"an unknown key: itself", 248, XKB_KEY_XF86AudioMute, XKB_KEY_XF86AudioMute},
        {"a synthesised key without keycode", 0, XKB_KEY_v, 'v'},
    };
    for (const auto& c : cases)
        EXPECT_EQ(shortcutKeys::shortcutKeysym(c.keysym, c.keycode), c.shortcut) << c.what;
}

}  // namespace
}  // namespace quenlit
