#pragma once

// The X server connection the desktop program shares with Qt, and the few helpers every X11
// service of the backend needs: interned atoms, window properties, the window manager's client
// windows and the EWMH requests made to it.
//
// libxcb is thread-safe and so is the atom cache, so the read helpers may be called from a
// background thread (the running-application list is). Requests that change windows are made on
// the main thread. Every call is a round trip to the server, which always answers; nothing here
// waits on another client.

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quenlit::x11 {

// An xcb reply, freed with the C allocator as xcb asks.
struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

// What the window manager treats a client window as (EWMH window types; an untyped window is
// normal, or a dialog when it is transient for another).
enum class WindowType { normal, dialog, other };

// A managed client window and the properties the services look at, read in one batch.
struct ClientWindow {
    xcb_window_t id = XCB_WINDOW_NONE;
    int processIdentifier = 0;  // _NET_WM_PID, 0 when the client did not set it
    WindowType type = WindowType::normal;
    bool skipTaskbar = false;
    bool hidden = false;  // minimised (_NET_WM_STATE_HIDDEN)
    bool fullScreen = false;
    std::optional<std::pair<std::string, std::string>> wmClass;  // (instance, class)
    std::optional<std::string> name;                             // _NET_WM_NAME, else WM_NAME
};

class X11Connection {
  public:
    // The connection of the running QGuiApplication; absent when it does not run on X11.
    static std::optional<X11Connection> fromQt();
    X11Connection(xcb_connection_t* connection, int screenNumber);

    xcb_connection_t* raw() const { return connection_; }
    xcb_screen_t* screen() const { return screen_; }
    xcb_window_t root() const { return screen_->root; }

    // Interned once per name and cached.
    xcb_atom_t atom(std::string_view name);
    std::string atomName(xcb_atom_t atom);

    // Reads a property; absent when the window or the property does not exist (or has another type
    // than `type`, unless `type` is XCB_ATOM_ANY).
    std::optional<std::vector<std::uint8_t>> property(xcb_window_t window, xcb_atom_t property,
                                                      xcb_atom_t type, std::uint32_t maxLongs = 1u << 20);
    // The same in two halves, so that many reads share one round trip: send every request first,
    // then take the replies.
    xcb_get_property_cookie_t requestProperty(xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                                              std::uint32_t maxLongs = 1u << 20);
    std::optional<std::vector<std::uint8_t>> takeProperty(xcb_get_property_cookie_t cookie, xcb_atom_t type);

    std::optional<std::vector<std::uint32_t>> cardinals(xcb_window_t window, std::string_view name);
    std::optional<std::vector<xcb_window_t>> windows(xcb_window_t window, std::string_view name);
    std::optional<std::uint32_t> cardinal(xcb_window_t window, std::string_view name);
    std::optional<xcb_window_t> window(xcb_window_t window, std::string_view name);
    std::optional<std::string> utf8(xcb_window_t window, std::string_view name);
    std::vector<xcb_atom_t> atoms(xcb_window_t window, std::string_view name);
    // WM_CLASS as (instance, class).
    std::optional<std::pair<std::string, std::string>> wmClass(xcb_window_t window);

    // Whether the window manager lists the atom in _NET_SUPPORTED (read afresh: it can restart).
    bool isSupported(std::string_view name);
    // The window owning _NET_ACTIVE_WINDOW; absent when none is active.
    std::optional<xcb_window_t> activeWindow();
    bool hasState(xcb_window_t window, std::string_view state);
    // The managed client windows: in mapping order (_NET_CLIENT_LIST), or from the bottom of the
    // stack to its top (_NET_CLIENT_LIST_STACKING).
    enum class ClientOrder { mapping, stacking };
    std::vector<ClientWindow> clientWindows(ClientOrder order);
    // The same properties for the given windows, in one round trip.
    std::vector<ClientWindow> describeWindows(const std::vector<xcb_window_t>& list);
    // Whether the window still exists.
    bool exists(xcb_window_t window);
    // A window's place in root coordinates and its size, its X border apart; absent once it is gone.
    struct Placement {
        int x = 0, y = 0;
        int width = 0, height = 0;
        int border = 0;
    };
    std::optional<Placement> placement(xcb_window_t window);

    // A client message to the root window, as EWMH asks for requests to the window manager.
    void sendRootMessage(xcb_window_t window, std::string_view type, std::uint32_t d0, std::uint32_t d1 = 0,
                         std::uint32_t d2 = 0, std::uint32_t d3 = 0, std::uint32_t d4 = 0);
    // Asks the window manager to activate the window (mapping and un-minimising it), as a pager
    // does (source indication 2), so focus-stealing prevention lets it through.
    void requestActivation(xcb_window_t window);
    // Asks the window manager to put the window on top of its stack.
    void requestRaise(xcb_window_t window);
    // Minimises the window (ICCCM WM_CHANGE_STATE to IconicState).
    void requestIconify(xcb_window_t window);
    // Adds or removes one or two _NET_WM_STATE atoms.
    void requestState(xcb_window_t window, bool add, std::string_view first, std::string_view second = {});
    void flush() { xcb_flush(connection_); }
    // Waits until the server has handled every request sent so far.
    void sync();

  private:
    struct AtomCache {
        std::mutex mutex;
        std::unordered_map<std::string, xcb_atom_t> atoms;
    };
    xcb_connection_t* connection_;
    xcb_screen_t* screen_ = nullptr;
    std::unique_ptr<AtomCache> cache_ = std::make_unique<AtomCache>();
};

// Polls `condition` every few milliseconds until it holds or `bound` has passed; whether it held.
// For the short waits on the window manager (a state change, a new geometry), which the server
// reports only by properties.
bool waitUntil(std::chrono::milliseconds bound, const std::function<bool()>& condition);

}  // namespace quenlit::x11
