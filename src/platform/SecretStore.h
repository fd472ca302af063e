#pragma once

// The user's secret store (on Linux the Secret Service through libsecret), addressed by service and
// account. Calls block on the store's answer; the program makes them only at start-up.

#include <optional>
#include <string>
#include <string_view>

namespace quenlit::platform {

class SecretStore {
  public:
    virtual ~SecretStore() = default;
    // The secret's bytes, or nothing when there is no such secret or the store cannot be reached.
    virtual std::optional<std::string> read(std::string_view service, std::string_view account) = 0;
    // Deletes the secret; whether it existed is not reported.
    virtual void remove(std::string_view service, std::string_view account) = 0;
};

}  // namespace quenlit::platform
