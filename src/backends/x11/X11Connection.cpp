#include "backends/x11/X11Connection.h"

#include <QGuiApplication>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

namespace quenlit::x11 {
namespace {

std::vector<std::uint32_t> words(const std::optional<std::vector<std::uint8_t>>& bytes) {
    if (!bytes) return {};
    std::vector<std::uint32_t> out(bytes->size() / 4);
    if (!out.empty()) std::memcpy(out.data(), bytes->data(), out.size() * 4);
    return out;
}

bool contains(const std::vector<std::uint32_t>& list, std::uint32_t value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

}  // namespace

std::optional<X11Connection> X11Connection::fromQt() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr) return std::nullopt;
    return X11Connection(x11->connection(), 0);
}

X11Connection::X11Connection(xcb_connection_t* connection, int screenNumber) : connection_(connection) {
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; it.rem > 0; ++i, xcb_screen_next(&it)) {
        if (i == screenNumber || screen_ == nullptr) screen_ = it.data;
        if (i == screenNumber) break;
    }
}

xcb_atom_t X11Connection::atom(std::string_view name) {
    std::string key(name);
    {
        std::lock_guard lock(cache_->mutex);
        if (auto it = cache_->atoms.find(key); it != cache_->atoms.end()) return it->second;
    }
    auto cookie = xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(key.size()), key.data());
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection_, cookie, nullptr));
    const xcb_atom_t value = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    // A failed intern is not cached: the next call asks again.
    if (value != XCB_ATOM_NONE) {
        std::lock_guard lock(cache_->mutex);
        cache_->atoms.emplace(std::move(key), value);
    }
    return value;
}

std::string X11Connection::atomName(xcb_atom_t atom) {
    Reply<xcb_get_atom_name_reply_t> reply(
        xcb_get_atom_name_reply(connection_, xcb_get_atom_name(connection_, atom), nullptr));
    if (!reply) return {};
    return std::string(xcb_get_atom_name_name(reply.get()),
                       static_cast<std::size_t>(xcb_get_atom_name_name_length(reply.get())));
}

std::optional<std::vector<std::uint8_t>> X11Connection::property(xcb_window_t window, xcb_atom_t property,
                                                                 xcb_atom_t type, std::uint32_t maxLongs) {
    return takeProperty(requestProperty(window, property, type, maxLongs), type);
}

xcb_get_property_cookie_t X11Connection::requestProperty(xcb_window_t window, xcb_atom_t property,
                                                         xcb_atom_t type, std::uint32_t maxLongs) {
    return xcb_get_property(connection_, 0, window, property, type, 0, maxLongs);
}

std::optional<std::vector<std::uint8_t>> X11Connection::takeProperty(xcb_get_property_cookie_t cookie,
                                                                     xcb_atom_t type) {
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection_, cookie, &error));
    std::free(error);
    if (!reply || reply->type == XCB_ATOM_NONE) return std::nullopt;
    if (type != XCB_ATOM_ANY && reply->type != type) return std::nullopt;
    const auto* data = static_cast<const std::uint8_t*>(xcb_get_property_value(reply.get()));
    const int length = xcb_get_property_value_length(reply.get());
    return std::vector<std::uint8_t>(data, data + length);
}

std::optional<std::vector<std::uint32_t>> X11Connection::cardinals(xcb_window_t window,
                                                                   std::string_view name) {
    auto bytes = property(window, atom(name), XCB_ATOM_CARDINAL);
    if (!bytes) return std::nullopt;
    return words(bytes);
}

std::optional<std::vector<xcb_window_t>> X11Connection::windows(xcb_window_t window, std::string_view name) {
    auto bytes = property(window, atom(name), XCB_ATOM_WINDOW);
    if (!bytes) return std::nullopt;
    return words(bytes);
}

std::optional<std::uint32_t> X11Connection::cardinal(xcb_window_t window, std::string_view name) {
    auto values = cardinals(window, name);
    if (!values || values->empty()) return std::nullopt;
    return values->front();
}

std::optional<xcb_window_t> X11Connection::window(xcb_window_t w, std::string_view name) {
    auto values = windows(w, name);
    if (!values || values->empty()) return std::nullopt;
    return values->front();
}

std::optional<std::string> X11Connection::utf8(xcb_window_t window, std::string_view name) {
    auto bytes = property(window, atom(name), atom("UTF8_STRING"));
    if (!bytes) return std::nullopt;
    return std::string(bytes->begin(), bytes->end());
}

