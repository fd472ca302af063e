#pragma once

// Other applications' windows, in the desktop's terms: what the core reads and changes to snap a
// window, to give the focus back after a panel closes, and to bring minimised windows back.
// An application is its process identifier; a window is the desktop's own name for it (an X
// window, a compositor's container id), which stays a valid value after the window closes: calls
// on it then fail as gone.
//
// Every frame is the window's outer frame (title bar and borders included, client-side shadows
// left out) with its origin at the top-left corner of the primary monitor, y down, in the
// desktop's own pixels.
//
// Main thread only. Every call is bounded and answers a value or why it failed; a desktop that
// cannot do something says so in capabilities(), and the core asks there before offering it.

#include "base/Result.h"
#include "platform/Geometry.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quenlit::platform {

struct WindowRef {
    int processIdentifier = 0;
    std::uint64_t id = 0;
    bool operator==(const WindowRef&) const = default;
};

// A window as the desktop describes it, read in one go.
struct WindowInfo {
    WindowRef ref;
    Rect frame;
    // A document or dialog window; menus, pop-ups, docks and other helpers are not.
    bool ordinary = true;
    bool minimised = false;
    bool fullScreen = false;
    // False for a window of fixed size.
    bool resizable = true;
    bool operator==(const WindowInfo&) const = default;
};

// What the desktop lets another program do with windows.
struct WindowCapabilities {
    bool listWindows = false;    // windows(), window()
    bool moveAndResize = false;  // setFrame()
    bool activate = false;       // activate(), activateApplication()
    // Why a missing capability is missing, in a sentence a user can act on; empty with all of them.
    std::string whyNot;
};

class WindowControl {
  public:
    virtual ~WindowControl() = default;

    virtual WindowCapabilities capabilities() const = 0;

    // Whether this process may drive other applications (their windows, their input); `prompt`
    // asks the user once where the desktop has such a prompt.
    virtual bool isProcessTrusted(bool prompt) = 0;

    // The application's windows: the one with the keyboard focus (or the one that had it last)
    // first, then the others topmost first. Fails as gone when the process has no windows.
    virtual Result<std::vector<WindowInfo>> windows(int processIdentifier) = 0;
    // One window, read again.
    virtual Result<WindowInfo> window(const WindowRef& window) = 0;

    // Moves the window's outer frame to `frame`'s origin and, with `resize`, to its size, in one
    // request; a maximised or tiled window is released first. Returns once the window reports its
    // new frame or has settled elsewhere (bounded), so a read right after sees it.
    virtual Result<> setFrame(const WindowRef& window, const Rect& frame, bool resize) = 0;
    // Returns once the window reports it left full screen (bounded).
    virtual Result<> leaveFullScreen(const WindowRef& window) = 0;
    // Raises the window and gives it the keyboard focus; a minimised window comes back.
    virtual Result<> activate(const WindowRef& window) = 0;
    // Makes the application the front one: its focused or topmost window is activated.
    virtual Result<> activateApplication(int processIdentifier) = 0;
};

}  // namespace quenlit::platform
