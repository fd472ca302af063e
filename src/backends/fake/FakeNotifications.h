#pragma once

// Records the notifications the program shows, for tests to read.

#include "platform/DesktopNotifications.h"

#include <string>
#include <vector>

namespace quenlit::fake {

class FakeNotifications final : public platform::DesktopNotifications {
  public:
    struct Shown {
        std::string summary;
        std::string body;
        bool operator==(const Shown&) const = default;
    };
    std::vector<Shown> shown;

    void notify(const std::string& summary, const std::string& body) override {
        shown.push_back({summary, body});
    }
};

}  // namespace quenlit::fake
