#pragma once

// The keys of a standard keyboard by position: the Linux evdev key code and the key's keysym on a
// US layout, where a key is looked for when the user's layout does not have a keysym. X servers
// number keys as evdev + 8; Wayland keyboards use the evdev codes themselves.

#include "platform/Keys.h"

#include <cstdint>
#include <optional>
#include <string>

namespace quenlit::linux_backend {

struct KeyPosition {
    std::uint16_t evdev;
    std::uint32_t keysym;  // on a US layout
};

std::optional<KeyPosition> keyPositionForEvdev(std::uint16_t evdev);
// Upper-case letters are the key of their lower-case letter.
std::optional<KeyPosition> keyPositionForKeysym(std::uint32_t keysym);

// The keysym that types a Unicode code point: Latin-1 characters are their own keysyms, others
// 0x01000000 + the code point; newline and tab are Return and Tab. Absent for other controls.
std::optional<std::uint32_t> keysymForCodePoint(char32_t codePoint);

// A hotkey as the desktop names it in messages: "Super+Space", "Control+Alt+T".
std::string describeHotKey(std::uint32_t keysym, platform::Modifiers modifiers);

}  // namespace quenlit::linux_backend
