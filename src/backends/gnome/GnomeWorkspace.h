#pragma once

// The desktop's running applications and their windows on GNOME Wayland, through Quenlit's Shell
// extension: native and XWayland windows alike, grouped by process and matched to their desktop
// entries by window class or app id, then by executable.
//
// While one of this program's panels has the keyboard, the application in front is still the one
// the user came from: this program's own windows are never the front one, as a panel that does not
// take activation would leave it on other desktops.
//
// Installed applications, launching and opening are the display-free workspace's.

#include "backends/gnome/ShellExtension.h"
#include "backends/linux/DesktopWorkspace.h"
#include "platform/Screens.h"
#include "platform/WindowControl.h"

#include <mutex>
#include <thread>
#include <vector>

namespace quenlit::gnome {

class GnomeWorkspace final : public linux_backend::DesktopWorkspace {
  public:
    // Create on the main thread; `shell` outlives the workspace.
    explicit GnomeWorkspace(ShellExtension& shell);

    // On the main thread read afresh; on another thread the main thread's last reading.
    std::vector<platform::RunningApplication> runningApplications() override;
    std::optional<platform::RunningApplication> runningApplication(int processIdentifier) override;
    std::optional<platform::RunningApplication> frontmostApplication() override;
    bool activate(int processIdentifier, bool allWindows) override;
    bool hide(int processIdentifier) override;
    bool unhide(int processIdentifier) override;

  private:
    std::vector<ShellWindow> windows();
    platform::RunningApplication describe(int processIdentifier, const std::vector<ShellWindow>& all,
                                          int front);
    int frontProcess(const std::vector<ShellWindow>& all);

    ShellExtension& shell_;
    const std::thread::id mainThread_;
    const int self_;
    std::mutex snapshotMutex_;
    std::vector<ShellWindow> snapshot_;
    int lastFront_ = 0;
    Connection focusChanged_;
};

// Other applications' windows through the extension: listed most recently used first with their
// frames, activated (brought back when minimised), moved and resized in one request; a maximised
// window is released first.
class GnomeWindowControl final : public platform::WindowControl {
  public:
    explicit GnomeWindowControl(ShellExtension& shell) : shell_(shell) {}

    platform::WindowCapabilities capabilities() const override { return {true, true, true, {}}; }
    bool isProcessTrusted(bool) override { return true; }
    Result<std::vector<platform::WindowInfo>> windows(int processIdentifier) override;
    Result<platform::WindowInfo> window(const platform::WindowRef& window) override;
    Result<> setFrame(const platform::WindowRef& window, const platform::Rect& frame, bool resize) override;
    Result<> leaveFullScreen(const platform::WindowRef& window) override;
    Result<> activate(const platform::WindowRef& window) override;
    Result<> activateApplication(int processIdentifier) override;

  private:
    ShellExtension& shell_;
};

// The monitors as GNOME Shell reports them, with their work areas (less the top bar), in the
// bottom-left-origin space of Screens.h. The main one holds the window the user is in.
class GnomeScreens final : public platform::Screens {
  public:
    explicit GnomeScreens(ShellExtension& shell) : shell_(shell) {}
    std::vector<platform::Screen> screens() override;
    std::optional<platform::Screen> mainScreen() override;
    std::optional<platform::Screen> activeScreen() override;

  private:
    ShellExtension& shell_;
};

// The extension's monitors in the bottom-left-origin space; exposed for tests.
std::vector<platform::Screen> screensFromMonitors(const std::vector<ShellMonitor>& monitors);

}  // namespace quenlit::gnome
