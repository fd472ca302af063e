#include "automation/WindowSnap.h"

#include "panel/FocusRestorer.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace quenlit::WindowSnap {
namespace {

using platform::AXElement;
using platform::Rect;

constexpr std::string_view kCaseNames[] = {
    "left",      "right",        "top",        "bottom",      "firstThird", "lastTwoThirds",
    "moveToTop", "moveToBottom", "moveToLeft", "moveToRight", "maximize",   "reasonableSize",
};
static_assert(std::size(kCaseNames) == kAllCommands.size());

const char* boolText(bool b) {
    return b ? "true" : "false";
}

// Halves away from zero, as std::round does; named for the rule it implements.
double roundEdge(double v) {
    return std::round(v);
}

Rect fromEdges(double left, double top, double right, double bottom) {
    return {left, top, std::max(0.0, right - left), std::max(0.0, bottom - top)};
}

Rect reasonableFrame(const Rect& b) {
    const double w = std::min(b.width * kReasonableFraction, kReasonableMaxWidth);
    const double h = std::min(b.height * kReasonableFraction, kReasonableMaxHeight);
    return roundedEdges({b.minX() + (b.width - w) * 0.5, b.minY() + (b.height - h) * 0.5, w, h});
}

// A flag that cannot be read counts as false.
bool readsAsTrue(const platform::AXResult<bool>& result) {
    return result.ok() && result.value();
}

bool contains(const Rect& frame, double x, double y) {
    return x >= frame.minX() && x < frame.maxX() && y >= frame.minY() && y < frame.maxY();
}

}  // namespace

std::string_view caseName(Command command) {
    return kCaseNames[static_cast<std::size_t>(command)];
}

bool isMoveCommand(Command command) {
    switch (command) {
        case Command::moveToTop:
        case Command::moveToBottom:
        case Command::moveToLeft:
        case Command::moveToRight:
            return true;
        default:
            return false;
    }
}

Rect roundedEdges(const Rect& r) {
    const double left = roundEdge(r.minX());
    const double top = roundEdge(r.minY());
    return {left, top, std::max(0.0, roundEdge(r.maxX()) - left), std::max(0.0, roundEdge(r.maxY()) - top)};
}

Rect clamped(const Rect& r, const Rect& b) {
    const double x = std::min(std::max(r.minX(), b.minX()), std::max(b.minX(), b.maxX() - r.width));
    const double y = std::min(std::max(r.minY(), b.minY()), std::max(b.minY(), b.maxY() - r.height));
    return {x, y, r.width, r.height};
}

Rect thirdFrame(const Rect& b, Command side) {
    switch (side) {
        case Command::firstThird:
            return roundedEdges(
                fromEdges(b.minX(), b.minY(), b.minX() + b.width * kOneThird, b.minY() + b.height));
        case Command::lastTwoThirds:
            return roundedEdges(
                fromEdges(b.minX() + b.width * kOneThird, b.minY(), b.minX() + b.width, b.minY() + b.height));
        default:
            return b;
    }
}

Rect halfFrame(const Rect& b, Command side) {
    const double halfWidth = std::floor(b.width * 0.5);
    const double halfHeight = std::floor(b.height * 0.5);
    switch (side) {
        case Command::left:
            return {b.minX(), b.minY(), halfWidth, b.height};
        case Command::right:
            return {b.minX() + halfWidth, b.minY(), b.width - halfWidth, b.height};
        case Command::top:
            return {b.minX(), b.minY(), b.width, halfHeight};
        case Command::bottom:
            return {b.minX(), b.minY() + halfHeight, b.width, b.height - halfHeight};
        case Command::firstThird:
        case Command::lastTwoThirds:
            return thirdFrame(b, side);
        case Command::reasonableSize:
            return reasonableFrame(b);
        case Command::moveToTop:
        case Command::moveToBottom:
        case Command::moveToLeft:
        case Command::moveToRight:
        case Command::maximize:
            return b;
    }
    return b;
}

