#pragma once

// The key a shortcut or a binding means, from a key event: named keys (Return, Escape, arrows,
// Space) by their keysym wherever the layout puts them; a Latin letter or digit as the one it prints
// (Control+K is the key labelled K on any layout, as Qt and GTK match shortcuts); other characters,
// and letters of other scripts, by the key's place on a US keyboard, the first Latin layout.

#include <cstdint>

namespace quenlit::shortcutKeys {

// The keysym of the key at an XKB keycode (evdev + 8) on a US keyboard, lower case; 0 when the core
// does not know the key.
std::uint32_t usKeysymAt(std::uint32_t keycode);

// The keysym a shortcut names for the key: a letter in lower case, Shift+Tab as Tab; 0 when the key
// means nothing the core can name.
std::uint32_t shortcutKeysym(std::uint32_t keysym, std::uint32_t keycode);

}  // namespace quenlit::shortcutKeys
