#include "backends/linux/PanelKeyEvents.h"

#include <QKeyEvent>

namespace quenlit::linux_backend {

platform::InputEvent panelKeyEvent(const QKeyEvent& event) {
    const Qt::KeyboardModifiers held = event.modifiers();
    platform::InputEvent input;
    input.type = platform::EventType::keyDown;
    input.keysym = event.nativeVirtualKey();
    input.keycode = event.nativeScanCode();
    input.modifiers.shift = held.testFlag(Qt::ShiftModifier);
    input.modifiers.control = held.testFlag(Qt::ControlModifier);
    input.modifiers.alt = held.testFlag(Qt::AltModifier);
    input.modifiers.super = held.testFlag(Qt::MetaModifier);
    input.autorepeat = event.isAutoRepeat();
    return input;
}

}  // namespace quenlit::linux_backend
