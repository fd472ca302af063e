#include "backends/x11/XTestInput.h"

#include "backends/x11/KeyTranslation.h"
#include "backends/x11/KeyboardHold.h"
#include "base/Log.h"
#include "base/Text.h"

#include <QTimer>

#include <xcb/xinput.h>
#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace quenlit::x11 {
namespace {

constexpr auto modifierReleaseBound = std::chrono::milliseconds(1000);
constexpr auto mappingBound = std::chrono::milliseconds(200);
constexpr int restoreDelayMilliseconds = 1000;
// After a source that typed no text, the text may still follow (an expansion deletes, then types).
constexpr int holdGraceMilliseconds = 250;

// The keymap of the core keyboard and its active layout, read when a source first needs it.
class Layout {
  public:
    struct Key {
        std::uint8_t keycode = 0;
        bool shift = false;
    };

    static std::optional<Layout> load(xkb_context* context, xcb_connection_t* connection,
                                      std::int32_t device) {
        if (context == nullptr || device < 0) return std::nullopt;
        Layout layout;
        layout.keymap_.reset(
            xkb_x11_keymap_new_from_device(context, connection, device, XKB_KEYMAP_COMPILE_NO_FLAGS));
        if (!layout.keymap_) return std::nullopt;
        layout.state_.reset(xkb_x11_state_new_from_device(layout.keymap_.get(), connection, device));
        if (!layout.state_) return std::nullopt;
        const xkb_mod_index_t shift = xkb_keymap_mod_get_index(layout.keymap_.get(), XKB_MOD_NAME_SHIFT);
        layout.shiftMask_ = shift == XKB_MOD_INVALID ? 0 : (1u << shift);
        return layout;
    }

    // The key producing `keysym` in the active layout: on the first level (the `preferred` key when
    // it does), else on the Shift level when `allowShift`. Keys for which `skip` holds are passed by.
    std::optional<Key> find(std::uint32_t keysym, bool allowShift, std::uint8_t preferred,
                            const std::function<bool(std::uint8_t)>& skip) const {
        if (preferred != 0 && levelHas(preferred, 0, keysym)) return Key{preferred, false};
        const xkb_keycode_t first = std::max<xkb_keycode_t>(xkb_keymap_min_keycode(keymap_.get()), 8);
        const xkb_keycode_t last = std::min<xkb_keycode_t>(xkb_keymap_max_keycode(keymap_.get()), 255);
        std::optional<Key> shifted;
        for (xkb_keycode_t code = first; code <= last; ++code) {
            const auto keycode = static_cast<std::uint8_t>(code);
            if (skip && skip(keycode)) continue;
            if (levelHas(keycode, 0, keysym)) return Key{keycode, false};
            if (allowShift && !shifted && levelHas(keycode, 1, keysym) && levelIsShift(keycode, 1)) {
                shifted = Key{keycode, true};
            }
        }
        return shifted;
    }

  private:
    struct KeymapDeleter {
        void operator()(xkb_keymap* k) const { xkb_keymap_unref(k); }
    };
    struct StateDeleter {
        void operator()(xkb_state* s) const { xkb_state_unref(s); }
    };

    bool levelHas(std::uint8_t keycode, xkb_level_index_t level, std::uint32_t keysym) const {
        const xkb_layout_index_t group = xkb_state_key_get_layout(state_.get(), keycode);
        if (group == XKB_LAYOUT_INVALID) return false;
        const xkb_keysym_t* syms = nullptr;
        const int count = xkb_keymap_key_get_syms_by_level(keymap_.get(), keycode, group, level, &syms);
        return std::find(syms, syms + std::max(count, 0), keysym) != syms + std::max(count, 0);
    }

    bool levelIsShift(std::uint8_t keycode, xkb_level_index_t level) const {
        if (shiftMask_ == 0) return false;
        const xkb_layout_index_t group = xkb_state_key_get_layout(state_.get(), keycode);
        xkb_mod_mask_t masks[8];
        const std::size_t count =
            xkb_keymap_key_get_mods_for_level(keymap_.get(), keycode, group, level, masks, 8);
        return std::find(masks, masks + count, shiftMask_) != masks + count;
    }