std::vector<xcb_atom_t> X11Connection::atoms(xcb_window_t window, std::string_view name) {
    return words(property(window, atom(name), XCB_ATOM_ATOM));
}

std::optional<std::pair<std::string, std::string>> X11Connection::wmClass(xcb_window_t window) {
    auto bytes = property(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING);
    if (!bytes || bytes->empty()) return std::nullopt;
    std::string text(bytes->begin(), bytes->end());
    const std::size_t split = text.find('\0');
    std::string instance = text.substr(0, split);
    std::string klass = split == std::string::npos ? std::string() : text.substr(split + 1);
    if (!klass.empty() && klass.back() == '\0') klass.pop_back();
    return std::make_pair(instance, klass);
}

bool X11Connection::isSupported(std::string_view name) {
    const xcb_atom_t wanted = atom(name);
    return wanted != XCB_ATOM_NONE && contains(atoms(root(), "_NET_SUPPORTED"), wanted);
}

std::optional<xcb_window_t> X11Connection::activeWindow() {
    auto active = window(root(), "_NET_ACTIVE_WINDOW");
    if (!active || *active == XCB_WINDOW_NONE) return std::nullopt;
    return active;
}

bool X11Connection::hasState(xcb_window_t window, std::string_view state) {
    return contains(atoms(window, "_NET_WM_STATE"), atom(state));
}

std::vector<ClientWindow> X11Connection::clientWindows(ClientOrder order) {
    const auto list =
        windows(root(), order == ClientOrder::stacking ? "_NET_CLIENT_LIST_STACKING" : "_NET_CLIENT_LIST");
    if (!list) return {};
    return describeWindows(*list);
}

std::vector<ClientWindow> X11Connection::describeWindows(const std::vector<xcb_window_t>& list) {
    const xcb_atom_t utf8String = atom("UTF8_STRING");
    const xcb_atom_t pidAtom = atom("_NET_WM_PID");
    const xcb_atom_t typeAtom = atom("_NET_WM_WINDOW_TYPE");
    const xcb_atom_t stateAtom = atom("_NET_WM_STATE");
    const xcb_atom_t nameAtom = atom("_NET_WM_NAME");
    struct Pending {
        xcb_get_property_cookie_t pid, type, state, wmClass, transientFor, netName, name;
    };
    // Every request goes out before the first reply is read: one round trip for the whole list.
    std::vector<Pending> pending;
    pending.reserve(list.size());
    for (xcb_window_t id : list) {
        pending.push_back({requestProperty(id, pidAtom, XCB_ATOM_CARDINAL, 1),
                           requestProperty(id, typeAtom, XCB_ATOM_ATOM, 64),
                           requestProperty(id, stateAtom, XCB_ATOM_ATOM, 64),
                           requestProperty(id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 256),
                           requestProperty(id, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 1),
                           requestProperty(id, nameAtom, utf8String, 1024),
                           requestProperty(id, XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 1024)});
    }
    const xcb_atom_t normal = atom("_NET_WM_WINDOW_TYPE_NORMAL");
    const xcb_atom_t dialog = atom("_NET_WM_WINDOW_TYPE_DIALOG");
    std::vector<xcb_atom_t> otherTypes;
    for (const char* name :
         {"_NET_WM_WINDOW_TYPE_DESKTOP", "_NET_WM_WINDOW_TYPE_DOCK", "_NET_WM_WINDOW_TYPE_TOOLBAR",
          "_NET_WM_WINDOW_TYPE_MENU", "_NET_WM_WINDOW_TYPE_UTILITY", "_NET_WM_WINDOW_TYPE_SPLASH",
          "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU", "_NET_WM_WINDOW_TYPE_POPUP_MENU",
          "_NET_WM_WINDOW_TYPE_TOOLTIP", "_NET_WM_WINDOW_TYPE_NOTIFICATION", "_NET_WM_WINDOW_TYPE_COMBO",
          "_NET_WM_WINDOW_TYPE_DND"}) {
        otherTypes.push_back(atom(name));
    }
    const xcb_atom_t skipTaskbar = atom("_NET_WM_STATE_SKIP_TASKBAR");
    const xcb_atom_t hidden = atom("_NET_WM_STATE_HIDDEN");
    const xcb_atom_t fullScreen = atom("_NET_WM_STATE_FULLSCREEN");

    std::vector<ClientWindow> out;
    out.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        const Pending& p = pending[i];
        ClientWindow client;
        client.id = list[i];
        if (auto pid = words(takeProperty(p.pid, XCB_ATOM_CARDINAL)); !pid.empty()) {
            client.processIdentifier = static_cast<int>(pid.front());
        }
        const auto types = words(takeProperty(p.type, XCB_ATOM_ATOM));
        const auto states = words(takeProperty(p.state, XCB_ATOM_ATOM));
        const auto classBytes = takeProperty(p.wmClass, XCB_ATOM_STRING);
        const bool transient = !words(takeProperty(p.transientFor, XCB_ATOM_WINDOW)).empty();
        const auto netName = takeProperty(p.netName, utf8String);
        const auto name = takeProperty(p.name, XCB_ATOM_ANY);

        // The first type the window manager knows is the one it uses.
        client.type = transient ? WindowType::dialog : WindowType::normal;
        for (std::uint32_t type : types) {
            if (type == normal || type == dialog || contains(otherTypes, type)) {
                client.type = type == normal   ? WindowType::normal
                              : type == dialog ? WindowType::dialog
                                               : WindowType::other;
                break;
            }
        }
        client.skipTaskbar = contains(states, skipTaskbar);
        client.hidden = contains(states, hidden);
        client.fullScreen = contains(states, fullScreen);
        if (classBytes && !classBytes->empty()) {
            std::string text(classBytes->begin(), classBytes->end());
            const std::size_t split = text.find('\0');
            std::string klass = split == std::string::npos ? std::string() : text.substr(split + 1);
            if (const std::size_t end = klass.find('\0'); end != std::string::npos) klass.resize(end);
            client.wmClass = std::make_pair(text.substr(0, split), klass);
        }
        if (netName && !netName->empty()) {
            client.name = std::string(netName->begin(), netName->end());
        } else if (name && !name->empty()) {
            client.name = std::string(name->begin(), name->end());
        }
        out.push_back(std::move(client));
    }
    return out;
}

