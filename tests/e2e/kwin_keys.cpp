// Types keys into KWin through its fake input, as a person's keyboard would: KWin runs them through
// its keymap and its global shortcuts (Meta+Space reaches kglobalaccel, not the window in front).
// KWin offers fake input only to a program its desktop entries name: run under
// `with-kwin.sh --trust kwin_keys`.
//
//   kwin_keys [--interval-ms N] TOKEN...
//
// A token is a keysym name of the US layout ("a", "space", "Return", "Super_L"): pressed and
// released; "+NAME" only pressed, "-NAME" only released. N milliseconds pass after each token
// (default 60). Exits 2 on a name the US layout does not have, 3 without fake input.

#include <fake-input-client-protocol.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

org_kde_kwin_fake_input* gInput = nullptr;

void onGlobal(void*, wl_registry* registry, std::uint32_t name, const char* interface,
              std::uint32_t version) {
    if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 4)
        gInput = static_cast<org_kde_kwin_fake_input*>(
            wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4));
}
void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}

// The evdev code of the key that types `keysym` on the first level of a US keymap.
int evdevFor(xkb_keymap* keymap, xkb_keysym_t keysym) {
    for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap); code <= xkb_keymap_max_keycode(keymap);
         ++code) {
        const xkb_keysym_t* syms = nullptr;
        const int count = xkb_keymap_key_get_syms_by_level(keymap, code, 0, 0, &syms);
        for (int i = 0; i < count; ++i)
            if (syms[i] == keysym) return static_cast<int>(code) - 8;
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    int interval = 60;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--interval-ms") == 0) {
        interval = std::atoi(argv[2]);
        first = 3;
    }
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    const xkb_rule_names us{"evdev", "pc105", "us", "", ""};
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &us, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (keymap == nullptr) return 2;

    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) return 3;
    wl_registry* registry = wl_display_get_registry(display);
    static const wl_registry_listener listener{onGlobal, onGlobalRemove};
    wl_registry_add_listener(registry, &listener, nullptr);
    wl_display_roundtrip(display);
    if (gInput == nullptr) {
        std::fprintf(stderr, "kwin_keys: KWin offers no fake input to this program\n");
        return 3;
    }
    org_kde_kwin_fake_input_authenticate(gInput, "kwin_keys", "end-to-end tests");
    for (int i = first; i < argc; ++i) {
        std::string token = argv[i];
        bool press = true, release = true;
        if (token.size() > 1 && token[0] == '+') release = false;
        if (token.size() > 1 && token[0] == '-') press = false;
        if (!press || !release) token.erase(0, 1);
        const xkb_keysym_t keysym = xkb_keysym_from_name(token.c_str(), XKB_KEYSYM_NO_FLAGS);
        const int evdev = keysym == XKB_KEY_NoSymbol ? -1 : evdevFor(keymap, keysym);
        if (evdev < 0) {
            std::fprintf(stderr, "kwin_keys: no key types %s\n", token.c_str());
            return 2;
        }
        if (press) org_kde_kwin_fake_input_keyboard_key(gInput, static_cast<std::uint32_t>(evdev), 1);
        if (release) org_kde_kwin_fake_input_keyboard_key(gInput, static_cast<std::uint32_t>(evdev), 0);
        wl_display_roundtrip(display);
        std::this_thread::sleep_for(std::chrono::milliseconds(interval));
    }
    wl_display_disconnect(display);
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);
    return 0;
}
