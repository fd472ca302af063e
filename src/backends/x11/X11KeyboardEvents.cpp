#include "backends/x11/X11KeyboardEvents.h"

#include "backends/x11/KeyTranslation.h"
#include "base/Log.h"
#include "base/Text.h"

#include <xcb/xinput.h>
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

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <set>
#include <thread>

namespace quenlit::x11 {
namespace {

using platform::EventType;
namespace flags = platform::eventFlags;

constexpr std::uint32_t kControlL = 0xffe3;
constexpr std::uint32_t kControlR = 0xffe4;
constexpr std::uint32_t kNumLock = 0xff7f;
constexpr std::uint32_t kScrollLock = 0xff14;

xcb_connection_t* openConnection() {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (c != nullptr && xcb_connection_has_error(c) != 0) {
        xcb_disconnect(c);
        return nullptr;
    }
    return c;
}

xcb_window_t rootOf(xcb_connection_t* c) {
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

// A window that is never mapped: a keyboard grab for it can never be taken.
xcb_window_t unmappedWindow(xcb_connection_t* c) {
    const xcb_window_t w = xcb_generate_id(c);
    xcb_create_window(c, 0, w, rootOf(c), 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0,
                      nullptr);
    return w;
}

// Another client holds the keyboard. The server checks for another client's grab before it looks
// at the window, so for an unmapped window the answer is "already grabbed" or "not viewable", and
// nothing is ever taken from the application in front.
bool anotherClientHoldsKeyboard(xcb_connection_t* c, xcb_window_t unmapped) {
    Reply<xcb_grab_keyboard_reply_t> reply(xcb_grab_keyboard_reply(
        c, xcb_grab_keyboard(c, 0, unmapped, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
        nullptr));
    return reply && reply->status == XCB_GRAB_STATUS_ALREADY_GRABBED;
}

// The XInput opcode, when the server has XInput 2.2 (raw events reach every client during grabs
// from 2.1 on).
std::optional<std::uint8_t> xinputOpcode(xcb_connection_t* c) {
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_input_id);
    if (extension == nullptr || extension->present == 0) return std::nullopt;
    Reply<xcb_input_xi_query_version_reply_t> version(
        xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
    if (!version || version->major_version < 2 || (version->major_version == 2 && version->minor_version < 1))
        return std::nullopt;
    return extension->major_opcode;
}

struct RawSelection {
    xcb_input_event_mask_t head;
    std::uint32_t bits;
};

bool selectRawEvents(xcb_connection_t* c, std::uint32_t mask) {
    RawSelection selection{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, mask};
    xcb_generic_error_t* error =
        xcb_request_check(c, xcb_input_xi_select_events_checked(c, rootOf(c), 1, &selection.head));
    std::free(error);
    return error == nullptr;
}

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

// The name a binding gives the key ("k", "space"), for log lines.
std::string bindingKeyName(int virtualKey) {
    switch (virtualKey) {
        case platform::keyCode::space:
            return "space";
        case platform::keyCode::tab:
            return "tab";
        case platform::keyCode::returnKey:
            return "return";
        case platform::keyCode::escape:
            return "escape";
        default:
            break;
    }
    if (auto key = keyForVirtualKey(virtualKey); key && key->keysym < 0x80)
        return std::string(1, static_cast<char>(key->keysym));
    return "key " + std::to_string(virtualKey);
}

bool isDown(const xcb_query_keymap_reply_t& keys, xcb_keycode_t keycode) {
    return (keys.keys[keycode / 8] & (1u << (keycode % 8))) != 0;
}

// Whether another client held the keyboard at the event a listen-only tap is handing to its
// callback, on the tap's thread; absent outside a callback.
thread_local std::optional<bool> tapEventSecure;

}  // namespace

// ---- Small pieces ---------------------------------------------------------------------------

void FreezeRecord::add(std::chrono::nanoseconds held) {
    std::lock_guard lock(mutex_);
    held_.push_back(held);
}

FreezeRecord::Summary FreezeRecord::summary() const {
    std::vector<std::chrono::nanoseconds> held;
    Summary out;
    {
        std::lock_guard lock(mutex_);
        held = held_;
    }
    out.count = held.size();
    if (held.empty()) return out;
    std::sort(held.begin(), held.end());
    out.median = held[held.size() / 2];
    out.longest = held.back();
    return out;
}

std::uint64_t eventFlagsFor(std::uint16_t state, bool leftControlDown, bool rightControlDown) {
    std::uint64_t out = 0;
    if ((state & XCB_MOD_MASK_SHIFT) != 0) out |= flags::shift;
    if ((state & XCB_MOD_MASK_CONTROL) != 0) out |= flags::control;
    if ((state & XCB_MOD_MASK_1) != 0) out |= flags::option;
    if ((state & XCB_MOD_MASK_4) != 0) out |= flags::command;
    if (leftControlDown) out |= flags::leftControlDevice;
    if (rightControlDown) out |= flags::rightControlDevice;
    return out;
}

// ---- Key text -------------------------------------------------------------------------------

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

std::uint64_t KeyText::flags() const {
    auto active = [this](const char* name) {
        return xkb_state_mod_name_is_active(state_, name, XKB_STATE_MODS_EFFECTIVE) > 0;
    };
    std::uint64_t out = 0;
    if (active(XKB_MOD_NAME_SHIFT)) out |= flags::shift;
    if (active(XKB_MOD_NAME_CTRL)) out |= flags::control;
    if (active(XKB_MOD_NAME_ALT)) out |= flags::option;
    if (active(XKB_MOD_NAME_LOGO)) out |= flags::command;
    if (leftControl_) out |= flags::leftControlDevice;
    if (rightControl_) out |= flags::rightControlDevice;
    return out;
}

KeyText::Key KeyText::key(std::uint8_t keycode, bool press) {
    Key out;
    const xkb_keysym_t sym = xkb_state_key_get_one_sym(state_, keycode);
    if (sym >= 0xff00) {
        if (auto named = keyForKeysym(sym)) out.keyCode = named->virtualKey;
    }
    if (out.keyCode < 0) {
        if (auto position = keyForKeycode(keycode)) out.keyCode = position->virtualKey;
    }

    if (isModifierKeysym(sym)) {
        if (sym == kControlL) leftControl_ = press;
        if (sym == kControlR) rightControl_ = press;
        out.type = EventType::flagsChanged;
        if (serverState_) {
            // The server's new state comes after the press: the modifier pressed counts already.
            out.flags = flags();
            if (press && (sym == kControlL || sym == kControlR)) out.flags |= flags::control;
            if (press && (sym == XKB_KEY_Super_L || sym == XKB_KEY_Super_R)) out.flags |= flags::command;
            if (press && (sym == XKB_KEY_Shift_L || sym == XKB_KEY_Shift_R)) out.flags |= flags::shift;
            if (press && (sym == XKB_KEY_Alt_L || sym == XKB_KEY_Alt_R)) out.flags |= flags::option;
            return out;
        }
        xkb_state_update_key(state_, keycode, press ? XKB_KEY_DOWN : XKB_KEY_UP);
        out.flags = flags();
        return out;
    }

    out.type = press ? EventType::keyDown : EventType::keyUp;
    out.flags = flags();
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

// ---- Handing events to the main thread ------------------------------------------------------

// What a tap shares with the work it posts to the main thread. The callback is touched only there.
struct X11KeyboardEvents::Dispatch {
    Callback callback;
    std::uint64_t mask = 0;
    std::atomic<bool> enabled{false};
    std::atomic<bool> alive{true};  // false once the tap is gone

    bool wants(EventType type) const {
        return alive && enabled && callback &&
               ((mask & platform::eventMaskBit(type)) != 0 || type == EventType::tapDisabledByTimeout ||
                type == EventType::tapDisabledByUserInput);
    }
};

namespace {

// A background thread that reads an X connection's events until stopped.
class EventThread {
  public:
    using Handler = std::function<void(xcb_generic_event_t*)>;
    EventThread() {
        if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
    }
    ~EventThread() {
        stop();
        for (int fd : wake_) {
            if (fd >= 0) ::close(fd);
        }
    }
    EventThread(const EventThread&) = delete;
    EventThread& operator=(const EventThread&) = delete;

    void start(xcb_connection_t* c, Handler handler) {
        thread_ = std::thread([this, c, handler = std::move(handler)] {
            const int fd = xcb_get_file_descriptor(c);
            while (true) {
                // One read takes in all that waits in the socket. Replies waited for while handling
                // an event may have brought more events along: they sit in xcb's queue, which
                // poll() does not see. Reading again before poll() would cost a call per wake-up.
                for (xcb_generic_event_t* event = xcb_poll_for_event(c); event != nullptr;
                     event = xcb_poll_for_queued_event(c)) {
                    handler(event);
                    std::free(event);
                }
                if (xcb_connection_has_error(c) != 0) return;
                pollfd fds[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
                if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
                if ((fds[1].revents & POLLIN) != 0) return;
            }
        });
    }

    void stop() {
        if (!thread_.joinable()) return;
        const char byte = 1;
        [[maybe_unused]] auto n = ::write(wake_[1], &byte, 1);
        thread_.join();
    }

  private:
    int wake_[2] = {-1, -1};
    std::thread thread_;
};

}  // namespace

// ---- The swallowing tap ---------------------------------------------------------------------

class X11KeyboardEvents::GrabTap final : public platform::EventTap {
  public:
    GrabTap(xcb_connection_t* c, std::uint8_t xinput, const std::vector<int>& keys,
            std::shared_ptr<Dispatch> dispatch, std::shared_ptr<FreezeRecord> freezes)
        : c_(c), xinput_(xinput), dispatch_(std::move(dispatch)), freezes_(std::move(freezes)) {
        for (int key : keys) {
            if (std::none_of(grabs_.begin(), grabs_.end(),
                             [key](const Grab& g) { return g.virtualKey == key; }))
                grabs_.push_back({key, 0, {}});
        }
        readMapping();
        grabAll(true);
        xcb_flush(c_);
        thread_.start(c_, [this](xcb_generic_event_t* event) { handle(event); });
    }

    ~GrabTap() override {
        dispatch_->alive = false;
        thread_.stop();
        if (const auto held = freezes_->summary(); held.count > 0) {
            auto micros = [](std::chrono::nanoseconds n) { return std::to_string(n.count() / 1000); };
            log::write("apptoggle: keyboard held " + std::to_string(held.count) + " times, median " +
                       micros(held.median) + " µs, longest " + micros(held.longest) + " µs");
        }
        for (auto& grab : grabs_)
            ungrab(grab);
        xcb_disconnect(c_);
    }

    void setEnabled(bool enabled) override { dispatch_->enabled = enabled; }
    bool isEnabled() const override { return dispatch_->enabled; }

  private:
    struct Grab {
        int virtualKey;
        xcb_keycode_t keycode;
        std::vector<std::uint16_t> masks;
    };
    void readMapping() {
        // Bound letters and digits are the keys that print them on the user's layout.
        mapping_ = KeyboardMapping::read(c_, true);
        leftControls_ = mapping_.keycodesOf(kControlL);
        rightControls_ = mapping_.keycodesOf(kControlR);
        lockMasks_ = {0};
        const std::uint16_t numLock = mapping_.modifierMaskOf(kNumLock);
        const std::uint16_t scrollLock = mapping_.modifierMaskOf(kScrollLock);
        for (std::uint16_t lock : {static_cast<std::uint16_t>(XCB_MOD_MASK_LOCK), numLock, scrollLock}) {
            if (lock == 0) continue;
            const std::size_t n = lockMasks_.size();
            for (std::size_t i = 0; i < n; ++i)
                lockMasks_.push_back(static_cast<std::uint16_t>(lockMasks_[i] | lock));
        }
    }

    xcb_keycode_t keycodeFor(int virtualKey) const { return mapping_.keycodeFor(virtualKey); }

    void grabAll(bool logFailures) {
        for (auto& grab : grabs_)
            grabOne(grab, logFailures);
    }

    void grabOne(Grab& grab, bool logFailures) {
        grab.keycode = keycodeFor(grab.virtualKey);
        if (grab.keycode == 0) return;
        for (std::uint16_t lock : lockMasks_) {
            const auto mask = static_cast<std::uint16_t>(XCB_MOD_MASK_CONTROL | lock);
            xcb_generic_error_t* error =
                xcb_request_check(c_, xcb_grab_key_checked(c_, 0, rootOf(c_), mask, grab.keycode,
                                                           XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_SYNC));
            if (error != nullptr) {
                const bool taken = error->error_code == XCB_ACCESS;
                std::free(error);
                ungrab(grab);
                if (logFailures && logged_.insert(grab.virtualKey).second) {
                    log::write("apptoggle: leftControl+" + bindingKeyName(grab.virtualKey) +
                               " unavailable — " +
                               (taken ? "taken by another program" : "the grab was refused"));
                }
                break;
            }
            grab.masks.push_back(mask);
        }
    }

    void ungrab(Grab& grab) {
        for (std::uint16_t mask : grab.masks)
            xcb_ungrab_key(c_, grab.keycode, rootOf(c_), mask);
        grab.masks.clear();
    }

    void handle(xcb_generic_event_t* event) {
        const auto type = event->response_type & 0x7f;
        if (type == XCB_KEY_PRESS) {
            onPress(*reinterpret_cast<xcb_key_press_event_t*>(event));
        } else if (type == XCB_GE_GENERIC) {
            auto* raw = reinterpret_cast<xcb_input_raw_key_press_event_t*>(event);
            if (raw->extension == xinput_ && raw->event_type == XCB_INPUT_RAW_KEY_RELEASE && held_ &&
                raw->detail == *held_) {
                letGo();
            }
        } else if (type == XCB_MAPPING_NOTIFY) {
            const auto* mapping = reinterpret_cast<const xcb_mapping_notify_event_t*>(event);
            if (mapping->request == XCB_MAPPING_POINTER) return;
            // A keycode bound for a moment to type a character (XTestInput does) moves no bound key.
            const int first = mapping->first_keycode;
            const int last = first + mapping->count - 1;
            if (mapping->request == XCB_MAPPING_KEYBOARD &&
                std::none_of(grabs_.begin(), grabs_.end(),
                             [&](const Grab& g) { return g.keycode >= first && g.keycode <= last; }) &&
                !mapping_.mapsAnyOf(first, last)) {
                return;
            }
            // Grabs that still fit stay in place: taking them off and on again would let a
            // Control+key through meanwhile.
            const auto locks = lockMasks_;
            readMapping();
            for (auto& grab : grabs_) {
                if (!grab.masks.empty() && grab.keycode == keycodeFor(grab.virtualKey) && lockMasks_ == locks)
                    continue;
                ungrab(grab);
                grabOne(grab, false);
            }
            xcb_flush(c_);
        }
    }

    void onPress(const xcb_key_press_event_t& press) {
        const auto started = std::chrono::steady_clock::now();
        // While a swallowed key is held, its further presses are the server's auto-repeat.
        const bool autorepeat = held_ == press.detail;
        const auto grab = std::find_if(grabs_.begin(), grabs_.end(),
                                       [&](const Grab& g) { return g.keycode == press.detail; });
        bool pass = true;
        if (grab != grabs_.end() && dispatch_->wants(EventType::keyDown)) {
            Reply<xcb_query_keymap_reply_t> keys(xcb_query_keymap_reply(c_, xcb_query_keymap(c_), nullptr));
            auto anyDown = [&](const std::vector<xcb_keycode_t>& codes) {
                return keys && std::any_of(codes.begin(), codes.end(),
                                           [&](xcb_keycode_t k) { return isDown(*keys, k); });
            };
            platform::InputEvent event;
            event.type = EventType::keyDown;
            event.keyCode = grab->virtualKey;
            event.flags = eventFlagsFor(press.state, anyDown(leftControls_), anyDown(rightControls_));
            event.autorepeat = autorepeat;
            // Decided here, while the keyboard is frozen: waiting for a busy main thread would
            // freeze it for as long.
            pass = dispatch_->callback(event);
        }
        if (!pass) {
            // Swallowed; the grab ends here rather than at the key's release, so keys typed while
            // it is still down go to the application. Ended as of this press: keys queued behind
            // the frozen keyboard run on now, and one of them may already have started a grab of
            // its own, which must stay (its key would be lost).
            xcb_allow_events(c_, XCB_ALLOW_ASYNC_KEYBOARD, XCB_CURRENT_TIME);
            xcb_ungrab_keyboard(c_, press.time);
            if (!autorepeat) watchRelease(press.detail);
        } else {
            xcb_allow_events(c_, XCB_ALLOW_REPLAY_KEYBOARD, XCB_CURRENT_TIME);
        }
        xcb_flush(c_);
        freezes_->add(std::chrono::steady_clock::now() - started);
    }

    // Raw key releases tell when the swallowed key is let go. They are read only meanwhile: the
    // thread would otherwise wake for every key typed on the desktop.
    void watchRelease(xcb_keycode_t keycode) {
        held_ = keycode;
        RawSelection releases{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE};
        xcb_input_xi_select_events(c_, rootOf(c_), 1, &releases.head);
        // Let go before the selection took effect: no release will come.
        Reply<xcb_query_keymap_reply_t> keys(xcb_query_keymap_reply(c_, xcb_query_keymap(c_), nullptr));
        if (!keys || !isDown(*keys, keycode)) letGo();
    }

    void letGo() {
        held_.reset();
        RawSelection none{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, 0};
        xcb_input_xi_select_events(c_, rootOf(c_), 1, &none.head);
        xcb_flush(c_);
    }

    xcb_connection_t* c_;
    std::uint8_t xinput_;
    std::shared_ptr<Dispatch> dispatch_;
    std::shared_ptr<FreezeRecord> freezes_;
    std::vector<Grab> grabs_;
    KeyboardMapping mapping_;
    std::vector<xcb_keycode_t> leftControls_, rightControls_;
    std::vector<std::uint16_t> lockMasks_;
    std::set<int> logged_;
    std::optional<xcb_keycode_t> held_;  // a swallowed key not released yet
    EventThread thread_;                 // last: stopped before the rest goes
};

// ---- The listen-only tap --------------------------------------------------------------------

class X11KeyboardEvents::RawTap final : public platform::EventTap {
  public:
    RawTap(xcb_connection_t* c, std::uint8_t xinput, std::unique_ptr<KeyText> text,
           std::shared_ptr<Dispatch> dispatch, std::shared_ptr<SyntheticKeyLog> ownEvents)
        : c_(c),
          xinput_(xinput),
          text_(std::move(text)),
          dispatch_(std::move(dispatch)),
          ownEvents_(std::move(ownEvents)),
          unmapped_(unmappedWindow(c)) {
        if (const auto* xkb = xcb_get_extension_data(c_, &xcb_xkb_id); xkb != nullptr && xkb->present != 0)
            xkbEvent_ = xkb->first_event;
        // The active window, to hear of switches between windows (the event mask is this
        // connection's own).
        const char name[] = "_NET_ACTIVE_WINDOW";
        Reply<xcb_intern_atom_reply_t> atom(
            xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, sizeof name - 1, name), nullptr));
        activeWindowAtom_ = atom ? atom->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(c_, rootOf(c_), XCB_CW_EVENT_MASK, &mask);
        activeWindow_ = readActiveWindow();
        xcb_flush(c_);
        probe_ = openConnection();
        if (probe_ != nullptr) {
            probeWindow_ = unmappedWindow(probe_);
            xcb_flush(probe_);
        }
        thread_.start(c_, [this](xcb_generic_event_t* event) { handle(event); });
    }

    ~RawTap() override {
        thread_.stop();
        dispatch_->alive = false;
        if (probe_ != nullptr) xcb_disconnect(probe_);
        xcb_disconnect(c_);
    }

    void setEnabled(bool enabled) override { dispatch_->enabled = enabled; }
    bool isEnabled() const override { return dispatch_->enabled; }

  private:
    // Another client holds the keyboard. The question is asked ahead, on a connection of its own
    // whose answer waits in its socket without waking the thread, and an answer to a question
    // asked at most kProbeFresh ago stands for a press: while keys come in quick succession, no
    // press waits for a round trip, and at more than one press per kProbeRenew they share one
    // question. After a pause the question is asked afresh.
    static constexpr std::chrono::milliseconds kProbeFresh{100};
    static constexpr std::chrono::milliseconds kProbeRenew{50};
    bool secureAtPress() {
        if (probe_ == nullptr) return anotherClientHoldsKeyboard(c_, unmapped_);
        const auto now = std::chrono::steady_clock::now();
        if (pendingProbe_) {
            if (now - probeSentAt_ <= kProbeFresh) {
                Reply<xcb_grab_keyboard_reply_t> reply(
                    xcb_grab_keyboard_reply(probe_, *pendingProbe_, nullptr));
                answer_ = {reply && reply->status == XCB_GRAB_STATUS_ALREADY_GRABBED, probeSentAt_};
            } else {
                xcb_discard_reply(probe_, pendingProbe_->sequence);
            }
            pendingProbe_.reset();
        }
        if (!answer_ || now - answer_->asked > kProbeFresh)
            answer_ = {anotherClientHoldsKeyboard(probe_, probeWindow_), now};
        if (now - answer_->asked >= kProbeRenew) {
            pendingProbe_ = xcb_grab_keyboard(probe_, 0, probeWindow_, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC,
                                              XCB_GRAB_MODE_ASYNC);
            probeSentAt_ = now;
            xcb_flush(probe_);
        }
        return answer_->secure;
    }

    xcb_window_t readActiveWindow() {
        Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            c_, xcb_get_property(c_, 0, rootOf(c_), activeWindowAtom_, XCB_ATOM_WINDOW, 0, 1), nullptr));
        if (!reply || xcb_get_property_value_length(reply.get()) < 4) return XCB_WINDOW_NONE;
        return *static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
    }

