#include "panel/FloatingPanel.h"

#include "panel/ShortcutKeys.h"

#include <utility>

namespace quenlit {
namespace {

// The panel's top edge sits this far below the top of the usable screen area.
constexpr double kTopMargin = 80;

std::string nameOf(const platform::RunningApplication& app) {
    return app.localizedName.value_or("?");
}

}  // namespace

FloatingPanel::FloatingPanel(platform::Size size, Notification willShowNotification, std::string logPrefix,
                             platform::PanelWindowFactory& windows, Services services)
    : FloatingPanel(size, willShowNotification, std::move(logPrefix), windows.createPanel(size), services) {}

FloatingPanel::FloatingPanel(platform::Size size, Notification willShowNotification, std::string logPrefix,
                             std::unique_ptr<platform::PanelWindow> window, Services services)
    : window_(std::move(window)),
      services_(services),
      panelSize_(size),
      willShowNotification_(willShowNotification),
      logPrefix_(std::move(logPrefix)) {
    window_->setContentSize(panelSize_);
    placeOnActiveScreen();
    window_->keyDownHandler = [this](const platform::InputEvent& event) { return sendEvent(event); };
    resignConnection_ = window_->didResignKey.connect([this] { resignKey(); });
}

FloatingPanel::~FloatingPanel() {
    resignConnection_.disconnect();
    window_->keyDownHandler = nullptr;
}

platform::Point FloatingPanel::originOn(const platform::Screen& screen, platform::Size size) {
    // The panel's size and margin are logical pixels; the screen counts its own units, `scale` of
    // them to a logical pixel.
    const platform::Rect& visible = screen.visibleFrame;
    const double s = screen.scale > 0 ? screen.scale : 1;
    return {visible.midX() - size.width * s * 0.5, visible.maxY() - (size.height + kTopMargin) * s};
}

void FloatingPanel::placeOnActiveScreen() {
    // Placed at every showing, not once: the user may be at another monitor than last time, and
    // monitors come, go and change size while the program runs. Without a screen the window keeps
    // the origin it had.
    if (auto screen = services_.focus.screens.activeScreen()) {
        window_->setFrameOrigin(originOn(*screen, panelSize_));
    }
}

void FloatingPanel::log(const std::string& message) const {
    FocusRestorer::log(logPrefix_ + message);
}

bool FloatingPanel::hasTerminated(const platform::RunningApplication& app) const {
    auto current = services_.focus.workspace.runningApplication(app.processIdentifier);
    if (!current || current->isTerminated) return true;
    return current->bundleIdentifier != app.bundleIdentifier || current->bundlePath != app.bundlePath;
}

bool FloatingPanel::sendEvent(const platform::InputEvent& event) {
    namespace sym = platform::keysym;
    if (event.type != platform::EventType::keyDown) return false;
    const platform::Modifiers modifiers = event.modifiers.withoutSides();
    const std::uint32_t key = shortcutKeys::shortcutKeysym(event.keysym, event.keycode);
    // Inside our own panels Control is the shortcut modifier, as in every Qt program.
    if (key == 'k' && modifiers == platform::Modifiers{.control = true}) {
        if (onCommandK) onCommandK();
        return true;
    }
    // Copies: a callback may replace itself while it runs.
    std::function<void()> callback;
    // Control or Super alone.
    if ((modifiers == platform::Modifiers{.control = true} ||
         modifiers == platform::Modifiers{.super = true}) &&
        (key == 'n' || key == 'p')) {
        // They are the arrows: an open menu takes them as it takes the arrows.
        if (onMenuKey && onMenuKey(key == 'n' ? sym::down : sym::up)) return true;
        callback = key == 'n' ? onArrowDown : onArrowUp;
        if (callback) callback();
        return true;
    }
    if (modifiers.control || modifiers.alt || modifiers.super) return false;
    if (onMenuKey && onMenuKey(key)) return true;

    switch (key) {
        case sym::returnKey:
        case sym::keypadEnter:
            callback = onEnter;
            break;
        case sym::down:
            callback = onArrowDown;
            break;
        case sym::up:
            callback = onArrowUp;
            break;
        case sym::pageDown:
            callback = onPageDown;
            break;
        case sym::pageUp:
            callback = onPageUp;
            break;
        case sym::tab:
            return true;
        case sym::escape:
            hide(true);
            return true;
        default:
            return false;
    }
    if (callback) callback();
    return true;
}

void FloatingPanel::resignKey() {
    // Clicking into another application closes the panel; that application has the focus already.
    if (window_->isVisible()) hide(false);
}

void FloatingPanel::rememberPreviousFocus() {
    auto front = services_.focus.workspace.frontmostApplication();
    const int me = services_.focus.workspace.ownProcessIdentifier();
    if (front && front->processIdentifier != me && !front->isTerminated) {
        previouslyActiveApp_ = front;
        previousAppPID_ = front->processIdentifier;
        previousFocusSnapshot_ = FocusRestorer::capture(front->processIdentifier, services_.focus);
        log("remember: " + nameOf(*front) + " pid=" + std::to_string(front->processIdentifier));
        return;
    }
    previouslyActiveApp_.reset();
    previousAppPID_.reset();
    previousFocusSnapshot_ = {};
    const std::string frontName = front && front->localizedName ? *front->localizedName : "nil";
    log("remember: no prior app (front=" + frontName + ")");
}

// By value: the panels that override show() move it into their own continuation.
void FloatingPanel::show(
    std::function<void()> afterBecomeKey) {  // NOLINT(performance-unnecessary-value-param)
    FocusRestorer::logTrustOnce(services_.focus.windows);
    rememberPreviousFocus();
    didStealActivation_ = false;
    window_->setContentSize(panelSize_);
    placeOnActiveScreen();
    services_.notifications.post(willShowNotification_);
    window_->orderFrontRegardless();
    window_->makeKey();
    if (afterBecomeKey) afterBecomeKey();
    if (window_->isKeyWindow()) {
        log("show: nonactivating key window");
        return;
    }
    log("show: fallback NSApp.activate");
    if (!previouslyActiveApp_) {
        // Never this program itself: giving the focus "back" to it on hiding would leave the user
        // with no window at all.
        auto front = services_.focus.workspace.frontmostApplication();
        if (front && front->processIdentifier != services_.focus.workspace.ownProcessIdentifier()) {
            previouslyActiveApp_ = front;
        }
    }
    window_->activateApplication();
    window_->makeKey();
    window_->orderFrontRegardless();
    didStealActivation_ = true;
    if (afterBecomeKey) afterBecomeKey();
}

void FloatingPanel::clearShowing() {
    previouslyActiveApp_.reset();
    previousAppPID_.reset();
    previousFocusSnapshot_ = {};
    didStealActivation_ = false;
}

void FloatingPanel::hide(bool restoreFocus) {
    // Ordering the window out can take the keyboard from it, which calls hide again.
    if (isHiding_) return;
    isHiding_ = true;

    std::optional<platform::RunningApplication> target;
    FocusRestorer::Snapshot snapshot;
    // After a non-activating show the previous application never lost activation: nothing to do.
    if (restoreFocus && didStealActivation_) {
        target = previouslyActiveApp_;
        snapshot = previousFocusSnapshot_;
    }
    clearShowing();
    if (window_->isVisible()) window_->orderOut();
    if (target && !hasTerminated(*target)) {
        // The restoration needs the panel gone first, and it outlives no service it uses.
        services_.focus.scheduler.post([app = *target, snapshot, context = services_.focus]() mutable {
            FocusRestorer::restore(app, snapshot, 0, context);
        });
    }
    isHiding_ = false;
}

std::optional<platform::RunningApplication> FloatingPanel::hideForPaste() {
    platform::Workspace& workspace = services_.focus.workspace;
    const int me = workspace.ownProcessIdentifier();
    const std::optional<int> pid = previousAppPID_;
    const bool stole = didStealActivation_;
    const std::optional<platform::RunningApplication> remembered = previouslyActiveApp_;
    const FocusRestorer::Snapshot snapshot = previousFocusSnapshot_;
    clearShowing();
    if (window_->isVisible()) window_->orderOut();

    std::optional<platform::RunningApplication> candidate = remembered;
    const auto live = [this](const std::optional<platform::RunningApplication>& app) {
        return app && !hasTerminated(*app);
    };
    if (!live(candidate) && pid) {
        auto byPid = workspace.runningApplication(*pid);
        if (byPid && !byPid->isTerminated) {
            candidate = byPid;
            log("hideForPaste: resolved pid=" + std::to_string(*pid));
        }
    }
    if (!live(candidate)) {
        auto front = workspace.frontmostApplication();
        if (front && front->processIdentifier != me && !front->isTerminated) {
            candidate = front;
            log("hideForPaste: fallback frontmost=" + nameOf(*front));
        }
    }
    if (!live(candidate)) {
        log("hideForPaste: no app to restore");
        return std::nullopt;
    }
    if (stole) {
        const bool ok = workspace.activate(candidate->processIdentifier, false);
        log("hideForPaste: activate " + nameOf(*candidate) +
            " pid=" + std::to_string(candidate->processIdentifier) + " ok=" + (ok ? "true" : "false"));
        FocusRestorer::restore(*candidate, snapshot, 0, services_.focus);
    } else {
        log("hideForPaste: activation intact — skip restore, paste target " + nameOf(*candidate));
    }
    return candidate;
}

}  // namespace quenlit
