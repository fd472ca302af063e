// Measures the desktop program from the outside, as a person would see it, on a running X server:
//   panel_probe start WINDOW COMMAND [ARGS...]  start COMMAND, print the milliseconds until WINDOW
//                                               is viewable, then its pid
//   panel_probe hotkey WINDOW ROUNDS [KEYS]     press KEYS (super+space unless given), time until
//                                               WINDOW is viewable and holds the keyboard; Escape
//                                               (first, too, when a window of its class shows);
//                                               repeat; print the median, the fastest and the
//                                               slowest in milliseconds
// WINDOW is a WM_CLASS instance, optionally with the window's width: "quenlit:680" is the clipboard
// panel, "quenlit:640" the launcher. A window the window manager framed is found inside its frame.
// KEYS is a modifier and a key, as "super+space" or "super+Escape".
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

struct WindowSpec {
    std::string instance;
    int width = 0;  // any width when 0

    static WindowSpec parse(const std::string& text) {
        const auto colon = text.find(':');
        if (colon == std::string::npos) return {text, 0};
        return {text.substr(0, colon), std::atoi(text.c_str() + colon + 1)};
    }
};

std::string instanceIn(xcb_get_property_reply_t* reply) {
    if (reply == nullptr) return {};
    std::string s(static_cast<const char*>(xcb_get_property_value(reply)),
                  static_cast<std::size_t>(xcb_get_property_value_length(reply)));
    return s.substr(0, s.find('\0'));
}

// A viewable window among `windows` (and, one level down, among the children of those without a
// class of their own: window managers' frames) whose instance, and width when given, match. The
// requests for all windows go out before the first reply is read: one poll costs a few round
// trips, not a few per window.
bool viewableAmong(const std::vector<xcb_window_t>& windows, const WindowSpec& spec, bool descend) {
    std::vector<xcb_get_window_attributes_cookie_t> attributes;
    std::vector<xcb_get_property_cookie_t> classes;
    std::vector<xcb_get_geometry_cookie_t> geometries;
    for (xcb_window_t w : windows) {
        attributes.push_back(xcb_get_window_attributes(c, w));
        classes.push_back(xcb_get_property(c, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 64));
        geometries.push_back(xcb_get_geometry(c, w));
    }
    bool found = false;
    std::vector<xcb_window_t> frames;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        auto attrs = xcb_get_window_attributes_reply(c, attributes[i], nullptr);
        auto klass = xcb_get_property_reply(c, classes[i], nullptr);
        auto geometry = xcb_get_geometry_reply(c, geometries[i], nullptr);
        const bool mapped = attrs != nullptr && attrs->map_state == XCB_MAP_STATE_VIEWABLE;
        const std::string instance = instanceIn(klass);
        const bool wide = spec.width == 0 || (geometry != nullptr && geometry->width == spec.width);
        if (!found && mapped && instance == spec.instance && wide) found = true;
        if (mapped && instance.empty()) frames.push_back(windows[i]);
        std::free(attrs);
        std::free(klass);
        std::free(geometry);
    }
    if (found || !descend || frames.empty()) return found;
    std::vector<xcb_query_tree_cookie_t> trees;
    for (xcb_window_t frame : frames)
        trees.push_back(xcb_query_tree(c, frame));
    std::vector<xcb_window_t> inside;
    for (auto cookie : trees) {
        auto tree = xcb_query_tree_reply(c, cookie, nullptr);
        if (tree == nullptr) continue;
        xcb_window_t* children = xcb_query_tree_children(tree);
        inside.insert(inside.end(), children, children + xcb_query_tree_children_length(tree));
        std::free(tree);
    }
    return viewableAmong(inside, spec, false);
}

bool viewable(const WindowSpec& spec) {
    auto tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
    if (tree == nullptr) return false;
    xcb_window_t* children = xcb_query_tree_children(tree);
    const std::vector<xcb_window_t> windows(children, children + xcb_query_tree_children_length(tree));
    std::free(tree);
    return viewableAmong(windows, spec, true);
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
        std::fprintf(
            stderr, "usage: panel_probe start WINDOW COMMAND... | panel_probe hotkey WINDOW ROUNDS [KEYS]\n");
        return 2;
    }
    c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c) != 0) return 2;
    root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const std::string mode = argv[1];
    const WindowSpec window = WindowSpec::parse(argv[2]);
    const WindowSpec anyOfClass{window.instance, 0};
    double ms = 0;
    if (mode == "start") {
        pid_t pid = 0;
        const auto start = Clock::now();
        if (posix_spawnp(&pid, argv[3], nullptr, nullptr, argv + 3, environ) != 0) return 2;
        if (!waitFor([&] { return viewable(window); }, ms)) return 1;
        ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        std::printf("%.1f %d\n", ms, pid);
        return 0;
    }
    const int rounds = std::atoi(argv[3]);
    const std::string keys = argc > 4 ? argv[4] : "super+space";
    const xcb_keycode_t super = 133, escape = 9;  // evdev positions
    xcb_keycode_t pressed = 0;
    if (keys == "super+space") pressed = 65;
    if (keys == "super+Escape") pressed = escape;
    if (pressed == 0) {
        std::fprintf(stderr, "panel_probe: unknown keys %s (super+space or super+Escape)\n", keys.c_str());
        return 2;
    }
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        if (viewable(anyOfClass)) {
            key(escape, true);
            key(escape, false);
            if (!waitFor([&] { return !viewable(anyOfClass); }, ms)) return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        key(super, true);
        key(pressed, true);
        key(pressed, false);
        key(super, false);
        if (!waitFor([&] { return viewable(window) && keyboardHeldByOther(); }, ms)) return 1;
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    std::printf("%.1f %.1f %.1f\n", times[times.size() / 2], times.front(), times.back());
    return 0;
}
