#pragma once

// Keyboard and mouse events of the whole desktop: taps that see them (and may swallow key
// presses), and synthesised events. Events carry the virtual key codes of an ANSI keyboard (the
// ones the core names are below) and the modifier flag bits below; the desktop backend translates
// its own key codes and states to them.

#include "base/Result.h"
#include "platform/Geometry.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace quenlit::platform {

// Virtual key codes: positions on an ANSI keyboard, the same whatever the layout.
namespace keyCode {
inline constexpr int ansiA = 0;
inline constexpr int ansiV = 9;
inline constexpr int ansiP = 35;
inline constexpr int returnKey = 36;
inline constexpr int ansiK = 40;
inline constexpr int ansiN = 45;
inline constexpr int space = 49;
inline constexpr int deleteBackward = 51;  // the key marked Backspace on PC keyboards
inline constexpr int escape = 53;
inline constexpr int tab = 48;
inline constexpr int keypadEnter = 76;
inline constexpr int home = 115;
inline constexpr int pageUp = 116;
inline constexpr int forwardDelete = 117;
inline constexpr int end = 119;
inline constexpr int pageDown = 121;
inline constexpr int leftArrow = 123;
inline constexpr int rightArrow = 124;
inline constexpr int downArrow = 125;
inline constexpr int upArrow = 126;
}  // namespace keyCode

namespace eventFlags {
inline constexpr std::uint64_t leftControlDevice = 0x1;
inline constexpr std::uint64_t rightControlDevice = 0x2000;
inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t control = 0x40000;
inline constexpr std::uint64_t option = 0x80000;
inline constexpr std::uint64_t command = 0x100000;
}  // namespace eventFlags

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
    int keyCode = 0;
    std::uint64_t flags = 0;
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
    virtual void setSwallowableKeys(const std::vector<int>& keyCodes) { static_cast<void>(keyCodes); }
};

// Synthesised input. Events made from one source are posted at the lowest level, so the
// application in front receives them as if typed.
class EventSource {
  public:
    virtual ~EventSource() = default;
    // Lets the user's own keyboard and mouse work while synthesised events are being delivered.
    virtual void permitLocalEventsDuringSuppression() = 0;
    // A key press or release of the virtual key; absent when the event cannot be made.
    virtual std::optional<InputEvent> keyboardEvent(int keyCode, bool keyDown) = 0;
    // A mouse event at a point of the accessibility space; absent when it cannot be made.
    virtual std::optional<InputEvent> mouseEvent(EventType type, Point at) = 0;
    // Sends the event; false when the desktop refused it or part of it (a character the keyboard
    // cannot type), so nobody believes a keystroke reached an application that never got it.
    [[nodiscard]] virtual bool post(const InputEvent& event) = 0;
};

class InputSynthesizer {
  public:
    virtual ~InputSynthesizer() = default;
    enum class SourceState { hidSystem, combinedSession };
    // Absent when no source can be made.
    virtual std::unique_ptr<EventSource> createEventSource(SourceState state) = 0;
    // Keys the user types from now on are kept back and reach applications after the text this
    // synthesizer types next, in the order they were typed; a desktop whose applications could
    // otherwise receive them in between (X11) starts keeping them at once. They are let go when that
    // text is typed, or after a moment when none comes. Call it at the key that makes typing due,
    // from any thread.
    virtual void holdUserInput() {}
};

}  // namespace quenlit::platform
