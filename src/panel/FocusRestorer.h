#pragma once

// Focus capture and restoration for the panels, the accessibility-trust checks every feature
// that drives other applications goes through, and the diagnostic log.

#include "base/Log.h"
#include "platform/Scheduler.h"
#include "platform/Screens.h"
#include "platform/WindowControl.h"
#include "platform/Workspace.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenlit::FocusRestorer {

// The platform services restoration uses; they outlive every scheduled attempt.
struct Context {
    platform::WindowControl& windows;
    platform::Workspace& workspace;
    platform::Scheduler& scheduler;
    platform::Screens& screens;
};

// What had the focus in an application when a panel was shown: its window. The control inside it
// is the application's own to give back once its window is active again.
struct Snapshot {
    std::optional<platform::WindowRef> window;
    bool operator==(const Snapshot&) const = default;
};

inline void log(std::string_view message) {
    log::write(message);
}

// The focused window of process `pid`; empty when this process is not trusted or the desktop
// does not list windows.
Snapshot capture(int pid, Context& context);
// One restoration attempt; schedules the following ones itself. Callers start with attempt 0.
// Five attempts over 0.5 s, since an application that is still busy with the panel's departure
// may drop the first.
void restore(const platform::RunningApplication& app, const Snapshot& snapshot, int attempt,
             Context& context);

// Whether this process is trusted; with `prompt`, asks the user once per run.
bool ensureTrusted(bool prompt, platform::WindowControl& windows);
// Logs the trust state the first time it is called.
void logTrustOnce(platform::WindowControl& windows);
// Opens the desktop's privacy settings at the first anchor it accepts.
void openPrivacyPane(const std::vector<std::string>& anchors, const std::string& label,
                     platform::Workspace& workspace);

// The two process-wide flags, cleared between tests.
void resetFlagsForTesting();

}  // namespace quenlit::FocusRestorer
