#pragma once

// Other applications' windows through the window manager (EWMH). An application is a process;
// its windows are its client windows.
//
//   windows                     its client windows, topmost first
//   focused and main window     its window owning _NET_ACTIVE_WINDOW, else its topmost window;
//                               setting one activates that window
//   role                        window for normal and dialog windows
//   minimised                   _NET_WM_STATE_HIDDEN
//   frame, position, size       the outer frame in root coordinates (the client plus the window
//                               manager's frame, less the shadows of client-side decorations);
//                               writes return once the window reports its new frame (bounded)
//   resizable                   false when WM_NORMAL_HINTS fixes the size
//   full screen                 _NET_WM_STATE_FULLSCREEN
//   bring to front, raise       activation request and raise
//   focused controls, enhanced interface  not available on X11: reads fail, writes change nothing
//
// Every call is a round trip to the X server, which always answers; the waits for the window
// manager's reaction are bounded polls of the window's properties. Main thread only.

#include "backends/x11/X11Connection.h"
#include "platform/Accessibility.h"

#include <optional>

namespace quenlit::x11 {

class X11Accessibility final : public platform::Accessibility {
  public:
    explicit X11Accessibility(X11Connection& connection);

    // Every client of an X server may do all of this.
    bool isProcessTrusted(bool) override { return true; }

    // No client is ever waited on, so there is nothing to bound.
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
    struct Extents {
        int left = 0, right = 0, top = 0, bottom = 0;
    };
    struct Geometry {
        int x = 0, y = 0, width = 0, height = 0;  // the client, in root coordinates
        Extents frame;                            // the window manager's frame, X border included
        Extents shadow;                           // _GTK_FRAME_EXTENTS
        platform::Rect outer() const;
    };
    std::optional<Geometry> geometry(xcb_window_t window);
    std::vector<ClientWindow> windowsTopmostFirst(int processIdentifier);
    std::optional<xcb_window_t> activeOrTopmostWindow(int processIdentifier);
    bool hasFixedSize(xcb_window_t window);
    // The X window of a window element that still exists.
    platform::AXResult<xcb_window_t> existingWindow(const platform::AXElement& element);
    platform::AXResult<> activateOwnWindow(int processIdentifier, const platform::AXElement& window);
    platform::AXResult<> moveResize(xcb_window_t window, std::optional<platform::Point> origin,
                                    std::optional<platform::Size> size);
    void leaveMaximized(xcb_window_t window);
    void activateAndRaise(xcb_window_t window);

    X11Connection& connection_;
};

}  // namespace quenlit::x11
