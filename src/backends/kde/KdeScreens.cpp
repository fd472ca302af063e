#include "backends/kde/KdeScreens.h"

#include <QGuiApplication>
#include <QScreen>

namespace quenlit::kde {

namespace {

// To the bottom-left-origin space anchored at the primary monitor's bottom-left corner.
platform::Rect fromQt(const QRect& r, const QRect& origin) {
    return platform::Rect{static_cast<double>(r.x() - origin.x()),
                          static_cast<double>(origin.height() - (r.y() - origin.y() + r.height())),
                          static_cast<double>(r.width()), static_cast<double>(r.height())};
}

}  // namespace

std::vector<platform::Screen> KdeScreens::screens() {
    QScreen* primary = QGuiApplication::primaryScreen();
    if (primary == nullptr) return {};
    const QRect origin = primary->geometry();
    const auto convert = [&](const QRect& r) { return fromQt(r, origin); };
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

std::optional<platform::Screen> KdeScreens::activeScreen() {
    QScreen* primary = QGuiApplication::primaryScreen();
    if (primary == nullptr) return std::nullopt;
    if (const auto frame = focusedFrame_ ? focusedFrame_() : std::nullopt) {
        const QPoint centre(static_cast<int>(frame->midX()), static_cast<int>(frame->midY()));
        for (QScreen* screen : QGuiApplication::screens()) {
            if (screen->geometry().contains(centre))
                return platform::Screen{fromQt(screen->geometry(), primary->geometry()),
                                        fromQt(screen->availableGeometry(), primary->geometry())};
        }
    }
    return mainScreen();
}

}  // namespace quenlit::kde
