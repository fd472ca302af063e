// A program that copies: it owns the CLIPBOARD with the targets it is given, answers requests for
// them like any X application, and can be slow to answer or exit, leaving the clipboard empty.
//
//   clipboard_owner [--offer TARGET=FILE]... [--offer-text TARGET=TEXT]... [--delay-ms N]
//                   [--exit-after-ms N] [--incr-chunk BYTES] [--never-answer] [--retake-ms N]
//                   [--junk-targets N]
//   clipboard_owner --clear
//
// --delay-ms waits before each answer (a slow or hung owner); --exit-after-ms exits that long after
// taking the clipboard (the clipboard is then empty, as when an application that copied quits);
// --incr-chunk sends data larger than BYTES in increments of that size (the INCR protocol), as
// programs do with large images. --clear empties the CLIPBOARD on purpose, as xsel -bc and password
// managers do: it sets the owner to None and exits. --never-answer leaves every request unanswered (a
// hung program); --retake-ms takes the clipboard again every N ms, each time a new copy for the
// desktop; --junk-targets adds N made-up targets to the TARGETS list (a hostile list).
// Prints "ready" once it owns the CLIPBOARD and "served TARGET" after each answer.

#include <xcb/xcb.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

xcb_connection_t* c = nullptr;

xcb_atom_t intern(const std::string& name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

[[noreturn]] void usage() {
    std::fprintf(stderr,
                 "usage: clipboard_owner [--offer TARGET=FILE]... [--offer-text TARGET=TEXT]... "
                 "[--delay-ms N] [--exit-after-ms N] [--incr-chunk BYTES] [--never-answer] [--retake-ms N] "
                 "[--junk-targets N] | --clear\n");
    std::exit(2);
}

std::pair<std::string, std::string> split(const std::string& value) {
    const auto equals = value.find('=');
    if (equals == std::string::npos) usage();
    return {value.substr(0, equals), value.substr(equals + 1)};
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::pair<std::string, std::string>> offers;  // (target, bytes)
    int delayMs = 0;
    int exitAfterMs = -1;
    std::size_t incrChunk = 0;
    bool clear = false;
    bool neverAnswer = false;
    int retakeMs = -1;
    int junkTargets = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage();
            return argv[++i];
        };
        if (arg == "--offer") {
            auto [target, path] = split(value());
            std::ifstream in(path, std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "clipboard_owner: cannot read %s\n", path.c_str());
                return 1;
            }
            offers.emplace_back(target, std::string(std::istreambuf_iterator<char>(in), {}));
        } else if (arg == "--offer-text") {
            offers.push_back(split(value()));
        } else if (arg == "--delay-ms") {
            delayMs = std::atoi(value().c_str());
        } else if (arg == "--exit-after-ms") {
            exitAfterMs = std::atoi(value().c_str());
        } else if (arg == "--never-answer") {
            neverAnswer = true;
        } else if (arg == "--retake-ms") {
            retakeMs = std::atoi(value().c_str());
        } else if (arg == "--junk-targets") {
            junkTargets = std::atoi(value().c_str());
        } else if (arg == "--clear") {
            clear = true;
        } else if (arg == "--incr-chunk") {
            incrChunk = static_cast<std::size_t>(std::atol(value().c_str()));
        } else {
            usage();
        }
    }

    c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "clipboard_owner: cannot open the display\n");
        return 1;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t w = xcb_generate_id(c);
    const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
    const xcb_atom_t clipboard = intern("CLIPBOARD");
    const xcb_atom_t targets = intern("TARGETS");
    const xcb_atom_t incr = intern("INCR");
    // The incremental transfer under way: the requestor takes (deletes) each piece to ask for the next.
    struct Transfer {
        xcb_window_t requestor = XCB_WINDOW_NONE;
        xcb_atom_t property = XCB_ATOM_NONE;
        xcb_atom_t type = XCB_ATOM_NONE;
        const std::string* data = nullptr;
        std::size_t sent = 0;
    } transfer;
    std::vector<xcb_atom_t> atoms{targets};
    for (const auto& offer : offers)
        atoms.push_back(intern(offer.first));
    {
        // All requests first, then the replies: one round trip for the lot.
        std::vector<xcb_intern_atom_cookie_t> cookies;
        for (int k = 0; k < junkTargets; ++k) {
            const std::string name = "x-junk-target-" + std::to_string(k);
            cookies.push_back(xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.c_str()));
        }
        for (auto cookie : cookies) {
            xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
            if (reply != nullptr) atoms.push_back(reply->atom);
            std::free(reply);
        }
    }

    // A real timestamp: the ICCCM asks owners for one, and readers compare them.
    xcb_change_property(c, XCB_PROP_MODE_APPEND, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0, nullptr);
    xcb_flush(c);
    xcb_timestamp_t now = XCB_CURRENT_TIME;
    while (xcb_generic_event_t* e = xcb_wait_for_event(c)) {
        const bool isProperty = (e->response_type & 0x7f) == XCB_PROPERTY_NOTIFY;
        if (isProperty) now = reinterpret_cast<xcb_property_notify_event_t*>(e)->time;
        std::free(e);
        if (isProperty) break;
    }
    if (clear) {
        xcb_set_selection_owner(c, XCB_WINDOW_NONE, clipboard, now);
        xcb_get_selection_owner_reply_t* none =
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard), nullptr);
        const bool cleared = none != nullptr && none->owner == XCB_WINDOW_NONE;
        std::free(none);
        xcb_disconnect(c);
        if (!cleared) std::fprintf(stderr, "clipboard_owner: the CLIPBOARD is still owned\n");
        return cleared ? 0 : 1;
    }
    xcb_set_selection_owner(c, w, clipboard, now);
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard), nullptr);
    if (owner == nullptr || owner->owner != w) {
        std::fprintf(stderr, "clipboard_owner: could not own the CLIPBOARD\n");
        return 1;
    }
    std::free(owner);
    std::printf("ready\n");
    std::fflush(stdout);

    const auto started = std::chrono::steady_clock::now();
    auto retaken = started;
    for (;;) {
        int timeout = -1;
        if (retakeMs >= 0) {
            const auto moment = std::chrono::steady_clock::now();
            if (moment - retaken >= std::chrono::milliseconds(retakeMs)) {
                xcb_set_selection_owner(c, w, clipboard, XCB_CURRENT_TIME);
                xcb_flush(c);
                retaken = moment;
            }
            timeout = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           retaken + std::chrono::milliseconds(retakeMs) - moment)
                                           .count());
        }
        if (exitAfterMs >= 0) {
            const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - started)
                                     .count();
            if (elapsed >= exitAfterMs) break;
            const int left = static_cast<int>(exitAfterMs - elapsed);
            timeout = timeout < 0 ? left : std::min(timeout, left);
        }
        xcb_generic_event_t* e = xcb_poll_for_event(c);
        if (e == nullptr) {
            if (xcb_connection_has_error(c)) return 1;
            pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
            ::poll(&fd, 1, timeout);
            continue;
        }
        const std::uint8_t type = e->response_type & 0x7f;
        if (type == XCB_PROPERTY_NOTIFY && transfer.data != nullptr) {
            auto* changed = reinterpret_cast<xcb_property_notify_event_t*>(e);
            if (changed->window == transfer.requestor && changed->atom == transfer.property &&
                changed->state == XCB_PROPERTY_DELETE) {
                const std::size_t n = std::min(incrChunk, transfer.data->size() - transfer.sent);
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, transfer.requestor, transfer.property,
                                    transfer.type, 8, static_cast<std::uint32_t>(n),
                                    transfer.data->data() + transfer.sent);
                xcb_flush(c);
                transfer.sent += n;
                if (n == 0) transfer = Transfer{};  // the empty piece ends it
            }
            std::free(e);
            continue;
        }
        if (type == XCB_SELECTION_CLEAR) {
            std::free(e);
            return 0;  // another program copied
        }
        if (type != XCB_SELECTION_REQUEST) {
            std::free(e);
            continue;
        }
        auto* request = reinterpret_cast<xcb_selection_request_event_t*>(e);
        if (neverAnswer) {
            std::free(e);
            continue;
        }
        if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        xcb_atom_t property = request->property != XCB_ATOM_NONE ? request->property : request->target;
        std::string served;
        if (request->target == targets) {
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, request->requestor, property, XCB_ATOM_ATOM, 32,
                                static_cast<std::uint32_t>(atoms.size()), atoms.data());
            served = "TARGETS";
        } else {
            property = XCB_ATOM_NONE;
            for (std::size_t k = 0; k < offers.size(); ++k) {
                if (atoms[k + 1] != request->target) continue;
                property = request->property != XCB_ATOM_NONE ? request->property : request->target;
                served = offers[k].first;
                if (incrChunk > 0 && offers[k].second.size() > incrChunk) {
                    const std::uint32_t watch = XCB_EVENT_MASK_PROPERTY_CHANGE;
                    xcb_change_window_attributes(c, request->requestor, XCB_CW_EVENT_MASK, &watch);
                    const auto size = static_cast<std::uint32_t>(offers[k].second.size());
                    xcb_change_property(c, XCB_PROP_MODE_REPLACE, request->requestor, property, incr, 32, 1,
                                        &size);
                    transfer = Transfer{request->requestor, property, request->target, &offers[k].second, 0};
                    served += " (incremental)";
                    continue;
                }
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, request->requestor, property, request->target,
                                    8, static_cast<std::uint32_t>(offers[k].second.size()),
                                    offers[k].second.data());
            }
        }
        xcb_selection_notify_event_t notify{};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = request->time;
        notify.requestor = request->requestor;
        notify.selection = request->selection;
        notify.target = request->target;
        notify.property = property;
        xcb_send_event(c, 0, request->requestor, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&notify));
        xcb_flush(c);
        if (!served.empty()) {
            std::printf("served %s\n", served.c_str());
            std::fflush(stdout);
        }
        std::free(e);
    }
    xcb_disconnect(c);
    return 0;
}
