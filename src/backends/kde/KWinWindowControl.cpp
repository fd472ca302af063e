#include "backends/kde/KWinWindowControl.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace quenlit::kde {

platform::WindowCapabilities KWinWindowControl::capabilities() const {
    return {.listWindows = true, .moveAndResize = true, .activate = true, .whyNot = {}};
}

platform::WindowInfo KWinWindowControl::infoOf(const KWinWindow& window) {
    platform::WindowInfo info;
    info.ref = {window.processIdentifier, window.id};
    info.frame = window.frame;
    info.ordinary = window.normal;
    info.minimised = window.minimized;
    info.fullScreen = window.fullScreen;
    info.resizable = window.resizeable;
    return info;
}

Result<std::vector<platform::WindowInfo>> KWinWindowControl::windows(int processIdentifier) {
    auto all = windows_.list();
    if (!all) return all.error();
    std::vector<KWinWindow> own;
    for (const KWinWindow& w : *all)
        if (w.processIdentifier == processIdentifier) own.push_back(w);
    if (own.empty()) return Failure::gone("the process has no windows");
    // The focused one first, then the others topmost first.
    std::stable_sort(own.begin(), own.end(), [](const KWinWindow& a, const KWinWindow& b) {
        if (a.active != b.active) return a.active;
        return a.stacking > b.stacking;
    });
    std::vector<platform::WindowInfo> out;
    for (const KWinWindow& w : own)
        out.push_back(infoOf(w));
    return out;
}

Result<platform::WindowInfo> KWinWindowControl::window(const platform::WindowRef& window) {
    auto found = windows_.withWindow(window.id, "");
    if (!found) return found.error();
    return infoOf(*found);
}

Result<> KWinWindowControl::setFrame(const platform::WindowRef& window, const platform::Rect& frame,
                                     bool resize) {
    const auto n = [](double v) { return std::to_string(std::lround(v)); };
    const std::string size = resize ? "width: " + n(frame.width) + ", height: " + n(frame.height)
                                    : "width: w.frameGeometry.width, height: w.frameGeometry.height";
    // A maximised or tiled window keeps its place until released.
    auto moved = windows_.withWindow(window.id,
                                     "if (w.setMaximize) w.setMaximize(false, false);\n"
                                     "w.frameGeometry = { x: " +
                                         n(frame.x) + ", y: " + n(frame.y) + ", " + size + " };");
    if (!moved) return moved.error();
    return {};
}

Result<> KWinWindowControl::leaveFullScreen(const platform::WindowRef& window) {
    auto left = windows_.withWindow(window.id, "w.fullScreen = false;");
    if (!left) return left.error();
    return {};
}

Result<> KWinWindowControl::activate(const platform::WindowRef& window) {
    auto activated =
        windows_.withWindow(window.id, "if (w.minimized) w.minimized = false;\nkwin.activate(w);");
    if (!activated) return activated.error();
    return {};
}

Result<> KWinWindowControl::activateApplication(int processIdentifier) {
    auto own = windows(processIdentifier);
    if (!own) return own.error();
    return activate(own->front().ref);
}

}  // namespace quenlit::kde
