#pragma once

// Other applications' windows through sway's IPC. An application is a process; its windows are
// the tree's windows that sway says it owns (their "pid"), most recently focused first; a window
// is named by its container id.
//
//   ordinary     every window of the tree
//   minimised    in the scratchpad, which is how sway hides a window
//   resizable    always: sway resizes any floating window
//   frame        the outer frame (title bar and borders included), with the origin moved to the
//                top-left of the primary output
//   setFrame     one command: a tiled window is made floating first (sway places tiled windows
//                itself), then sized and moved; returns once the tree shows the new frame (bounded)
//   activate     "focus", which also brings a window back from the scratchpad
//
// Every call reads the tree once and is a round trip or a few to sway, each bounded to a second.
// Main thread only.

#include "backends/sway/SwayIpc.h"
#include "platform/WindowControl.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quenlit::sway {

class SwayWindowControl final : public platform::WindowControl {
  public:
    // `sway` must outlive the window control.
    explicit SwayWindowControl(SwayIpc& sway);

    platform::WindowCapabilities capabilities() const override { return {true, true, true, {}}; }
    // Every client of sway's socket may do all of this, as long as it is connected.
    bool isProcessTrusted(bool) override { return sway_.connected(); }
    Result<std::vector<platform::WindowInfo>> windows(int processIdentifier) override;
    Result<platform::WindowInfo> window(const platform::WindowRef& window) override;
    Result<> setFrame(const platform::WindowRef& window, const platform::Rect& frame, bool resize) override;
    Result<> leaveFullScreen(const platform::WindowRef& window) override;
    Result<> activate(const platform::WindowRef& window) override;
    Result<> activateApplication(int processIdentifier) override;

  private:
    // The tree's window, with the origin of the frames; gone when it closed. A window listed a moment
    // ago by windows() is taken from that read: one user action reads the tree once.
    Result<std::pair<SwayWindow, platform::Point>> find(const platform::WindowRef& window);
    Result<> run(const std::string& commands);
    // Reads the window until `done` holds for it, it stops changing after having left `start`, or
    // the bound passes; gone when it went away.
    // Waits until `done` says so, or the bound; when `steadyEnds`, also once the frame left
    // `start` and stayed put (a program that adjusted the size asked for).
    Result<> awaitWindow(long id, const platform::Rect& start,
                         const std::function<bool(const SwayWindow&)>& done, bool steadyEnds = true);

    SwayIpc& sway_;
    struct Listed {
        std::vector<SwayWindow> windows;
        platform::Point origin;
        std::chrono::steady_clock::time_point at;
    };
    std::optional<Listed> listed_;
};

}  // namespace quenlit::sway
