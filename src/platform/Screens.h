#pragma once

// The monitors of the desktop. Frames are in the bottom-left-origin space whose origin is the
// bottom-left corner of the primary monitor (y grows upwards), so window arithmetic written for
// that space runs unchanged; the accessibility space (origin top-left, y down) converts with the
// primary monitor's height. Both spaces count the desktop's own units (device pixels on X11, the
// compositor's layout units on Wayland); the toolkit's logical pixels, in which the panels are
// sized, differ from them by each monitor's `scale`. Converting to logical pixels is the panel
// window's business, and happens there once.

#include "platform/Geometry.h"

#include <optional>
#include <vector>

namespace quenlit::platform {

struct Screen {
    Rect frame;
    Rect visibleFrame;  // the frame less panels and docks
    // How many units of the frames one logical pixel of the panels spans on this monitor: 2 on a
    // monitor drawn at twice the size, 1 without scaling.
    double scale = 1;
    bool operator==(const Screen&) const = default;
};

class Screens {
  public:
    virtual ~Screens() = default;
    // All monitors, the primary one first.
    virtual std::vector<Screen> screens() = 0;
    // The primary monitor; absent without any monitor.
    virtual std::optional<Screen> mainScreen() = 0;
    // The monitor the user is at, where panels open: the one holding the window with the keyboard
    // focus (most of it), else the one under the pointer, else the primary one; absent without any
    // monitor. Read afresh on every call, so monitors added, removed or resized count at once.
    virtual std::optional<Screen> activeScreen() = 0;
};

}  // namespace quenlit::platform
