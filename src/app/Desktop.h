#pragma once

#include "app/Cli.h"

#include <memory>

namespace quenlit::linux_backend {
class DesktopWorkspace;
}

namespace quenlit::app {

// The workspace of the X display, with its running programs, for the command line (no event
// loop, nothing watched); null when no display can be opened.
std::shared_ptr<linux_backend::DesktopWorkspace> displayWorkspace();

// Runs the desktop program until it is quit or terminated; returns the exit status. Without a
// desktop it can run on (no X11 display, and no Wayland compositor with the protocols it needs):
// status 2 and one line on standard error. With another instance running in the same session:
// that instance shows its launcher and the status is 0; should it not answer, status 1 and
// "quenlit is already running (pid N)".
int runDesktop(int argc, char** argv, const DesktopRequest& request);

}  // namespace quenlit::app
