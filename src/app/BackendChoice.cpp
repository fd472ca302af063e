#include "app/BackendChoice.h"

#include <charconv>

namespace quenlit::app {

std::optional<Backend> backendNamed(std::string_view name) {
    if (name == "x11") return Backend::x11;
    if (name == "sway" || name == "wayland") return Backend::sway;
    if (name == "kde") return Backend::kde;
    if (name == "gnome") return Backend::gnome;
    return std::nullopt;
}

std::string_view nameOf(Backend backend) {
    switch (backend) {
        case Backend::x11:
            return "x11";
        case Backend::sway:
            return "sway";
        case Backend::kde:
            return "kde";
        case Backend::gnome:
            return "gnome";
    }
    return "?";
}

namespace {

// The protocols a Wayland session lacks, in words: "wlr-data-control and virtual-keyboard".
std::string missingProtocols(const Session& session) {
    std::string missing;
    if (!session.dataControl) missing = "wlr-data-control";
    if (!session.virtualKeyboard) missing += std::string(missing.empty() ? "" : " and ") + "virtual-keyboard";
    return missing;
}

bool desktopIs(const Session& session, std::string_view name) {
    std::string_view rest = session.desktop;
    while (!rest.empty()) {
        const auto colon = rest.find(':');
        if (rest.substr(0, colon) == name) return true;
        if (colon == std::string_view::npos) break;
        rest.remove_prefix(colon + 1);
    }
    return false;
}

constexpr const char* kXWaylandLimits =
    "the hotkeys, the clipboard history, paste-back and window commands do not reach native Wayland windows";

constexpr const char* kNoGnomeExtension =
    "GNOME Shell runs without Quenlit's extension (install and enable it with `quenlit "
    "--install-gnome-extension`, then log out and in)";

// The compositor's own backend for this session, or why there is none, for the log.
struct Native {
    std::optional<Backend> backend;
    std::string whyNot;
};

Native nativeBackend(const Session& session, const BuiltBackends& built) {
    const bool protocols = session.dataControl && session.virtualKeyboard;
    if (session.swaySocket) {
        if (!protocols) return {std::nullopt, "the compositor does not offer " + missingProtocols(session)};
        return {Backend::sway, {}};
    }
    if (desktopIs(session, "KDE")) {
        if (built.kde) return {Backend::kde, {}};
        return {std::nullopt, "this build has no backend of its own for KDE Plasma"};
    }
    if (desktopIs(session, "GNOME")) {
        if (!built.gnome) return {std::nullopt, "this build has no backend of its own for GNOME"};
        if (!session.gnomeExtension) return {std::nullopt, kNoGnomeExtension};
        return {Backend::gnome, {}};
    }
    if (!protocols) return {std::nullopt, "the compositor does not offer " + missingProtocols(session)};
    return {std::nullopt, "the compositor is not sway (SWAYSOCK is not set)"};
}

// Why a Wayland backend that was asked for cannot run; empty when it can.
std::string cannotRun(Backend backend, const Session& session, const BuiltBackends& built) {
    const std::string name(nameOf(backend));
    if (!session.waylandDisplay)
        return "quenlit: the " + name +
               " backend needs a Wayland session (WAYLAND_DISPLAY is not set or its compositor cannot be "
               "reached)";
    switch (backend) {
        case Backend::sway:
            if (!(session.dataControl && session.virtualKeyboard))
                return "quenlit: the sway backend needs a compositor with the " + missingProtocols(session) +
                       " protocol" + (session.dataControl || session.virtualKeyboard ? "" : "s") +
                       " (sway and other wlroots compositors offer them)";
            if (!session.swaySocket)
                return "quenlit: the sway backend needs sway (SWAYSOCK is not set): it places the panels and "
                       "binds the hotkeys through sway's IPC";
            return {};
        case Backend::kde:
            return built.kde ? std::string() : "quenlit: this build has no kde backend";
        case Backend::gnome:
            if (!built.gnome) return "quenlit: this build has no gnome backend";
            if (!session.gnomeExtension)
                return std::string("quenlit: the gnome backend needs Quenlit's extension: ") +
                       kNoGnomeExtension;
            return {};
        case Backend::x11:
            return {};
    }
    return {};
}

}  // namespace

BackendChoice chooseBackend(std::optional<Backend> requested, const Session& session,
                            const BuiltBackends& built) {
    const Native native = session.waylandDisplay ? nativeBackend(session, built) : Native{};
    const Backend backend = requested.value_or(native.backend.value_or(Backend::x11));

    if (backend != Backend::x11) {
        if (std::string why = cannotRun(backend, session, built); !why.empty()) return {std::nullopt, why};
        return {backend, {}};
    }

    if (!session.x11Display && requested && session.waylandDisplay)
        return {std::nullopt,
                "quenlit: the X11 backend needs an X11 display, and there is no XWayland to run "
                "through (DISPLAY is not set or cannot be opened)"};
    if (!session.x11Display)
        return {std::nullopt, session.waylandDisplay
                                  ? "quenlit: " + native.whyNot +
                                        ", and there is no XWayland to run through (DISPLAY is not set)"
                                  : "quenlit: the desktop program needs an X11 display (DISPLAY is not set "
                                    "or cannot be opened)"};
    if (session.waylandDisplay && !requested)
        return {Backend::x11,
                "wayland: " + native.whyNot + " — running through XWayland: " + kXWaylandLimits};
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
