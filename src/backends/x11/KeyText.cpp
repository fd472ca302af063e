#include "backends/x11/KeyText.h"

#include "base/Text.h"

// xcb's XKB header names a field "explicit".
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wkeyword-macro"
#endif
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdlib>

namespace quenlit::x11 {
namespace {

using platform::EventType;

constexpr std::uint32_t kControlL = 0xffe3;
constexpr std::uint32_t kControlR = 0xffe4;

bool isModifierKeysym(xkb_keysym_t sym) {
    return (sym >= XKB_KEY_Shift_L && sym <= XKB_KEY_Hyper_R) || (sym >= 0xfe01 && sym <= 0xfe13) ||
           sym == XKB_KEY_Mode_switch || sym == XKB_KEY_Num_Lock;
}

std::u16string utf16FromUtf8(std::string_view utf8) {
    std::u16string out;
    for (char32_t c : text::decodeUtf8(utf8)) {
        // Control characters are what Control does to a letter, not text.
        if (c < 0x20 || c == 0x7f) return {};
        if (c < 0x10000) {
            out.push_back(static_cast<char16_t>(c));
        } else {
            const char32_t v = c - 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
        }
    }
    return out;
}

}  // namespace

platform::Modifiers modifiersFor(std::uint16_t state, bool leftControlDown, bool rightControlDown) {
    platform::Modifiers out;
    out.shift = (state & XCB_MOD_MASK_SHIFT) != 0;
    out.control = (state & XCB_MOD_MASK_CONTROL) != 0;
    out.alt = (state & XCB_MOD_MASK_1) != 0;
    out.super = (state & XCB_MOD_MASK_4) != 0;
    out.leftControl = leftControlDown;
    out.rightControl = rightControlDown;
    return out;
}

std::unique_ptr<KeyText> KeyText::fromServer(xcb_connection_t* connection) {
    if (!xkb_x11_setup_xkb_extension(connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                     XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr,
                                     nullptr)) {
        return nullptr;
    }
    const std::int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
    if (device < 0) return nullptr;
    // A client using XKB hears of keymap changes (another layout, a keycode bound for typing) only
    // through XKB's own events.
    constexpr std::uint16_t parts = XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS |
                                    XCB_XKB_MAP_PART_MODIFIER_MAP | XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS |
                                    XCB_XKB_MAP_PART_KEY_ACTIONS | XCB_XKB_MAP_PART_VIRTUAL_MODS |
                                    XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
    xcb_xkb_select_events_details_t details{};
    details.affectNewKeyboard = details.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
    // The modifiers and the group come as the server's state, so key releases need not be read.
    details.affectState = details.stateDetails =
        XCB_XKB_STATE_PART_MODIFIER_BASE | XCB_XKB_STATE_PART_MODIFIER_LATCH |
        XCB_XKB_STATE_PART_MODIFIER_LOCK | XCB_XKB_STATE_PART_GROUP_BASE | XCB_XKB_STATE_PART_GROUP_LATCH |
        XCB_XKB_STATE_PART_GROUP_LOCK;
    xcb_xkb_select_events_aux(connection, static_cast<xcb_xkb_device_spec_t>(device),
                              XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY |
                                  XCB_XKB_EVENT_TYPE_STATE_NOTIFY,
                              0, 0, parts, parts, &details);
    std::unique_ptr<KeyText> out(new KeyText);
    out->context_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (out->context_ == nullptr) return nullptr;
    xkb_keymap* keymap =
        xkb_x11_keymap_new_from_device(out->context_, connection, device, XKB_KEYMAP_COMPILE_NO_FLAGS);
    xkb_state* state =
        keymap != nullptr ? xkb_x11_state_new_from_device(keymap, connection, device) : nullptr;
    const char* locale = nullptr;
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            locale = value;
            break;
        }
    }
    if (!out->load(keymap, state, locale != nullptr ? locale : "C")) return nullptr;
    out->serverState_ = true;
    return out;
}

void KeyText::setModifiers(std::uint32_t base, std::uint32_t latched, std::uint32_t locked,
                           std::int32_t baseGroup, std::int32_t latchedGroup, std::uint32_t lockedGroup) {
    xkb_state_update_mask(state_, base, latched, locked, static_cast<xkb_layout_index_t>(baseGroup),
                          static_cast<xkb_layout_index_t>(latchedGroup), lockedGroup);
    if (xkb_state_mod_name_is_active(state_, XKB_MOD_NAME_CTRL, XKB_STATE_MODS_EFFECTIVE) <= 0)
        leftControl_ = rightControl_ = false;
}

