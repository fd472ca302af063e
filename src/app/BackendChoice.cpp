#include "app/BackendChoice.h"

#include <charconv>

namespace quenlit::app {

std::optional<Backend> backendNamed(std::string_view name) {
    if (name == "x11") return Backend::x11;
    if (name == "wayland") return Backend::wayland;
    return std::nullopt;
}

namespace {

// The protocols a Wayland session lacks, in words: "wlr-data-control and virtual-keyboard".
std::string missingProtocols(const Session& session) {
    std::string missing;
    if (!session.dataControl) missing = "wlr-data-control";
    if (!session.virtualKeyboard) missing += std::string(missing.empty() ? "" : " and ") + "virtual-keyboard";
    return missing;
}

constexpr const char* kXWaylandLimits =
    "the hotkeys, the clipboard history, paste-back and window commands do not reach native Wayland windows";

}  // namespace

BackendChoice chooseBackend(std::optional<Backend> requested, const Session& session) {
    // The panels are placed and the hotkeys bound through sway's IPC: other compositors, even with
    // the protocols, run the program through XWayland.
    const bool protocols = session.dataControl && session.virtualKeyboard;
    const bool waylandUsable = session.waylandDisplay && protocols && session.swaySocket;
    const Backend backend = requested.value_or(waylandUsable ? Backend::wayland : Backend::x11);

    if (backend == Backend::wayland) {
        if (!session.waylandDisplay)
            return {std::nullopt,
                    "quenlit: the Wayland backend needs a Wayland session (WAYLAND_DISPLAY is not set "
                    "or its compositor cannot be reached)"};
        if (!protocols)
            return {std::nullopt, "quenlit: the Wayland backend needs a compositor with the " +
                                      missingProtocols(session) + " protocol" +
                                      (session.dataControl || session.virtualKeyboard ? "" : "s") +
                                      " (sway and other wlroots compositors offer them)"};
        if (!session.swaySocket)
            return {std::nullopt,
                    "quenlit: the Wayland backend needs sway (SWAYSOCK is not set): it places the "
                    "panels and binds the hotkeys through sway's IPC"};
        return {Backend::wayland, {}};
    }

    // Why the session's Wayland side is not used, for the log.
    const std::string whyNotWayland = !protocols
                                          ? "the compositor does not offer " + missingProtocols(session)
                                          : std::string("the compositor is not sway (SWAYSOCK is not set)");
    if (!session.x11Display && requested && session.waylandDisplay)
        return {std::nullopt,
                "quenlit: the X11 backend needs an X11 display, and there is no XWayland to run "
                "through (DISPLAY is not set or cannot be opened)"};
    if (!session.x11Display)
        return {std::nullopt, session.waylandDisplay
                                  ? "quenlit: " + whyNotWayland +
                                        ", and there is no XWayland to run through (DISPLAY is not set)"
                                  : "quenlit: the desktop program needs an X11 display (DISPLAY is not set "
                                    "or cannot be opened)"};
    if (session.waylandDisplay && !requested)
        return {Backend::x11,
                "wayland: " + whyNotWayland + " — running through XWayland: " + kXWaylandLimits};
    if (session.waylandDisplay)
        return {Backend::x11, std::string("wayland: running through XWayland as asked: ") + kXWaylandLimits};
    return {Backend::x11, {}};
}

std::string x11ServerName(std::string_view display) {
    std::string_view rest = display;
    std::string_view protocol;
    if (const auto slash = rest.find('/'); slash != std::string_view::npos && slash > 0) {
        protocol = rest.substr(0, slash);
        rest.remove_prefix(slash + 1);
    }
    const auto colon = rest.rfind(':');
    if (colon == std::string_view::npos) return std::string(display);
    const std::string_view host = rest.substr(0, colon);
    std::string_view number = rest.substr(colon + 1);
    number = number.substr(0, number.find('.'));  // the screen: the same server
    unsigned long value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (number.empty() || error != std::errc() || end != number.data() + number.size())
        return std::string(display);
    // Xlib and xcb reach the local server's Unix socket for an empty host, the host "unix" and the
    // protocol "unix"; any other host, "localhost" too, is reached over the network and may be
    // another server (ssh forwards its displays to localhost:10 and up).
    const bool local = protocol == "unix" || (protocol.empty() && (host.empty() || host == "unix"));
    if (local) return ":" + std::to_string(value);
    std::string server = protocol.empty() || protocol == "tcp" ? std::string() : std::string(protocol) + "/";
    return server + std::string(host) + ":" + std::to_string(value);
}

std::string sessionName(const char* waylandDisplay, const char* x11Display,
                        const std::optional<std::filesystem::path>& runtimeDir) {
    if (waylandDisplay != nullptr && *waylandDisplay != '\0') {
        const std::filesystem::path display(waylandDisplay);
        if (display.is_absolute() && runtimeDir && display.parent_path() == *runtimeDir)
            return display.filename().string();
        return waylandDisplay;
    }
    if (x11Display != nullptr && *x11Display != '\0') return x11ServerName(x11Display);
    return {};
}

}  // namespace quenlit::app
