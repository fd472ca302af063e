#include "backends/x11/X11Accessibility.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace quenlit::x11 {
namespace {

using platform::AccessibilityError;
using platform::AXElement;
using platform::AXResult;

constexpr auto stateChangeBound = std::chrono::milliseconds(200);
constexpr auto geometryBound = std::chrono::milliseconds(300);

// _NET_MOVERESIZE_WINDOW's first word: gravity, which values are given, and who asks.
constexpr std::uint32_t northWestGravity = 1;
constexpr std::uint32_t moveResizeX = 1u << 8;
constexpr std::uint32_t moveResizeY = 1u << 9;
constexpr std::uint32_t moveResizeWidth = 1u << 10;
constexpr std::uint32_t moveResizeHeight = 1u << 11;
constexpr std::uint32_t sourcePager = 2u << 12;

// WM_NORMAL_HINTS flags.
constexpr std::uint32_t minSizeHint = 1u << 4;
constexpr std::uint32_t maxSizeHint = 1u << 5;

int rounded(double value) {
    return static_cast<int>(std::lround(value));
}

}  // namespace

platform::Rect X11Accessibility::Geometry::outer() const {
    return {static_cast<double>(x - frame.left + shadow.left),
            static_cast<double>(y - frame.top + shadow.top),
            static_cast<double>(width + frame.left + frame.right - shadow.left - shadow.right),
            static_cast<double>(height + frame.top + frame.bottom - shadow.top - shadow.bottom)};
}

X11Accessibility::X11Accessibility(X11Connection& connection) : connection_(connection) {}

