#pragma once

// Synthesised keys through a virtual keyboard of the seat (zwp_virtual_keyboard_v1).
//
// The keyboard carries a keymap of its own, compiled by xkbcommon from the default rules and
// names (the XKB_DEFAULT_* variables when set); while it types, the compositor hands that keymap to
// the focused window, so a key is its evdev code in that keymap: the key producing the event's
// keysym at the first level, else the key at its place on a US keyboard.
//
// The event's modifiers are sent as the keyboard's modifier state around the key (Control, Shift,
// Alt, Super); the user's own held modifiers are another keyboard's and do not mix in. Control+V,
// the paste shortcut, becomes the paste key of the focused window
// (pasteKeyForAppId). Text is typed key by key, with Shift for the characters on the Shift level;
// a character the keymap cannot type fails the post.
//
// The keyboard is made with this object, so the compositor and its windows know it before the
// first key. Every event is flushed to the compositor before post() returns. Mouse events are not made.
//
// Main thread only; destroy before the connection.

#include "platform/InputEvents.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct zwp_virtual_keyboard_v1;

class QObject;

namespace quenlit::wayland {

class WaylandConnection;

class VirtualKeyboardInput final : public platform::InputSynthesizer {
  public:
    // Makes the seat's virtual keyboard shortly after the event loop starts: well before the first
    // paste, and after the program's first picture (its keymap takes milliseconds to make).
    explicit VirtualKeyboardInput(WaylandConnection& connection);
    ~VirtualKeyboardInput() override;
    VirtualKeyboardInput(const VirtualKeyboardInput&) = delete;
    VirtualKeyboardInput& operator=(const VirtualKeyboardInput&) = delete;

    // Absent when the compositor offers no virtual keyboards (or no seat), or the keymap cannot
    // be made.
    std::unique_ptr<platform::EventSource> createEventSource() override;

    // The app id of the focused window, which chooses the paste key; unset, Control+V is sent.
    std::function<std::string()> focusedAppId;
    // Whether the focused window's program is a terminal emulator by its desktop entry, for an app
    // id that names no terminal we know (foot started with an app id of its own); unset, no.
    std::function<bool()> focusedIsTerminal;
    // Offers the clipboard as the primary selection too; set by the composition. xterm and URxvt
    // (through XWayland) paste that with Shift+Insert, the only paste key they have.
    std::function<bool()> publishPrimary;

    class Source;
    class Keyboard;

  private:
    WaylandConnection& connection_;
    std::shared_ptr<Keyboard> keyboard_;
    bool made_ = false;
    // Owns the posted making, so none runs after this object is gone.
    std::unique_ptr<QObject> making_;
};

}  // namespace quenlit::wayland
