#include "automation/WindowSnap.h"

#include "panel/FocusRestorer.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace quenlit::WindowSnap {
namespace {

using platform::Rect;
using platform::WindowInfo;

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

bool isEligible(const WindowInfo& window) {
    return window.ordinary && !window.minimised && window.frame.width > 1 && window.frame.height > 1;
}

std::optional<WindowInfo> targetWindow(int processIdentifier, platform::WindowControl& windows) {
    // The focused window comes first in the list, so the first eligible one is the focused window
    // whenever that one can be snapped.
    const auto all = windows.windows(processIdentifier);
    if (!all) return std::nullopt;
    for (const WindowInfo& window : *all) {
        if (isEligible(window)) return window;
    }
    return std::nullopt;
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

void apply(Command command, const std::optional<platform::RunningApplication>& app, Context& context) {
    platform::WindowControl& windows = context.windows;
    const std::string name(caseName(command));
    if (!FocusRestorer::ensureTrusted(true, windows)) {
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

    auto window = targetWindow(pid, windows);
    if (!window) {
        log::write("windowSnap: no eligible window for " + appName);
        return;
    }
    if (window->fullScreen) {
        log::write("windowSnap: exiting native fullscreen before " + name);
        // Whether it left or not, the frame read next decides what happens.
        (void)windows.leaveFullScreen(window->ref);
        auto after = windows.window(window->ref);
        if (!after || !isEligible(*after)) {
            log::write("windowSnap: cannot read window frame");
            return;
        }
        window = *after;
    }

    const double h0 = primaryScreenHeight(context.screens.screens(), context.screens.mainScreen());
    auto screen = screenContainingCenterOf(window->frame, h0, context.screens);
    if (!screen) screen = context.screens.mainScreen();
    if (!screen) {
        log::write("windowSnap: no screen");
        return;
    }

    const Rect bounds = screenSpaceToAccessibility(screen->visibleFrame, h0);
    const Rect target = targetFrame(bounds, command, window->frame);
    const bool canResize = window->resizable;
    const bool resizes = !isMoveCommand(command);

    if (windows.setFrame(window->ref, target, canResize && resizes)) {
        log::write("windowSnap: " + name + " app=" + appName + " target=" + describe(target) +
                   " canResize=" + boolText(canResize) + " resizes=" + boolText(resizes));
        // The window is already placed, which is what was asked; bringing it forward is a
        // courtesy, and each of these covers for the other failing.
        (void)windows.activate(window->ref);
        (void)context.workspace.activate(pid, false);
    } else {
        log::write("windowSnap: write failed " + name + " app=" + appName + " target=" + describe(target));
    }
}

}  // namespace quenlit::WindowSnap
