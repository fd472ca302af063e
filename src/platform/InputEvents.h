#pragma once

// Keyboard and mouse events of the whole desktop: taps that see them (and may swallow key
// presses), and synthesised events. A key is what the desktop says it is: its keysym in the layout
// the user typed with (XKB keysyms, the numbers of the X protocol, the same on X11 and Wayland),
// the desktop's code of the physical key (the XKB keycode, evdev + 8) and the modifiers held.

#include "base/Result.h"
#include "platform/Geometry.h"
#include "platform/Keys.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace quenlit::platform {

enum class EventType : std::uint32_t {
    leftMouseDown = 1,
    leftMouseUp = 2,
    rightMouseDown = 3,
    keyDown = 10,
    keyUp = 11,
    flagsChanged = 12,
    otherMouseDown = 25,
    tapDisabledByTimeout = 0xFFFFFFFE,
    tapDisabledByUserInput = 0xFFFFFFFF,
};

// The bit of an event type in a tap's event mask.
constexpr std::uint64_t eventMaskBit(EventType type) {
    return std::uint64_t{1} << static_cast<std::uint32_t>(type);
}

struct InputEvent {
    EventType type = EventType::keyDown;
    std::uint32_t keysym = 0;   // 0 when the key has none
    std::uint32_t keycode = 0;  // 0 when unknown (a synthesised key)
    Modifiers modifiers;
    bool autorepeat = false;
    // The marker a synthesising program wrote into the event (0 when none).
    std::int64_t userData = 0;
    // The text the key produces, at most 16 UTF-16 units; empty when it produces none.
    std::u16string text;
    Point location;  // mouse events, in the accessibility space (origin top-left)
};

// An installed tap; destroying it removes the tap.
class EventTap {
  public:
    virtual ~EventTap() = default;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;
};

enum class TapMode { swallowing, listenOnly };

class KeyboardEvents {
  public:
    virtual ~KeyboardEvents() = default;
    // Returns true to pass the event on, false to swallow it (listen-only taps always pass).
    // Called for the event types in `eventMask`, and for the two tap-disabled notifications
    // whatever the mask: on the main thread, or on a thread of the tap's own, one event at a time
    // and in order, the moment each event arrives (a desktop where waking the main thread for
    // every key would cost more than the key, or where the keyboard waits frozen for a swallowing
    // tap's answer). A callback must therefore be safe to call from another thread;
    // isSecureEventInputEnabled() inside it answers for its event.
    using Callback = std::function<bool(const InputEvent&)>;
    // Fails as unsupported when the desktop gives this program no tap (no permission, no input
    // extension), which callers say once; any other failure is one of hooking the tap into the
    // event loop, said each time.
    virtual Result<std::unique_ptr<EventTap>> createTap(TapMode mode, std::uint64_t eventMask,
                                                        Callback callback) = 0;
    // Another program holds the keyboard for secure input (a password prompt).
    virtual bool isSecureEventInputEnabled() = 0;
    // The keys swallowing taps created afterwards must see. A desktop that cannot offer every key
    // press to a tap (X11 takes combinations one by one, with Control) offers only these; others
    // offer everything and ignore the list.
    // A letter or digit is the key that prints it on the user's layout.
    virtual void setSwallowableKeys(const std::vector<std::uint32_t>& keysyms) { static_cast<void>(keysyms); }
};

// Synthesised input. Events made from one source are posted at the lowest level, so the
// application in front receives them as if typed.
class EventSource {
  public:
    virtual ~EventSource() = default;
    // A key press or release of the key with the keysym (a letter or digit as printed on the user's
    // layout); set the event's modifiers to have them held around the key. Absent when the event
    // cannot be made.
    virtual std::optional<InputEvent> keyboardEvent(std::uint32_t keysym, bool keyDown) = 0;
    // Sends the event; false when the desktop refused it or part of it (a character the keyboard
    // cannot type), so nobody believes a keystroke reached an application that never got it.
    [[nodiscard]] virtual bool post(const InputEvent& event) = 0;
};

class InputSynthesizer {
  public:
    virtual ~InputSynthesizer() = default;
    // Absent when no source can be made.
    virtual std::unique_ptr<EventSource> createEventSource() = 0;
    // Keys the user types from now on are kept back and reach applications after the text this
    // synthesizer types next, in the order they were typed; a desktop whose applications could
    // otherwise receive them in between (X11) starts keeping them at once. They are let go when that
    // text is typed, or after a moment when none comes. Call it at the key that makes typing due,
    // from any thread.
    virtual void holdUserInput() {}
};

}  // namespace quenlit::platform
