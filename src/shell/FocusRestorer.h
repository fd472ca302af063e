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

inline void log(std::string_view message) { log::write(message); }

Snapshot capture(int pid, Context& context);
// One restoration attempt; schedules the following ones itself. Callers start with attempt 0.
void restore(const platform::RunningApplication& app, const Snapshot& snapshot, int attempt, bool allowClick,
             Context& context);

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
