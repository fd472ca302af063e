// Types keys through XTest exactly as given, for the end-to-end tests and the desktop benchmark:
// unlike xdotool it presses the very key named (Control_R is the right Control key, not Control_L
// plus Control_R) and keeps a steady pace.
//
//   key_player [--user-keyboard] [--interval-ms N] TOKEN...
//   key_player --round-trip
//   key_player --expansion-latency ROUNDS
//
// A token is a keysym name ("x", "Control_R", "BackSpace"): pressed and released; "+NAME" only
// pressed, "-NAME" only released. N milliseconds pass after each token (default 0); each event has
// reached the server before the next one is sent. Exits 2 on a name the keyboard does not have.
// --user-keyboard sends the keys from the server's own keyboard device (Xvfb's), as a person's
// keyboard would, rather than from XTest's keyboard: a program that holds the user's keyboards
// holds these keys too.
// --round-trip prints the median time of one request answered by the server, in microseconds: the
// floor under anything a program does in answer to an X event.
// --expansion-latency types "$time" ROUNDS times on the user's keyboard, 40 ms a key, and prints for
// each round the milliseconds from its "e" to the last key of the expansion that replaces it (five
// deletions and sixteen characters, typed through XTest), as the server's raw events show them.

#include <xcb/xcb.h>
#include <xcb/xinput.h>
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

// The keyboard the keys come from: XTest's (device 0) or the server's own, a person's keyboard.
struct Keyboard {
    std::uint8_t device = 0;
    int firstEvent = 0;  // of the input extension, whose DeviceKeyPress/Release name a device
};

void send(xcb_connection_t* c, const Keyboard& from, std::uint8_t type, xcb_keycode_t keycode) {
    if (from.device != 0) type = static_cast<std::uint8_t>(from.firstEvent + (type == XCB_KEY_PRESS ? 1 : 2));
    std::free(xcb_request_check(c, xcb_test_fake_input_checked(c, type, keycode, XCB_CURRENT_TIME,
                                                               XCB_WINDOW_NONE, 0, 0, from.device)));
}

// The server's own keyboard device: the first keyboard attached to a master that is not XTest's.
Keyboard userKeyboard(xcb_connection_t* c) {
    Keyboard out;
    const xcb_query_extension_reply_t* xinput = xcb_get_extension_data(c, &xcb_input_id);
    if (xinput == nullptr || xinput->present == 0) return out;
    out.firstEvent = xinput->first_event;
    auto* reply =
        xcb_input_xi_query_device_reply(c, xcb_input_xi_query_device(c, XCB_INPUT_DEVICE_ALL), nullptr);
    for (auto it = xcb_input_xi_query_device_infos_iterator(reply); reply != nullptr && it.rem > 0;
         xcb_input_xi_device_info_next(&it)) {
        const std::string name(xcb_input_xi_device_info_name(it.data),
                               static_cast<std::size_t>(xcb_input_xi_device_info_name_length(it.data)));
        if (it.data->type == XCB_INPUT_DEVICE_TYPE_SLAVE_KEYBOARD &&
            name.find("XTEST") == std::string::npos) {
            out.device = static_cast<std::uint8_t>(it.data->deviceid);
            break;
        }
    }
    std::free(reply);
    return out;
}

using Clock = std::chrono::steady_clock;

// Types "$time" on the user's keyboard `rounds` times; prints the milliseconds from each "e" to the
// 21st key pressed by another device after it (the expansion's last character).
int expansionLatency(xcb_connection_t* c, int rounds) {
    const Keyboard user = userKeyboard(c);
    if (user.device == 0) {
        std::fprintf(stderr, "key_player: the server has no keyboard device of its own\n");
        return 1;
    }
    const xcb_query_extension_reply_t* xinput = xcb_get_extension_data(c, &xcb_input_id);
    struct {
        xcb_input_event_mask_t head;
        std::uint32_t bits;
    } selection{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS};
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    std::free(xcb_request_check(c, xcb_input_xi_select_events_checked(c, root, 1, &selection.head)));
    std::vector<xcb_keycode_t> modifiers;
    if (auto* map = xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr)) {
        const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(map);
        modifiers.assign(codes, codes + 8 * map->keycodes_per_modifier);
        std::free(map);
    }
    const xcb_keycode_t shift = keycodeOf(c, 0xffe1), four = keycodeOf(c, '4'), t = keycodeOf(c, 't'),
                        i = keycodeOf(c, 'i'), m = keycodeOf(c, 'm'), e = keycodeOf(c, 'e');
    int status = 0;
    for (int round = 0; round < rounds; ++round) {
        for (xcb_keycode_t k : {t, i, m}) {
            if (k == t) {
                send(c, user, XCB_KEY_PRESS, shift);
                send(c, user, XCB_KEY_PRESS, four);
                send(c, user, XCB_KEY_RELEASE, four);
                send(c, user, XCB_KEY_RELEASE, shift);
                std::this_thread::sleep_for(std::chrono::milliseconds(40));
            }
            send(c, user, XCB_KEY_PRESS, k);
            send(c, user, XCB_KEY_RELEASE, k);
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
        while (xcb_generic_event_t* event = xcb_poll_for_event(c))
            std::free(event);
        send(c, user, XCB_KEY_PRESS, e);
        const auto sent = Clock::now();
        send(c, user, XCB_KEY_RELEASE, e);
        int typed = 0;
        const auto deadline = sent + std::chrono::seconds(2);
        while (typed < 21 && Clock::now() < deadline) {
            xcb_generic_event_t* event = xcb_poll_for_event(c);
            if (event == nullptr) {
                std::this_thread::sleep_for(std::chrono::microseconds(100));
                continue;
            }
            auto* raw = reinterpret_cast<xcb_input_raw_key_press_event_t*>(event);
            if ((event->response_type & 0x7f) == XCB_GE_GENERIC && raw->extension == xinput->major_opcode &&
                raw->event_type == XCB_INPUT_RAW_KEY_PRESS && raw->sourceid != user.device &&
                std::find(modifiers.begin(), modifiers.end(), raw->detail) == modifiers.end()) {
                ++typed;
            }
            std::free(event);
        }
        if (typed < 21) {
            std::printf("none\n");
            status = 1;
        } else {
            std::printf("%.1f\n", std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
        }
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    int interval = 0;
    int first = 1;
    bool fromUser = false;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "key_player: cannot open the display\n");
        return 1;
    }
    if (argc == 3 && std::strcmp(argv[1], "--expansion-latency") == 0) {
        const int status = expansionLatency(c, std::atoi(argv[2]));
        xcb_disconnect(c);
        return status;
    }
    while (first < argc) {
        if (std::strcmp(argv[first], "--user-keyboard") == 0) {
            fromUser = true;
            ++first;
        } else if (first + 1 < argc && std::strcmp(argv[first], "--interval-ms") == 0) {
            interval = std::atoi(argv[first + 1]);
            first += 2;
        } else {
            break;
        }
    }
    const Keyboard from = fromUser ? userKeyboard(c) : Keyboard{};
    if (fromUser && from.device == 0) {
        std::fprintf(stderr, "key_player: the server has no keyboard device of its own\n");
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
        if (step.press) send(c, from, XCB_KEY_PRESS, step.keycode);
        if (step.release) send(c, from, XCB_KEY_RELEASE, step.keycode);
        if (interval > 0) {
            next += std::chrono::milliseconds(interval);
            std::this_thread::sleep_until(next);
        }
    }
    xcb_disconnect(c);
    return 0;
}
