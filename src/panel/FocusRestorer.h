#pragma once

// Focus capture and restoration for the panels, the accessibility-trust checks every feature
// that drives other applications goes through, and the diagnostic log.

#include "base/Log.h"
#include "platform/Accessibility.h"
#include "platform/InputEvents.h"
#include "platform/Scheduler.h"
#include "platform/Screens.h"
#include "platform/Workspace.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenlit::FocusRestorer {

// The platform services restoration uses; they outlive every scheduled attempt.
struct Context {
    platform::Accessibility& accessibility;
    platform::Workspace& workspace;
    platform::Scheduler& scheduler;
    platform::InputSynthesizer& input;
    platform::Screens& screens;
};

// What had the focus in an application when a panel was shown.
struct Snapshot {
    std::optional<platform::AXElement> window;
    std::optional<platform::AXElement> element;
    std::optional<platform::Point> clickPoint;  // accessibility space
    bool operator==(const Snapshot&) const = default;
};

inline void log(std::string_view message) {
    log::write(message);
}

// The focused window and control of process `pid`; empty when this process is not trusted. The
// click point is the centre of the focused control only: a click at a window's centre could press
// whatever button lies there.
Snapshot capture(int pid, Context& context);
// One restoration attempt; schedules the following ones itself. Callers start with attempt 0.
// Five attempts over 0.5 s; with `allowClick`, attempts 1 and 3 click the snapshot's click point.
void restore(const platform::RunningApplication& app, const Snapshot& snapshot, int attempt, bool allowClick,
             Context& context);

// The centre of an element more than 1 × 1 points; absent when it has no readable frame.
std::optional<platform::Point> centerPoint(const std::optional<platform::AXElement>& element,
                                           platform::Accessibility& accessibility);
// A synthetic left click (press, then release) at a point of the accessibility space.
void click(platform::Point at, platform::InputSynthesizer& input);

// Whether this process is trusted; with `prompt`, asks the user once per run.
bool ensureTrusted(bool prompt, platform::Accessibility& accessibility);
// Logs the trust state the first time it is called.
void logTrustOnce(platform::Accessibility& accessibility);
// Opens the desktop's privacy settings at the first anchor it accepts.
void openPrivacyPane(const std::vector<std::string>& anchors, const std::string& label,
                     platform::Workspace& workspace);

// The two process-wide flags, cleared between tests.
void resetFlagsForTesting();

}  // namespace quenlit::FocusRestorer
