#pragma once

// The command-line subcommands: the launcher's calculator and search for users and scripts.

#include "app/BackendChoice.h"

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quenlit::linux_backend {
class DesktopWorkspace;
}

namespace quenlit::app {

// The desktop the command line looks at: a workspace that also knows the running programs (the
// X11 one when a display can be opened), or null for one where nothing runs.
using WorkspaceFactory = std::function<std::shared_ptr<linux_backend::DesktopWorkspace>()>;

// The desktop program's options, when the arguments ask for the desktop program: none at all, or
// only `--backend x11|sway|kde|gnome` ("wayland" is the older name of sway). Anything else is the command
// line's.
struct DesktopRequest {
    std::optional<Backend> backend;
};
std::optional<DesktopRequest> desktopRequest(const std::vector<std::string>& args);

// Runs the command line for `args` (without the program name); returns the exit status.
// 0 success, 1 a negative answer (not a calculation), 2 a usage error.
int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const WorkspaceFactory& desktop = {});

}  // namespace quenlit::app
