#pragma once

// The mouse event a panel window is handling, as the core names event types: Qt's presses and
// releases on either desktop.

#include "platform/InputEvents.h"

#include <optional>

class QEvent;

namespace quenlit::linux_backend {

// A right press, a left press, any other press, or a release (which the core takes as the left
// button's); absent for other events.
std::optional<platform::EventType> panelMouseEventType(const QEvent& event);

}  // namespace quenlit::linux_backend
