#include "backends/sway/SwayAccessibility.h"

#include "backends/sway/SwayScreens.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace quenlit::sway {
namespace {

using platform::AccessibilityError;
using platform::AXElement;
using platform::AXResult;

constexpr auto kStateChangeBound = std::chrono::milliseconds(200);
constexpr auto kGeometryBound = std::chrono::milliseconds(300);

long rounded(double value) {
    return std::lround(value);
}

std::string criteria(long id) {
    return "[con_id=" + std::to_string(id) + "] ";
}

}  // namespace

SwayAccessibility::SwayAccessibility(SwayIpc& sway) : sway_(sway) {}

std::optional<std::vector<SwayWindow>> SwayAccessibility::windowsOf(int processIdentifier) {
    auto all = sway_.windows();
    if (!all) return std::nullopt;
    std::vector<SwayWindow> out;
    for (SwayWindow& window : *all) {
        if (processIdentifier > 0 && window.pid == processIdentifier) out.push_back(std::move(window));
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const SwayWindow& a, const SwayWindow& b) { return a.focusRank < b.focusRank; });
    return out;
}

AXResult<SwayWindow> SwayAccessibility::existingWindow(const AXElement& element) {
    // Nothing of sway's stands for a control.
    if (element.kind != AXElement::Kind::window) return AccessibilityError::invalidUIElement;
    const auto all = sway_.windows();
    if (!all) return AccessibilityError::cannotComplete;
    for (const SwayWindow& window : *all) {
        if (static_cast<std::uint64_t>(window.id) == element.handle) return window;
    }
    return AccessibilityError::invalidUIElement;
}

AXResult<> SwayAccessibility::run(const std::string& commands) {
    if (!sway_.command(commands)) return AccessibilityError::cannotComplete;
    return {};
}

// --- Applications ---

AXResult<AXElement> SwayAccessibility::focusedWindow(int processIdentifier) {
    const auto windows = windowsOf(processIdentifier);
    if (!windows) return AccessibilityError::cannotComplete;
    if (windows->empty()) return AccessibilityError::invalidUIElement;
    return AXElement{AXElement::Kind::window, processIdentifier,
                     static_cast<std::uint64_t>(windows->front().id)};
}

AXResult<AXElement> SwayAccessibility::mainWindow(int processIdentifier) {
    return focusedWindow(processIdentifier);
}

AXResult<std::vector<AXElement>> SwayAccessibility::windows(int processIdentifier) {
    const auto windows = windowsOf(processIdentifier);
    if (!windows) return AccessibilityError::cannotComplete;
    // A process without windows is no application with an interface.
    if (windows->empty()) return AccessibilityError::invalidUIElement;
    std::vector<AXElement> elements;
    for (const SwayWindow& window : *windows)
        elements.push_back(
            {AXElement::Kind::window, processIdentifier, static_cast<std::uint64_t>(window.id)});
    return elements;
}

AXResult<AXElement> SwayAccessibility::focusedElement(int) {
    // Wayland tells no client about another's controls.
    return AccessibilityError::noValue;
}

AXResult<AXElement> SwayAccessibility::systemFocusedElement() {
    return AccessibilityError::noValue;
}

AXResult<> SwayAccessibility::bringToFront(int processIdentifier) {
    const auto window = focusedWindow(processIdentifier);
    if (!window) return AccessibilityError::cannotComplete;
    return raise(window.value());
}

AXResult<> SwayAccessibility::focusOwnWindow(int processIdentifier, const AXElement& window) {
    if (window.kind != AXElement::Kind::window) return AccessibilityError::illegalArgument;
    const auto windows = windowsOf(processIdentifier);
    if (!windows) return AccessibilityError::cannotComplete;
    const bool owned = std::any_of(windows->begin(), windows->end(), [&](const SwayWindow& w) {
        return static_cast<std::uint64_t>(w.id) == window.handle;
    });
    if (!owned) return AccessibilityError::illegalArgument;
    return run(criteria(static_cast<long>(window.handle)) + "focus");
}

AXResult<> SwayAccessibility::setFocusedWindow(int processIdentifier, const AXElement& window) {
    return focusOwnWindow(processIdentifier, window);
}

AXResult<> SwayAccessibility::setMainWindow(int processIdentifier, const AXElement& window) {
    return focusOwnWindow(processIdentifier, window);
}

AXResult<> SwayAccessibility::setFocusedElement(int, const AXElement&) {
    return AccessibilityError::attributeUnsupported;
}

AXResult<bool> SwayAccessibility::isEnhancedUserInterface(int) {
    return AccessibilityError::attributeUnsupported;
}

AXResult<> SwayAccessibility::setEnhancedUserInterface(int, bool) {
    return AccessibilityError::attributeUnsupported;
}

// --- Windows ---

AXResult<platform::AXRole> SwayAccessibility::role(const AXElement& element) {
    const auto window = existingWindow(element);
    if (!window) return window.error();
    return platform::AXRole::window;
}