    std::unique_ptr<xkb_keymap, KeymapDeleter> keymap_;
    std::unique_ptr<xkb_state, StateDeleter> state_;
    xkb_mod_mask_t shiftMask_ = 0;
};

// The keycodes of the modifiers that would change a synthesised key: Shift, Control, Mod1 (Alt)
// and Mod4 (Super), from the server's modifier map.
std::vector<std::uint8_t> modifierKeycodes(xcb_connection_t* c) {
    Reply<xcb_get_modifier_mapping_reply_t> reply(
        xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr));
    std::vector<std::uint8_t> out;
    if (!reply) return out;
    const int perModifier = reply->keycodes_per_modifier;
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(reply.get());
    for (int modifier : {0, 2, 3, 6}) {
        for (int i = 0; i < perModifier; ++i) {
            if (const xcb_keycode_t code = codes[modifier * perModifier + i]; code != 0) out.push_back(code);
        }
    }
    return out;
}

std::vector<std::uint8_t> allModifierMapKeycodes(xcb_connection_t* c) {
    Reply<xcb_get_modifier_mapping_reply_t> reply(
        xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr));
    std::vector<std::uint8_t> out;
    if (!reply) return out;
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(reply.get());
    out.assign(codes, codes + 8 * reply->keycodes_per_modifier);
    return out;
}