    // On the tap's thread: each event is handed to the callback the moment it arrives, so the text
    // expander holds the user's keyboards at the keyword's last key, before the next key reaches
    // the application; the main thread is not woken for every key.
    void handle(xcb_generic_event_t* event) {
        if (!dispatch_->alive) return;
        const auto type = event->response_type & 0x7f;
        if (type == xkbEvent_ && event->pad0 == XCB_XKB_STATE_NOTIFY) {
            const auto* state = reinterpret_cast<const xcb_xkb_state_notify_event_t*>(event);
            text_->setModifiers(state->baseMods, state->latchedMods, state->lockedMods, state->baseGroup,
                                state->latchedGroup, state->lockedGroup);
            return;
        }
        if (type == xkbEvent_ &&
            (event->pad0 == XCB_XKB_NEW_KEYBOARD_NOTIFY || event->pad0 == XCB_XKB_MAP_NOTIFY)) {
            // A new layout or a keycode bound for typing: the keymap is read again.
            if (auto fresh = KeyText::fromServer(c_)) text_ = std::move(fresh);
            return;
        }
        if (type == XCB_PROPERTY_NOTIFY) {
            const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            if (notify->atom != activeWindowAtom_ || activeWindowAtom_ == XCB_ATOM_NONE) return;
            const xcb_window_t active = readActiveWindow();
            if (active == activeWindow_) return;
            activeWindow_ = active;
            // Typing goes on in another window, perhaps of the same application, of whose switches
            // nobody else hears: what was typed so far is forgotten, as at a click.
            platform::InputEvent click;
            click.type = EventType::otherMouseDown;
            deliver(click, false);
            return;
        }
        if (type != XCB_GE_GENERIC) return;
        auto* raw = reinterpret_cast<xcb_input_raw_key_press_event_t*>(event);
        if (raw->extension != xinput_) return;
        platform::InputEvent out;
        bool secure = false;
        if (raw->event_type == XCB_INPUT_RAW_KEY_PRESS || raw->event_type == XCB_INPUT_RAW_KEY_RELEASE) {
            if (raw->detail < 8 || raw->detail > 255) return;
            const auto keycode = static_cast<std::uint8_t>(raw->detail);
            const bool press = raw->event_type == XCB_INPUT_RAW_KEY_PRESS;
            // Releases are not read (the modifiers come as the server's state): ours are passed by.
            const auto own = ownEvents_ ? ownEvents_->takePress(keycode) : std::nullopt;
            KeyText::Key key = text_->key(keycode, press);
            out.type = key.type;
            out.keyCode = key.keyCode;
            out.flags = key.flags;
            out.text = std::move(key.text);
            out.userData = own.value_or(0);
            if (press) secure = secureAtPress();
        } else if (raw->event_type == XCB_INPUT_RAW_BUTTON_PRESS) {
            switch (raw->detail) {
                case 1:
                    out.type = EventType::leftMouseDown;
                    break;
                case 3:
                    out.type = EventType::rightMouseDown;
                    break;
                case 4:
                case 5:
                case 6:
                case 7:
                    return;  // the wheel scrolls; it presses nothing
                default:
                    out.type = EventType::otherMouseDown;
                    break;
            }
        } else {
            return;
        }
        deliver(out, secure);
    }

