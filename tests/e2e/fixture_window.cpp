// A plain X client for the tests of the desktop backend: one window with the properties a real
// application sets, that reports on standard output what it receives.
//
//   fixture_window [--title T] [--size WxH] [--position X,Y] [--class INSTANCE,CLASS] [--fixed]
//                  [--skip-taskbar] [--dock-top PIXELS] [--grab-keyboard]
//
// --grab-keyboard holds the whole keyboard once the window is mapped, as a password prompt does,
// and prints "grabbed" when it has it.
//
// Prints "ready <window id>" once the window is mapped, then one line per key press
// ("key <keycode> keysym=0x<hex> state=0x<hex>") and button press ("button <n> root=<x>,<y>"),
// and stays until killed.

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Options {
    std::string title = "Quenlit Fixture";
    unsigned width = 400;
    unsigned height = 300;
    bool positioned = false;
    int x = 0;
    int y = 0;
    std::string instance = "quenlit-fixture";
    std::string klass = "QuenlitFixture";
    bool fixed = false;
    bool skipTaskbar = false;
    unsigned dockTop = 0;
    bool grabKeyboard = false;
};

[[noreturn]] void usage() {
    std::fprintf(stderr,
                 "usage: fixture_window [--title T] [--size WxH] [--position X,Y] [--class INSTANCE,CLASS] "
                 "[--fixed] [--skip-taskbar] [--dock-top PIXELS] [--grab-keyboard]\n");
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage();
            return argv[++i];
        };
        if (arg == "--title") {
            o.title = value();
        } else if (arg == "--size") {
            if (std::sscanf(value().c_str(), "%ux%u", &o.width, &o.height) != 2) usage();
        } else if (arg == "--position") {
            if (std::sscanf(value().c_str(), "%d,%d", &o.x, &o.y) != 2) usage();
            o.positioned = true;
        } else if (arg == "--class") {
            const std::string v = value();
            const auto comma = v.find(',');
            if (comma == std::string::npos) usage();
            o.instance = v.substr(0, comma);
            o.klass = v.substr(comma + 1);
        } else if (arg == "--fixed") {
            o.fixed = true;
        } else if (arg == "--skip-taskbar") {
            o.skipTaskbar = true;
        } else if (arg == "--grab-keyboard") {
            o.grabKeyboard = true;
        } else if (arg == "--dock-top") {
            o.dockTop = static_cast<unsigned>(std::atoi(value().c_str()));
        } else {
            usage();
        }
    }
    return o;
}

