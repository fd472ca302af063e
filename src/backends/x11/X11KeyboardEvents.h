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

struct xkb_context;
struct xkb_keymap;
struct xkb_state;
struct xkb_compose_table;
struct xkb_compose_state;

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

// The event flags of a key press in an X modifier state, with which Control keys are down.
std::uint64_t eventFlagsFor(std::uint16_t state, bool leftControlDown, bool rightControlDown);

// The text and flags of key presses, from an xkbcommon keymap and state, with compose rules.
class KeyText {
  public:
    // The core keyboard's keymap and state on the server, the compose rules of the user's locale.
    static std::unique_ptr<KeyText> fromServer(xcb_connection_t* connection);
    // A keymap from rule names (tests), with the compose rules of `locale`.
    static std::unique_ptr<KeyText> fromNames(const char* layout, const char* variant, const char* locale);
    ~KeyText();
    KeyText(const KeyText&) = delete;
    KeyText& operator=(const KeyText&) = delete;

    struct Key {
        platform::EventType type = platform::EventType::keyDown;
        int keyCode = -1;  // the virtual key code; -1 for a key the core has no code for
        std::uint64_t flags = 0;
        std::u16string text;  // key presses only; empty for a dead key or a key without text
    };
    // Feeds one key press or release; the event it makes. A KeyText from the server takes the
    // modifiers and the group from the server's state instead (setModifiers), and needs only the
    // presses.
    Key key(std::uint8_t keycode, bool press);
    // The server's modifier and group state (an XKB state notification).
    void setModifiers(std::uint32_t base, std::uint32_t latched, std::uint32_t locked, std::int32_t baseGroup,
                      std::int32_t latchedGroup, std::uint32_t lockedGroup);

  private:
    KeyText() = default;
    bool load(xkb_keymap* keymap, xkb_state* state, const char* locale);
    void loadCompose();
    std::uint64_t flags() const;

    xkb_context* context_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    xkb_state* state_ = nullptr;
    std::string locale_;
    xkb_compose_table* composeTable_ = nullptr;
    xkb_compose_state* compose_ = nullptr;
    bool leftControl_ = false;
    bool rightControl_ = false;
    bool serverState_ = false;
};

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

    std::variant<std::unique_ptr<platform::EventTap>, platform::TapFailure> createTap(
        platform::TapMode mode, std::uint64_t eventMask, Callback callback) override;
    bool isSecureEventInputEnabled() override;
    void setSwallowableKeys(const std::vector<int>& keyCodes) override;

    // The freezes of every swallowing tap this object made.
    FreezeRecord::Summary freezes() const { return freezes_->summary(); }

    class GrabTap;
    class RawTap;
    struct Dispatch;

  private:
    Options options_;
    std::vector<int> swallowable_;
    std::shared_ptr<FreezeRecord> freezes_ = std::make_shared<FreezeRecord>();
    xcb_connection_t* probe_ = nullptr;  // for secure-input checks outside a callback
    xcb_window_t probeWindow_ = XCB_WINDOW_NONE;
};

}  // namespace quenlit::x11
