#pragma once

// The desktop's running applications on X11: the window manager's client windows grouped by the
// process that owns them (_NET_WM_PID), matched to their desktop entries; activation, hiding and
// un-hiding through EWMH requests; the change of the active application from _NET_ACTIVE_WINDOW.
// Installed applications, launching and opening are the display-free workspace's.
//
// Every call reads the window manager's current lists, except the application in front: a workspace
// that watches the desktop keeps it as the last change of the active window or of the client list
// left it (see front_).

#include "backends/linux/DesktopWorkspace.h"
#include "backends/x11/X11Connection.h"
#include "backends/x11/X11EventHub.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quenlit::x11 {

class X11Workspace final : public linux_backend::DesktopWorkspace {
  public:
    // Create on the main thread after the QGuiApplication; `events` must outlive the workspace.
    X11Workspace(X11Connection& connection, X11EventHub& events);
    // A workspace that answers questions about the desktop but watches nothing (no
    // didActivateApplication): for the command line, which has no event loop.
    explicit X11Workspace(X11Connection& connection);
    ~X11Workspace() override;
    X11Workspace(const X11Workspace&) = delete;
    X11Workspace& operator=(const X11Workspace&) = delete;

    std::vector<platform::RunningApplication> runningApplications() override;
    std::optional<platform::RunningApplication> runningApplication(int processIdentifier) override;
    std::optional<platform::RunningApplication> frontmostApplication() override;
    // The owner of the X input focus: the focus window or the nearest ancestor that names its
    // process (a toolkit may focus a child of its top-level window).
    std::optional<platform::RunningApplication> keyboardFocusApplication() override;
    // _NET_ACTIVE_WINDOW requests for its windows from the bottom of the stack up, so the topmost
    // ends on top and active (all of them when allWindows, else the topmost visible one); the
    // window manager maps and un-minimises what it activates. False when it has no window.
    bool activate(int processIdentifier, bool allWindows) override;
    // Minimises every window of the application; false when it has none.
    bool hide(int processIdentifier) override;
    // Brings its minimised windows back (topmost last); false when it has no window.
    bool unhide(int processIdentifier) override;

  private:
    struct Group {
        int processIdentifier = 0;
        std::vector<ClientWindow> windows;
    };
    std::vector<Group> groups(X11Connection::ClientOrder order);
    std::vector<ClientWindow> windowsOf(int processIdentifier);
    platform::RunningApplication describe(const Group& group,
                                          const std::vector<platform::InstalledApplication>& entries,
                                          int activeProcess);
    int processOf(std::optional<xcb_window_t> window);
    void activeWindowChanged();

    X11Connection& connection_;
    X11EventHub* events_ = nullptr;
    int handlerToken_ = 0;
    int lastActiveProcess_ = 0;
    // The answer of frontmostApplication() while nothing it depends on has changed; unset until first
    // asked and after the client list changed. A showing panel asks several times between the
    // hotkey and being on screen, and each fresh answer costs round trips and reads of /proc. The
    // property changes arrive on the connection the hotkey's press arrives on, in the server's
    // order, so the kept answer is the one of the moment the key was pressed.
    // Guarded by frontMutex_: the catalogue's background scan may ask too. An answer worked out
    // while the desktop changed (frontChanges_ moved on) is not kept.
    std::optional<std::optional<platform::RunningApplication>> front_;
    std::uint64_t frontChanges_ = 0;
    std::mutex frontMutex_;
    void forgetFront();
};

}  // namespace quenlit::x11
