#include "backends/wayland/WaylandConnection.h"

#include "base/Log.h"

#include <ext-data-control-v1-client-protocol.h>
#include <fake-input-client-protocol.h>
#include <virtual-keyboard-unstable-v1-client-protocol.h>
#include <wayland-client.h>
#include <wlr-data-control-unstable-v1-client-protocol.h>
#include <wlr-foreign-toplevel-management-unstable-v1-client-protocol.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace quenlit::wayland {
namespace {

wl_display* open(const std::string& display) {
    if (display.empty()) {
        // Without a name libwayland would try "wayland-0", which in an X11 session may be a
        // compositor nobody meant (a nested one, another user's leftover).
        const char* named = std::getenv("WAYLAND_DISPLAY");
        const char* passed = std::getenv("WAYLAND_SOCKET");
        if ((named == nullptr || *named == '\0') && (passed == nullptr || *passed == '\0')) return nullptr;
        return wl_display_connect(nullptr);
    }
    return wl_display_connect(display.c_str());
}

// Records a global's version in the table, the first seat only.
void note(WaylandGlobals& globals, std::string_view interface, std::uint32_t version) {
    if (interface == wl_seat_interface.name) {
        if (globals.seat == 0) globals.seat = version;
    } else if (interface == zwlr_data_control_manager_v1_interface.name) {
        globals.dataControl = version;
    } else if (interface == ext_data_control_manager_v1_interface.name) {
        globals.extDataControl = version;
    } else if (interface == zwp_virtual_keyboard_manager_v1_interface.name) {
        globals.virtualKeyboard = version;
    } else if (interface == zwlr_foreign_toplevel_manager_v1_interface.name) {
        globals.foreignToplevel = version;
    } else if (interface == org_kde_kwin_fake_input_interface.name) {
        globals.fakeInput = version;
    }
}

}  // namespace

namespace {

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

enum class Wait { done, broken, timedOut };

// Sends the requests and dispatches events until `done` is set, waiting on the display's socket
// with poll rather than in libwayland, so the deadline holds whatever the compositor does.
Wait dispatchUntil(wl_display* d, const bool& done, Clock::time_point deadline) {
    const int fd = wl_display_get_fd(d);
    while (!done) {
        if (wl_display_prepare_read(d) != 0) {
            if (wl_display_dispatch_pending(d) < 0) return Wait::broken;
            continue;
        }
        while (wl_display_flush(d) < 0 && errno == EAGAIN) {
            pollfd writable{fd, POLLOUT, 0};
            if (::poll(&writable, 1, millisecondsLeft(deadline)) <= 0) {
                wl_display_cancel_read(d);
                return Wait::timedOut;
            }
        }
        pollfd readable{fd, POLLIN, 0};
        const int ready = ::poll(&readable, 1, millisecondsLeft(deadline));
        if (ready <= 0) {
            wl_display_cancel_read(d);
            if (ready < 0 && errno == EINTR) continue;
            return ready == 0 ? Wait::timedOut : Wait::broken;
        }
        if (wl_display_read_events(d) < 0 || wl_display_dispatch_pending(d) < 0) return Wait::broken;
    }
    return Wait::done;
}

}  // namespace

std::optional<WaylandGlobals> WaylandConnection::probe(const std::string& display,
                                                       std::chrono::milliseconds wait, std::string* problem) {
    const Clock::time_point deadline = Clock::now() + wait;
    wl_display* d = open(display);
    if (d == nullptr) return std::nullopt;
    WaylandGlobals globals;
    static const wl_registry_listener listener = {
        [](void* data, wl_registry*, std::uint32_t, const char* interface, std::uint32_t version) {
            note(*static_cast<WaylandGlobals*>(data), interface, version);
        },
        [](void*, wl_registry*, std::uint32_t) {},
    };
    static const wl_callback_listener synced = {
        [](void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; },
    };
    wl_registry* registry = wl_display_get_registry(d);
    wl_registry_add_listener(registry, &listener, &globals);
    bool done = false;
    wl_callback* sync = wl_display_sync(d);
    wl_callback_add_listener(sync, &synced, &done);
    const Wait outcome = dispatchUntil(d, done, deadline);
    wl_callback_destroy(sync);
    wl_registry_destroy(registry);
    wl_display_disconnect(d);
    if (outcome == Wait::done) return globals;
    if (problem != nullptr) {
        const char* named = display.empty() ? std::getenv("WAYLAND_DISPLAY") : display.c_str();
        const std::string which = named != nullptr ? named : "";
        *problem = outcome == Wait::timedOut ? "the compositor at " + which + " did not answer within " +
                                                   std::to_string(wait.count()) + " ms"
                                             : "the connection to the compositor at " + which + " broke";
    }
    return std::nullopt;
}