bool isDown(const xcb_query_keymap_reply_t& keys, std::uint8_t keycode) {
    return (keys.keys[keycode / 8] & (1u << (keycode % 8))) != 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

class XTestInput::Source final : public platform::EventSource {
  public:
    explicit Source(XTestInput& owner) : owner_(owner) {}
    ~Source() override {
        // Never leave a modifier down: the user's keyboard would act as if it were held.
        while (!held_.empty()) {
            key(held_.back(), false, 0);
            held_.pop_back();
        }
        if (typedText_) {
            owner_.releaseUserKeyboards();
        } else if (postedKeys_) {
            owner_.releaseUserKeyboardsSoon();
        }
    }

    std::optional<platform::InputEvent> keyboardEvent(std::uint32_t keysym, bool keyDown) override {
        if (keysym == 0) return std::nullopt;
        platform::InputEvent event;
        event.type = keyDown ? platform::EventType::keyDown : platform::EventType::keyUp;
        event.keysym = keysym;
        return event;
    }

    bool post(const platform::InputEvent& event) override {
        ok_ = true;
        switch (event.type) {
            case platform::EventType::keyDown:
            case platform::EventType::keyUp:
                if (!event.text.empty()) {
                    // The whole text is typed with the key press; the release has nothing left to do.
                    if (event.type == platform::EventType::keyDown) typeText(event);
                } else {
                    postKey(event);
                }
                break;
            default:
                ok_ = false;
                break;
        }
        return ok_;
    }

  private:
    bool fake(std::uint8_t type, std::uint8_t detail, std::int16_t x = 0, std::int16_t y = 0) {
        xcb_connection_t* c = owner_.connection_.raw();
        const xcb_window_t root = type == XCB_MOTION_NOTIFY ? owner_.connection_.root()
                                                            : static_cast<xcb_window_t>(XCB_WINDOW_NONE);
        // The check is the round trip after each event: it has been processed when it returns.
        xcb_generic_error_t* error = xcb_request_check(
            c, xcb_test_fake_input_checked(c, type, detail, XCB_CURRENT_TIME, root, x, y, 0));
        const bool ok = error == nullptr;
        std::free(error);
        return ok;
    }

    void key(std::uint8_t keycode, bool press, std::int64_t userData) {
        postedKeys_ = true;
        // Logged first: a listener on another thread may see the event before the check returns.
        owner_.log_->record(keycode, press, userData);
        if (!fake(press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycode)) ok_ = false;
    }

    const Layout* layout() {
        if (!layout_)
            layout_ = Layout::load(owner_.xkb_.get(), owner_.connection_.raw(), owner_.keyboardDevice_);
        return layout_ ? &*layout_ : nullptr;
    }

    std::uint8_t modifierKeycode(std::uint32_t keysym, std::uint8_t position) {
        const Layout* keys = layout();
        if (keys == nullptr) return position;
        const auto found = keys->find(keysym, false, position, nullptr);
        return found ? found->keycode : position;
    }

    // The key giving the keysym (a letter in lower case) at the first level of the active layout,
    // else the key at its place on a US keyboard.
    std::optional<std::uint8_t> keycodeFor(std::uint32_t keysym) {
        if (keysym >= 'A' && keysym <= 'Z') keysym += 'a' - 'A';
        const auto position = keyForKeysym(keysym);
        const std::uint8_t preferred = position ? position->keycode : 0;
        if (const Layout* keys = layout()) {
            const auto found = keys->find(keysym, false, preferred,
                                          [this](std::uint8_t k) { return owner_.isSpareKeycode(k); });
            if (found) return found->keycode;
        }
        if (position) return position->keycode;
        return std::nullopt;
    }

    // Waits until the user has let go of Shift, Control, Alt and Super, and releases what is still
    // held after the bound.
    void releaseUserModifiers(std::int64_t userData) {
        xcb_connection_t* c = owner_.connection_.raw();
        std::vector<std::uint8_t> modifiers = modifierKeycodes(c);
        std::erase_if(modifiers, [this](std::uint8_t k) {
            return std::find(held_.begin(), held_.end(), k) != held_.end();
        });
        std::vector<std::uint8_t> down;
        waitUntil(modifierReleaseBound, [&] {
            down.clear();
            Reply<xcb_query_keymap_reply_t> keys(xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr));
            if (!keys) return true;
            for (std::uint8_t k : modifiers) {
                if (isDown(*keys, k)) down.push_back(k);
            }
            return down.empty();
        });
        for (std::uint8_t k : down)
            key(k, false, userData);
        // From here on the user's keys wait until this source is done.
        owner_.holdUserKeyboards();
    }

    PasteKey activeWindowPasteKey() {
        X11Connection& connection = owner_.connection_;
        const auto active = connection.activeWindow();
        if (!active) return PasteKey::controlV;
        const auto wmClass = connection.wmClass(*active);
        const PasteKey key = wmClass ? pasteKeyForClass(wmClass->first, wmClass->second) : PasteKey::controlV;
        if (key == PasteKey::controlV && owner_.frontIsTerminal && owner_.frontIsTerminal())
            return PasteKey::controlShiftV;
        return key;
    }

    void postKey(const platform::InputEvent& event) {
        const auto found = keycodeFor(event.keysym);
        if (!found) {
            ok_ = false;
            return;
        }
        const std::uint8_t keycode = *found;
        if (event.type == platform::EventType::keyUp) {
            // A paste sent as Shift+Insert lets go of Insert, not of the V it stands for.
            key(pastedWith_ ? *std::exchange(pastedWith_, std::nullopt) : keycode, false, event.userData);
            while (!held_.empty()) {
                key(held_.back(), false, event.userData);
                held_.pop_back();
            }
            return;
        }
        releaseUserModifiers(event.userData);
        const platform::Modifiers& held = event.modifiers;
        std::vector<std::uint8_t> modifiers;
        const bool pasteShortcut = held.withoutSides() == platform::Modifiers{.control = true} &&
                                   (event.keysym == 'v' || event.keysym == 'V');
        const PasteKey paste = pasteShortcut ? activeWindowPasteKey() : PasteKey::controlV;
        if (paste == PasteKey::shiftInsert) {
            if (!owner_.publishPrimary || !owner_.publishPrimary()) {
                ok_ = false;
                return;
            }
            pastedWith_ = modifierKeycode(XKB_KEY_Insert, 118);
            key(modifierKeycode(XKB_KEY_Shift_L, 50), true, event.userData);
            held_.push_back(modifierKeycode(XKB_KEY_Shift_L, 50));
            key(*pastedWith_, true, event.userData);
            return;
        }
        if (held.control) modifiers.push_back(modifierKeycode(XKB_KEY_Control_L, 37));
        if (held.shift || paste == PasteKey::controlShiftV)
            modifiers.push_back(modifierKeycode(XKB_KEY_Shift_L, 50));
        if (held.alt) modifiers.push_back(modifierKeycode(XKB_KEY_Alt_L, 64));
        if (held.super) modifiers.push_back(modifierKeycode(XKB_KEY_Super_L, 133));
        for (std::uint8_t modifier : modifiers) {
            if (std::find(held_.begin(), held_.end(), modifier) != held_.end()) continue;
            key(modifier, true, event.userData);
            held_.push_back(modifier);
        }
        key(keycode, true, event.userData);
    }

    void typeText(const platform::InputEvent& event) {
        typedText_ = true;
        releaseUserModifiers(event.userData);
        const Layout* keys = layout();
        const std::uint8_t shiftKey = modifierKeycode(XKB_KEY_Shift_L, 50);
        for (char32_t codePoint : text::codePoints(event.text)) {
            const auto keysym = keysymForCodePoint(codePoint);
            if (!keysym) {
                ok_ = false;
                continue;
            }
            std::optional<Layout::Key> found;
            if (keys != nullptr) {
                found =
                    keys->find(*keysym, true, 0, [this](std::uint8_t k) { return owner_.isSpareKeycode(k); });
            }
            if (!found) {
                const auto spare = owner_.bindSpareKeycode(*keysym);
                if (!spare) {
                    ok_ = false;
                    continue;
                }
                found = Layout::Key{*spare, false};
            }
            if (found->shift) key(shiftKey, true, event.userData);
            key(found->keycode, true, event.userData);
            key(found->keycode, false, event.userData);
            if (found->shift) key(shiftKey, false, event.userData);
        }
    }

    XTestInput& owner_;
    std::optional<Layout> layout_;
    std::vector<std::uint8_t> held_;          // modifiers this source pressed and has not released
    bool ok_ = true;                          // whether every part of the event being posted was sent
    std::optional<std::uint8_t> pastedWith_;  // the key standing for V in a Shift+Insert paste
    bool postedKeys_ = false;
    bool typedText_ = false;
};

