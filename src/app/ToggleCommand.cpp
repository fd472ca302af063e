#include "app/Commands.h"

#include "app/BackendChoice.h"

#include "backends/linux/ControlSocket.h"
#include "base/Paths.h"

#include <cstdlib>
#include <ostream>

namespace quenlit::app {

namespace control = linux_backend::control;

int runToggle(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    std::optional<control::Request> request;
    if (args.size() == 1 && args[0] == "launcher") request = control::Request::toggleLauncher;
    if (args.size() == 1 && args[0] == "clipboard") request = control::Request::toggleClipboard;
    if (!request) {
        err << "usage: quenlit toggle launcher|clipboard\n";
        return 2;
    }
    // The instance of this session: each Wayland or X display has its own.
    const XdgDirs dirs = XdgDirs::current();
    const std::string session =
        sessionName(std::getenv("WAYLAND_DISPLAY"), std::getenv("DISPLAY"), dirs.runtimeDir);
    if (session.empty()) {
        err << "quenlit is not running (neither WAYLAND_DISPLAY nor DISPLAY is set)\n";
        return 1;
    }
    const auto folder = control::instanceFolder(dirs);
    if (!folder) {
        err << "quenlit: " << folder.error().reason << '\n';
        return 1;
    }
    const control::Outcome outcome = control::send(control::socketPath(folder.value(), session), *request);
    switch (outcome.kind) {
        case control::Outcome::Kind::notRunning:
            err << "quenlit is not running\n";
            return 1;
        case control::Outcome::Kind::failed:
            err << "quenlit: " << outcome.text << '\n';
            return 1;
        case control::Outcome::Kind::answered:
            break;
    }
    if (outcome.text == "ok") return 0;
    // Only what a running Quenlit says is shown, never text of the server's choosing.
    if (const auto reason = control::knownRefusal(outcome.text)) {
        err << "quenlit: " << *reason << '\n';
    } else {
        err << "quenlit: the running instance gave an answer this version does not know\n";
    }
    (void)out;
    return 1;
}

}  // namespace quenlit::app
