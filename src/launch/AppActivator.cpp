#include "launch/AppActivator.h"

#include "base/Log.h"

namespace quenlit::AppActivator {
namespace {

const char* boolText(bool b) {
    return b ? "true" : "false";
}

}  // namespace

Result<> activateOrLaunch(const std::string& appPath, Context& context) {
    const std::optional<std::string> bundleID = context.workspace.bundleIdentifier(appPath);
    log::write("activateOrLaunch path=" + appPath + " bundleID=" + bundleID.value_or("nil"));
    if (auto app = runningApp(bundleID, context)) {
        restore(*app, context);
        return {};
    }
    log::write("no running instance — falling back to NSWorkspace.open");
    return context.workspace.open(appPath);
}

std::optional<platform::RunningApplication> runningApp(const std::optional<std::string>& bundleID,
                                                       Context& context) {
    if (!bundleID) return std::nullopt;
    for (const auto& app : context.workspace.runningApplications()) {
        if (!app.isTerminated && app.bundleIdentifier == bundleID) return app;
    }
    return std::nullopt;
}

void restore(const platform::RunningApplication& app, Context& context) {
    const std::string name = app.localizedName.value_or("?");
    log::write("restore " + name + " pid=" + std::to_string(app.processIdentifier) +
               " hidden=" + boolText(app.isHidden) + " active=" + boolText(app.isActive));
    if (app.isHidden) {
        // Activation below shows a hidden application too; it alone decides the outcome.
        (void)context.workspace.unhide(app.processIdentifier);
        log::write(name + ": was hidden — unhide()");
    }
    if (!context.workspace.activate(app.processIdentifier, true)) {
        log::write(name + ": the desktop refused to activate it");
    }
    unminimizeDockWindows(app.processIdentifier, name, context);
}

void unminimizeDockWindows(int pid, const std::string& name, Context& context) {
    platform::WindowControl& control = context.windows;
    if (!control.isProcessTrusted(false)) {
        log::write(name + ": accessibility untrusted — cannot unminimize windows");
        return;
    }
    if (!control.capabilities().listWindows) return;
    const auto windows = control.windows(pid);
    if (!windows) {
        log::write(name + ": could not read AX windows");
        return;
    }
    int visible = 0;
    int unminimized = 0;
    for (const auto& window : *windows) {
        if (window.minimised) {
            // Activation is what brings a minimised window back; counted whether or not it obeys.
            (void)control.activate(window.ref);
            ++unminimized;
        } else {
            ++visible;
        }
    }
    log::write(name + ": windows total=" + std::to_string(windows->size()) +
               " visible=" + std::to_string(visible) + " unminimized=" + std::to_string(unminimized));
}

}  // namespace quenlit::AppActivator
