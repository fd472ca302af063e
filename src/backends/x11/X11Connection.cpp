#include "backends/x11/X11Connection.h"

#include <QGuiApplication>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace quenlit::x11 {
namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

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
    if (auto it = atoms_.find(key); it != atoms_.end()) return it->second;
    auto cookie = xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(key.size()), key.data());
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection_, cookie, nullptr));
    xcb_atom_t value = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    atoms_.emplace(std::move(key), value);
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
    auto cookie = xcb_get_property(connection_, 0, window, property, type, 0, maxLongs);
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection_, cookie, &error));
    std::free(error);
    if (!reply || reply->type == XCB_ATOM_NONE) return std::nullopt;
    if (type != XCB_ATOM_ANY && reply->type != type) return std::nullopt;
    const auto* data = static_cast<const std::uint8_t*>(xcb_get_property_value(reply.get()));
    const int length = xcb_get_property_value_length(reply.get());
    return std::vector<std::uint8_t>(data, data + length);
}

std::optional<std::vector<std::uint32_t>> X11Connection::cardinals(xcb_window_t window, std::string_view name) {
    auto bytes = property(window, atom(name), XCB_ATOM_CARDINAL);
    if (!bytes) return std::nullopt;
    std::vector<std::uint32_t> out(bytes->size() / 4);
    std::memcpy(out.data(), bytes->data(), out.size() * 4);
    return out;
}

std::optional<std::vector<xcb_window_t>> X11Connection::windows(xcb_window_t window, std::string_view name) {
    auto bytes = property(window, atom(name), XCB_ATOM_WINDOW);
    if (!bytes) return std::nullopt;
    std::vector<xcb_window_t> out(bytes->size() / 4);
    std::memcpy(out.data(), bytes->data(), out.size() * 4);
    return out;
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
    auto bytes = property(window, atom(name), XCB_ATOM_ATOM);
    if (!bytes) return {};
    std::vector<xcb_atom_t> out(bytes->size() / 4);
    std::memcpy(out.data(), bytes->data(), out.size() * 4);
    return out;
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

void X11Connection::sendRootMessage(xcb_window_t window, std::string_view type, std::uint32_t d0, std::uint32_t d1,
                                    std::uint32_t d2, std::uint32_t d3, std::uint32_t d4) {
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

}  // namespace quenlit::x11
