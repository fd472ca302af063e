#include "app/AllocatorSettings.h"
#include "app/Cli.h"
#include "app/Desktop.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    quenlit::app::applyAllocatorSettings();
    std::ios::sync_with_stdio(false);
    // Without arguments this is the desktop program; with them, one of its subcommands.
    if (argc == 1) return quenlit::app::runDesktop(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    int status = quenlit::app::runCli(args, std::cout, std::cerr, quenlit::app::displayWorkspace);
    std::cout.flush();
    return status;
}
