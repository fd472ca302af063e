#pragma once

// Which desktop backend the program runs on: X11 (an X server, or XWayland under a Wayland
// compositor), or one of a Wayland compositor's own: sway (its IPC and the wlroots protocols), KDE
// Plasma (KWin) or GNOME (mutter with Quenlit's Shell extension). The session's protocols and its
// desktop (XDG_CURRENT_DESKTOP) decide; a backend this build does not have falls back to X11.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quenlit::app {

enum class Backend { x11, sway, kde, gnome };

// "x11", "sway", "kde", "gnome"; "wayland" is the older name of sway's.
std::optional<Backend> backendNamed(std::string_view name);
std::string_view nameOf(Backend backend);

// What the session offers, read before anything starts.
struct Session {
    bool x11Display = false;       // DISPLAY is set
    bool waylandDisplay = false;   // WAYLAND_DISPLAY is set and the compositor answered
    bool dataControl = false;      // the compositor offers wlr-data-control (or ext-data-control)
    bool virtualKeyboard = false;  // … and virtual-keyboard
    bool swaySocket = false;       // SWAYSOCK is set: hotkeys, panel placement and window commands
    std::string desktop = {};      // XDG_CURRENT_DESKTOP: names separated by colons ("ubuntu:GNOME")
    bool gnomeExtension = false;   // GNOME Shell runs Quenlit's extension, in the version this build needs
};

// The Wayland backends this build has, besides X11.
struct BuiltBackends {
    bool sway = true;
    bool kde = true;
    bool gnome = true;
};

struct BackendChoice {
    std::optional<Backend> backend;  // absent: the program cannot run; `message` says why
    // One line for the log (or, without a backend, for standard error); empty when all is as
    // expected.
    std::string message;
};

// The requested backend when it can run, else the best one the session allows.
BackendChoice chooseBackend(std::optional<Backend> requested, const Session& session,
                            const BuiltBackends& built = {});

// The X server a display name reaches, as "host:number" without the screen: ":5", ":5.0", "unix:5"
// and "unix/:5.1" all name the local server 5, ":5". Names that are not X display names are kept.
std::string x11ServerName(std::string_view display);

// The name of the desktop session this instance belongs to: one instance, one control socket and
// one lock per session. The Wayland display where there is one (XWayland's DISPLAY changes between
// sessions of the same compositor), else the X server (x11ServerName); empty without either. A Wayland
// display given as a path inside the runtime folder is named as the compositor names it to the programs it
// starts ("wayland-1"), so a hotkey's `quenlit toggle` finds the instance started either way.
std::string sessionName(const char* waylandDisplay, const char* x11Display,
                        const std::optional<std::filesystem::path>& runtimeDir);

}  // namespace quenlit::app
