#pragma once

// The monitors of the desktop. Frames are in the bottom-left-origin space whose origin is the
// bottom-left corner of the primary monitor (y grows upwards), so window arithmetic written for
// that space runs unchanged; the accessibility space (origin top-left, y down) converts with the
// primary monitor's height.

#include "platform/Geometry.h"

#include <optional>
#include <vector>

namespace quenlit::platform {

struct Screen {
    Rect frame;
    Rect visibleFrame;  // the frame less panels and docks
    bool operator==(const Screen&) const = default;
};

class Screens {
  public:
    virtual ~Screens() = default;
    // All monitors, the primary one first.
    virtual std::vector<Screen> screens() = 0;
    // The primary monitor; absent without any monitor.
    virtual std::optional<Screen> mainScreen() = 0;
};

}  // namespace quenlit::platform
