#include "backends/linux/PanelMouseEvents.h"

#include <QMouseEvent>

namespace quenlit::linux_backend {

std::optional<platform::EventType> panelMouseEventType(const QEvent& event) {
    switch (event.type()) {
        case QEvent::MouseButtonPress: {
            const auto& mouse = static_cast<const QMouseEvent&>(event);
            return mouse.button() == Qt::RightButton  ? platform::EventType::rightMouseDown
                   : mouse.button() == Qt::LeftButton ? platform::EventType::leftMouseDown
                                                      : platform::EventType::otherMouseDown;
        }
        case QEvent::MouseButtonRelease:
            return platform::EventType::leftMouseUp;
        default:
            return std::nullopt;
    }
}

}  // namespace quenlit::linux_backend
