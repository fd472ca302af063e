#pragma once

// The keys of a standard keyboard by position: the core's virtual key code (ANSI layout), the
// Linux evdev key code and the key's keysym on a US layout. X servers number keys as evdev + 8;
// Wayland keyboards use the evdev codes themselves.

#include <cstdint>
#include <optional>
#include <string>

namespace quenlit::linux_backend {

struct KeyPosition {
    int virtualKey;
    std::uint16_t evdev;
    std::uint32_t keysym;  // on a US layout
};

std::optional<KeyPosition> keyPositionForVirtualKey(int virtualKey);
std::optional<KeyPosition> keyPositionForEvdev(std::uint16_t evdev);
// Upper-case letters are the key of their lower-case letter.
std::optional<KeyPosition> keyPositionForKeysym(std::uint32_t keysym);

// The virtual key of a key pressed in one of our windows, from its evdev code and the keysym it
// gives: named keys (Escape, Return, arrows, Space) by their keysym wherever the layout puts them; a
// letter or digit as the one it prints, as Qt and GTK match shortcuts (Control+K is the key labelled
// K on any layout); other characters, and letters of other scripts, by the key's position (the
// first Latin layout, US, has them there). Absent for keys the core has no code for.
std::optional<int> virtualKeyForKeyPress(std::uint16_t evdev, std::uint32_t keysym);

// The keysym that types a Unicode code point: Latin-1 characters are their own keysyms, others
// 0x01000000 + the code point; newline and tab are Return and Tab. Absent for other controls.
std::optional<std::uint32_t> keysymForCodePoint(char32_t codePoint);

// A hotkey as the desktop names it in messages: "Super+Space", "Control+Alt+T". `modifiers` are
// platform::hotKeyModifiers bits.
std::string describeHotKey(int virtualKey, std::uint32_t modifiers);

}  // namespace quenlit::linux_backend
