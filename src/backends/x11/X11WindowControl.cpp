#include "backends/x11/X11WindowControl.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace quenlit::x11 {
namespace {

using platform::WindowInfo;
using platform::WindowRef;

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

Failure gone(const WindowRef& window) {
    return Failure::gone("window " + std::to_string(window.id) + " is gone");
}

}  // namespace

platform::Rect X11WindowControl::Geometry::outer() const {
    return {static_cast<double>(x - frame.left + shadow.left),
            static_cast<double>(y - frame.top + shadow.top),
            static_cast<double>(width + frame.left + frame.right - shadow.left - shadow.right),
            static_cast<double>(height + frame.top + frame.bottom - shadow.top - shadow.bottom)};
}

X11WindowControl::X11WindowControl(X11Connection& connection) : connection_(connection) {}

std::optional<X11WindowControl::Geometry> X11WindowControl::geometry(xcb_window_t window) {
    auto frameCookie =
        connection_.requestProperty(window, connection_.atom("_NET_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 4);
    auto shadowCookie =
        connection_.requestProperty(window, connection_.atom("_GTK_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 4);
    const auto place = connection_.placement(window);
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
    if (!place) return std::nullopt;
    g.x = place->x;
    g.y = place->y;
    g.width = place->width;
    g.height = place->height;
    const int border = place->border;
    g.frame.left += border;
    g.frame.right += border;
    g.frame.top += border;
    g.frame.bottom += border;
    return g;
}

std::vector<ClientWindow> X11WindowControl::windowsTopmostFirst(int processIdentifier) {
    std::vector<ClientWindow> out;
    for (ClientWindow& window : connection_.clientWindows(X11Connection::ClientOrder::stacking)) {
        if (window.processIdentifier == processIdentifier) out.push_back(std::move(window));
    }
    std::reverse(out.begin(), out.end());
    return out;
}

std::optional<xcb_window_t> X11WindowControl::activeOrTopmostWindow(int processIdentifier) {
    const auto windows = windowsTopmostFirst(processIdentifier);
    if (windows.empty()) return std::nullopt;
    if (auto active = connection_.activeWindow()) {
        for (const ClientWindow& window : windows) {
            if (window.id == *active) return window.id;
        }
    }
    return windows.front().id;
}

bool X11WindowControl::hasFixedSize(xcb_window_t window) {
    auto bytes = connection_.property(window, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 18);
    if (!bytes || bytes->size() < 9 * 4) return false;
    std::uint32_t v[9];
    std::copy_n(bytes->data(), sizeof v, reinterpret_cast<std::uint8_t*>(v));
    const std::uint32_t flags = v[0];
    return (flags & minSizeHint) != 0 && (flags & maxSizeHint) != 0 && v[5] == v[7] && v[6] == v[8];
}

Result<xcb_window_t> X11WindowControl::existingWindow(const WindowRef& window) {
    const auto id = static_cast<xcb_window_t>(window.id);
    if (!connection_.exists(id)) return gone(window);
    return id;
}

std::optional<WindowInfo> X11WindowControl::describe(int processIdentifier, const ClientWindow& window) {
    const auto g = geometry(window.id);
    if (!g) return std::nullopt;
    WindowInfo info;
    info.ref = {processIdentifier, window.id};
    info.frame = g->outer();
    info.ordinary = window.type != WindowType::other;
    info.minimised = window.hidden;
    info.fullScreen = window.fullScreen;
    info.resizable = !hasFixedSize(window.id);
    return info;
}

Result<std::vector<WindowInfo>> X11WindowControl::windows(int processIdentifier) {
    std::vector<ClientWindow> clients = windowsTopmostFirst(processIdentifier);
    // A process without client windows is no application with an interface.
    if (clients.empty())
        return Failure::gone("process " + std::to_string(processIdentifier) + " has no windows");
    if (auto active = connection_.activeWindow()) {
        const auto it = std::find_if(clients.begin(), clients.end(),
                                     [&](const ClientWindow& w) { return w.id == *active; });
        if (it != clients.end()) std::rotate(clients.begin(), it, it + 1);
    }
    std::vector<WindowInfo> out;
    for (const ClientWindow& client : clients) {
        // One that closed while it was read is left out.
        if (auto info = describe(processIdentifier, client)) out.push_back(*info);
    }
    return out;
}

Result<WindowInfo> X11WindowControl::window(const WindowRef& window) {
    const auto id = existingWindow(window);
    if (!id) return id.error();
    const auto described = connection_.describeWindows({*id});
    if (described.empty()) return gone(window);
    if (auto info = describe(window.processIdentifier, described.front())) return *info;
    return gone(window);
}

Result<> X11WindowControl::setFrame(const WindowRef& window, const platform::Rect& frame, bool resize) {
    const auto id = existingWindow(window);
    if (!id) return id.error();
    const bool sized = resize && !hasFixedSize(*id);
    return moveResize(*id, frame.origin(), sized ? std::optional(frame.size()) : std::nullopt);
}

Result<> X11WindowControl::leaveFullScreen(const WindowRef& window) {
    const auto id = existingWindow(window);
    if (!id) return id.error();
    connection_.requestState(*id, false, "_NET_WM_STATE_FULLSCREEN");
    // The caller reads the window right after: let the window manager catch up first.
    waitUntil(stateChangeBound, [&] { return !connection_.hasState(*id, "_NET_WM_STATE_FULLSCREEN"); });
    return {};
}

Result<> X11WindowControl::activate(const WindowRef& window) {
    const auto id = existingWindow(window);
    if (!id) return id.error();
    activateAndRaise(*id);
    return {};
}

Result<> X11WindowControl::activateApplication(int processIdentifier) {
    const auto window = activeOrTopmostWindow(processIdentifier);
    if (!window) return Failure::gone("process " + std::to_string(processIdentifier) + " has no windows");
    activateAndRaise(*window);
    return {};
}

void X11WindowControl::activateAndRaise(xcb_window_t window) {
    const bool wasHidden = connection_.hasState(window, "_NET_WM_STATE_HIDDEN");
    connection_.requestActivation(window);
    connection_.requestRaise(window);
    // Raising is how a minimised window is brought back; a following read should see it back.
    if (wasHidden) {
        waitUntil(stateChangeBound, [&] { return !connection_.hasState(window, "_NET_WM_STATE_HIDDEN"); });
    }
}

void X11WindowControl::leaveMaximized(xcb_window_t window) {
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

Result<> X11WindowControl::moveResize(xcb_window_t window, platform::Point origin,
                                      std::optional<platform::Size> size) {
    leaveMaximized(window);
    const auto before = geometry(window);
    if (!before) return Failure::gone("window " + std::to_string(window) + " is gone");
    const Extents& frame = before->frame;
    const Extents& shadow = before->shadow;

    // The window manager places its frame's top-left corner (north-west gravity) and sizes the
    // client: the outer frame we report has the shadows of client-side decorations taken off.
    std::int32_t x = 0, y = 0, width = 0, height = 0;
    std::uint32_t flags = northWestGravity | sourcePager | moveResizeX | moveResizeY;
    x = rounded(origin.x) - shadow.left;
    y = rounded(origin.y) - shadow.top;
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
        std::uint16_t mask = XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y;
        std::uint32_t values[4] = {static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), 0, 0};
        int count = 2;
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
        const bool atOrigin = outer.x == rounded(origin.x) && outer.y == rounded(origin.y);
        const bool atSize =
            !size || (outer.width == rounded(size->width) && outer.height == rounded(size->height));
        if (atOrigin && atSize) return true;
        steady = last && *last == outer && outer != start ? steady + 1 : 0;
        last = outer;
        return steady >= 4;
    });
    if (!connection_.exists(window)) return Failure::gone("window " + std::to_string(window) + " is gone");
    return {};
}

}  // namespace quenlit::x11
