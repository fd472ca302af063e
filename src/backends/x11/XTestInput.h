#pragma once

// Synthesised keyboard and mouse input through the XTest extension.
//
// Key events carry keysyms. A key is sent as the keycode that produces the keysym (a letter in lower
// case) at the first level of the active layout, so that a shortcut such as Control+V reaches
// applications as "v" whatever the layout (applications match shortcuts by keysym); when the layout
// has no such key (a Cyrillic layout has no "v"), the keycode of the key's place on a standard
// evdev keyboard is sent instead.
//
// The event's modifiers become modifier key presses around the key. Control+V, the paste shortcut,
// becomes the paste key of the active window (pasteKeyForClass).
// Before a key press, the modifiers the user
// still holds are waited for (about a second), then released, so they cannot turn the key into
// another shortcut.
//
// Text (an event's `text`) is typed key by key: a character on the layout's first level directly,
// one on the Shift level with Shift, any other by binding a spare keycode (one without symbols) to
// its keysym. Bindings are undone a second after the last use, when the applications have long
// read the key with the binding still in place.
//
// Every event is followed by a round trip, so it has reached the server when post() returns, and
// is recorded in the SyntheticKeyLog so that a keyboard listener can recognise its own events.
//
// Keys the user types while synthesised keys are being typed reach the application after them, in
// order: from holdUserInput() (the text expander calls it at the keyword's last key), else from
// the first key a source posts (once the user's modifiers are up), the keyboards of the user are
// held, each grabbed on its own (which detaches it from the core keyboard, while XTest's
// own keyboard goes on), and what they type is kept. When a source that typed text is done, or a
// moment after any other source (the text may follow its deletions), the keyboards are let go and
// the kept keys are sent on through XTest, in the order they were typed.
// Main thread only, except holdUserInput().

#include "backends/linux/KeyPositions.h"
#include "backends/linux/PasteKey.h"
#include "backends/x11/SyntheticKeyLog.h"
#include "backends/x11/X11Connection.h"
#include "platform/InputEvents.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

class QTimer;
struct xkb_context;

namespace quenlit::x11 {

class KeyboardHold;

using linux_backend::keysymForCodePoint;
using linux_backend::PasteKey;
using linux_backend::pasteKeyForClass;

class XTestInput final : public platform::InputSynthesizer {
  public:
    // Create on the main thread after the QGuiApplication. `log` receives every posted key event.
    XTestInput(X11Connection& connection, std::shared_ptr<SyntheticKeyLog> log);
    ~XTestInput() override;
    XTestInput(const XTestInput&) = delete;
    XTestInput& operator=(const XTestInput&) = delete;

    // Absent when the server lacks XTest.
    std::unique_ptr<platform::EventSource> createEventSource() override;

    const std::shared_ptr<SyntheticKeyLog>& keyLog() const { return log_; }
    // Called before a paste keystroke that pastes the PRIMARY selection (Shift+Insert in xterm):
    // it offers the clipboard's content as PRIMARY too; false when it could not.
    std::function<bool()> publishPrimary;
    // Whether the application in front is a terminal emulator by its desktop entry, for a window
    // whose class names no terminal we know (one started under a name of its own); unset, no.
    std::function<bool()> frontIsTerminal;
    // Undoes every spare-keycode binding now rather than after the delay.
    void restoreSpareKeycodes();
    // Holds the user's keyboards from now until the next text typed here is done (or a moment
    // passes without one); not while the user holds a modifier, whose release would be kept from
    // the wait before typing. Any thread.
    void holdUserInput() override;
    // Lets the user's keyboards go now, sending on what they typed meanwhile.
    void releaseUserKeyboards();
    // Whether the user's keyboards are held (tests).
    bool holdsUserKeyboards() const;

    class Source;

  private:
    friend class Source;
    // A keycode now producing `keysym` through a binding of ours; absent when none is spare.
    std::optional<std::uint8_t> bindSpareKeycode(std::uint32_t keysym);
    bool isSpareKeycode(std::uint8_t keycode) const { return spare_.count(keycode) != 0; }
    void scheduleRestore();
    void holdUserKeyboards();
    bool beginHold();  // whether the keyboards are held
    void releaseUserKeyboardsSoon();

    X11Connection& connection_;
    std::shared_ptr<SyntheticKeyLog> log_;
    bool hasXTest_ = false;
    std::unique_ptr<xkb_context, void (*)(xkb_context*)> xkb_;
    std::int32_t keyboardDevice_ = -1;
    // Keycodes we bound, with their keysym and when they were last used.
    struct Binding {
        std::uint32_t keysym = 0;
        std::uint64_t lastUse = 0;
    };
    std::map<std::uint8_t, Binding> spare_;
    std::uint64_t useCounter_ = 0;
    std::unique_ptr<QTimer> restoreTimer_;
    // The hold may begin on a keyboard tap's thread (holdUserInput); all else is on the main thread.
    mutable std::mutex holdMutex_;
    std::unique_ptr<KeyboardHold> hold_;
    std::unique_ptr<QTimer> holdTimer_;
    std::chrono::steady_clock::time_point heldSince_;
    std::vector<std::chrono::nanoseconds> heldFor_;  // each hold's length, logged at the end
};

}  // namespace quenlit::x11
