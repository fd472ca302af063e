#pragma once

// The monitors on KDE Plasma as Qt learns them from the compositor (wl_output and xdg-output): each
// output's rectangle in KWin's layout, logical pixels. A Wayland client is not told where panels and
// docks are, so the visible frame is the whole output. The primary monitor is Qt's primary screen.
//
// Main thread only.

#include "platform/Screens.h"

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace quenlit::kde {

class KdeScreens final : public platform::Screens {
  public:
    // `focusedFrame`: the frame of the window with the focus (KWin's top-left global space), absent
    // when none; without it the panels open on the primary monitor.
    explicit KdeScreens(std::function<std::optional<platform::Rect>()> focusedFrame = {})
        : focusedFrame_(std::move(focusedFrame)) {}
    std::vector<platform::Screen> screens() override;
    std::optional<platform::Screen> mainScreen() override;
    // The monitor holding the centre of the focused window, else the primary one.
    std::optional<platform::Screen> activeScreen() override;

  private:
    std::function<std::optional<platform::Rect>()> focusedFrame_;
};

}  // namespace quenlit::kde
