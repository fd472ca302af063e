#pragma once

// The subcommands, one file each; every one returns the exit status.

#include <iosfwd>
#include <span>
#include <string>

namespace quenlit::app {

int runHistory(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int runBindings(std::span<const std::string> args, std::ostream& out, std::ostream& err);
// Shows or hides a panel of the desktop program running on this display.
int runToggle(std::span<const std::string> args, std::ostream& out, std::ostream& err);

}  // namespace quenlit::app
