#pragma once

// Notifications through the freedesktop notification service (org.freedesktop.Notifications on
// the session bus), which every desktop and most window-manager setups run (GNOME Shell, Plasma,
// dunst, mako, xfce4-notifyd).
//
// Main thread. The session bus is connected at the first notification, not at start-up; the call
// is sent without waiting for its reply, so a missing or slow service never blocks the caller.

#include "platform/DesktopNotifications.h"

#include <memory>

namespace quenlit::linux_backend {

class FreedesktopNotifications final : public platform::DesktopNotifications {
  public:
    explicit FreedesktopNotifications(std::string applicationName = "Quenlit");
    ~FreedesktopNotifications() override;
    FreedesktopNotifications(const FreedesktopNotifications&) = delete;
    FreedesktopNotifications& operator=(const FreedesktopNotifications&) = delete;

    void notify(const std::string& summary, const std::string& body) override;

  private:
    struct Bus;
    std::string applicationName_;
    std::unique_ptr<Bus> bus_;
    bool busUnavailable_ = false;
};

}  // namespace quenlit::linux_backend
