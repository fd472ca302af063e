#pragma once

// The X server connection the desktop program shares with Qt, and the few helpers every X11
// service of the backend needs: interned atoms, window properties, client messages to the window
// manager. Main thread only (the connection belongs to Qt's event loop).

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quenlit::x11 {

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
    std::optional<std::vector<std::uint8_t>> property(xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                                                      std::uint32_t maxLongs = 1u << 20);
    std::optional<std::vector<std::uint32_t>> cardinals(xcb_window_t window, std::string_view name);
    std::optional<std::vector<xcb_window_t>> windows(xcb_window_t window, std::string_view name);
    std::optional<std::uint32_t> cardinal(xcb_window_t window, std::string_view name);
    std::optional<xcb_window_t> window(xcb_window_t window, std::string_view name);
    std::optional<std::string> utf8(xcb_window_t window, std::string_view name);
    std::vector<xcb_atom_t> atoms(xcb_window_t window, std::string_view name);
    // WM_CLASS as (instance, class).
    std::optional<std::pair<std::string, std::string>> wmClass(xcb_window_t window);

    // A client message to the root window, as EWMH asks for requests to the window manager.
    void sendRootMessage(xcb_window_t window, std::string_view type, std::uint32_t d0, std::uint32_t d1 = 0,
                         std::uint32_t d2 = 0, std::uint32_t d3 = 0, std::uint32_t d4 = 0);
    void flush() { xcb_flush(connection_); }

private:
    xcb_connection_t* connection_;
    xcb_screen_t* screen_ = nullptr;
    std::unordered_map<std::string, xcb_atom_t> atoms_;
};

}  // namespace quenlit::x11
