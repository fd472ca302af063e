#include "backends/kde/KdeScreens.h"

#include <QGuiApplication>
#include <QScreen>

namespace quenlit::kde {

std::vector<platform::Screen> KdeScreens::screens() {
    QScreen* primary = QGuiApplication::primaryScreen();
    if (primary == nullptr) return {};
    const QRect origin = primary->geometry();
    // To the bottom-left-origin space anchored at the primary monitor's bottom-left corner.
    const auto convert = [&](const QRect& r) {
        return platform::Rect{static_cast<double>(r.x() - origin.x()),
                              static_cast<double>(origin.height() - (r.y() - origin.y() + r.height())),
                              static_cast<double>(r.width()), static_cast<double>(r.height())};
    };
    std::vector<platform::Screen> out{{convert(primary->geometry()), convert(primary->availableGeometry())}};
    for (QScreen* screen : QGuiApplication::screens())
        if (screen != primary)
            out.push_back({convert(screen->geometry()), convert(screen->availableGeometry())});
    return out;
}

std::optional<platform::Screen> KdeScreens::mainScreen() {
    auto all = screens();
    if (all.empty()) return std::nullopt;
    return all.front();
}

}  // namespace quenlit::kde