    void deliver(const platform::InputEvent& out, bool secure) {
        if (!dispatch_->wants(out.type)) return;
        tapEventSecure = secure;
        dispatch_->callback(out);
        tapEventSecure.reset();
    }

    xcb_connection_t* c_;
    std::uint8_t xinput_;
    std::unique_ptr<KeyText> text_;
    std::shared_ptr<Dispatch> dispatch_;
    std::shared_ptr<SyntheticKeyLog> ownEvents_;
    xcb_window_t unmapped_;
    int xkbEvent_ = -1;  // the XKB extension's event code
    xcb_atom_t activeWindowAtom_ = XCB_ATOM_NONE;
    xcb_window_t activeWindow_ = XCB_WINDOW_NONE;
    xcb_connection_t* probe_ = nullptr;  // asks whether another client holds the keyboard
    xcb_window_t probeWindow_ = XCB_WINDOW_NONE;
    std::optional<xcb_grab_keyboard_cookie_t> pendingProbe_;
    std::chrono::steady_clock::time_point probeSentAt_;
    struct ProbeAnswer {
        bool secure;
        std::chrono::steady_clock::time_point asked;
    };
    std::optional<ProbeAnswer> answer_;
    EventThread thread_;  // last: stopped before the rest goes
};

// ---- The factory ----------------------------------------------------------------------------

X11KeyboardEvents::X11KeyboardEvents(Options options) : options_(std::move(options)) {}

X11KeyboardEvents::~X11KeyboardEvents() {
    if (probe_ != nullptr) xcb_disconnect(probe_);
}

void X11KeyboardEvents::setSwallowableKeys(const std::vector<int>& keyCodes) {
    swallowable_ = keyCodes;
}

std::variant<std::unique_ptr<platform::EventTap>, platform::TapFailure> X11KeyboardEvents::createTap(
    platform::TapMode mode, std::uint64_t eventMask, Callback callback) {
    xcb_connection_t* c = openConnection();
    if (c == nullptr) return platform::TapFailure::tapCreation;
    const auto xinput = xinputOpcode(c);
    const std::uint32_t raw =
        mode == platform::TapMode::swallowing
            ? 0  // the grabs bring the key presses
            // Presses only: half the wake-ups of reading every event.
            : XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS;
    std::unique_ptr<KeyText> text;
    if (mode == platform::TapMode::listenOnly) text = KeyText::fromServer(c);
    if (!xinput || !selectRawEvents(c, raw) || (mode == platform::TapMode::listenOnly && !text)) {
        xcb_disconnect(c);
        return platform::TapFailure::tapCreation;
    }
    auto dispatch = std::make_shared<Dispatch>();
    dispatch->callback = std::move(callback);
    dispatch->mask = eventMask;
    if (mode == platform::TapMode::swallowing) {
        return std::unique_ptr<platform::EventTap>(
            std::make_unique<GrabTap>(c, *xinput, swallowable_, std::move(dispatch), freezes_));
    }
    return std::unique_ptr<platform::EventTap>(
        std::make_unique<RawTap>(c, *xinput, std::move(text), std::move(dispatch), options_.ownEvents));
}

bool X11KeyboardEvents::isSecureEventInputEnabled() {
    if (tapEventSecure) return *tapEventSecure;
    if (probe_ == nullptr) {
        probe_ = openConnection();
        if (probe_ == nullptr) return false;
        probeWindow_ = unmappedWindow(probe_);
    }
    return anotherClientHoldsKeyboard(probe_, probeWindow_);
}

}  // namespace quenlit::x11