xcb_atom_t intern(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

void set(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property, xcb_atom_t type, std::uint8_t format,
         const void* data, std::size_t count) {
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, property, type, format,
                        static_cast<std::uint32_t>(count), data);
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = parse(argc, argv);
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "fixture_window: cannot open the display\n");
        return 1;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t w = xcb_generate_id(c);
    const std::uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_KEY_PRESS |
                                                             XCB_EVENT_MASK_BUTTON_PRESS |
                                                             XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, static_cast<std::int16_t>(o.x),
                      static_cast<std::int16_t>(o.y), static_cast<std::uint16_t>(o.width),
                      static_cast<std::uint16_t>(o.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);

    const xcb_atom_t utf8 = intern(c, "UTF8_STRING");
    set(c, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, o.title.data(), o.title.size());
    set(c, w, intern(c, "_NET_WM_NAME"), utf8, 8, o.title.data(), o.title.size());
    std::string wmClass = o.instance;
    wmClass.push_back('\0');
    wmClass += o.klass;
    wmClass.push_back('\0');
    set(c, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, wmClass.data(), wmClass.size());
    const std::uint32_t pid = static_cast<std::uint32_t>(getpid());
    set(c, w, intern(c, "_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, &pid, 1);

    // WM_HINTS: takes the keyboard focus when given it.
    const std::uint32_t hints[9] = {1, 1, 0, 0, 0, 0, 0, 0, 0};
    set(c, w, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32, hints, 9);
    // WM_NORMAL_HINTS: a position the user asked for, a fixed size when asked; never size increments.
    std::uint32_t sizeHints[18] = {};
    if (o.positioned) {
        sizeHints[0] |= 1u | 4u;  // USPosition | PPosition
        sizeHints[1] = static_cast<std::uint32_t>(o.x);
        sizeHints[2] = static_cast<std::uint32_t>(o.y);
    }
    if (o.fixed) {
        sizeHints[0] |= 16u | 32u;  // PMinSize | PMaxSize
        sizeHints[5] = sizeHints[7] = o.width;
        sizeHints[6] = sizeHints[8] = o.height;
    }
    set(c, w, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32, sizeHints, 18);

    const xcb_atom_t type =
        intern(c, o.dockTop > 0 ? "_NET_WM_WINDOW_TYPE_DOCK" : "_NET_WM_WINDOW_TYPE_NORMAL");
    set(c, w, intern(c, "_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, &type, 1);
    if (o.skipTaskbar) {
        const xcb_atom_t state = intern(c, "_NET_WM_STATE_SKIP_TASKBAR");
        set(c, w, intern(c, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32, &state, 1);
    }
    if (o.dockTop > 0) {
        const std::uint32_t strut[4] = {0, 0, o.dockTop, 0};
        set(c, w, intern(c, "_NET_WM_STRUT"), XCB_ATOM_CARDINAL, 32, strut, 4);
        const std::uint32_t partial[12] = {0, 0, o.dockTop, 0, 0, 0, 0, 0, 0, screen->width_in_pixels - 1u,
                                           0, 0};
        set(c, w, intern(c, "_NET_WM_STRUT_PARTIAL"), XCB_ATOM_CARDINAL, 32, partial, 12);
    }
    xcb_map_window(c, w);
    xcb_flush(c);

    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
    while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
        switch (event->response_type & 0x7f) {
            case XCB_MAP_NOTIFY:
                std::printf("ready %u\n", static_cast<unsigned>(w));
                // Another grab may still be active for a moment (the window manager's, a key's).
                for (int attempt = 0; o.grabKeyboard && attempt < 200; ++attempt) {
                    xcb_grab_keyboard_reply_t* grab =
                        xcb_grab_keyboard_reply(c,
                                                xcb_grab_keyboard(c, 1, w, XCB_CURRENT_TIME,
                                                                  XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                                nullptr);
                    const bool held = grab != nullptr && grab->status == XCB_GRAB_STATUS_SUCCESS;
                    std::free(grab);
                    if (held) {
                        std::printf("grabbed\n");
                        break;
                    }
                    usleep(10000);
                }
                break;
            case XCB_KEY_PRESS: {
                auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
                const int column = (key->state & XCB_MOD_MASK_SHIFT) != 0 ? 1 : 0;
                xcb_keysym_t keysym = xcb_key_symbols_get_keysym(symbols, key->detail, column);
                // A key with one symbol has it on both levels, as Xlib reads the core map.
                if (keysym == XCB_NO_SYMBOL) keysym = xcb_key_symbols_get_keysym(symbols, key->detail, 0);
                std::printf("key %u keysym=0x%x state=0x%x\n", static_cast<unsigned>(key->detail),
                            static_cast<unsigned>(keysym), static_cast<unsigned>(key->state));
                break;
            }
            case XCB_BUTTON_PRESS: {
                auto* button = reinterpret_cast<xcb_button_press_event_t*>(event);
                std::printf("button %u root=%d,%d\n", static_cast<unsigned>(button->detail), button->root_x,
                            button->root_y);
                break;
            }
            case XCB_MAPPING_NOTIFY:
                xcb_refresh_keyboard_mapping(symbols, reinterpret_cast<xcb_mapping_notify_event_t*>(event));
                break;
            default:
                break;
        }
        std::fflush(stdout);
        std::free(event);
    }
    xcb_key_symbols_free(symbols);
    xcb_disconnect(c);
    return 0;
}
