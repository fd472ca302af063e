#include "backends/x11/KeyboardTap.h"

#include "backends/x11/X11Connection.h"

#include <xcb/xinput.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace quenlit::x11 {

thread_local std::optional<bool> tapEventSecure;

xcb_connection_t* openConnection() {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (c != nullptr && xcb_connection_has_error(c) != 0) {
        xcb_disconnect(c);
        return nullptr;
    }
    return c;
}

xcb_window_t rootOf(xcb_connection_t* c) {
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

xcb_window_t unmappedWindow(xcb_connection_t* c) {
    const xcb_window_t w = xcb_generate_id(c);
    xcb_create_window(c, 0, w, rootOf(c), 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0,
                      nullptr);
    return w;
}

bool anotherClientHoldsKeyboard(xcb_connection_t* c, xcb_window_t unmapped) {
    Reply<xcb_grab_keyboard_reply_t> reply(xcb_grab_keyboard_reply(
        c, xcb_grab_keyboard(c, 0, unmapped, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
        nullptr));
    return reply && reply->status == XCB_GRAB_STATUS_ALREADY_GRABBED;
}

std::optional<std::uint8_t> xinputOpcode(xcb_connection_t* c) {
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_input_id);
    if (extension == nullptr || extension->present == 0) return std::nullopt;
    Reply<xcb_input_xi_query_version_reply_t> version(
        xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
    if (!version || version->major_version < 2 || (version->major_version == 2 && version->minor_version < 1))
        return std::nullopt;
    return extension->major_opcode;
}

namespace {

struct RawSelection {
    xcb_input_event_mask_t head;
    std::uint32_t bits;
};

}  // namespace

bool selectRawEvents(xcb_connection_t* c, std::uint32_t mask) {
    RawSelection selection{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, mask};
    xcb_generic_error_t* error =
        xcb_request_check(c, xcb_input_xi_select_events_checked(c, rootOf(c), 1, &selection.head));
    std::free(error);
    return error == nullptr;
}

void FreezeRecord::add(std::chrono::nanoseconds held) {
    std::lock_guard lock(mutex_);
    held_.push_back(held);
}

FreezeRecord::Summary FreezeRecord::summary() const {
    std::vector<std::chrono::nanoseconds> held;
    Summary out;
    {
        std::lock_guard lock(mutex_);
        held = held_;
    }
    out.count = held.size();
    if (held.empty()) return out;
    std::sort(held.begin(), held.end());
    out.median = held[held.size() / 2];
    out.longest = held.back();
    return out;
}

EventThread::EventThread() {
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
}

EventThread::~EventThread() {
    stop();
    for (int fd : wake_) {
        if (fd >= 0) ::close(fd);
    }
}

void EventThread::start(xcb_connection_t* c, Handler handler) {
    thread_ = std::thread([this, c, handler = std::move(handler)] {
        const int fd = xcb_get_file_descriptor(c);
        while (true) {
            // One read takes in all that waits in the socket. Replies waited for while handling
            // an event may have brought more events along: they sit in xcb's queue, which
            // poll() does not see. Reading again before poll() would cost a call per wake-up.
            for (xcb_generic_event_t* event = xcb_poll_for_event(c); event != nullptr;
                 event = xcb_poll_for_queued_event(c)) {
                handler(event);
                std::free(event);
            }
            if (xcb_connection_has_error(c) != 0) return;
            pollfd fds[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
            if ((fds[1].revents & POLLIN) != 0) return;
        }
    });
}

void EventThread::stop() {
    if (!thread_.joinable()) return;
    const char byte = 1;
    [[maybe_unused]] auto n = ::write(wake_[1], &byte, 1);
    thread_.join();
}

}  // namespace quenlit::x11
