#pragma once

// Authenticated decryption, which only the one-time import of an earlier release's history needs.
// A backend may load its implementation when first asked: most runs never ask.

#include "base/Result.h"

#include <optional>
#include <string>
#include <string_view>

namespace quenlit::platform {

class Cipher {
  public:
    virtual ~Cipher() = default;
    // Opens an AES-256-GCM box without additional authenticated data: a 32-byte key, a 12-byte
    // nonce and a 16-byte tag. Answers the plaintext; fails when the tag does not match.
    virtual Result<std::string> openAes256Gcm(std::string_view key, std::string_view nonce,
                                              std::string_view ciphertext, std::string_view tag) = 0;
};

}  // namespace quenlit::platform
