#include "launch/LaunchFailure.h"

#include "base/Log.h"

namespace quenlit::LaunchFailure {

void report(const std::string& name, const std::string& path, const std::string& reason,
            platform::DesktopNotifications* notifications) {
    log::write("launch failed: " + name + " path=" + path + " — " + reason);
    if (notifications != nullptr) notifications->notify("Could not open " + name, reason);
}

}  // namespace quenlit::LaunchFailure
