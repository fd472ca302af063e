#pragma once

// The X server's key for a keysym the core names. Punctuation goes by its place on a US keyboard
// (the evdev key codes every current X server and XWayland use); named keys (Return, Escape,
// arrows, modifiers) by their keysym wherever the layout has them. A letter or digit a binding names
// is the key that prints it on the user's layout (keycodePrinting), as Qt and GTK resolve
// shortcuts: "z" on a German keyboard is the key labelled Z, not the US z position.

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

struct xkb_keymap;

namespace quenlit::x11 {

struct KeyPosition {
    xcb_keycode_t keycode;  // evdev position + 8
    std::uint32_t keysym;   // on a US layout
};

std::optional<KeyPosition> keyForKeycode(xcb_keycode_t keycode);
// Upper-case letters are the key of their lower-case letter.
std::optional<KeyPosition> keyForKeysym(std::uint32_t keysym);

// The key that prints the letter or digit `keysym` (either case) in layout `active` of
// the keymap: on a key's first level, else on its second (the digits of a French keyboard). When
// that layout prints no Latin letter (Russian), the first layout that does decides. Absent for keys
// that are no letter or digit, and when no layout prints it.
std::optional<xcb_keycode_t> keycodePrinting(xkb_keymap* keymap, std::uint32_t active, std::uint32_t keysym);

// The server's keyboard mapping at one moment: the keysyms of each keycode's first two levels, and
// the keycodes of each modifier bit. Read again after every MappingNotify.
class KeyboardMapping {
  public:
    // With `lettersAsPrinted`, letters and digits are the keys that print them in the core
    // keyboard's active layout (read through a connection of its own, which takes on XKB).
    static KeyboardMapping read(xcb_connection_t* connection, bool lettersAsPrinted = false);

    // Every keycode that carries the keysym, lowest first.
    std::vector<xcb_keycode_t> keycodesOf(std::uint32_t keysym) const;
    // The key of a keysym: named keys (Return, arrows, Space) wherever the layout has them;
    // letters and digits where the layout prints them when so read; the rest of a US keyboard by
    // place, other characters wherever the layout has them. 0 when no key has it.
    xcb_keycode_t keycodeFor(std::uint32_t keysym) const;
    // The modifier bit a key with this keysym sets (Num Lock is usually Mod2); 0 when none does.
    std::uint16_t modifierMaskOf(std::uint32_t keysym) const;
    // Whether a keycode in [first, last] carries any keysym.
    bool mapsAnyOf(int first, int last) const;

  private:
    std::vector<std::pair<std::uint32_t, xcb_keycode_t>> keysymCodes_;
    std::vector<std::pair<std::uint32_t, xcb_keycode_t>> printed_;  // keysym, key printing it
    std::vector<xcb_keycode_t> modifierCodes_;                      // eight rows of perModifier_ keycodes
    int perModifier_ = 0;
};

}  // namespace quenlit::x11
