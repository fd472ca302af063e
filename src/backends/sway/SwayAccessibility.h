#pragma once

// Other applications' windows through sway's IPC. An application is a process; its windows are
// the tree's windows that sway says it owns (their "pid").
//
//   windows                     its windows, most recently focused first; a handle is the
//                               window's container id
//   focused and main window     its focused window, else the one that had the focus last;
//                               setting one focuses that window
//   role                        window for every window of the tree
//   minimised                   never: sway has no minimised state (its scratchpad hides a window,
//                               which the workspace reports as hidden)
//   frame, position, size       the outer frame (title bar and borders included) in the
//                               accessibility space; a tiled window is made floating before it is
//                               moved or resized, since sway places tiled windows itself; writes
//                               return once the tree reports the new frame (bounded)
//   resizable                   always: sway resizes any floating window
//   full screen                 the window's fullscreen_mode
//   bring to front, raise       "focus", which also brings a window back from the scratchpad
//   focused controls, enhanced interface  not available on Wayland: reads fail, writes change nothing
//
// Every call is a round trip or a few to sway, each bounded to a second. Main thread only.

#include "backends/sway/SwayIpc.h"
#include "platform/Accessibility.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quenlit::sway {

class SwayAccessibility final : public platform::Accessibility {
  public:
    // `sway` must outlive the accessibility.
    explicit SwayAccessibility(SwayIpc& sway);

    // Every client of sway's socket may do all of this, as long as it is connected.
    bool isProcessTrusted(bool) override { return sway_.connected(); }

    // sway answers within its IPC's bound, which is not set per application.
    platform::AXResult<> setMessagingTimeout(int, double) override { return {}; }
    platform::AXResult<platform::AXElement> focusedWindow(int processIdentifier) override;
    platform::AXResult<platform::AXElement> mainWindow(int processIdentifier) override;
    platform::AXResult<std::vector<platform::AXElement>> windows(int processIdentifier) override;
    platform::AXResult<platform::AXElement> focusedElement(int processIdentifier) override;
    platform::AXResult<platform::AXElement> systemFocusedElement() override;
    platform::AXResult<> bringToFront(int processIdentifier) override;
    platform::AXResult<> setFocusedWindow(int processIdentifier, const platform::AXElement& window) override;
    platform::AXResult<> setMainWindow(int processIdentifier, const platform::AXElement& window) override;
    platform::AXResult<> setFocusedElement(int processIdentifier,
                                           const platform::AXElement& element) override;
    platform::AXResult<bool> isEnhancedUserInterface(int processIdentifier) override;
    platform::AXResult<> setEnhancedUserInterface(int processIdentifier, bool on) override;

    platform::AXResult<> setMessagingTimeout(const platform::AXElement&, double) override { return {}; }
    platform::AXResult<platform::AXRole> role(const platform::AXElement& element) override;
    platform::AXResult<platform::Rect> frame(const platform::AXElement& element) override;
    platform::AXResult<bool> isMinimised(const platform::AXElement& window) override;
    platform::AXResult<bool> isFullScreen(const platform::AXElement& window) override;
    platform::AXResult<> leaveFullScreen(const platform::AXElement& window) override;
    platform::AXResult<bool> isResizable(const platform::AXElement& window) override;
    platform::AXResult<> setPosition(const platform::AXElement& window, platform::Point origin) override;
    platform::AXResult<> setSize(const platform::AXElement& window, platform::Size size) override;
    platform::AXResult<> raise(const platform::AXElement& window) override;
    platform::AXResult<> focus(const platform::AXElement& element) override;

  private:
    // The process's windows, most recently focused first; absent when sway does not answer.
    std::optional<std::vector<SwayWindow>> windowsOf(int processIdentifier);
    // The tree's window for a window element; invalidUIElement when it is gone.
    platform::AXResult<SwayWindow> existingWindow(const platform::AXElement& element);
    platform::AXResult<> run(const std::string& commands);
    platform::AXResult<> focusOwnWindow(int processIdentifier, const platform::AXElement& window);
    // Reads the window until `done` holds for it, it stops changing after having left `start`, or
    // the bound passes; invalidUIElement when it went away.
    platform::AXResult<> awaitWindow(long id, const platform::Rect& start,
                                     const std::function<bool(const SwayWindow&)>& done);
    platform::AXResult<> place(const platform::AXElement& element, std::optional<platform::Point> origin,
                               std::optional<platform::Size> size);

    SwayIpc& sway_;
};

}  // namespace quenlit::sway
