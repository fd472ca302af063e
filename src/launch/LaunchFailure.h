#pragma once

// A program or folder that did not open must not look like one that did: one log line with the
// desktop's reason, and a notification, since the panel has already gone when the failure is known.

#include "platform/DesktopNotifications.h"

#include <string>

namespace quenlit::LaunchFailure {

// `name` is what the user chose ("Firefox", "Downloads"); `path` the entry or folder behind it.
// Without a notification service (`notifications` null) the log line is all there is.
void report(const std::string& name, const std::string& path, const std::string& reason,
            platform::DesktopNotifications* notifications);

}  // namespace quenlit::LaunchFailure
