#pragma once

// Keys as the desktop names them: XKB keysyms (the numbers of the X protocol, the same on X11 and
// Wayland) and the modifiers held, by name.

#include <cstdint>

namespace quenlit::platform {

// The keysyms the core names.
namespace keysym {
inline constexpr std::uint32_t space = 0x20;
inline constexpr std::uint32_t isoLeftTab = 0xfe20;  // Shift+Tab
inline constexpr std::uint32_t backSpace = 0xff08;
inline constexpr std::uint32_t tab = 0xff09;
inline constexpr std::uint32_t returnKey = 0xff0d;
inline constexpr std::uint32_t escape = 0xff1b;
inline constexpr std::uint32_t home = 0xff50;
inline constexpr std::uint32_t left = 0xff51;
inline constexpr std::uint32_t up = 0xff52;
inline constexpr std::uint32_t right = 0xff53;
inline constexpr std::uint32_t down = 0xff54;
inline constexpr std::uint32_t pageUp = 0xff55;    // Prior
inline constexpr std::uint32_t pageDown = 0xff56;  // Next
inline constexpr std::uint32_t end = 0xff57;
inline constexpr std::uint32_t keypadEnter = 0xff8d;
inline constexpr std::uint32_t shiftL = 0xffe1;
inline constexpr std::uint32_t shiftR = 0xffe2;
inline constexpr std::uint32_t controlL = 0xffe3;
inline constexpr std::uint32_t controlR = 0xffe4;
inline constexpr std::uint32_t altL = 0xffe9;
inline constexpr std::uint32_t altR = 0xffea;
inline constexpr std::uint32_t superL = 0xffeb;
inline constexpr std::uint32_t superR = 0xffec;
inline constexpr std::uint32_t deleteKey = 0xffff;  // forward Delete
// Latin letters are their ASCII codes, lower case without Shift: 'a' is 0x61.
}  // namespace keysym

// The modifiers held with a key, by name. Super is the desktop's own shortcut modifier (the
// "Windows" key).
struct Modifiers {
    bool shift = false;
    bool control = false;
    bool alt = false;
    bool super = false;
    // Which Control keys are down, as far as the desktop tells (with `control`).
    bool leftControl = false;
    bool rightControl = false;

    bool operator==(const Modifiers&) const = default;
    // Shift, Control, Alt and Super as they are, whichever Control key it was.
    Modifiers withoutSides() const { return {shift, control, alt, super, false, false}; }
};

}  // namespace quenlit::platform
