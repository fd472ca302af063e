#pragma once

// The desktop's keyboard taps on X11.
//
// A swallowing tap grabs Control + each swallowable key on the root window (with every state of
// the lock keys) in synchronous mode, on an X connection and a thread of its own: the server then
// freezes the keyboard at such a press until the thread says what to do. The thread asks the tap's
// callback itself, so the keyboard stays frozen for a round trip and the decision, however busy
// the main thread is. A swallowed press ends the grab at once, so keys typed while the bound key is
// still down reach the application as usual.
//
// A listen-only tap reads XInput 2 raw key and button events of all master devices, which the
// server delivers whatever client holds a grab, on a connection and a thread of its own, and hands
// each event to its callback on that thread as it arrives (the text expander decides at the key
// itself; waking the main thread for every key would cost more than the key). It reads presses
// only, modifier presses included, and takes the modifiers from the server's XKB state, so it
// reports no key releases. It keeps the keyboard's state with xkbcommon (the user's layout and
// compose rules, so a dead key gives no text), recognises the events XTestInput posted through the
// SyntheticKeyLog, and hands each event to its callback in order. A switch to another window
// (_NET_ACTIVE_WINDOW), also one of the same application, comes as a click does: what was typed
// before belongs to the other window.
//
// Secure input is another client holding the keyboard, as a password prompt does: a grab request
// for a window that is never mapped answers "already grabbed" exactly then, and otherwise fails
// without taking anything.

#include "backends/x11/KeyText.h"
#include "backends/x11/KeyboardTap.h"
#include "backends/x11/XTestInput.h"
#include "platform/InputEvents.h"

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace quenlit::x11 {

class X11KeyboardEvents final : public platform::KeyboardEvents {
  public:
    struct Options {
        // The events XTestInput posted, to tell them from typing.
        std::shared_ptr<SyntheticKeyLog> ownEvents;
    };

    // Main thread, with a running QCoreApplication; the taps connect to $DISPLAY.
    explicit X11KeyboardEvents(Options options);
    ~X11KeyboardEvents() override;
    X11KeyboardEvents(const X11KeyboardEvents&) = delete;
    X11KeyboardEvents& operator=(const X11KeyboardEvents&) = delete;

    Result<std::unique_ptr<platform::EventTap>> createTap(platform::TapMode mode, std::uint64_t eventMask,
                                                          Callback callback) override;
    bool isSecureEventInputEnabled() override;
    void setSwallowableKeys(const std::vector<std::uint32_t>& keysyms) override;

    // The freezes of every swallowing tap this object made.
    FreezeRecord::Summary freezes() const { return freezes_->summary(); }

  private:
    Options options_;
    std::vector<std::uint32_t> swallowable_;  // keysyms
    std::shared_ptr<FreezeRecord> freezes_ = std::make_shared<FreezeRecord>();
    xcb_connection_t* probe_ = nullptr;  // for secure-input checks outside a callback
    xcb_window_t probeWindow_ = XCB_WINDOW_NONE;
};

}  // namespace quenlit::x11