std::optional<X11Accessibility::Geometry> X11Accessibility::geometry(xcb_window_t window) {
    xcb_connection_t* c = connection_.raw();
    auto geometryCookie = xcb_get_geometry(c, window);
    auto translateCookie = xcb_translate_coordinates(c, window, connection_.root(), 0, 0);
    auto frameCookie =
        connection_.requestProperty(window, connection_.atom("_NET_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 4);
    auto shadowCookie =
        connection_.requestProperty(window, connection_.atom("_GTK_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 4);
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_get_geometry_reply_t> size(xcb_get_geometry_reply(c, geometryCookie, &error));
    std::free(error);
    error = nullptr;
    Reply<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(c, translateCookie, &error));
    std::free(error);
    auto extents = [](const std::optional<std::vector<std::uint8_t>>& bytes) {
        Extents out;
        if (!bytes || bytes->size() < 16) return out;
        std::uint32_t v[4];
        std::copy_n(bytes->data(), 16, reinterpret_cast<std::uint8_t*>(v));
        out = {static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]),
               static_cast<int>(v[3])};
        return out;
    };
    Geometry g;
    g.frame = extents(connection_.takeProperty(frameCookie, XCB_ATOM_CARDINAL));
    g.shadow = extents(connection_.takeProperty(shadowCookie, XCB_ATOM_CARDINAL));
    if (!size || !origin) return std::nullopt;
    g.x = origin->dst_x;
    g.y = origin->dst_y;
    g.width = size->width;
    g.height = size->height;
    const int border = size->border_width;
    g.frame.left += border;
    g.frame.right += border;
    g.frame.top += border;
    g.frame.bottom += border;
    return g;
}

std::vector<ClientWindow> X11Accessibility::windowsTopmostFirst(int processIdentifier) {
    std::vector<ClientWindow> out;
    for (ClientWindow& window : connection_.clientWindows(X11Connection::ClientOrder::stacking)) {
        if (window.processIdentifier == processIdentifier) out.push_back(std::move(window));
    }
    std::reverse(out.begin(), out.end());
    return out;
}

std::optional<xcb_window_t> X11Accessibility::activeOrTopmostWindow(int processIdentifier) {
    const auto windows = windowsTopmostFirst(processIdentifier);
    if (windows.empty()) return std::nullopt;
    if (auto active = connection_.activeWindow()) {
        for (const ClientWindow& window : windows) {
            if (window.id == *active) return window.id;
        }
    }
    return windows.front().id;
}

bool X11Accessibility::hasFixedSize(xcb_window_t window) {
    auto bytes = connection_.property(window, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 18);
    if (!bytes || bytes->size() < 9 * 4) return false;
    std::uint32_t v[9];
    std::copy_n(bytes->data(), sizeof v, reinterpret_cast<std::uint8_t*>(v));
    const std::uint32_t flags = v[0];
    return (flags & minSizeHint) != 0 && (flags & maxSizeHint) != 0 && v[5] == v[7] && v[6] == v[8];
}

AXResult<xcb_window_t> X11Accessibility::existingWindow(const AXElement& element) {
    // X11 has windows only; nothing stands for a control.
    if (element.kind != AXElement::Kind::window) return AccessibilityError::invalidUIElement;
    const auto window = static_cast<xcb_window_t>(element.handle);
    if (!connection_.exists(window)) return AccessibilityError::invalidUIElement;
    return window;
}

// --- Applications ---

AXResult<AXElement> X11Accessibility::focusedWindow(int processIdentifier) {
    const auto window = activeOrTopmostWindow(processIdentifier);
    if (!window) return AccessibilityError::invalidUIElement;
    return AXElement{AXElement::Kind::window, processIdentifier, *window};
}

AXResult<AXElement> X11Accessibility::mainWindow(int processIdentifier) {
    return focusedWindow(processIdentifier);
}

AXResult<std::vector<AXElement>> X11Accessibility::windows(int processIdentifier) {
    const auto windows = windowsTopmostFirst(processIdentifier);
    // A process without client windows is no application with an interface.
    if (windows.empty()) return AccessibilityError::invalidUIElement;
    std::vector<AXElement> elements;
    for (const ClientWindow& window : windows)
        elements.push_back({AXElement::Kind::window, processIdentifier, window.id});
    return elements;
}

AXResult<AXElement> X11Accessibility::focusedElement(int) {
    // X11 has no notion of a focused control.
    return AccessibilityError::noValue;
}

AXResult<AXElement> X11Accessibility::systemFocusedElement() {
    return AccessibilityError::noValue;
}

AXResult<> X11Accessibility::bringToFront(int processIdentifier) {
    const auto window = activeOrTopmostWindow(processIdentifier);
    if (!window) return AccessibilityError::cannotComplete;
    activateAndRaise(*window);
    return {};
}

AXResult<> X11Accessibility::activateOwnWindow(int processIdentifier, const AXElement& window) {
    if (window.kind != AXElement::Kind::window) return AccessibilityError::illegalArgument;
    const auto windows = windowsTopmostFirst(processIdentifier);
    const bool owned = std::any_of(windows.begin(), windows.end(),
                                   [&](const ClientWindow& w) { return w.id == window.handle; });
    if (!owned) return AccessibilityError::illegalArgument;
    connection_.requestActivation(static_cast<xcb_window_t>(window.handle));
    return {};
}

AXResult<> X11Accessibility::setFocusedWindow(int processIdentifier, const AXElement& window) {
    return activateOwnWindow(processIdentifier, window);
}

AXResult<> X11Accessibility::setMainWindow(int processIdentifier, const AXElement& window) {
    return activateOwnWindow(processIdentifier, window);
}

AXResult<> X11Accessibility::setFocusedElement(int, const AXElement&) {
    return AccessibilityError::attributeUnsupported;
}

AXResult<bool> X11Accessibility::isEnhancedUserInterface(int) {
    return AccessibilityError::attributeUnsupported;
}

AXResult<> X11Accessibility::setEnhancedUserInterface(int, bool) {
    return AccessibilityError::attributeUnsupported;
}

// --- Windows ---

AXResult<platform::AXRole> X11Accessibility::role(const AXElement& element) {
    const auto window = existingWindow(element);
    if (!window) return window.error();
    const auto described = connection_.describeWindows({window.value()});
    const bool isWindow = !described.empty() && described.front().type != WindowType::other;
    return isWindow ? platform::AXRole::window : platform::AXRole::other;
}

AXResult<platform::Rect> X11Accessibility::frame(const AXElement& element) {
    if (element.kind != AXElement::Kind::window) return AccessibilityError::invalidUIElement;
    const auto g = geometry(static_cast<xcb_window_t>(element.handle));
    if (!g) return AccessibilityError::invalidUIElement;
    return g->outer();
}

AXResult<bool> X11Accessibility::isMinimised(const AXElement& element) {
    const auto window = existingWindow(element);
    if (!window) return window.error();
    return connection_.hasState(window.value(), "_NET_WM_STATE_HIDDEN");
}

AXResult<bool> X11Accessibility::isFullScreen(const AXElement& element) {
    const auto window = existingWindow(element);
    if (!window) return window.error();
    return connection_.hasState(window.value(), "_NET_WM_STATE_FULLSCREEN");
}

AXResult<> X11Accessibility::leaveFullScreen(const AXElement& element) {
    const auto window = existingWindow(element);
    if (!window) return window.error();
    connection_.requestState(window.value(), false, "_NET_WM_STATE_FULLSCREEN");
    // The caller reads the window right after: let the window manager catch up first.
    waitUntil(stateChangeBound,
              [&] { return !connection_.hasState(window.value(), "_NET_WM_STATE_FULLSCREEN"); });
    return {};
}

AXResult<bool> X11Accessibility::isResizable(const AXElement& element) {
    const auto window = existingWindow(element);
    if (!window) return window.error();
    return !hasFixedSize(window.value());
}

AXResult<> X11Accessibility::setPosition(const AXElement& element, platform::Point origin) {
    const auto window = existingWindow(element);
    if (!window) return window.error();
    return moveResize(window.value(), origin, std::nullopt);
}

AXResult<> X11Accessibility::setSize(const AXElement& element, platform::Size size) {
    const auto window = existingWindow(element);
    if (!window) return window.error();
    if (hasFixedSize(window.value())) return AccessibilityError::cannotComplete;
    return moveResize(window.value(), std::nullopt, size);
}

AXResult<> X11Accessibility::raise(const AXElement& element) {
    const auto window = existingWindow(element);
    if (!window) return window.error();
    activateAndRaise(window.value());
    return {};
}

AXResult<> X11Accessibility::focus(const AXElement&) {
    return AccessibilityError::attributeUnsupported;
}

void X11Accessibility::activateAndRaise(xcb_window_t window) {
    const bool wasHidden = connection_.hasState(window, "_NET_WM_STATE_HIDDEN");
    connection_.requestActivation(window);
    connection_.requestRaise(window);
    // Raising is how a minimised window is brought back; a following read should see it back.
    if (wasHidden) {
        waitUntil(stateChangeBound, [&] { return !connection_.hasState(window, "_NET_WM_STATE_HIDDEN"); });
    }
}

void X11Accessibility::leaveMaximized(xcb_window_t window) {
    auto maximized = [&] {
        const auto states = connection_.atoms(window, "_NET_WM_STATE");
        const xcb_atom_t vertical = connection_.atom("_NET_WM_STATE_MAXIMIZED_VERT");
        const xcb_atom_t horizontal = connection_.atom("_NET_WM_STATE_MAXIMIZED_HORZ");
        return std::any_of(states.begin(), states.end(),
                           [&](xcb_atom_t state) { return state == vertical || state == horizontal; });
    };
    // A maximised window ignores moves and resizes under most window managers.
    if (!maximized()) return;
    connection_.requestState(window, false, "_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ");
    waitUntil(stateChangeBound, [&] { return !maximized(); });
}

AXResult<> X11Accessibility::moveResize(xcb_window_t window, std::optional<platform::Point> origin,
                                        std::optional<platform::Size> size) {
    leaveMaximized(window);
    const auto before = geometry(window);
    if (!before) return AccessibilityError::invalidUIElement;
    const Extents& frame = before->frame;
    const Extents& shadow = before->shadow;

    // The window manager places its frame's top-left corner (north-west gravity) and sizes the
    // client: the outer frame we report has the shadows of client-side decorations taken off.
    std::int32_t x = 0, y = 0, width = 0, height = 0;
    std::uint32_t flags = northWestGravity | sourcePager;
    if (origin) {
        x = rounded(origin->x) - shadow.left;
        y = rounded(origin->y) - shadow.top;
        flags |= moveResizeX | moveResizeY;
    }
    if (size) {
        width = std::max(1, rounded(size->width) - frame.left - frame.right + shadow.left + shadow.right);
        height = std::max(1, rounded(size->height) - frame.top - frame.bottom + shadow.top + shadow.bottom);
        flags |= moveResizeWidth | moveResizeHeight;
    }
    if (connection_.isSupported("_NET_MOVERESIZE_WINDOW")) {
        connection_.sendRootMessage(window, "_NET_MOVERESIZE_WINDOW", flags, static_cast<std::uint32_t>(x),
                                    static_cast<std::uint32_t>(y), static_cast<std::uint32_t>(width),
                                    static_cast<std::uint32_t>(height));
    } else {
        std::uint16_t mask = 0;
        std::uint32_t values[4];
        int count = 0;
        if (origin) {
            mask |= XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y;
            values[count++] = static_cast<std::uint32_t>(x);
            values[count++] = static_cast<std::uint32_t>(y);
        }
        if (size) {
            mask |= XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT;
            values[count++] = static_cast<std::uint32_t>(width);
            values[count++] = static_cast<std::uint32_t>(height);
        }
        xcb_void_cookie_t cookie = xcb_configure_window_checked(connection_.raw(), window, mask, values);
        std::free(xcb_request_check(connection_.raw(), cookie));
    }

    // Return once the window reports the new frame, so that a read right after sees it; a window
    // manager that adjusts the request (size limits, screen edges) ends the wait once the window
    // has changed and then stays put.
    const platform::Rect start = before->outer();
    std::optional<platform::Rect> last;
    int steady = 0;
    waitUntil(geometryBound, [&] {
        const auto now = geometry(window);
        if (!now) return true;  // gone
        const platform::Rect outer = now->outer();
        const bool atOrigin = !origin || (outer.x == rounded(origin->x) && outer.y == rounded(origin->y));
        const bool atSize =
            !size || (outer.width == rounded(size->width) && outer.height == rounded(size->height));
        if (atOrigin && atSize) return true;
        steady = last && *last == outer && outer != start ? steady + 1 : 0;
        last = outer;
        return steady >= 4;
    });
    if (!connection_.exists(window)) return AccessibilityError::invalidUIElement;
    return {};
}

}  // namespace quenlit::x11
