#include "backends/x11/KeyTranslation.h"

#include "backends/linux/KeyPositions.h"

#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace quenlit::x11 {
namespace {

bool isLetterOrDigit(std::uint32_t keysym) {
    return (keysym >= 'a' && keysym <= 'z') || (keysym >= '0' && keysym <= '9');
}

// The keysyms of a key at a level of a layout (keys with fewer layouts than the keymap, such as
// Space, have their first).
std::pair<const xkb_keysym_t*, int> symsAt(xkb_keymap* keymap, xkb_keycode_t key, xkb_layout_index_t layout,
                                           xkb_level_index_t level) {
    if (layout >= xkb_keymap_num_layouts_for_key(keymap, key)) layout = 0;
    const xkb_keysym_t* syms = nullptr;
    const int count = xkb_keymap_key_get_syms_by_level(keymap, key, layout, level, &syms);
    return {syms, std::max(count, 0)};
}

bool layoutPrintsLatin(xkb_keymap* keymap, xkb_layout_index_t layout) {
    for (xkb_keycode_t key = xkb_keymap_min_keycode(keymap); key <= xkb_keymap_max_keycode(keymap); ++key) {
        const auto [syms, count] = symsAt(keymap, key, layout, 0);
        if (std::any_of(syms, syms + count, [](xkb_keysym_t s) { return s >= 'a' && s <= 'z'; })) return true;
    }
    return false;
}

std::optional<KeyPosition> onX(const std::optional<linux_backend::KeyPosition>& key) {
    if (!key) return std::nullopt;
    return KeyPosition{static_cast<xcb_keycode_t>(key->evdev + 8), key->keysym};
}

std::uint32_t lowerCase(std::uint32_t keysym) {
    return keysym >= 'A' && keysym <= 'Z' ? keysym + ('a' - 'A') : keysym;
}

}  // namespace

std::optional<KeyPosition> keyForKeycode(xcb_keycode_t keycode) {
    if (keycode < 8) return std::nullopt;
    return onX(linux_backend::keyPositionForEvdev(static_cast<std::uint16_t>(keycode - 8)));
}

std::optional<KeyPosition> keyForKeysym(std::uint32_t keysym) {
    return onX(linux_backend::keyPositionForKeysym(keysym));
}

std::optional<xcb_keycode_t> keycodePrinting(xkb_keymap* keymap, std::uint32_t active, std::uint32_t keysym) {
    keysym = lowerCase(keysym);
    if (keymap == nullptr || !isLetterOrDigit(keysym)) return std::nullopt;
    const xkb_layout_index_t layouts = xkb_keymap_num_layouts(keymap);
    if (layouts == 0) return std::nullopt;
    xkb_layout_index_t layout = active < layouts ? active : 0;
    if (!layoutPrintsLatin(keymap, layout)) {
        layout = 0;
        while (layout < layouts && !layoutPrintsLatin(keymap, layout))
            ++layout;
        if (layout == layouts) return std::nullopt;
    }
    const xkb_keycode_t last = std::min<xkb_keycode_t>(xkb_keymap_max_keycode(keymap), 255);
    for (xkb_level_index_t level : {0u, 1u}) {
        for (xkb_keycode_t key = std::max<xkb_keycode_t>(xkb_keymap_min_keycode(keymap), 8); key <= last;
             ++key) {
            const auto [syms, count] = symsAt(keymap, key, layout, level);
            if (std::find(syms, syms + count, keysym) != syms + count) return static_cast<xcb_keycode_t>(key);
        }
    }
    return std::nullopt;
}

namespace {

// The keys printing each letter and digit in the core keyboard's active layout, through a
// connection of its own: a connection that takes on XKB hears of keymap changes only through XKB's
// events, and the callers' connections listen for the core MappingNotify.
std::vector<std::pair<std::uint32_t, xcb_keycode_t>> printedOnServer() {
    std::vector<std::pair<std::uint32_t, xcb_keycode_t>> out;
    std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t*)> c(xcb_connect(nullptr, nullptr),
                                                                     xcb_disconnect);
    if (xcb_connection_has_error(c.get()) != 0 ||
        !xkb_x11_setup_xkb_extension(c.get(), XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                     XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr,
                                     nullptr))
        return out;
    const std::int32_t device = xkb_x11_get_core_keyboard_device_id(c.get());
    std::unique_ptr<xkb_context, void (*)(xkb_context*)> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS),
                                                                 xkb_context_unref);
    if (device < 0 || !context) return out;
    std::unique_ptr<xkb_keymap, void (*)(xkb_keymap*)> keymap(
        xkb_x11_keymap_new_from_device(context.get(), c.get(), device, XKB_KEYMAP_COMPILE_NO_FLAGS),
        xkb_keymap_unref);
    if (!keymap) return out;
    std::unique_ptr<xkb_state, void (*)(xkb_state*)> state(
        xkb_x11_state_new_from_device(keymap.get(), c.get(), device), xkb_state_unref);
    const xkb_layout_index_t active =
        state ? xkb_state_serialize_layout(state.get(), XKB_STATE_LAYOUT_EFFECTIVE) : 0;
    for (std::uint32_t keysym = '0'; keysym <= 'z'; ++keysym) {
        if (!isLetterOrDigit(keysym)) continue;
        if (const auto printing = keycodePrinting(keymap.get(), active, keysym))
            out.emplace_back(keysym, *printing);
    }
    return out;
}

}  // namespace

KeyboardMapping KeyboardMapping::read(xcb_connection_t* c, bool lettersAsPrinted) {
    KeyboardMapping m;
    if (lettersAsPrinted) m.printed_ = printedOnServer();
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

xcb_keycode_t KeyboardMapping::keycodeFor(std::uint32_t keysym) const {
    keysym = lowerCase(keysym);
    for (const auto& [printedKey, code] : printed_) {
        if (printedKey == keysym) return code;
    }
    if (keysym >= 0xff00 || keysym == ' ') {
        for (const auto& [sym, code] : keysymCodes_) {
            if (sym == keysym) return code;
        }
    }
    if (const auto key = keyForKeysym(keysym)) return key->keycode;
    // A character a US keyboard does not have: wherever the layout has it.
    for (const auto& [sym, code] : keysymCodes_) {
        if (sym == keysym) return code;
    }
    return 0;
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
