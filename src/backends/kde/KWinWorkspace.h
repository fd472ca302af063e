#pragma once

// The running applications on KDE Plasma: KWin's windows (read through its scripting) grouped by
// process and matched to their desktop entries by the window's desktop file name, class and
// executable; activation, hiding (minimising) and un-hiding through scripts. Installed
// applications, launching and opening are the display-free workspace's.
//
// While a panel of ours has the keyboard, the front application is still the one the user came
// from: the last other program's window KWin reported active. didActivateApplication is emitted
// when a reading finds another program active than the reading before.
//
// On the main thread the windows are read afresh; on another thread (the catalogue scan) the
// applications are those of the main thread's last reading.

#include "backends/kde/KWinWindows.h"
#include "backends/linux/DesktopWorkspace.h"

#include <mutex>
#include <thread>
#include <vector>

namespace quenlit::kde {

class KWinWorkspace final : public linux_backend::DesktopWorkspace {
  public:
    // Create on the main thread; `windows` outlives the workspace.
    explicit KWinWorkspace(KWinWindows& windows);

    std::vector<platform::RunningApplication> runningApplications() override;
    std::optional<platform::RunningApplication> runningApplication(int processIdentifier) override;
    std::optional<platform::RunningApplication> frontmostApplication() override;
    std::optional<platform::RunningApplication> keyboardFocusApplication() override;
    bool activate(int processIdentifier, bool allWindows) override;
    bool hide(int processIdentifier) override;
    bool unhide(int processIdentifier) override;

  private:
    struct Program {
        int processIdentifier = 0;
        std::vector<KWinWindow> windows;
    };
    std::vector<Program> refresh();
    std::vector<Program> programs();
    platform::RunningApplication describe(const Program& program);
    bool onMainThread() const { return std::this_thread::get_id() == mainThread_; }
    // Runs `body` for each window of the process (bound to `w`); false when it has none.
    bool forEachWindow(int processIdentifier, const std::string& body);

    KWinWindows& windows_;
    const std::thread::id mainThread_;
    int activeProcess_ = 0;     // the owner of KWin's active window at the last reading
    int lastOtherProcess_ = 0;  // the last active program that is not this one
    std::mutex snapshotMutex_;
    std::vector<Program> snapshot_;
};

}  // namespace quenlit::kde