std::unique_ptr<WaylandConnection> WaylandConnection::connect(const std::string& display) {
    wl_display* d = open(display);
    if (d == nullptr) return nullptr;
    std::unique_ptr<WaylandConnection> connection(new WaylandConnection(d));
    static const wl_registry_listener listener = {&WaylandConnection::onGlobal,
                                                  &WaylandConnection::onGlobalRemove};
    connection->registry_ = wl_display_get_registry(d);
    wl_registry_add_listener(connection->registry_, &listener, connection.get());
    if (wl_display_roundtrip(d) < 0) return nullptr;
    connection->watch();
    return connection;
}

WaylandConnection::WaylandConnection(wl_display* display) : display_(display) {}

WaylandConnection::~WaylandConnection() {
    readable_.reset();
    writable_.reset();
    if (dataControl_ != nullptr) zwlr_data_control_manager_v1_destroy(dataControl_);
    if (virtualKeyboard_ != nullptr) zwp_virtual_keyboard_manager_v1_destroy(virtualKeyboard_);
    if (fakeInput_ != nullptr) org_kde_kwin_fake_input_destroy(fakeInput_);
    if (seat_ != nullptr) {
        if (wl_seat_get_version(seat_) >= WL_SEAT_RELEASE_SINCE_VERSION) {
            wl_seat_release(seat_);
        } else {
            wl_seat_destroy(seat_);
        }
    }
    if (registry_ != nullptr) wl_registry_destroy(registry_);
    wl_display_flush(display_);
    wl_display_disconnect(display_);
}

void WaylandConnection::onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                                 std::uint32_t version) {
    auto* self = static_cast<WaylandConnection*>(data);
    const std::string_view which = interface;
    const WaylandGlobals before = self->offered_;
    note(self->offered_, which, version);
    const auto bind = [&](const wl_interface* type, std::uint32_t newest) {
        return wl_registry_bind(registry, name, type, std::min(version, newest));
    };
    if (which == wl_seat_interface.name && before.seat == 0) {
        self->seat_ = static_cast<wl_seat*>(bind(&wl_seat_interface, kSeatVersion));
    } else if (which == zwlr_data_control_manager_v1_interface.name && self->dataControl_ == nullptr) {
        self->dataControl_ = static_cast<zwlr_data_control_manager_v1*>(
            bind(&zwlr_data_control_manager_v1_interface, kDataControlVersion));
    } else if (which == ext_data_control_manager_v1_interface.name && !self->dataControlIsExt_) {
        // The standard protocol wins over wlr's, whichever the registry lists first; the globals
        // are all announced before anything uses the manager.
        if (self->dataControl_ != nullptr) zwlr_data_control_manager_v1_destroy(self->dataControl_);
        self->dataControl_ = static_cast<zwlr_data_control_manager_v1*>(
            bind(&ext_data_control_manager_v1_interface, kExtDataControlVersion));
        self->dataControlIsExt_ = true;
    } else if (which == zwp_virtual_keyboard_manager_v1_interface.name && self->virtualKeyboard_ == nullptr) {
        self->virtualKeyboard_ = static_cast<zwp_virtual_keyboard_manager_v1*>(
            bind(&zwp_virtual_keyboard_manager_v1_interface, kVirtualKeyboardVersion));
    } else if (which == org_kde_kwin_fake_input_interface.name && self->fakeInput_ == nullptr) {
        self->fakeInput_ = static_cast<org_kde_kwin_fake_input*>(
            bind(&org_kde_kwin_fake_input_interface, kFakeInputVersion));
    } else if (which == zwlr_foreign_toplevel_manager_v1_interface.name && self->toplevelName_ == 0) {
        self->toplevelName_ = name;
    }
}

