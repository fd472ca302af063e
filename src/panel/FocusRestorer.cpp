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

std::optional<platform::Point> centerPoint(const std::optional<platform::AXElement>& element,
                                           platform::Accessibility& accessibility) {
    if (!element) return std::nullopt;
    const auto frame = accessibility.frame(*element);
    if (!frame || !(frame.value().width > 1) || !(frame.value().height > 1)) return std::nullopt;
    const platform::Rect& r = frame.value();
    return platform::Point{r.x + r.width * 0.5, r.y + r.height * 0.5};
}

Snapshot capture(int pid, Context& context) {
    platform::Accessibility& accessibility = context.accessibility;
    if (!accessibility.isProcessTrusted(false)) return {};
    Snapshot snapshot;
    snapshot.window = accessibility.focusedWindow(pid).get();
    snapshot.element = accessibility.focusedElement(pid).get();
    if (!snapshot.element) snapshot.element = accessibility.systemFocusedElement().get();
    // Only a focused control gives a point. Without one, activating and raising the window lets the
    // application put its own focus back, where a click at the window's centre could press a button.
    snapshot.clickPoint = centerPoint(snapshot.element, accessibility);
    return snapshot;
}

void click(platform::Point at, platform::InputSynthesizer& input) {
    // The point was captured in the accessibility space, which is also the space mouse events take,
    // so it is posted as it is: turning y over the primary screen's height would click at the
    // mirrored point.
    auto source = input.createEventSource(platform::InputSynthesizer::SourceState::hidSystem);
    if (!source) return;
    const auto down = source->mouseEvent(platform::EventType::leftMouseDown, at);
    const auto up = source->mouseEvent(platform::EventType::leftMouseUp, at);
    if (!down || !up) return;
    if (!source->post(*down) || !source->post(*up)) log("click refused by the desktop");
}

void restore(const platform::RunningApplication& app, const Snapshot& snapshot, int attempt, bool allowClick,
             Context& context) {
    const int pid = app.processIdentifier;
    // `app` is the record taken when the panel opened; the desktop knows whether it still runs.
    const auto live = context.workspace.runningApplication(pid);
    if (app.isTerminated || !live || live->isTerminated) return;
    if (attempt == 0) {
        // The window-level steps below follow either way and report their own outcome.
        (void)context.workspace.activate(pid, false);
        log("fallback restore activate " + app.localizedName.value_or("?"));
    }
    platform::Accessibility& accessibility = context.accessibility;
    if (!accessibility.isProcessTrusted(false)) return;

    // Each step is best effort: an application that refuses one still gets the others, and the
    // following attempts try again.
    (void)accessibility.bringToFront(pid);
    if (snapshot.window) {
        (void)accessibility.raise(*snapshot.window);
        (void)accessibility.setFocusedWindow(pid, *snapshot.window);
        (void)accessibility.setMainWindow(pid, *snapshot.window);
    }
    if (snapshot.element) {
        (void)accessibility.setFocusedElement(pid, *snapshot.element);
        (void)accessibility.focus(*snapshot.element);
    }

    if (allowClick && (attempt == 1 || attempt == 3)) {
        if (snapshot.clickPoint) click(*snapshot.clickPoint, context.input);
    } else if (attempt > 3) {
        return;
    }
    context.scheduler.postAfter(platform::Seconds((attempt + 1) * kAttemptStep),
                                [app, snapshot, attempt, allowClick, services = context]() mutable {
                                    restore(app, snapshot, attempt + 1, allowClick, services);
                                });
}

bool ensureTrusted(bool prompt, platform::Accessibility& accessibility) {
    const bool trusted = accessibility.isProcessTrusted(false);
    if (trusted || !prompt) return trusted;
    if (didPromptForTrust) return accessibility.isProcessTrusted(false);
    didPromptForTrust = true;
    log("Accessibility not trusted — prompting once (required for clipboard ⌘V / window snap / "
        "text expander / app toggle)");
    if (accessibility.isProcessTrusted(true)) {
        log("Accessibility trusted=1 (after prompt)");
        return true;
    }
    log("Accessibility still denied — enable Quenlit in Privacy → Accessibility, "
        "then fully quit & relaunch Quenlit");
    return false;
}

void logTrustOnce(platform::Accessibility& accessibility) {
    const bool trusted = accessibility.isProcessTrusted(false);
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
