#pragma once

// Authenticated decryption, which only the one-time import of an earlier release's history needs.
// A backend may load its implementation when first asked: most runs never ask.

#include <optional>
#include <string>
#include <string_view>

namespace quenlit::platform {

class Cipher {
  public:
    struct Opened {
        std::string plaintext;             // empty when error is set
        std::optional<std::string> error;  // why the box could not be opened
    };

    virtual ~Cipher() = default;
    // Opens an AES-256-GCM box without additional authenticated data: a 32-byte key, a 12-byte
    // nonce and a 16-byte tag. Fails when the tag does not match.
    virtual Opened openAes256Gcm(std::string_view key, std::string_view nonce, std::string_view ciphertext,
                                 std::string_view tag) = 0;
};

}  // namespace quenlit::platform
