#pragma once

// Other applications' windows through the window manager (EWMH). An application is a process;
// its windows are its client windows, the active one first, then topmost first.
//
//   ordinary     normal and dialog windows (_NET_WM_WINDOW_TYPE)
//   minimised    _NET_WM_STATE_HIDDEN;  full screen  _NET_WM_STATE_FULLSCREEN
//   resizable    false when WM_NORMAL_HINTS fixes the size
//   frame        the outer frame in root coordinates: the client plus the window manager's frame,
//                less the shadows of client-side decorations
//   setFrame     one _NET_MOVERESIZE_WINDOW (a ConfigureWindow where the window manager has none),
//                after leaving maximised; returns once the window reports its new frame (bounded)
//   activate     an activation request and a raise, which also bring a minimised window back
//
// Every call is a round trip to the X server, which always answers; the waits for the window
// manager's reaction are bounded polls of the window's properties. Main thread only.

#include "backends/x11/X11Connection.h"
#include "platform/WindowControl.h"

#include <optional>

namespace quenlit::x11 {

class X11WindowControl final : public platform::WindowControl {
  public:
    explicit X11WindowControl(X11Connection& connection);

    platform::WindowCapabilities capabilities() const override { return {true, true, true, {}}; }
    // Every client of an X server may do all of this.
    bool isProcessTrusted(bool) override { return true; }
    Result<std::vector<platform::WindowInfo>> windows(int processIdentifier) override;
    Result<platform::WindowInfo> window(const platform::WindowRef& window) override;
    Result<> setFrame(const platform::WindowRef& window, const platform::Rect& frame, bool resize) override;
    Result<> leaveFullScreen(const platform::WindowRef& window) override;
    Result<> activate(const platform::WindowRef& window) override;
    Result<> activateApplication(int processIdentifier) override;

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
    // The X window of a window that still exists.
    Result<xcb_window_t> existingWindow(const platform::WindowRef& window);
    // What the window is now; absent when it is gone.
    std::optional<platform::WindowInfo> describe(int processIdentifier, const ClientWindow& window);
    Result<> moveResize(xcb_window_t window, platform::Point origin, std::optional<platform::Size> size);
    void leaveMaximized(xcb_window_t window);
    void activateAndRaise(xcb_window_t window);

    X11Connection& connection_;
};

}  // namespace quenlit::x11