void WaylandConnection::onGlobalRemove(void*, wl_registry*, std::uint32_t) {
    // The globals bound here (a seat, the managers) outlive the session in practice; one that goes
    // away turns its objects inert, which the compositor handles.
}

zwlr_foreign_toplevel_manager_v1* WaylandConnection::takeForeignToplevelManager() {
    if (toplevelName_ == 0 || toplevelTaken_ || broken_) return nullptr;
    toplevelTaken_ = true;
    return static_cast<zwlr_foreign_toplevel_manager_v1*>(
        wl_registry_bind(registry_, toplevelName_, &zwlr_foreign_toplevel_manager_v1_interface,
                         std::min(offered_.foreignToplevel, kForeignToplevelVersion)));
}

std::uint32_t WaylandConnection::dataControlVersion() const {
    if (dataControl_ == nullptr) return 0;
    return dataControlIsExt_ ? kDataControlVersion : zwlr_data_control_manager_v1_get_version(dataControl_);
}

void WaylandConnection::watch() {
    if (QCoreApplication::instance() == nullptr) return;
    const int fd = wl_display_get_fd(display_);
    readable_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(readable_.get(), &QSocketNotifier::activated, [this] { readAndDispatch(true); });
    writable_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    writable_->setEnabled(false);
    QObject::connect(writable_.get(), &QSocketNotifier::activated, [this] { flush(); });
}

void WaylandConnection::flush() {
    if (broken_) return;
    if (wl_display_flush(display_) >= 0) {
        if (writable_) writable_->setEnabled(false);
        return;
    }
    if (errno == EAGAIN) {
        // The compositor has not read what we sent yet: the rest goes when the socket drains.
        if (writable_) writable_->setEnabled(true);
        return;
    }
    checkBroken();
}

bool WaylandConnection::flushWithin(std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!broken_) {
        if (wl_display_flush(display_) >= 0) {
            if (writable_) writable_->setEnabled(false);
            return true;
        }
        if (errno != EAGAIN) break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            if (writable_) writable_->setEnabled(true);
            return false;
        }
        pollfd descriptor{wl_display_get_fd(display_), POLLOUT, 0};
        ::poll(&descriptor, 1, static_cast<int>(left.count()));
    }
    checkBroken();
    return false;
}

bool WaylandConnection::roundtrip() {
    if (broken_) return false;
    const bool ok = wl_display_roundtrip(display_) >= 0;
    return !checkBroken() && ok;
}

void WaylandConnection::dispatchAvailable() {
    readAndDispatch(false);
}

void WaylandConnection::readAndDispatch(bool readable) {
    if (broken_) return;
    // Events read earlier (by a round trip) are dispatched before reading more.
    while (wl_display_prepare_read(display_) != 0) {
        if (wl_display_dispatch_pending(display_) < 0) {
            checkBroken();
            return;
        }
    }
    wl_display_flush(display_);
    if (!readable) {
        pollfd descriptor{wl_display_get_fd(display_), POLLIN, 0};
        readable = ::poll(&descriptor, 1, 0) > 0;
    }
    if (!readable) {
        wl_display_cancel_read(display_);
    } else if (wl_display_read_events(display_) < 0) {
        checkBroken();
        return;
    }
    if (wl_display_dispatch_pending(display_) < 0) {
        checkBroken();
        return;
    }
    flush();
}

bool WaylandConnection::checkBroken() {
    if (broken_) return true;
    const int error = wl_display_get_error(display_);
    if (error == 0) return false;
    broken_ = true;
    if (readable_) readable_->setEnabled(false);
    if (writable_) writable_->setEnabled(false);
    std::string why = std::strerror(error);
    if (error == EPROTO) {
        const wl_interface* interface = nullptr;
        std::uint32_t id = 0;
        const std::uint32_t code = wl_display_get_protocol_error(display_, &interface, &id);
        why = "protocol error " + std::to_string(code) + " on " +
              (interface != nullptr ? interface->name : std::string("an object")) + "@" + std::to_string(id);
    }
    log::write("wayland: the connection to the compositor broke (" + why +
               ") — the clipboard, typing and the window list stop working");
    disconnected.emit();
    return true;
}

}  // namespace quenlit::wayland
