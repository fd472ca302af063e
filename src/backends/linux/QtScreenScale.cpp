#include "backends/linux/QtScreenScale.h"

#include <QGuiApplication>
#include <QRectF>
#include <QScreen>

namespace quenlit::linux_backend {
namespace {

// A screen's rectangle in device pixels: the corner is shared with the logical one, the size is
// scaled.
QRectF deviceGeometry(const QScreen& screen) {
    const QRect logical = screen.geometry();
    const double scale = screen.devicePixelRatio();
    return {QPointF(logical.topLeft()), QSizeF(logical.width() * scale, logical.height() * scale)};
}

const QScreen* screenAt(platform::Point device) {
    if (QGuiApplication::instance() == nullptr) return nullptr;
    const QPointF point(device.x, device.y);
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (deviceGeometry(*screen).contains(point)) return screen;
    }
    return QGuiApplication::primaryScreen();
}

}  // namespace

double qtScaleOf(const platform::Rect& device) {
    const QScreen* screen = screenAt({device.midX(), device.midY()});
    return screen != nullptr ? screen->devicePixelRatio() : 1.0;
}

platform::Point qtLogicalPoint(platform::Point device) {
    const QScreen* screen = screenAt(device);
    if (screen == nullptr) return device;
    const QPointF corner = screen->geometry().topLeft();
    const double scale = screen->devicePixelRatio();
    return {corner.x() + (device.x - corner.x()) / scale, corner.y() + (device.y - corner.y()) / scale};
}

}  // namespace quenlit::linux_backend
