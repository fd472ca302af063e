// Measures the desktop program from the outside, as a person would see it, on a running X server:
//   panel_probe start CLASS COMMAND [ARGS...]  start COMMAND, print the milliseconds until a window
//                                              of WM_CLASS instance CLASS is viewable, then its pid
//   panel_probe hotkey CLASS ROUNDS            press Super+Space, time until the panel of CLASS is
//                                              viewable and holds the keyboard; Escape; repeat;
//                                              print the median in milliseconds
// Exit status 1 when the window never shows (10 s).

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

xcb_connection_t* c = nullptr;
xcb_window_t root = 0;

std::string instanceOf(xcb_window_t w) {
    auto reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 64), nullptr);
    if (reply == nullptr) return {};
    std::string s(static_cast<const char*>(xcb_get_property_value(reply)),
                  static_cast<std::size_t>(xcb_get_property_value_length(reply)));
    std::free(reply);
    return s.substr(0, s.find('\0'));
}

// A viewable top-level (or reparented) window whose instance is `klass`.
bool viewable(const std::string& klass) {
    auto tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
    if (tree == nullptr) return false;
    bool found = false;
    xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
        auto attrs = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr);
        const bool mapped = attrs != nullptr && attrs->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(attrs);
        if (mapped && instanceOf(children[i]) == klass) found = true;
    }
    std::free(tree);
    return found;
}

// Another client holds the keyboard when our own grab attempt finds it taken.
bool keyboardHeldByOther() {
    auto reply = xcb_grab_keyboard_reply(
        c, xcb_grab_keyboard(c, 0, root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
        nullptr);
    const bool held = reply != nullptr && reply->status == XCB_GRAB_STATUS_ALREADY_GRABBED;
    if (reply != nullptr && reply->status == XCB_GRAB_STATUS_SUCCESS)
        xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
    std::free(reply);
    xcb_flush(c);
    return held;
}

void key(xcb_keycode_t code, bool press) {
    xcb_test_fake_input(c, press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0,
                        0);
    xcb_flush(c);
}

template <typename F>
bool waitFor(F condition, double& ms) {
    const auto start = Clock::now();
    while (Clock::now() - start < std::chrono::seconds(10)) {
        if (condition()) {
            ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            return true;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: panel_probe start CLASS COMMAND... | panel_probe hotkey CLASS ROUNDS\n");
        return 2;
    }
    c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c) != 0) return 2;
    root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const std::string mode = argv[1];
    const std::string klass = argv[2];
    double ms = 0;
    if (mode == "start") {
        pid_t pid = 0;
        const auto start = Clock::now();
        if (posix_spawnp(&pid, argv[3], nullptr, nullptr, argv + 3, environ) != 0) return 2;
        if (!waitFor([&] { return viewable(klass); }, ms)) return 1;
        ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        std::printf("%.1f %d\n", ms, pid);
        return 0;
    }
    const int rounds = std::atoi(argv[3]);
    const xcb_keycode_t super = 133, space = 65, escape = 9;  // evdev positions
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        if (viewable(klass)) {
            key(escape, true);
            key(escape, false);
            if (!waitFor([&] { return !viewable(klass); }, ms)) return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        key(super, true);
        key(space, true);
        key(space, false);
        key(super, false);
        if (!waitFor([&] { return viewable(klass) && keyboardHeldByOther(); }, ms)) return 1;
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    std::printf("%.1f\n", times[times.size() / 2]);
    return 0;
}
