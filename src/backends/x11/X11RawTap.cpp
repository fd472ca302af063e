#include "backends/x11/X11RawTap.h"

#include "backends/x11/X11Connection.h"

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

#include <chrono>
#include <optional>

namespace quenlit::x11 {
namespace {

using platform::EventType;

class RawTap final : public platform::EventTap {
  public:
    RawTap(xcb_connection_t* c, std::uint8_t xinput, std::unique_ptr<KeyText> text,
           std::shared_ptr<TapDispatch> dispatch, std::shared_ptr<SyntheticKeyLog> ownEvents)
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
            out.keysym = key.keysym;
            out.keycode = keycode;
            out.modifiers = key.modifiers;
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
    std::shared_ptr<TapDispatch> dispatch_;
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

}  // namespace

std::unique_ptr<platform::EventTap> makeRawTap(xcb_connection_t* c, std::uint8_t xinput,
                                               std::unique_ptr<KeyText> text,
                                               std::shared_ptr<TapDispatch> dispatch,
                                               std::shared_ptr<SyntheticKeyLog> ownEvents) {
    return std::make_unique<RawTap>(c, xinput, std::move(text), std::move(dispatch), std::move(ownEvents));
}

}  // namespace quenlit::x11
