#include "backends/x11/X11GrabTap.h"

#include "backends/x11/KeyText.h"
#include "backends/x11/KeyTranslation.h"
#include "backends/x11/X11Connection.h"
#include "base/Log.h"

#include <xcb/xinput.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>

namespace quenlit::x11 {
namespace {

using platform::EventType;

constexpr std::uint32_t kControlL = 0xffe3;
constexpr std::uint32_t kControlR = 0xffe4;
constexpr std::uint32_t kNumLock = 0xff7f;
constexpr std::uint32_t kScrollLock = 0xff14;

struct RawSelection {
    xcb_input_event_mask_t head;
    std::uint32_t bits;
};

// The name a binding gives the key ("k", "space"), for log lines.
std::string bindingKeyName(std::uint32_t keysym) {
    switch (keysym) {
        case platform::keysym::space:
            return "space";
        case platform::keysym::tab:
            return "tab";
        case platform::keysym::returnKey:
            return "return";
        case platform::keysym::escape:
            return "escape";
        default:
            break;
    }
    if (keysym > 0x20 && keysym < 0x7f) return std::string(1, static_cast<char>(keysym));
    return "keysym " + std::to_string(keysym);
}

bool isDown(const xcb_query_keymap_reply_t& keys, xcb_keycode_t keycode) {
    return (keys.keys[keycode / 8] & (1u << (keycode % 8))) != 0;
}

class GrabTap final : public platform::EventTap {
  public:
    GrabTap(xcb_connection_t* c, std::uint8_t xinput, const std::vector<std::uint32_t>& keysyms,
            std::shared_ptr<TapDispatch> dispatch, std::shared_ptr<FreezeRecord> freezes)
        : c_(c), xinput_(xinput), dispatch_(std::move(dispatch)), freezes_(std::move(freezes)) {
        for (std::uint32_t key : keysyms) {
            if (std::none_of(grabs_.begin(), grabs_.end(), [key](const Grab& g) { return g.keysym == key; }))
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
        std::uint32_t keysym;
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

    xcb_keycode_t keycodeFor(std::uint32_t keysym) const { return mapping_.keycodeFor(keysym); }

    void grabAll(bool logFailures) {
        for (auto& grab : grabs_)
            grabOne(grab, logFailures);
    }

    void grabOne(Grab& grab, bool logFailures) {
        grab.keycode = keycodeFor(grab.keysym);
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
                if (logFailures && logged_.insert(grab.keysym).second) {
                    log::write("apptoggle: leftControl+" + bindingKeyName(grab.keysym) + " unavailable — " +
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
                if (!grab.masks.empty() && grab.keycode == keycodeFor(grab.keysym) && lockMasks_ == locks)
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
            event.keysym = grab->keysym;
            event.keycode = press.detail;
            event.modifiers = modifiersFor(press.state, anyDown(leftControls_), anyDown(rightControls_));
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
    std::shared_ptr<TapDispatch> dispatch_;
    std::shared_ptr<FreezeRecord> freezes_;
    std::vector<Grab> grabs_;
    KeyboardMapping mapping_;
    std::vector<xcb_keycode_t> leftControls_, rightControls_;
    std::vector<std::uint16_t> lockMasks_;
    std::set<std::uint32_t> logged_;
    std::optional<xcb_keycode_t> held_;  // a swallowed key not released yet
    EventThread thread_;                 // last: stopped before the rest goes
};

}  // namespace

std::unique_ptr<platform::EventTap> makeGrabTap(xcb_connection_t* c, std::uint8_t xinput,
                                                const std::vector<std::uint32_t>& keysyms,
                                                std::shared_ptr<TapDispatch> dispatch,
                                                std::shared_ptr<FreezeRecord> freezes) {
    return std::make_unique<GrabTap>(c, xinput, keysyms, std::move(dispatch), std::move(freezes));
}

}  // namespace quenlit::x11
