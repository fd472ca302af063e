#pragma once

// The core's virtual key codes (positions on an ANSI keyboard) and the X server's key codes.
// Letters, digits and punctuation go by position (the evdev key codes every current X server and
// XWayland use), so a binding to the key left of "l" stays there on any layout; named keys
// (Return, Escape, arrows, modifiers) are also known by their keysym.

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace quenlit::x11 {

struct KeyPosition {
    int virtualKey;
    xcb_keycode_t keycode;  // evdev position + 8
    std::uint32_t keysym;   // on a US layout
};

std::optional<KeyPosition> keyForVirtualKey(int virtualKey);
std::optional<KeyPosition> keyForKeycode(xcb_keycode_t keycode);
std::optional<KeyPosition> keyForKeysym(std::uint32_t keysym);

// The server's keyboard mapping at one moment: the keysyms of each keycode's first two levels, and
// the keycodes of each modifier bit. Read again after every MappingNotify.
class KeyboardMapping {
  public:
    static KeyboardMapping read(xcb_connection_t* connection);

    // Every keycode that carries the keysym, lowest first.
    std::vector<xcb_keycode_t> keycodesOf(std::uint32_t keysym) const;
    // The key of a core virtual key: named keys (Return, arrows, Space) wherever the layout has
    // them; letters, digits and punctuation by position, as bindings are.
    xcb_keycode_t keycodeFor(int virtualKey) const;
    // The modifier bit a key with this keysym sets (Num Lock is usually Mod2); 0 when none does.
    std::uint16_t modifierMaskOf(std::uint32_t keysym) const;
    // Whether a keycode in [first, last] carries any keysym.
    bool mapsAnyOf(int first, int last) const;

  private:
    std::vector<std::pair<std::uint32_t, xcb_keycode_t>> keysymCodes_;
    std::vector<xcb_keycode_t> modifierCodes_;  // eight rows of perModifier_ keycodes
    int perModifier_ = 0;
};

}  // namespace quenlit::x11
