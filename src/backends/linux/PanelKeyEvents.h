#pragma once

// A key press in a panel window drawn by Qt on Wayland, as the core takes key events: Qt gives the
// keysym the compositor's keymap made and the XKB keycode (the evdev code + 8).

#include "platform/InputEvents.h"

class QKeyEvent;

namespace quenlit::linux_backend {

platform::InputEvent panelKeyEvent(const QKeyEvent& event);

}  // namespace quenlit::linux_backend
