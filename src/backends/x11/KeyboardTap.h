#pragma once
// What the X11 keyboard taps share: each reads its own X connection on a thread of its own and
// hands events to its callback there.

#include "platform/InputEvents.h"

#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace quenlit::x11 {

// How long the swallowing tap kept the keyboard frozen at each grabbed press. Thread-safe.
class FreezeRecord {
  public:
    void add(std::chrono::nanoseconds held);
    struct Summary {
        std::size_t count = 0;
        std::chrono::nanoseconds median{0};
        std::chrono::nanoseconds longest{0};
    };
    Summary summary() const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::chrono::nanoseconds> held_;
};

// What a tap shares with its callback, whatever thread calls it.
struct TapDispatch {
    platform::KeyboardEvents::Callback callback;
    std::uint64_t mask = 0;
    std::atomic<bool> enabled{false};
    std::atomic<bool> alive{true};  // false once the tap is gone

    bool wants(platform::EventType type) const {
        return alive && enabled && callback &&
               ((mask & platform::eventMaskBit(type)) != 0 ||
                type == platform::EventType::tapDisabledByTimeout ||
                type == platform::EventType::tapDisabledByUserInput);
    }
};

// A background thread that reads an X connection's events until stopped.
class EventThread {
  public:
    using Handler = std::function<void(xcb_generic_event_t*)>;
    EventThread();
    ~EventThread();
    EventThread(const EventThread&) = delete;
    EventThread& operator=(const EventThread&) = delete;

    void start(xcb_connection_t* c, Handler handler);
    void stop();

  private:
    int wake_[2] = {-1, -1};
    std::thread thread_;
};

// A connection of its own to $DISPLAY; null when there is none.
xcb_connection_t* openConnection();
xcb_window_t rootOf(xcb_connection_t* c);
// A window that is never mapped: a keyboard grab for it can never be taken.
xcb_window_t unmappedWindow(xcb_connection_t* c);
// Another client holds the keyboard. The server checks for another client's grab before it looks
// at the window, so for an unmapped window the answer is "already grabbed" or "not viewable", and
// nothing is ever taken from the application in front.
bool anotherClientHoldsKeyboard(xcb_connection_t* c, xcb_window_t unmapped);
// The XInput opcode, when the server has XInput 2.2 (raw events reach every client during grabs
// from 2.1 on).
std::optional<std::uint8_t> xinputOpcode(xcb_connection_t* c);
// Selects these raw events of all master devices on the root window; false when refused.
bool selectRawEvents(xcb_connection_t* c, std::uint32_t mask);

// Whether another client held the keyboard at the event a listen-only tap is handing to its
// callback, on the tap's thread; absent outside a callback.
extern thread_local std::optional<bool> tapEventSecure;

}  // namespace quenlit::x11
