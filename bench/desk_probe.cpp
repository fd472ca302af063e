// Times the desktop program on KDE Plasma and GNOME from the outside, against what the compositor
// itself reports (bench/kde_bench.sh, bench/gnome_bench.sh):
//
//   desk_probe keys FILE PATTERN TOKEN...
//       types the tokens through KWin's fake input, as kwin_keys does ("a", "+Super_L" pressed only,
//       "-Super_L" released only), 60 ms apart; a token marked "*" ("*space") starts the clock the
//       moment its press is handed to KWin. Prints the milliseconds from there until a line holding
//       PATTERN is added to FILE (KWin's log, where a script prints each activation, or the
//       program's own log). The remaining tokens are still typed, so no key stays held. Without a
//       "*" token, it only types.
//       Needs fake input: run under `with-kwin.sh --trust desk_probe`.
//   desk_probe watch FILE OFFSET PATTERN
//       waits until a line holding PATTERN is in FILE past byte OFFSET and prints the monotonic
//       clock at that moment in microseconds (the clock GLib's g_get_monotonic_time reads).
//
// The file is read as it grows, every half millisecond. Exit status 1 when nothing comes within
// 10 s, 2 on bad arguments, 3 without fake input.

#include <fake-input-client-protocol.h>
#include <time.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kLimit = std::chrono::seconds(10);
constexpr auto kKeyInterval = std::chrono::milliseconds(60);
constexpr auto kPollInterval = std::chrono::microseconds(500);

// Lines added to a file after a given offset.
class FileTail {
  public:
    FileTail(std::string path, std::streamoff offset) : path_(std::move(path)), offset_(offset) {}

    // Whether a complete line holding `pattern` has been added since the last look.
    bool found(const std::string& pattern) {
        std::ifstream in(path_, std::ios::binary);
        if (!in) return false;
        in.seekg(offset_);
        std::string chunk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        offset_ += static_cast<std::streamoff>(chunk.size());
        pending_ += chunk;
        std::size_t newline;
        while ((newline = pending_.find('\n')) != std::string::npos) {
            const bool hit = pending_.substr(0, newline).find(pattern) != std::string::npos;
            pending_.erase(0, newline + 1);
            if (hit) return true;
        }
        return false;
    }

  private:
    std::string path_;
    std::streamoff offset_;
    std::string pending_;
};

std::streamoff sizeOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return in ? static_cast<std::streamoff>(in.tellg()) : 0;
}

// --- KWin's fake input ---

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

struct Token {
    int evdev = -1;
    bool press = true;
    bool release = true;
    bool startsClock = false;
};

std::optional<std::vector<Token>> parseTokens(const std::vector<std::string>& texts) {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    const xkb_rule_names us{"evdev", "pc105", "us", "", ""};
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &us, XKB_KEYMAP_COMPILE_NO_FLAGS);
    std::optional<std::vector<Token>> tokens;
    if (keymap != nullptr) {
        tokens.emplace();
        for (std::string text : texts) {
            Token token;
            if (text.size() > 1 && text[0] == '*') {
                token.startsClock = true;
                text.erase(0, 1);
            }
            if (text.size() > 1 && text[0] == '+') token.release = false;
            if (text.size() > 1 && text[0] == '-') token.press = false;
            if (!token.press || !token.release) text.erase(0, 1);
            const xkb_keysym_t keysym = xkb_keysym_from_name(text.c_str(), XKB_KEYSYM_NO_FLAGS);
            token.evdev = keysym == XKB_KEY_NoSymbol ? -1 : evdevFor(keymap, keysym);
            if (token.evdev < 0) {
                std::fprintf(stderr, "desk_probe: no key types %s\n", text.c_str());
                tokens.reset();
                break;
            }
            tokens->push_back(token);
        }
        xkb_keymap_unref(keymap);
    }
    xkb_context_unref(context);
    return tokens;
}

int keys(const std::string& file, const std::string& pattern, const std::vector<std::string>& texts) {
    const auto tokens = parseTokens(texts);
    if (!tokens) return 2;
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) return 3;
    wl_registry* registry = wl_display_get_registry(display);
    static const wl_registry_listener listener{onGlobal, onGlobalRemove};
    wl_registry_add_listener(registry, &listener, nullptr);
    wl_display_roundtrip(display);
    if (gInput == nullptr) {
        std::fprintf(stderr, "desk_probe: KWin offers no fake input to this program\n");
        return 3;
    }
    org_kde_kwin_fake_input_authenticate(gInput, "desk_probe", "benchmarks");
    wl_display_roundtrip(display);

    FileTail tail(file, sizeOf(file));
    std::optional<Clock::time_point> start;
    std::optional<double> elapsed;
    // Looks at the file until `until`; records the time of the first match once the clock runs.
    const auto watch = [&](Clock::time_point until) {
        do {
            // Lines added before the clock runs are passed over.
            if (!start)
                tail.found(pattern);
            else if (!elapsed && tail.found(pattern))
                elapsed = std::chrono::duration<double, std::milli>(Clock::now() - *start).count();
            if (Clock::now() >= until) return;
            std::this_thread::sleep_for(kPollInterval);
        } while (true);
    };
    for (const Token& token : *tokens) {
        const auto code = static_cast<std::uint32_t>(token.evdev);
        if (token.press) {
            org_kde_kwin_fake_input_keyboard_key(gInput, code, 1);
            if (token.startsClock) start = Clock::now();
            wl_display_flush(display);
        }
        if (token.release) org_kde_kwin_fake_input_keyboard_key(gInput, code, 0);
        wl_display_flush(display);
        watch(Clock::now() + kKeyInterval);
    }
    wl_display_roundtrip(display);
    if (start && !elapsed) {
        while (!elapsed && Clock::now() - *start < kLimit)
            watch(Clock::now() + std::chrono::milliseconds(5));
    }
    wl_display_disconnect(display);
    if (!start) return 0;  // only typed
    if (!elapsed) return 1;
    std::printf("%.1f\n", *elapsed);
    return 0;
}

int watchFile(const std::string& file, std::streamoff offset, const std::string& pattern) {
    FileTail tail(file, offset);
    const auto begin = Clock::now();
    while (Clock::now() - begin < kLimit) {
        if (tail.found(pattern)) {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            std::printf("%lld\n", static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000);
            return 0;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 4 && args[0] == "keys") return keys(args[1], args[2], {args.begin() + 3, args.end()});
    if (args.size() == 4 && args[0] == "watch")
        return watchFile(args[1], std::atoll(args[2].c_str()), args[3]);
    std::fprintf(stderr, "usage: desk_probe keys FILE PATTERN TOKEN... | watch FILE OFFSET PATTERN\n");
    return 2;
}
