#pragma once

// The monitors as sway lays them out: its active outputs, each with the area its current workspace
// leaves free of bars. sway's layout space has its origin at the top-left of the layout, y down;
// the primary monitor is the output at the layout's origin (else the first active one), and both
// the screens' bottom-left space and the accessibility space are anchored at its corners.
// Layout units are the logical pixels Qt draws a Wayland window in, whatever an output's scale: the
// screens' scale is 1 on every output.

#include "backends/sway/SwayIpc.h"
#include "platform/Screens.h"

#include <optional>
#include <vector>

namespace quenlit::sway {

// The primary output among `outputs`: the active one whose top-left corner is the layout's origin,
// else the first active one; absent without any active output.
std::optional<SwayOutput> primaryOutput(const std::vector<SwayOutput>& outputs);

// The screens of the active outputs, the primary one first, the others in sway's order. With the
// primary output at (px, py) and H0 high, a layout rectangle converts as
// x' = x - px, y' = H0 - (y - py + height).
std::vector<platform::Screen> screensFrom(const std::vector<SwayOutput>& outputs);

// The screen of the focused active output among `outputs`, else the primary one's.
std::optional<platform::Screen> focusedScreen(const std::vector<SwayOutput>& outputs);

// Between the layout space and the accessibility space (origin at the primary output's top-left,
// y down): a shift by the primary output's corner, (0, 0) without one.
platform::Point accessibilityOrigin(const std::vector<SwayOutput>& outputs);
platform::Rect layoutToAccessibility(const platform::Rect& layout, platform::Point origin);
platform::Point accessibilityToLayout(platform::Point point, platform::Point origin);

class SwayScreens final : public platform::Screens {
  public:
    // `sway` must outlive the screens. Main thread only.
    explicit SwayScreens(SwayIpc& sway);

    // Read afresh on every call: outputs and bars come and go. Empty when sway does not answer.
    std::vector<platform::Screen> screens() override;
    std::optional<platform::Screen> mainScreen() override;
    // The focused output (the one of the focused window, or where the pointer last moved the
    // focus), else the primary one.
    std::optional<platform::Screen> activeScreen() override;

  private:
    SwayIpc& sway_;
};

}  // namespace quenlit::sway