AXResult<platform::Rect> SwayAccessibility::frame(const AXElement& element) {
    const auto window = existingWindow(element);
    if (!window) return window.error();
    const auto outputs = sway_.outputs();
    if (!outputs) return AccessibilityError::cannotComplete;
    return layoutToAccessibility(window.value().rect, accessibilityOrigin(*outputs));
}

AXResult<bool> SwayAccessibility::isMinimised(const AXElement& element) {
    const auto window = existingWindow(element);
    if (!window) return window.error();
    return false;
}

AXResult<bool> SwayAccessibility::isFullScreen(const AXElement& element) {
    const auto window = existingWindow(element);
    if (!window) return window.error();
    return window.value().fullscreen;
}

AXResult<> SwayAccessibility::leaveFullScreen(const AXElement& element) {
    const auto window = existingWindow(element);
    if (!window) return window.error();
    if (!window.value().fullscreen) return {};
    if (auto done = run(criteria(window.value().id) + "fullscreen disable"); !done) return done;
    // The caller reads the window right after: let the tree show it first.
    const auto deadline = std::chrono::steady_clock::now() + kStateChangeBound;
    for (;;) {
        const auto now = existingWindow(element);
        if (!now) return now.error();
        if (!now.value().fullscreen || std::chrono::steady_clock::now() >= deadline) return {};
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

AXResult<bool> SwayAccessibility::isResizable(const AXElement& element) {
    const auto window = existingWindow(element);
    if (!window) return window.error();
    return true;
}

AXResult<> SwayAccessibility::setPosition(const AXElement& element, platform::Point origin) {
    return place(element, origin, std::nullopt);
}

AXResult<> SwayAccessibility::setSize(const AXElement& element, platform::Size size) {
    return place(element, std::nullopt, size);
}

AXResult<> SwayAccessibility::place(const AXElement& element, std::optional<platform::Point> origin,
                                    std::optional<platform::Size> size) {
    const auto window = existingWindow(element);
    if (!window) return window.error();
    const auto outputs = sway_.outputs();
    if (!outputs) return AccessibilityError::cannotComplete;
    const platform::Point shift = accessibilityOrigin(*outputs);
    const SwayWindow& before = window.value();

    // sway places "move absolute position" by the outer frame's top-left corner and "resize set"
    // sizes the outer frame, title bar included, keeping its centre: a resize is followed by a
    // move back to the corner the frame had, so that only the size changes.
    const platform::Point corner =
        origin ? accessibilityToLayout(*origin, shift) : platform::Point{before.rect.x, before.rect.y};
    std::string commands = criteria(before.id);
    // sway lays out tiled windows itself and ignores moves and sizes asked of them.
    if (!before.floating) commands += "floating enable, ";
    if (size) {
        commands += "resize set width " + std::to_string(std::max(1L, rounded(size->width))) + " px height " +
                    std::to_string(std::max(1L, rounded(size->height))) + " px, ";
    }
    commands += "move absolute position " + std::to_string(rounded(corner.x)) + " " +
                std::to_string(rounded(corner.y));
    if (auto done = run(commands); !done) return done;

    return awaitWindow(before.id, before.rect, [&](const SwayWindow& now) {
        const bool atCorner = now.rect.x == rounded(corner.x) && now.rect.y == rounded(corner.y);
        const bool atSize =
            !size || (now.rect.width == rounded(size->width) && now.rect.height == rounded(size->height));
        return atCorner && atSize;
    });
}

AXResult<> SwayAccessibility::awaitWindow(long id, const platform::Rect& start,
                                          const std::function<bool(const SwayWindow&)>& done) {
    // The tree shows a new frame once the program has drawn at its new size; a program that
    // adjusts the size (to whole character cells, to its limits) ends the wait once its frame has
    // changed and then stays put.
    const auto deadline = std::chrono::steady_clock::now() + kGeometryBound;
    std::optional<platform::Rect> last;
    int steady = 0;
    for (;;) {
        const auto all = sway_.windows();
        if (!all) return AccessibilityError::cannotComplete;
        const auto it =
            std::find_if(all->begin(), all->end(), [&](const SwayWindow& window) { return window.id == id; });
        if (it == all->end()) return AccessibilityError::invalidUIElement;
        if (done(*it)) return {};
        steady = last && *last == it->rect && it->rect != start ? steady + 1 : 0;
        last = it->rect;
        if (steady >= 4 || std::chrono::steady_clock::now() >= deadline) return {};
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

AXResult<> SwayAccessibility::raise(const AXElement& element) {
    const auto window = existingWindow(element);
    if (!window) return window.error();
    return run(criteria(window.value().id) + "focus");
}

AXResult<> SwayAccessibility::focus(const AXElement&) {
    return AccessibilityError::attributeUnsupported;
}

}  // namespace quenlit::sway
