// Types keys through XTest exactly as given, for the end-to-end tests and the desktop benchmark:
// unlike xdotool it presses the very key named (Control_R is the right Control key, not Control_L
// plus Control_R) and keeps a steady pace.
//
//   key_player [--interval-ms N] TOKEN...
//   key_player --round-trip
//
// A token is a keysym name ("x", "Control_R", "BackSpace"): pressed and released; "+NAME" only
// pressed, "-NAME" only released. N milliseconds pass after each token (default 0); each event has
// reached the server before the next one is sent. Exits 2 on a name the keyboard does not have.
// --round-trip prints the median time of one request answered by the server, in microseconds: the
// floor under anything a program does in answer to an X event.

#include <xcb/xcb.h>
#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Step {
    xcb_keycode_t keycode;
    bool press;
    bool release;
};

xcb_keycode_t keycodeOf(xcb_connection_t* c, xcb_keysym_t keysym) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t* mapping = xcb_get_keyboard_mapping_reply(
        c, xcb_get_keyboard_mapping(c, setup->min_keycode, static_cast<std::uint8_t>(count)), nullptr);
    if (mapping == nullptr) return 0;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping);
    xcb_keycode_t found = 0;
    for (int i = 0; i < count && found == 0; ++i) {
        if (syms[i * mapping->keysyms_per_keycode] == keysym)
            found = static_cast<xcb_keycode_t>(setup->min_keycode + i);
    }
    std::free(mapping);
    return found;
}

void send(xcb_connection_t* c, std::uint8_t type, xcb_keycode_t keycode) {
    std::free(xcb_request_check(
        c, xcb_test_fake_input_checked(c, type, keycode, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0)));
}

}  // namespace

int main(int argc, char** argv) {
    int interval = 0;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--interval-ms") == 0) {
        interval = std::atoi(argv[2]);
        first = 3;
    }
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "key_player: cannot open the display\n");
        return 1;
    }
    if (argc == 2 && std::strcmp(argv[1], "--round-trip") == 0) {
        std::vector<long> times;
        for (int i = 0; i < 501; ++i) {
            const auto started = std::chrono::steady_clock::now();
            std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
            times.push_back(static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(
                                                  std::chrono::steady_clock::now() - started)
                                                  .count()));
        }
        std::sort(times.begin(), times.end());
        std::printf("%ld\n", times[times.size() / 2]);
        xcb_disconnect(c);
        return 0;
    }
    std::vector<Step> steps;
    for (int i = first; i < argc; ++i) {
        std::string token = argv[i];
        Step step{0, true, true};
        if (!token.empty() && (token[0] == '+' || token[0] == '-') && token.size() > 1) {
            step.press = token[0] == '+';
            step.release = token[0] == '-';
            token.erase(0, 1);
        }
        const xkb_keysym_t keysym = xkb_keysym_from_name(token.c_str(), XKB_KEYSYM_NO_FLAGS);
        step.keycode = keysym == XKB_KEY_NoSymbol ? 0 : keycodeOf(c, keysym);
        if (step.keycode == 0) {
            std::fprintf(stderr, "key_player: no key for %s\n", token.c_str());
            return 2;
        }
        steps.push_back(step);
    }
    auto next = std::chrono::steady_clock::now();
    for (const Step& step : steps) {
        if (step.press) send(c, XCB_KEY_PRESS, step.keycode);
        if (step.release) send(c, XCB_KEY_RELEASE, step.keycode);
        if (interval > 0) {
            next += std::chrono::milliseconds(interval);
            std::this_thread::sleep_until(next);
        }
    }
    xcb_disconnect(c);
    return 0;
}
