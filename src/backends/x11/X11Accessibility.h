#pragma once

// Other applications' windows through the window manager (EWMH), in the shape of the accessibility
// interface. An application element is a process; its window elements are its client windows.
//
//   AXWindows                   its client windows, topmost first
//   AXFocusedWindow, AXMainWindow  its window owning _NET_ACTIVE_WINDOW, else its topmost window;
//                               writing one activates that window
//   AXRole                      "AXWindow" for normal and dialog windows, "AXApplication" for the
//                               application
//   AXMinimized                 _NET_WM_STATE_HIDDEN; writing false brings the window back
//   AXPosition, AXSize          the outer frame in root coordinates (the client plus the window
//                               manager's frame, less the shadows of client-side decorations);
//                               writes return once the window reports its new frame (bounded)
//   AXFullScreen                _NET_WM_STATE_FULLSCREEN
//   AXFrontmost (application), AXRaise (window)  activation request and raise
//   AXEnhancedUserInterface, AXFocusedUIElement, AXFocused  not available on X11: reads fail,
//                               writes change nothing
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
    platform::AXElement applicationElement(int processIdentifier) override;
    platform::AXElement systemWideElement() override { return {}; }
    platform::AXError copyAttribute(const platform::AXElement& element, std::string_view attribute,
                                    platform::AXValue& value) override;
    platform::AXError setAttribute(const platform::AXElement& element, std::string_view attribute,
                                   const platform::AXValue& value) override;
    platform::AXError isAttributeSettable(const platform::AXElement& element, std::string_view attribute,
                                          bool& settable) override;
    platform::AXError performAction(const platform::AXElement& element, std::string_view action) override;
    // No client is ever waited on, so there is nothing to bound.
    platform::AXError setMessagingTimeout(const platform::AXElement&, double) override {
        return platform::AXError::success;
    }

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
    std::optional<xcb_window_t> focusedWindow(int processIdentifier);
    bool hasFixedSize(xcb_window_t window);
    platform::AXError copyApplicationAttribute(int processIdentifier, std::string_view attribute,
                                               platform::AXValue& value);
    platform::AXError copyWindowAttribute(xcb_window_t window, std::string_view attribute,
                                          platform::AXValue& value);
    platform::AXError moveResize(xcb_window_t window, std::optional<platform::Point> origin,
                                 std::optional<platform::Size> size);
    void leaveMaximized(xcb_window_t window);
    void activateAndRaise(xcb_window_t window);

    X11Connection& connection_;
};

}  // namespace quenlit::x11
