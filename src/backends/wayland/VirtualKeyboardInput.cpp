#include "backends/wayland/VirtualKeyboardInput.h"

#include "backends/linux/KeyPositions.h"
#include "backends/linux/PasteKey.h"
#include "backends/wayland/WaylandConnection.h"
#include "base/Text.h"

#include <QObject>
#include <QTimer>

#include <virtual-keyboard-unstable-v1-client-protocol.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace quenlit::wayland {
namespace {

constexpr std::uint32_t kInsertKeysym = 0xff63;

std::uint32_t now() {
    // Key times are milliseconds on a clock that only goes forward; the base does not matter.
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

}  // namespace

// The virtual keyboard and its keymap, shared by the sources.
class VirtualKeyboardInput::Keyboard {
  public:
    struct Key {
        std::uint32_t evdev = 0;
        bool shift = false;
    };

    static std::shared_ptr<Keyboard> create(WaylandConnection& connection) {
        if (connection.virtualKeyboardManager() == nullptr || connection.seat() == nullptr ||
            connection.broken())
            return nullptr;
        auto keyboard = std::shared_ptr<Keyboard>(new Keyboard(connection));
        if (!keyboard->load()) return nullptr;
        return keyboard;
    }

    ~Keyboard() {
        if (keyboard_ != nullptr) {
            zwp_virtual_keyboard_v1_destroy(keyboard_);
            connection_.flush();
        }
        if (keymap_ != nullptr) xkb_keymap_unref(keymap_);
        if (context_ != nullptr) xkb_context_unref(context_);
    }
    Keyboard(const Keyboard&) = delete;
    Keyboard& operator=(const Keyboard&) = delete;

    bool alive() const { return !connection_.broken(); }

    std::uint32_t mask(const platform::Modifiers& modifiers, bool pasteWithShift) const {
        std::uint32_t m = 0;
        if (modifiers.control) m |= control_;
        if (modifiers.shift || pasteWithShift) m |= shift_;
        if (modifiers.alt) m |= alt_;
        if (modifiers.super) m |= super_;
        return m;
    }
    std::uint32_t shiftMask() const { return shift_; }

    // The key producing `keysym` in our keymap: on the first level (the `preferred` key when it
    // does), else on the Shift level when `allowShift`.
    std::optional<Key> find(std::uint32_t keysym, bool allowShift, std::uint32_t preferred = 0) const {
        if (preferred != 0 && levelHas(preferred + 8, 0, keysym)) return Key{preferred, false};
        const xkb_keycode_t first = std::max<xkb_keycode_t>(xkb_keymap_min_keycode(keymap_), 8);
        const xkb_keycode_t last = xkb_keymap_max_keycode(keymap_);
        std::optional<Key> shifted;
        for (xkb_keycode_t code = first; code <= last; ++code) {
            if (levelHas(code, 0, keysym)) return Key{code - 8, false};
            if (allowShift && !shifted && levelHas(code, 1, keysym) && levelIsShift(code, 1))
                shifted = Key{code - 8, true};
        }
        return shifted;
    }

