// quenlit bindings check [FILE]: reads a bindings file as the desktop program does at launch and
// prints what it would log about it, so a user can try an edit without restarting anything.

#include "app/Commands.h"

#include "automation/AppToggleMonitor.h"
#include "backends/linux/PosixFileReader.h"
#include "base/Paths.h"

#include <ostream>

namespace quenlit::app {

int runBindings(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    if (args.empty() || args[0] != "check" || args.size() > 2 || (args.size() == 2 && args[1].empty())) {
        err << "usage: quenlit bindings check [FILE]\n";
        return 2;
    }
    const std::filesystem::path file =
        args.size() == 2 ? std::filesystem::path(args[1]) : XdgDirs::current().bindingsFile();
    linux_backend::PosixFileReader files;
    const AppToggleBindingsResult loaded = AppToggleMonitor::loadBindings(file, files);
    if (loaded.error) {
        out << AppToggleMonitor::loadFailedLogLine(*loaded.error) << '\n';
        return 1;
    }
    if (loaded.bindings.empty()) {
        out << AppToggleMonitor::noBindingsLogLine(file) << '\n';
        return 0;
    }
    for (const auto& binding : loaded.bindings)
        out << AppToggleMonitor::bindingLogLine(binding) << '\n';
    return 0;
}

}  // namespace quenlit::app
