#include "app/AllocatorSettings.h"
#include "app/Cli.h"
#include "app/Desktop.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    quenlit::app::applyAllocatorSettings();
    std::ios::sync_with_stdio(false);
    // Without arguments (or with only the backend to use) this is the desktop program; with them,
    // one of its subcommands.
    std::vector<std::string> args(argv + 1, argv + argc);
    if (const auto desktop = quenlit::app::desktopRequest(args))
        return quenlit::app::runDesktop(argc, argv, *desktop);
    int status = quenlit::app::runCli(args, std::cout, std::cerr, quenlit::app::displayWorkspace);
    std::cout.flush();
    return status;
}