std::unique_ptr<KeyText> KeyText::fromNames(const char* layout, const char* variant, const char* locale) {
    std::unique_ptr<KeyText> out(new KeyText);
    out->context_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (out->context_ == nullptr) return nullptr;
    const xkb_rule_names names{"evdev", "pc105", layout, variant, nullptr};
    xkb_keymap* keymap = xkb_keymap_new_from_names(out->context_, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    xkb_state* state = keymap != nullptr ? xkb_state_new(keymap) : nullptr;
    if (!out->load(keymap, state, locale)) return nullptr;
    return out;
}

bool KeyText::load(xkb_keymap* keymap, xkb_state* state, const char* locale) {
    keymap_ = keymap;
    state_ = state;
    if (keymap_ == nullptr || state_ == nullptr) return false;
    locale_ = locale;
    return true;
}

void KeyText::loadCompose() {
    if (composeTable_ != nullptr) return;
    composeTable_ =
        xkb_compose_table_new_from_locale(context_, locale_.c_str(), XKB_COMPOSE_COMPILE_NO_FLAGS);
    // A locale without compose rules of its own ("C") types as the common UTF-8 locales do.
    if (composeTable_ == nullptr)
        composeTable_ =
            xkb_compose_table_new_from_locale(context_, "en_US.UTF-8", XKB_COMPOSE_COMPILE_NO_FLAGS);
    if (composeTable_ != nullptr) compose_ = xkb_compose_state_new(composeTable_, XKB_COMPOSE_STATE_NO_FLAGS);
}

KeyText::~KeyText() {
    xkb_compose_state_unref(compose_);
    xkb_compose_table_unref(composeTable_);
    xkb_state_unref(state_);
    xkb_keymap_unref(keymap_);
    xkb_context_unref(context_);
}

platform::Modifiers KeyText::modifiers() const {
    auto active = [this](const char* name) {
        return xkb_state_mod_name_is_active(state_, name, XKB_STATE_MODS_EFFECTIVE) > 0;
    };
    platform::Modifiers out;
    out.shift = active(XKB_MOD_NAME_SHIFT);
    out.control = active(XKB_MOD_NAME_CTRL);
    out.alt = active(XKB_MOD_NAME_ALT);
    out.super = active(XKB_MOD_NAME_LOGO);
    out.leftControl = leftControl_;
    out.rightControl = rightControl_;
    return out;
}

KeyText::Key KeyText::key(std::uint8_t keycode, bool press) {
    Key out;
    const xkb_keysym_t sym = xkb_state_key_get_one_sym(state_, keycode);
    out.keysym = sym;

    if (isModifierKeysym(sym)) {
        if (sym == kControlL) leftControl_ = press;
        if (sym == kControlR) rightControl_ = press;
        out.type = EventType::flagsChanged;
        if (serverState_) {
            // The server's new state comes after the press: the modifier pressed counts already.
            out.modifiers = modifiers();
            if (press && (sym == kControlL || sym == kControlR)) out.modifiers.control = true;
            if (press && (sym == XKB_KEY_Super_L || sym == XKB_KEY_Super_R)) out.modifiers.super = true;
            if (press && (sym == XKB_KEY_Shift_L || sym == XKB_KEY_Shift_R)) out.modifiers.shift = true;
            if (press && (sym == XKB_KEY_Alt_L || sym == XKB_KEY_Alt_R)) out.modifiers.alt = true;
            return out;
        }
        xkb_state_update_key(state_, keycode, press ? XKB_KEY_DOWN : XKB_KEY_UP);
        out.modifiers = modifiers();
        return out;
    }

    out.type = press ? EventType::keyDown : EventType::keyUp;
    out.modifiers = modifiers();
    if (press) {
        std::array<char, 64> buffer{};
        auto plain = [&] {
            xkb_state_key_get_utf8(state_, keycode, buffer.data(), buffer.size());
            return std::string(buffer.data());
        };
        std::string utf8;
        // The compose rules (most of a megabyte) are read when the first sequence starts, with a
        // dead key or the Compose key: many people never type one.
        if ((sym >= XKB_KEY_dead_grave && sym <= 0xfe93) || sym == XKB_KEY_Multi_key) loadCompose();
        if (compose_ != nullptr && sym != XKB_KEY_NoSymbol) {
            xkb_compose_state_feed(compose_, sym);
            switch (xkb_compose_state_get_status(compose_)) {
                case XKB_COMPOSE_COMPOSING:
                    break;  // a dead key or the start of a sequence: no text yet
                case XKB_COMPOSE_COMPOSED:
                    xkb_compose_state_get_utf8(compose_, buffer.data(), buffer.size());
                    utf8 = buffer.data();
                    xkb_compose_state_reset(compose_);
                    break;
                case XKB_COMPOSE_CANCELLED:
                    xkb_compose_state_reset(compose_);
                    break;
                case XKB_COMPOSE_NOTHING:
                    utf8 = plain();
                    break;
            }
        } else {
            utf8 = plain();
        }
        out.text = utf16FromUtf8(utf8);
    }
    if (!serverState_) xkb_state_update_key(state_, keycode, press ? XKB_KEY_DOWN : XKB_KEY_UP);
    return out;
}

}  // namespace quenlit::x11