    void modifiers(std::uint32_t depressed) {
        zwp_virtual_keyboard_v1_modifiers(keyboard_, depressed, 0, 0, 0);
    }
    void key(std::uint32_t evdev, bool press) {
        zwp_virtual_keyboard_v1_key(keyboard_, now(), evdev,
                                    press ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    }
    bool flush() {
        connection_.flush();
        return !connection_.broken();
    }

  private:
    explicit Keyboard(WaylandConnection& connection) : connection_(connection) {}

    bool load() {
        context_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        if (context_ == nullptr) return false;
        // Null names: the defaults, which the XKB_DEFAULT_* variables may set.
        keymap_ = xkb_keymap_new_from_names(context_, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (keymap_ == nullptr) return false;
        const auto index = [this](const char* name) {
            const xkb_mod_index_t i = xkb_keymap_mod_get_index(keymap_, name);
            return i == XKB_MOD_INVALID ? 0u : (1u << i);
        };
        control_ = index(XKB_MOD_NAME_CTRL);
        shift_ = index(XKB_MOD_NAME_SHIFT);
        alt_ = index(XKB_MOD_NAME_ALT);
        super_ = index(XKB_MOD_NAME_LOGO);

        char* text = xkb_keymap_get_as_string(keymap_, XKB_KEYMAP_FORMAT_TEXT_V1);
        if (text == nullptr) return false;
        const std::size_t size = std::strlen(text) + 1;
        const int fd = ::memfd_create("quenlit-keymap", MFD_CLOEXEC);
        bool written = fd >= 0;
        for (std::size_t done = 0; written && done < size;) {
            const ssize_t n = ::write(fd, text + done, size - done);
            if (n <= 0)
                written = false;
            else
                done += static_cast<std::size_t>(n);
        }
        std::free(text);
        if (!written) {
            if (fd >= 0) ::close(fd);
            return false;
        }
        keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(
            connection_.virtualKeyboardManager(), connection_.seat());
        zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                       static_cast<std::uint32_t>(size));
        connection_.flush();
        ::close(fd);
        return !connection_.broken();
    }

    bool levelHas(xkb_keycode_t code, xkb_level_index_t level, std::uint32_t keysym) const {
        const xkb_keysym_t* syms = nullptr;
        const int count = xkb_keymap_key_get_syms_by_level(keymap_, code, 0, level, &syms);
        for (int i = 0; i < count; ++i) {
            if (syms[i] == keysym) return true;
        }
        return false;
    }

    bool levelIsShift(xkb_keycode_t code, xkb_level_index_t level) const {
        if (shift_ == 0) return false;
        xkb_mod_mask_t masks[8];
        const std::size_t count = xkb_keymap_key_get_mods_for_level(keymap_, code, 0, level, masks, 8);
        for (std::size_t i = 0; i < count; ++i) {
            if (masks[i] == shift_) return true;
        }
        return false;
    }

    WaylandConnection& connection_;
    xkb_context* context_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    zwp_virtual_keyboard_v1* keyboard_ = nullptr;
    std::uint32_t control_ = 0;
    std::uint32_t super_ = 0;
    std::uint32_t shift_ = 0;
    std::uint32_t alt_ = 0;
};

class VirtualKeyboardInput::Source final : public platform::EventSource {
  public:
    Source(VirtualKeyboardInput& owner, std::shared_ptr<Keyboard> keyboard)
        : owner_(owner), keyboard_(std::move(keyboard)) {}
    ~Source() override {
        // Never leave a key or a modifier down: the focused window would go on seeing it held.
        if (down_ && keyboard_->alive()) {
            keyboard_->key(*std::exchange(down_, std::nullopt), false);
            keyboard_->modifiers(0);
            keyboard_->flush();
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
        if (!keyboard_->alive()) return false;
        bool ok = true;
        switch (event.type) {
            case platform::EventType::keyDown:
            case platform::EventType::keyUp:
                if (!event.text.empty()) {
                    // The whole text is typed with the key press; the release has nothing left to do.
                    if (event.type == platform::EventType::keyDown) ok = typeText(event.text);
                } else {
                    ok = postKey(event);
                }
                break;
            default:
                return false;
        }
        return keyboard_->flush() && ok;
    }

  private:
    linux_backend::PasteKey focusedPasteKey() const {
        if (!owner_.focusedAppId) return linux_backend::PasteKey::controlV;
        const std::string appId = owner_.focusedAppId();
        // An XWayland window's app id is its X class: xterm's and URxvt's paste key is Shift+Insert,
        // once the entry is their primary selection too.
        if (linux_backend::pasteKeyForClass(appId, appId) == linux_backend::PasteKey::shiftInsert)
            return owner_.publishPrimary && owner_.publishPrimary() ? linux_backend::PasteKey::shiftInsert
                                                                    : linux_backend::PasteKey::controlV;
        const linux_backend::PasteKey key = linux_backend::pasteKeyForAppId(appId);
        if (key == linux_backend::PasteKey::controlV && owner_.focusedIsTerminal &&
            owner_.focusedIsTerminal())
            return linux_backend::PasteKey::controlShiftV;
        return key;
    }

    bool postKey(const platform::InputEvent& event) {
        const auto key = evdevFor(event.keysym);
        if (!key) return false;
        if (event.type == platform::EventType::keyUp) {
            keyboard_->key(down_ ? *std::exchange(down_, std::nullopt) : *key, false);
            keyboard_->modifiers(0);
            return true;
        }
        const bool paste = event.modifiers.withoutSides() == platform::Modifiers{.control = true} &&
                           (event.keysym == 'v' || event.keysym == 'V');
        const linux_backend::PasteKey pasteKey =
            paste ? focusedPasteKey() : linux_backend::PasteKey::controlV;
        std::uint32_t evdev = *key;
        std::uint32_t mask =
            keyboard_->mask(event.modifiers, pasteKey == linux_backend::PasteKey::controlShiftV);
        if (pasteKey == linux_backend::PasteKey::shiftInsert) {
            const auto insert = keyboard_->find(kInsertKeysym, false);
            if (!insert) return false;
            evdev = insert->evdev;
            mask = keyboard_->shiftMask();
        }
        keyboard_->modifiers(mask);
        keyboard_->key(evdev, true);
        down_ = evdev;
        return true;
    }

    // The key giving the keysym (a letter in lower case) in our keymap, else the key at its place
    // on a US keyboard.
    std::optional<std::uint32_t> evdevFor(std::uint32_t keysym) const {
        if (keysym >= 'A' && keysym <= 'Z') keysym += 'a' - 'A';
        const auto position = linux_backend::keyPositionForKeysym(keysym);
        const auto found = keyboard_->find(keysym, false, position ? position->evdev : 0);
        if (found) return found->evdev;
        if (position) return position->evdev;
        return std::nullopt;
    }

    bool typeText(const std::u16string& text) {
        bool ok = true;
        for (char32_t codePoint : text::codePoints(text)) {
            const auto keysym = linux_backend::keysymForCodePoint(codePoint);
            const auto found = keysym ? keyboard_->find(*keysym, true) : std::nullopt;
            if (!found) {
                ok = false;
                continue;
            }
            keyboard_->modifiers(found->shift ? keyboard_->shiftMask() : 0);
            keyboard_->key(found->evdev, true);
            keyboard_->key(found->evdev, false);
            if (found->shift) keyboard_->modifiers(0);
        }
        return ok;
    }

    VirtualKeyboardInput& owner_;
    std::shared_ptr<Keyboard> keyboard_;
    std::optional<std::uint32_t> down_;  // the key of the last press, until its release
};

// Made well before the first key rather than at it: the focused window learns of a new keyboard
// asynchronously, and keys sent right after the keyboard appeared can be lost.
constexpr int kMakeKeyboardAfterMs = 200;
// How long a keyboard made just before its first key is left to reach the focused window.
constexpr auto kNewKeyboardSettles = std::chrono::milliseconds(50);

VirtualKeyboardInput::VirtualKeyboardInput(WaylandConnection& connection)
    : connection_(connection), making_(std::make_unique<QObject>()) {
    QTimer::singleShot(kMakeKeyboardAfterMs, making_.get(), [this] {
        if (made_) return;
        made_ = true;
        keyboard_ = Keyboard::create(connection_);
    });
}

VirtualKeyboardInput::~VirtualKeyboardInput() = default;

std::unique_ptr<platform::EventSource> VirtualKeyboardInput::createEventSource() {
    // One keyboard for all sources: each new keyboard makes the compositor send its keymap to the
    // focused window again.
    if (!made_) {
        // Asked for before the keyboard was due: made now, and given to the compositor, and by it
        // to the focused window, before the first key.
        made_ = true;
        keyboard_ = Keyboard::create(connection_);
        if (keyboard_) {
            connection_.roundtrip();
            std::this_thread::sleep_for(kNewKeyboardSettles);
            connection_.roundtrip();
        }
    }
    if (!keyboard_ || !keyboard_->alive()) keyboard_ = Keyboard::create(connection_);
    if (!keyboard_) return nullptr;
    return std::make_unique<Source>(*this, keyboard_);
}

}  // namespace quenlit::wayland
