#pragma once

// Brings a chosen application forward: an instance that runs is unhidden, activated with all its
// windows and has its minimised windows raised; only when none runs is the application launched.

#include "base/Result.h"
#include "platform/DesktopNotifications.h"
#include "platform/WindowControl.h"
#include "platform/Workspace.h"

#include <optional>
#include <string>

namespace quenlit::AppActivator {

struct Context {
    platform::Workspace& workspace;
    platform::WindowControl& windows;
    // Where launch failures are told to the user; none: the log line alone.
    platform::DesktopNotifications* notifications = nullptr;
};

// Fails when no instance runs and the desktop could not start one, with the desktop's reason.
Result<> activateOrLaunch(const std::string& appPath, Context& context);
void restore(const platform::RunningApplication& app, Context& context);
// The first running, not terminated application with exactly this identifier, in the desktop's order.
std::optional<platform::RunningApplication> runningApp(const std::optional<std::string>& bundleID,
                                                       Context& context);
void unminimizeDockWindows(int pid, const std::string& name, Context& context);

}  // namespace quenlit::AppActivator
