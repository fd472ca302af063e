#pragma once

// The monitors of the X screen (RandR 1.5 monitors), their frames and the work areas the window
// manager leaves free of panels and docks.

#include "backends/x11/X11Connection.h"
#include "platform/Screens.h"

#include <optional>
#include <vector>

namespace quenlit::x11 {

// A rectangle in X coordinates (origin at the top-left of the root window, y down).
struct XRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const XRect&) const = default;
};

struct Monitor {
    XRect rect;
    bool primary = false;
    double scale = 1;  // device pixels per logical pixel of the toolkit on this monitor
};

struct XPoint {
    int x = 0;
    int y = 0;
};

// The monitor the user is at: the one holding most of the focused window's frame, else the one
// under the pointer; absent when neither tells (then the primary one counts).
std::optional<std::size_t> activeMonitor(const std::vector<Monitor>& monitors,
                                         std::optional<XRect> focusedWindow, std::optional<XPoint> pointer);

// The screens for monitors in the server's order: the primary one first (the first monitor when
// none is marked primary), the others in order. A monitor's visible frame is, in this order of
// preference: the per-monitor work area lying inside it (`perMonitorWorkAreas`, the one at the
// monitor's own index when it fits), its intersection with `desktopWorkArea`, the monitor itself.
// Frames are converted to the bottom-left-origin space with H0 = the primary monitor's height:
// y' = H0 - (y + height).
std::vector<platform::Screen> screensFrom(const std::vector<Monitor>& monitors,
                                          const std::vector<XRect>& perMonitorWorkAreas,
                                          std::optional<XRect> desktopWorkArea);

class X11Screens final : public platform::Screens {
  public:
    explicit X11Screens(X11Connection& connection);

    // Read afresh on every call: monitors and panels come and go.
    std::vector<platform::Screen> screens() override;
    std::optional<platform::Screen> mainScreen() override;
    // From _NET_ACTIVE_WINDOW's frame, else the pointer.
    std::optional<platform::Screen> activeScreen() override;
    // The primary monitor's height in device pixels (0 without any), in one round trip: what the
    // panels convert their origin with at every placement.
    double primaryHeight();

  private:
    std::vector<Monitor> monitors();
    std::vector<platform::Screen> screensOf(const std::vector<Monitor>& monitors);
    std::optional<XRect> focusedWindowFrame();
    std::optional<XPoint> pointer();
    std::vector<XRect> perMonitorWorkAreas(std::uint32_t desktop);

    X11Connection& connection_;
    bool hasMonitors_ = false;  // RandR 1.5 is there
};

}  // namespace quenlit::x11
