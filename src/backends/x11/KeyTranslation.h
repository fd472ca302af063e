#pragma once

// The core's virtual key codes (positions on an ANSI keyboard) and the X server's key codes.
// Letters, digits and punctuation go by position (the evdev key codes every current X server and
// XWayland use), so a binding to the key left of "l" stays there on any layout; named keys
// (Return, Escape, arrows, modifiers) are also known by their keysym.

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>

namespace quenlit::x11 {

struct KeyPosition {
    int virtualKey;
    xcb_keycode_t keycode;  // evdev position + 8
    std::uint32_t keysym;   // on a US layout
};

std::optional<KeyPosition> keyForVirtualKey(int virtualKey);
std::optional<KeyPosition> keyForKeycode(xcb_keycode_t keycode);
std::optional<KeyPosition> keyForKeysym(std::uint32_t keysym);

}  // namespace quenlit::x11
