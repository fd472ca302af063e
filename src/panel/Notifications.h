#pragma once

// The program's named notifications: panels, views and the search field talk through them. One
// center is owned by the application delegate and handed to everything that posts or observes.

#include "base/Signal.h"

#include <array>
#include <functional>
#include <string_view>

namespace quenlit {

enum class Notification {
    launcherWillShow,
    launchSelectedApp,
    clipboardWillShow,
    pasteSelectedClipboardItem,
    arrowUpPressed,
    arrowDownPressed,
};

constexpr std::string_view notificationName(Notification n) {
    constexpr std::array<std::string_view, 6> names = {"launcherWillShow",  "launchSelectedApp",
                                                       "clipboardWillShow", "pasteSelectedClipboardItem",
                                                       "arrowUpPressed",    "arrowDownPressed"};
    return names[static_cast<std::size_t>(n)];
}

class NotificationCenter {
  public:
    [[nodiscard]] Connection observe(Notification name, std::function<void()> observer) {
        return signals_[static_cast<std::size_t>(name)].connect(std::move(observer));
    }
    void post(Notification name) const { signals_[static_cast<std::size_t>(name)].emit(); }

  private:
    std::array<Signal<>, 6> signals_;
};

}  // namespace quenlit
