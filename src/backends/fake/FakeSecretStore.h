#pragma once

// An in-memory secret store. Tests put secrets in it, make it unreachable, and read back which
// secrets the program read and deleted.

#include "platform/SecretStore.h"

#include <map>
#include <utility>
#include <vector>

namespace quenlit::fake {

class FakeSecretStore final : public platform::SecretStore {
  public:
    using Key = std::pair<std::string, std::string>;  // (service, account)

    std::map<Key, std::string> secrets;
    // While false, reads give nothing and removals do nothing, as with a store that cannot be reached.
    bool reachable = true;
    std::vector<Key> reads;
    std::vector<Key> removals;

    void put(std::string_view service, std::string_view account, std::string secret) {
        secrets[Key(service, account)] = std::move(secret);
    }
    bool has(std::string_view service, std::string_view account) const {
        return secrets.count(Key(service, account)) != 0;
    }

    std::optional<std::string> read(std::string_view service, std::string_view account) override {
        reads.emplace_back(service, account);
        if (!reachable) return std::nullopt;
        auto it = secrets.find(Key(service, account));
        if (it == secrets.end()) return std::nullopt;
        return it->second;
    }
    void remove(std::string_view service, std::string_view account) override {
        removals.emplace_back(service, account);
        if (reachable) secrets.erase(Key(service, account));
    }
};

}  // namespace quenlit::fake