// ---------------------------------------------------------------------------------------------

XTestInput::XTestInput(X11Connection& connection, std::shared_ptr<SyntheticKeyLog> log)
    : connection_(connection),
      log_(log ? std::move(log) : std::make_shared<SyntheticKeyLog>()),
      xkb_(xkb_context_new(XKB_CONTEXT_NO_FLAGS), xkb_context_unref),
      restoreTimer_(std::make_unique<QTimer>()),
      hold_(std::make_unique<KeyboardHold>()),
      holdTimer_(std::make_unique<QTimer>()) {
    xcb_connection_t* c = connection_.raw();
    Reply<xcb_test_get_version_reply_t> version(
        xcb_test_get_version_reply(c, xcb_test_get_version(c, 2, 2), nullptr));
    hasXTest_ = version != nullptr;
    if (xkb_x11_setup_xkb_extension(c, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                    XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr,
                                    nullptr)) {
        keyboardDevice_ = xkb_x11_get_core_keyboard_device_id(c);
    }
    restoreTimer_->setSingleShot(true);
    restoreTimer_->setInterval(restoreDelayMilliseconds);
    QObject::connect(restoreTimer_.get(), &QTimer::timeout, [this] { restoreSpareKeycodes(); });
    holdTimer_->setSingleShot(true);
    holdTimer_->setInterval(holdGraceMilliseconds);
    QObject::connect(holdTimer_.get(), &QTimer::timeout, [this] { releaseUserKeyboards(); });
}

XTestInput::~XTestInput() {
    releaseUserKeyboards();
    restoreSpareKeycodes();
    if (!heldFor_.empty()) {
        std::sort(heldFor_.begin(), heldFor_.end());
        auto micros = [](std::chrono::nanoseconds n) { return std::to_string(n.count() / 1000); };
        log::write("input: user keyboards held " + std::to_string(heldFor_.size()) + " times, median " +
                   micros(heldFor_[heldFor_.size() / 2]) + " µs, longest " + micros(heldFor_.back()) + " µs");
    }
}

void XTestInput::holdUserKeyboards() {
    holdTimer_->stop();
    beginHold();
}

bool XTestInput::beginHold() {
    std::lock_guard lock(holdMutex_);
    if (hold_->active()) return true;
    hold_->begin();
    if (!hold_->active()) return false;
    heldSince_ = std::chrono::steady_clock::now();
    return true;
}

void XTestInput::holdUserInput() {
    if (!hasXTest_) return;
    {
        std::lock_guard lock(holdMutex_);
        if (hold_->active()) return;
    }
    xcb_connection_t* c = connection_.raw();
    const std::vector<std::uint8_t> modifiers = modifierKeycodes(c);
    Reply<xcb_query_keymap_reply_t> keys(xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr));
    if (!keys ||
        std::any_of(modifiers.begin(), modifiers.end(), [&](std::uint8_t k) { return isDown(*keys, k); }))
        return;
    if (!beginHold()) return;
    // Let go after a moment if nothing is typed (the timer lives on the main thread).
    QMetaObject::invokeMethod(
        holdTimer_.get(), [this] { releaseUserKeyboardsSoon(); }, Qt::QueuedConnection);
}

void XTestInput::releaseUserKeyboardsSoon() {
    if (holdsUserKeyboards()) holdTimer_->start();
}

bool XTestInput::holdsUserKeyboards() const {
    std::lock_guard lock(holdMutex_);
    return hold_->active();
}

