#pragma once

// Other programs' windows on KDE Plasma, through KWin's scripting (KWinWindows): listing, moving and
// resizing (frameGeometry, after releasing a maximised window), leaving full screen and activating.
// KWin's frames include the decoration, as the core's do.
//
// Main thread only; the windows list outlives this object.

#include "backends/kde/KWinWindows.h"
#include "platform/WindowControl.h"

namespace quenlit::kde {

class KWinWindowControl final : public platform::WindowControl {
  public:
    explicit KWinWindowControl(KWinWindows& windows) : windows_(windows) {}

    platform::WindowCapabilities capabilities() const override;
    bool isProcessTrusted(bool) override { return true; }
    Result<std::vector<platform::WindowInfo>> windows(int processIdentifier) override;
    Result<platform::WindowInfo> window(const platform::WindowRef& window) override;
    Result<> setFrame(const platform::WindowRef& window, const platform::Rect& frame, bool resize) override;
    Result<> leaveFullScreen(const platform::WindowRef& window) override;
    Result<> activate(const platform::WindowRef& window) override;
    Result<> activateApplication(int processIdentifier) override;

    static platform::WindowInfo infoOf(const KWinWindow& window);

  private:
    KWinWindows& windows_;
};

}  // namespace quenlit::kde
