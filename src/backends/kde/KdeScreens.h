#pragma once

// The monitors on KDE Plasma as Qt learns them from the compositor (wl_output and xdg-output): each
// output's rectangle in KWin's layout, logical pixels. A Wayland client is not told where panels and
// docks are, so the visible frame is the whole output. The primary monitor is Qt's primary screen.
//
// Main thread only.

#include "platform/Screens.h"

namespace quenlit::kde {

class KdeScreens final : public platform::Screens {
  public:
    std::vector<platform::Screen> screens() override;
    std::optional<platform::Screen> mainScreen() override;
};

}  // namespace quenlit::kde