void XTestInput::releaseUserKeyboards() {
    holdTimer_->stop();
    std::vector<std::pair<std::uint8_t, bool>> typed;
    {
        std::lock_guard lock(holdMutex_);
        if (hold_->active()) heldFor_.push_back(std::chrono::steady_clock::now() - heldSince_);
        typed = hold_->end();
    }
    xcb_connection_t* c = connection_.raw();
    // Sent on as the user typed them: not recorded as ours, so a listener takes them for typing.
    for (const auto& [keycode, press] : typed) {
        std::free(xcb_request_check(
            c, xcb_test_fake_input_checked(c, press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycode,
                                           XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0)));
    }
}

std::unique_ptr<platform::EventSource> XTestInput::createEventSource() {
    if (!hasXTest_) return nullptr;
    return std::make_unique<Source>(*this);
}

std::optional<std::uint8_t> XTestInput::bindSpareKeycode(std::uint32_t keysym) {
    for (auto& [keycode, binding] : spare_) {
        if (binding.keysym == keysym) {
            binding.lastUse = ++useCounter_;
            scheduleRestore();
            return keycode;
        }
    }
    xcb_connection_t* c = connection_.raw();
    const xcb_setup_t* setup = xcb_get_setup(c);
    const std::uint8_t first = setup->min_keycode;
    const std::uint8_t last = setup->max_keycode;
    Reply<xcb_get_keyboard_mapping_reply_t> mapping(xcb_get_keyboard_mapping_reply(
        c, xcb_get_keyboard_mapping(c, first, static_cast<std::uint8_t>(last - first + 1)), nullptr));
    if (!mapping || mapping->keysyms_per_keycode == 0) return std::nullopt;
    const int perKeycode = mapping->keysyms_per_keycode;
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    const std::vector<std::uint8_t> modifiers = allModifierMapKeycodes(c);

    // The highest keycode without symbols that is no modifier, else our least recently used one.
    std::optional<std::uint8_t> chosen;
    for (int code = last; code >= first && !chosen; --code) {
        const auto keycode = static_cast<std::uint8_t>(code);
        if (spare_.count(keycode) != 0) continue;
        if (std::find(modifiers.begin(), modifiers.end(), keycode) != modifiers.end()) continue;
        const xcb_keysym_t* row = keysyms + (code - first) * perKeycode;
        if (std::all_of(row, row + perKeycode, [](xcb_keysym_t s) { return s == 0; })) chosen = keycode;
    }
    if (!chosen && !spare_.empty()) {
        chosen = std::min_element(spare_.begin(), spare_.end(), [](const auto& a, const auto& b) {
                     return a.second.lastUse < b.second.lastUse;
                 })->first;
    }
    if (!chosen) return std::nullopt;

    // Both levels carry the keysym, so that a Shift the user presses meanwhile changes nothing.
    std::vector<xcb_keysym_t> row(static_cast<std::size_t>(perKeycode), 0);
    row[0] = keysym;
    if (perKeycode > 1) row[1] = keysym;
    xcb_generic_error_t* error =
        xcb_request_check(c, xcb_change_keyboard_mapping_checked(
                                 c, 1, *chosen, static_cast<std::uint8_t>(perKeycode), row.data()));
    if (error != nullptr) {
        std::free(error);
        return std::nullopt;
    }
    spare_[*chosen] = {keysym, ++useCounter_};
    scheduleRestore();
    const std::uint8_t keycode = *chosen;
    const bool inEffect = waitUntil(mappingBound, [&] {
        Reply<xcb_get_keyboard_mapping_reply_t> now(
            xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, keycode, 1), nullptr));
        return now && now->keysyms_per_keycode > 0 &&
               xcb_get_keyboard_mapping_keysyms(now.get())[0] == keysym;
    });
    if (!inEffect) return std::nullopt;
    return keycode;
}

void XTestInput::scheduleRestore() {
    restoreTimer_->start();
}

void XTestInput::restoreSpareKeycodes() {
    restoreTimer_->stop();
    if (spare_.empty()) return;
    xcb_connection_t* c = connection_.raw();
    Reply<xcb_get_keyboard_mapping_reply_t> mapping(
        xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, spare_.begin()->first, 1), nullptr));
    const int perKeycode = mapping && mapping->keysyms_per_keycode > 0 ? mapping->keysyms_per_keycode : 2;
    const std::vector<xcb_keysym_t> empty(static_cast<std::size_t>(perKeycode), 0);
    for (const auto& entry : spare_) {
        std::free(xcb_request_check(
            c, xcb_change_keyboard_mapping_checked(c, 1, entry.first, static_cast<std::uint8_t>(perKeycode),
                                                   empty.data())));
    }
    spare_.clear();
}

}  // namespace quenlit::x11