bool X11Connection::exists(xcb_window_t window) {
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_get_geometry_reply_t> reply(
        xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), &error));
    std::free(error);
    return reply != nullptr;
}

std::optional<X11Connection::Placement> X11Connection::placement(xcb_window_t window) {
    // Both requests go out before either answer is awaited: one round trip.
    auto geometryCookie = xcb_get_geometry(connection_, window);
    auto translateCookie = xcb_translate_coordinates(connection_, window, root(), 0, 0);
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_get_geometry_reply_t> size(xcb_get_geometry_reply(connection_, geometryCookie, &error));
    std::free(error);
    error = nullptr;
    Reply<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(connection_, translateCookie, &error));
    std::free(error);
    if (!size || !origin) return std::nullopt;
    return Placement{origin->dst_x, origin->dst_y, size->width, size->height, size->border_width};
}

void X11Connection::sendRootMessage(xcb_window_t window, std::string_view type, std::uint32_t d0,
                                    std::uint32_t d1, std::uint32_t d2, std::uint32_t d3, std::uint32_t d4) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom(type);
    event.data.data32[0] = d0;
    event.data.data32[1] = d1;
    event.data.data32[2] = d2;
    event.data.data32[3] = d3;
    event.data.data32[4] = d4;
    xcb_send_event(connection_, 0, root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection_);
}

void X11Connection::requestActivation(xcb_window_t window) {
    sendRootMessage(window, "_NET_ACTIVE_WINDOW", 2, XCB_CURRENT_TIME, 0);
}

void X11Connection::requestRaise(xcb_window_t window) {
    if (isSupported("_NET_RESTACK_WINDOW")) {
        sendRootMessage(window, "_NET_RESTACK_WINDOW", 2, XCB_WINDOW_NONE, XCB_STACK_MODE_ABOVE);
        return;
    }
    // Redirected to the window manager as a ConfigureRequest.
    const std::uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_void_cookie_t cookie =
        xcb_configure_window_checked(connection_, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    std::free(xcb_request_check(connection_, cookie));
}

void X11Connection::requestIconify(xcb_window_t window) {
    constexpr std::uint32_t iconicState = 3;
    sendRootMessage(window, "WM_CHANGE_STATE", iconicState);
}

void X11Connection::requestState(xcb_window_t window, bool add, std::string_view first,
                                 std::string_view second) {
    sendRootMessage(window, "_NET_WM_STATE", add ? 1 : 0, atom(first), second.empty() ? 0 : atom(second), 2);
}

void X11Connection::sync() {
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

bool waitUntil(std::chrono::milliseconds bound, const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (true) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace quenlit::x11
