#include "panel/FocusRestorer.h"

namespace quenlit::FocusRestorer {
namespace {

bool didPromptForTrust = false;
bool didLogTrust = false;

// Attempt n + 1 runs (n + 1) × this many seconds after attempt n: 0.5 s over the five attempts.
constexpr double kAttemptStep = 0.05;

}  // namespace

void resetFlagsForTesting() {
    didPromptForTrust = false;
    didLogTrust = false;
}

Snapshot capture(int pid, Context& context) {
    platform::WindowControl& windows = context.windows;
    if (!windows.isProcessTrusted(false) || !windows.capabilities().listWindows) return {};
    const auto list = windows.windows(pid);
    if (!list || list->empty()) return {};
    return {list->front().ref};
}

void restore(const platform::RunningApplication& app, const Snapshot& snapshot, int attempt,
             Context& context) {
    const int pid = app.processIdentifier;
    // `app` is the record taken when the panel opened; the desktop knows whether it still runs.
    const auto live = context.workspace.runningApplication(pid);
    if (app.isTerminated || !live || live->isTerminated) return;
    if (attempt == 0) {
        // The window-level step below follows either way and reports its own outcome.
        (void)context.workspace.activate(pid, false);
        log("fallback restore activate " + app.localizedName.value_or("?"));
    }
    platform::WindowControl& windows = context.windows;
    if (!windows.isProcessTrusted(false) || !windows.capabilities().activate) return;

    // Best effort: an application that refuses gets the following attempts.
    if (snapshot.window) {
        if (!windows.activate(*snapshot.window)) (void)windows.activateApplication(pid);  // the window closed
    } else {
        (void)windows.activateApplication(pid);  // nothing to report: the next attempt tries again
    }
    if (attempt >= 4) return;
    context.scheduler.postAfter(platform::Seconds((attempt + 1) * kAttemptStep),
                                [app, snapshot, attempt, services = context]() mutable {
                                    restore(app, snapshot, attempt + 1, services);
                                });
}

bool ensureTrusted(bool prompt, platform::WindowControl& windows) {
    const bool trusted = windows.isProcessTrusted(false);
    if (trusted || !prompt) return trusted;
    if (didPromptForTrust) return windows.isProcessTrusted(false);
    didPromptForTrust = true;
    log("Accessibility not trusted — prompting once (required for clipboard ⌘V / window snap / "
        "text expander / app toggle)");
    if (windows.isProcessTrusted(true)) {
        log("Accessibility trusted=1 (after prompt)");
        return true;
    }
    log("Accessibility still denied — enable Quenlit in Privacy → Accessibility, "
        "then fully quit & relaunch Quenlit");
    return false;
}

void logTrustOnce(platform::WindowControl& windows) {
    const bool trusted = windows.isProcessTrusted(false);
    if (didLogTrust) return;
    didLogTrust = true;
    log(std::string("Accessibility trusted=") + (trusted ? "1" : "0"));
}

void openPrivacyPane(const std::vector<std::string>& anchors, const std::string& label,
                     platform::Workspace& workspace) {
    static const char* const kBases[] = {
        "x-apple.systempreferences:com.apple.preference.security?",
        "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?"};
    for (const char* base : kBases) {
        for (const auto& anchor : anchors) {
            if (workspace.openURL(base + anchor)) {
                log("opened " + label + " setting");
                return;
            }
        }
    }
    log("failed to open " + label + " setting");
}

}  // namespace quenlit::FocusRestorer
