#pragma once

// Brings a chosen application forward: an instance that runs is unhidden, activated with all its
// windows and has its minimised windows raised; only when none runs is the application launched.

#include "platform/Accessibility.h"
#include "platform/Workspace.h"

#include <optional>
#include <string>

namespace quenlit::AppActivator {

struct Context {
    platform::Workspace& workspace;
    platform::Accessibility& accessibility;
};

void activateOrLaunch(const std::string& appPath, Context& context);
void restore(const platform::RunningApplication& app, Context& context);
// The first running, not terminated application with exactly this identifier, in the desktop's order.
std::optional<platform::RunningApplication> runningApp(const std::optional<std::string>& bundleID,
                                                       Context& context);
void unminimizeDockWindows(int pid, const std::string& name, Context& context);

}  // namespace quenlit::AppActivator
