#pragma once

// The virtual key codes of an ANSI keyboard (key positions, the same whatever the layout) that the
// bindings file's key names and the text expander's key table are written in, and the keys of the
// desktop's events they stand for.

#include <cstdint>
#include <optional>

namespace quenlit::virtualKeys {

inline constexpr std::uint16_t ansiA = 0;
inline constexpr std::uint16_t returnKey = 36;
inline constexpr std::uint16_t tab = 48;
inline constexpr std::uint16_t space = 49;
inline constexpr std::uint16_t deleteBackward = 51;  // the key marked Backspace on PC keyboards
inline constexpr std::uint16_t escape = 53;
inline constexpr std::uint16_t leftControl = 59;
inline constexpr std::uint16_t rightControl = 62;
inline constexpr std::uint16_t keypadEnter = 76;
inline constexpr std::uint16_t home = 115;
inline constexpr std::uint16_t pageUp = 116;
inline constexpr std::uint16_t forwardDelete = 117;
inline constexpr std::uint16_t end = 119;
inline constexpr std::uint16_t pageDown = 121;
inline constexpr std::uint16_t leftArrow = 123;
inline constexpr std::uint16_t rightArrow = 124;
inline constexpr std::uint16_t downArrow = 125;
inline constexpr std::uint16_t upArrow = 126;

// The virtual key of a key the desktop reports by keysym and keycode: named keys by their keysym,
// letters and digits as printed, other keys by their place (panel/ShortcutKeys.h). Absent for keys
// without a code.
std::optional<std::uint16_t> forKey(std::uint32_t keysym, std::uint32_t keycode);

// The keysym of a virtual key on a US keyboard (letters in lower case); 0 for an unknown code.
std::uint32_t keysymOf(std::uint16_t virtualKey);

}  // namespace quenlit::virtualKeys
