#include "backends/x11/X11Accessibility.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace quenlit::x11 {
namespace {

using platform::AXElement;
using platform::AXError;
using platform::AXValue;

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

AXElement X11Accessibility::applicationElement(int processIdentifier) {
    return {AXElement::Kind::application, processIdentifier, 0};
}

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

std::optional<xcb_window_t> X11Accessibility::focusedWindow(int processIdentifier) {
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

AXError X11Accessibility::copyAttribute(const AXElement& element, std::string_view attribute,
                                        AXValue& value) {
    switch (element.kind) {
        case AXElement::Kind::application:
            return copyApplicationAttribute(element.processIdentifier, attribute, value);
        case AXElement::Kind::window:
            return copyWindowAttribute(static_cast<xcb_window_t>(element.handle), attribute, value);
        case AXElement::Kind::systemWide:
            // X11 has no notion of a focused control.
            return attribute == platform::ax::focusedUIElement ? AXError::noValue
                                                               : AXError::attributeUnsupported;
        case AXElement::Kind::control:
            break;
    }
    return AXError::invalidUIElement;
}

AXError X11Accessibility::copyApplicationAttribute(int pid, std::string_view attribute, AXValue& value) {
    namespace ax = platform::ax;
    if (attribute == ax::focusedUIElement) return AXError::noValue;
    if (attribute == ax::enhancedUserInterface) return AXError::attributeUnsupported;
    const auto windows = windowsTopmostFirst(pid);
    if (windows.empty()) return AXError::invalidUIElement;
    if (attribute == ax::windows) {
        std::vector<AXElement> elements;
        for (const ClientWindow& window : windows)
            elements.push_back({AXElement::Kind::window, pid, window.id});
        value = std::move(elements);
        return AXError::success;
    }
    if (attribute == ax::focusedWindow || attribute == ax::mainWindow) {
        const auto window = focusedWindow(pid);
        if (!window) return AXError::noValue;
        value = AXElement{AXElement::Kind::window, pid, *window};
        return AXError::success;
    }
    if (attribute == ax::role) {
        value = std::string("AXApplication");
        return AXError::success;
    }
    if (attribute == ax::frontmost) {
        const auto active = connection_.activeWindow();
        value = active && std::any_of(windows.begin(), windows.end(),
                                      [&](const ClientWindow& window) { return window.id == *active; });
        return AXError::success;
    }
    return AXError::attributeUnsupported;
}

AXError X11Accessibility::copyWindowAttribute(xcb_window_t window, std::string_view attribute,
                                              AXValue& value) {
    namespace ax = platform::ax;
    if (attribute == ax::position || attribute == ax::size) {
        const auto g = geometry(window);
        if (!g) return AXError::invalidUIElement;
        const platform::Rect outer = g->outer();
        if (attribute == ax::position) {
            value = outer.origin();
        } else {
            value = outer.size();
        }
        return AXError::success;
    }
    if (!connection_.exists(window)) return AXError::invalidUIElement;
    if (attribute == ax::role) {
        const auto described = connection_.describeWindows({window});
        const bool isWindow = !described.empty() && described.front().type != WindowType::other;
        value = std::string(isWindow ? ax::windowRole : std::string_view("AXUnknown"));
        return AXError::success;
    }
    if (attribute == ax::minimized) {
        value = connection_.hasState(window, "_NET_WM_STATE_HIDDEN");
        return AXError::success;
    }
    if (attribute == ax::fullScreen) {
        value = connection_.hasState(window, "_NET_WM_STATE_FULLSCREEN");
        return AXError::success;
    }
    return AXError::attributeUnsupported;
}

AXError X11Accessibility::setAttribute(const AXElement& element, std::string_view attribute,
                                       const AXValue& value) {
    namespace ax = platform::ax;
    if (attribute == ax::enhancedUserInterface || attribute == ax::focusedUIElement ||
        attribute == ax::focused) {
        return AXError::attributeUnsupported;
    }
    if (element.kind == AXElement::Kind::application) {
        if (attribute == ax::frontmost) {
            const bool* on = std::get_if<bool>(&value);
            if (on == nullptr || !*on) return AXError::illegalArgument;
            const auto window = focusedWindow(element.processIdentifier);
            if (!window) return AXError::cannotComplete;
            activateAndRaise(*window);
            return AXError::success;
        }
        if (attribute == ax::focusedWindow || attribute == ax::mainWindow) {
            const auto* window = std::get_if<AXElement>(&value);
            if (window == nullptr || window->kind != AXElement::Kind::window) return AXError::illegalArgument;
            const auto windows = windowsTopmostFirst(element.processIdentifier);
            const bool owned = std::any_of(windows.begin(), windows.end(),
                                           [&](const ClientWindow& w) { return w.id == window->handle; });
            if (!owned) return AXError::illegalArgument;
            connection_.requestActivation(static_cast<xcb_window_t>(window->handle));
            return AXError::success;
        }
        return AXError::attributeUnsupported;
    }
    if (element.kind != AXElement::Kind::window) return AXError::invalidUIElement;
    const auto window = static_cast<xcb_window_t>(element.handle);
    if (!connection_.exists(window)) return AXError::invalidUIElement;

    if (attribute == ax::position) {
        const auto* point = std::get_if<platform::Point>(&value);
        if (point == nullptr) return AXError::illegalArgument;
        return moveResize(window, *point, std::nullopt);
    }
    if (attribute == ax::size) {
        const auto* size = std::get_if<platform::Size>(&value);
        if (size == nullptr) return AXError::illegalArgument;
        if (hasFixedSize(window)) return AXError::cannotComplete;
        return moveResize(window, std::nullopt, *size);
    }
    if (attribute == ax::minimized || attribute == ax::fullScreen) {
        const bool* on = std::get_if<bool>(&value);
        if (on == nullptr) return AXError::illegalArgument;
        const std::string_view state =
            attribute == ax::minimized ? "_NET_WM_STATE_HIDDEN" : "_NET_WM_STATE_FULLSCREEN";
        if (attribute == ax::fullScreen) {
            connection_.requestState(window, *on, state);
        } else if (*on) {
            connection_.requestIconify(window);
        } else {
            // Activation is what brings a minimised window back under every window manager.
            connection_.requestActivation(window);
        }
        // The caller reads the window right after: let the window manager catch up first.
        waitUntil(stateChangeBound, [&] { return connection_.hasState(window, state) == *on; });
        return AXError::success;
    }
    return AXError::attributeUnsupported;
}

AXError X11Accessibility::isAttributeSettable(const AXElement& element, std::string_view attribute,
                                              bool& settable) {
    namespace ax = platform::ax;
    settable = false;
    if (element.kind == AXElement::Kind::application) {
        if (attribute == ax::frontmost || attribute == ax::focusedWindow || attribute == ax::mainWindow) {
            settable = true;
            return AXError::success;
        }
        if (attribute == ax::windows || attribute == ax::role) return AXError::success;
        return AXError::attributeUnsupported;
    }
    if (element.kind != AXElement::Kind::window) return AXError::invalidUIElement;
    const auto window = static_cast<xcb_window_t>(element.handle);
    if (!connection_.exists(window)) return AXError::invalidUIElement;
    if (attribute == ax::size) {
        settable = !hasFixedSize(window);
        return AXError::success;
    }
    if (attribute == ax::position || attribute == ax::minimized || attribute == ax::fullScreen) {
        settable = true;
        return AXError::success;
    }
    if (attribute == ax::role) return AXError::success;
    return AXError::attributeUnsupported;
}

AXError X11Accessibility::performAction(const AXElement& element, std::string_view action) {
    if (action != platform::ax::raise) return AXError::actionUnsupported;
    if (element.kind != AXElement::Kind::window) return AXError::actionUnsupported;
    const auto window = static_cast<xcb_window_t>(element.handle);
    if (!connection_.exists(window)) return AXError::invalidUIElement;
    activateAndRaise(window);
    return AXError::success;
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

AXError X11Accessibility::moveResize(xcb_window_t window, std::optional<platform::Point> origin,
                                     std::optional<platform::Size> size) {
    leaveMaximized(window);
    const auto before = geometry(window);
    if (!before) return AXError::invalidUIElement;
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
    return connection_.exists(window) ? AXError::success : AXError::invalidUIElement;
}

}  // namespace quenlit::x11
