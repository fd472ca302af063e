#pragma once

// Tells the user something they must know and would otherwise not see, such as a program that
// failed to start: a notification bubble of the desktop's notification service.
//
// Main thread; returns at once. Without a notification service nothing is shown, and the caller's
// log line is all that remains.

#include <string>

namespace quenlit::platform {

class DesktopNotifications {
  public:
    virtual ~DesktopNotifications() = default;
    // `summary` is one short line ("Could not start Firefox"); `body` gives the reason.
    virtual void notify(const std::string& summary, const std::string& body) = 0;
};

}  // namespace quenlit::platform
