#pragma once

// Secrets of the Secret Service (gnome-keyring, KeePassXC, KWallet's bridge) through libsecret,
// addressed by the string attributes "service" and "account". Every call gives up after `timeout`,
// so a service that never answers cannot hold up start-up; then read gives nothing.

#include "platform/SecretStore.h"

#include <chrono>

namespace quenlit::linux_backend {

class LibsecretStore final : public platform::SecretStore {
  public:
    explicit LibsecretStore(std::chrono::milliseconds timeout = std::chrono::seconds(5))
        : timeout_(timeout) {}

    // The secret's bytes exactly as stored (binary data included).
    std::optional<std::string> read(std::string_view service, std::string_view account) override;
    // Deletes every item with these two attributes.
    void remove(std::string_view service, std::string_view account) override;

  private:
    std::chrono::milliseconds timeout_;
};

}  // namespace quenlit::linux_backend