Rect targetFrame(const Rect& b, Command command, const Rect& c) {
    switch (command) {
        case Command::left:
        case Command::right:
        case Command::top:
        case Command::bottom:
            return halfFrame(b, command);
        case Command::firstThird:
        case Command::lastTwoThirds:
            return thirdFrame(b, command);
        case Command::moveToTop:
            return roundedEdges(clamped({c.x, b.minY(), c.width, c.height}, b));
        case Command::moveToBottom:
            return roundedEdges(clamped({c.x, b.maxY() - c.height, c.width, c.height}, b));
        case Command::moveToLeft:
            return roundedEdges(clamped({b.minX(), c.y, c.width, c.height}, b));
        case Command::moveToRight:
            return roundedEdges(clamped({b.maxX() - c.width, c.y, c.width, c.height}, b));
        case Command::maximize:
            return b;
        case Command::reasonableSize:
            return reasonableFrame(b);
    }
    return b;
}

double primaryScreenHeight(const std::vector<platform::Screen>& screens,
                           const std::optional<platform::Screen>& mainScreen) {
    for (const auto& screen : screens) {
        if (screen.frame.x == 0 && screen.frame.y == 0) return screen.frame.height;
    }
    return mainScreen ? mainScreen->frame.height : 0;
}

Rect accessibilityToScreenSpace(const Rect& r, double h0) {
    return {r.x, h0 - (r.y + r.height), r.width, r.height};
}

Rect screenSpaceToAccessibility(const Rect& r, double h0) {
    return {r.x, h0 - r.maxY(), r.width, r.height};
}

std::string formatNumber(double value) {
    char buffer[64];
    // to_chars never consults the C locale, which the desktop program sets from the environment.
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, result.ptr);
    if (text.find_first_of(".e") == std::string::npos && text.find("inf") == std::string::npos &&
        text.find("nan") == std::string::npos) {
        text += ".0";
    }
    return text;
}

std::string describe(const Rect& r) {
    std::string text = "(";
    for (double value : {r.x, r.y, r.width, r.height}) {
        if (text.size() > 1) text += ", ";
        text += formatNumber(value);
    }
    text += ')';
    return text;
}

std::optional<Rect> axFrame(const AXElement& window, platform::Accessibility& accessibility) {
    const auto frame = accessibility.frame(window);
    if (!frame) return std::nullopt;
    if (!(frame.value().width > 1) || !(frame.value().height > 1)) return std::nullopt;
    return frame.value();
}

bool isEligible(const AXElement& window, platform::Accessibility& accessibility) {
    const auto role = accessibility.role(window);
    if (!role || role.value() != platform::AXRole::window) return false;
    if (readsAsTrue(accessibility.isMinimised(window))) return false;
    return axFrame(window, accessibility).has_value();
}

std::optional<AXElement> targetWindow(int processIdentifier, platform::Accessibility& accessibility) {
    if (const auto focused = accessibility.focusedWindow(processIdentifier);
        focused && isEligible(focused.value(), accessibility)) {
        return focused.value();
    }
    if (const auto main = accessibility.mainWindow(processIdentifier);
        main && isEligible(main.value(), accessibility)) {
        return main.value();
    }
    const auto windows = accessibility.windows(processIdentifier);
    if (!windows) return std::nullopt;
    for (const auto& window : windows.value()) {
        if (isEligible(window, accessibility)) return window;
    }
    return std::nullopt;
}

bool isNativeFullScreen(const AXElement& window, platform::Accessibility& accessibility) {
    return readsAsTrue(accessibility.isFullScreen(window));
}

std::optional<platform::Screen> screenContainingCenterOf(const Rect& windowFrame, double h0,
                                                         platform::Screens& screens) {
    const Rect frame = accessibilityToScreenSpace(windowFrame, h0);
    const double x = frame.midX();
    const double y = frame.midY();
    for (const auto& screen : screens.screens()) {
        if (contains(screen.frame, x, y)) return screen;
    }
    return screens.mainScreen();
}

