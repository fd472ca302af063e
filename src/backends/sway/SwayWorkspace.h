#pragma once

// The desktop's running applications on a wlroots compositor: the toplevel windows the compositor
// lists (wlr-foreign-toplevel-management), each given the process that owns it from sway's tree,
// grouped by process and matched to their desktop entries by app id; activation through the
// toplevel requests; hiding and un-hiding through sway's scratchpad, since sway has no minimised
// state and ignores the toplevel's request; the change of the active application from the
// toplevels' state and sway's focus events. Installed applications, launching and opening are the
// display-free workspace's.
//
// A toplevel carries no process id: it is paired with the tree's window of the same app id and
// title, windows alike in the order both were made. Without sway's tree no window names its
// process, and no application is listed.

#include "backends/linux/DesktopWorkspace.h"
#include "backends/sway/SwayIpc.h"
#include "backends/wayland/ForeignToplevels.h"
#include "base/Signal.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace quenlit::sway {

using wayland::Toplevel;
using wayland::Toplevels;

class SwayWorkspace final : public linux_backend::DesktopWorkspace {
  public:
    // Create on the main thread; `toplevels` and `sway` (which may be null) must outlive the
    // workspace. It follows both and emits didActivateApplication.
    SwayWorkspace(Toplevels& toplevels, SwayIpc* sway);
    ~SwayWorkspace() override;
    SwayWorkspace(const SwayWorkspace&) = delete;
    SwayWorkspace& operator=(const SwayWorkspace&) = delete;

    // On the main thread the lists are read afresh; on another thread the applications are those
    // of the main thread's last reading (each change of the windows is one).
    std::vector<platform::RunningApplication> runningApplications() override;
    std::optional<platform::RunningApplication> runningApplication(int processIdentifier) override;
    // The owner of the activated toplevel, else of sway's focused window. None while a layer-shell
    // surface (a launcher panel) has the keyboard: sway then deactivates and unfocuses every window.
    std::optional<platform::RunningApplication> frontmostApplication() override;
    // Activates its windows (all of them when allWindows, else the one it had in front), the one
    // it had in front last; the compositor brings a window back from the scratchpad as it
    // activates it. False when it has no window.
    bool activate(int processIdentifier, bool allWindows) override;
    // Moves its shown windows to sway's scratchpad; false when none was shown or sway refused.
    bool hide(int processIdentifier) override;
    // Shows its windows from the scratchpad and un-minimises those the compositor reports
    // minimised; false when none was hidden or the compositor refused.
    bool unhide(int processIdentifier) override;

  private:
    // A toplevel and what sway's tree says of it.
    struct Window {
        std::uint64_t handle = 0;
        long con = 0;  // the tree's container id; 0 when unpaired
        std::string appId;
        std::string title;
        bool activated = false;
        bool minimized = false;
        bool focused = false;     // sway's focused window
        bool scratchpad = false;  // hidden in sway's scratchpad
        int focusRank = 0;
    };
    struct Program {
        int processIdentifier = 0;
        std::vector<Window> windows;  // in the compositor's order
    };

    // Reads both lists (main thread only) and keeps them as the snapshot.
    std::vector<Program> refresh();
    // The last reading on the main thread, else the snapshot.
    std::vector<Program> programs();
    std::optional<Program> program(int processIdentifier);
    platform::RunningApplication describe(const Program& program, int activeProcess);
    static int activeProcess(const std::vector<Program>& programs);
    void windowsChanged();
    bool onMainThread() const { return std::this_thread::get_id() == mainThread_; }

    Toplevels& toplevels_;
    SwayIpc* sway_;
    const std::thread::id mainThread_;
    int lastActiveProcess_ = 0;

    std::mutex snapshotMutex_;
    std::vector<Program> snapshot_;

    Connection toplevelsChanged_;
    Connection swayChanged_;
};

}  // namespace quenlit::sway
