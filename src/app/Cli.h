#pragma once

// The command-line subcommands: the launcher's calculator and search for users and scripts.

#include <iosfwd>
#include <string>
#include <vector>

namespace quenlit::app {

// Runs the command line for `args` (without the program name); returns the exit status.
// 0 success, 1 a negative answer (not a calculation), 2 a usage error.
int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace quenlit::app