std::function<void()> suppressEnhancedUserInterface(int processIdentifier, Context& context) {
    // Screen readers rely on the enhanced interface; switching it off under them would break them.
    if (context.workspace.isVoiceOverEnabled()) return [] {};
    platform::Accessibility& accessibility = context.accessibility;
    if (!readsAsTrue(accessibility.isEnhancedUserInterface(processIdentifier))) return [] {};
    // While it is on, the application animates each frame change and drops the writes that follow
    // the first one. Both writes are best effort: the snap goes ahead either way.
    (void)accessibility.setEnhancedUserInterface(processIdentifier, false);
    return [&accessibility, processIdentifier] {
        (void)accessibility.setEnhancedUserInterface(processIdentifier, true);
    };
}

bool write(const Rect& target, const AXElement& window, bool canResize,
           platform::Accessibility& accessibility) {
    if (!canResize) return accessibility.setPosition(window, target.origin()).ok();
    // Size, then position, then size again, so a window that refuses a size at its old place gets
    // it at the new one; only the position decides success.
    (void)accessibility.setSize(window, target.size());
    if (!accessibility.setPosition(window, target.origin())) return false;
    (void)accessibility.setSize(window, target.size());
    return true;
}

void apply(Command command, const std::optional<platform::RunningApplication>& app, Context& context) {
    platform::Accessibility& accessibility = context.accessibility;
    const std::string name(caseName(command));
    if (!FocusRestorer::ensureTrusted(true, accessibility)) {
        log::write("windowSnap: Accessibility not trusted — abort " + name);
        FocusRestorer::openPrivacyPane({"Privacy_Accessibility"}, "Accessibility", context.workspace);
        return;
    }
    // The record was taken when the launcher opened; ask the desktop whether the process still runs.
    const auto live = app ? context.workspace.runningApplication(app->processIdentifier) : std::nullopt;
    if (!app || app->isTerminated || !live || live->isTerminated) {
        log::write("windowSnap: no prior app");
        return;
    }
    const int pid = app->processIdentifier;
    if (pid == context.workspace.ownProcessIdentifier()) {
        log::write("windowSnap: refusing to snap our own process");
        return;
    }
    const std::string appName = app->localizedName.value_or("?");

    // A time-out that cannot be set leaves the desktop's default bound in place.
    (void)accessibility.setMessagingTimeout(pid, kMessagingTimeout);
    const auto window = targetWindow(pid, accessibility);
    if (!window) {
        log::write("windowSnap: no eligible window for " + appName);
        return;
    }
    (void)accessibility.setMessagingTimeout(*window, kMessagingTimeout);

    if (isNativeFullScreen(*window, accessibility)) {
        log::write("windowSnap: exiting native fullscreen before " + name);
        (void)accessibility.leaveFullScreen(*window);
    }

    const double h0 = primaryScreenHeight(context.screens.screens(), context.screens.mainScreen());
    const auto frame = axFrame(*window, accessibility);
    if (!frame) {
        log::write("windowSnap: cannot read window frame");
        return;
    }
    auto screen = screenContainingCenterOf(*frame, h0, context.screens);
    if (!screen) screen = context.screens.mainScreen();
    if (!screen) {
        log::write("windowSnap: no screen");
        return;
    }

    const Rect bounds = screenSpaceToAccessibility(screen->visibleFrame, h0);
    const Rect target = targetFrame(bounds, command, *frame);
    const bool canResize = readsAsTrue(accessibility.isResizable(*window));
    const bool resizes = !isMoveCommand(command);

    const auto restoreEnhancedInterface = suppressEnhancedUserInterface(pid, context);
    const bool ok = write(target, *window, canResize && resizes, accessibility);
    if (ok) {
        log::write("windowSnap: " + name + " app=" + appName + " target=" + describe(target) +
                   " canResize=" + boolText(canResize) + " resizes=" + boolText(resizes));
        // The window is already placed, which is what was asked; bringing it forward is a
        // courtesy, and each of these three covers for the others failing.
        (void)accessibility.raise(*window);
        (void)accessibility.bringToFront(pid);
        (void)context.workspace.activate(pid, false);
    } else {
        log::write("windowSnap: write failed " + name + " app=" + appName + " target=" + describe(target));
    }
    restoreEnhancedInterface();
}

}  // namespace quenlit::WindowSnap
