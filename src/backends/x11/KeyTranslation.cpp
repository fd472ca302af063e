#include "backends/x11/KeyTranslation.h"

#include "backends/linux/KeyPositions.h"

#include <algorithm>
#include <cstdlib>

namespace quenlit::x11 {
namespace {

std::optional<KeyPosition> onX(const std::optional<linux_backend::KeyPosition>& key) {
    if (!key) return std::nullopt;
    return KeyPosition{key->virtualKey, static_cast<xcb_keycode_t>(key->evdev + 8), key->keysym};
}

}  // namespace

std::optional<KeyPosition> keyForVirtualKey(int virtualKey) {
    return onX(linux_backend::keyPositionForVirtualKey(virtualKey));
}

std::optional<KeyPosition> keyForKeycode(xcb_keycode_t keycode) {
    if (keycode < 8) return std::nullopt;
    return onX(linux_backend::keyPositionForEvdev(static_cast<std::uint16_t>(keycode - 8)));
}

std::optional<KeyPosition> keyForKeysym(std::uint32_t keysym) {
    return onX(linux_backend::keyPositionForKeysym(keysym));
}

KeyboardMapping KeyboardMapping::read(xcb_connection_t* c) {
    KeyboardMapping m;
    const xcb_setup_t* setup = xcb_get_setup(c);
    const auto first = setup->min_keycode;
    const auto count = static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1);
    auto* mapping = xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, first, count), nullptr);
    if (mapping != nullptr) {
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping);
        const int perCode = mapping->keysyms_per_keycode;
        for (int i = 0; i < count; ++i) {
            for (int level = 0; level < perCode && level < 2; ++level) {
                if (const xcb_keysym_t sym = syms[i * perCode + level]; sym != 0)
                    m.keysymCodes_.emplace_back(sym, static_cast<xcb_keycode_t>(first + i));
            }
        }
        std::free(mapping);
    }
    auto* modifiers = xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr);
    if (modifiers != nullptr) {
        m.perModifier_ = modifiers->keycodes_per_modifier;
        const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(modifiers);
        m.modifierCodes_.assign(codes, codes + 8 * m.perModifier_);
        std::free(modifiers);
    }
    return m;
}

std::vector<xcb_keycode_t> KeyboardMapping::keycodesOf(std::uint32_t keysym) const {
    std::vector<xcb_keycode_t> out;
    for (const auto& [sym, code] : keysymCodes_) {
        if (sym == keysym && std::find(out.begin(), out.end(), code) == out.end()) out.push_back(code);
    }
    return out;
}

xcb_keycode_t KeyboardMapping::keycodeFor(int virtualKey) const {
    const auto key = keyForVirtualKey(virtualKey);
    if (!key) return 0;
    if (key->keysym >= 0xff00 || key->keysym == ' ') {
        for (const auto& [sym, code] : keysymCodes_) {
            if (sym == key->keysym) return code;
        }
    }
    return key->keycode;
}

std::uint16_t KeyboardMapping::modifierMaskOf(std::uint32_t keysym) const {
    const auto wanted = keycodesOf(keysym);
    for (int m = 0; m < 8; ++m) {
        for (int k = 0; k < perModifier_; ++k) {
            const xcb_keycode_t code = modifierCodes_[static_cast<std::size_t>(m * perModifier_ + k)];
            if (code != 0 && std::find(wanted.begin(), wanted.end(), code) != wanted.end())
                return static_cast<std::uint16_t>(1u << m);
        }
    }
    return 0;
}

bool KeyboardMapping::mapsAnyOf(int first, int last) const {
    return std::any_of(keysymCodes_.begin(), keysymCodes_.end(),
                       [&](const auto& entry) { return entry.second >= first && entry.second <= last; });
}

}  // namespace quenlit::x11
