#pragma once

// The encrypted history of an earlier release, read once for migration: the ASCII magic
// "QUENLT01", then an AES-256-GCM sealed box in its combined form (a 12-byte nonce, the
// ciphertext, a 16-byte tag), no additional authenticated data. The plaintext is a history
// document in the format of HistoryJson.h.

#include "base/Result.h"
#include "platform/Cipher.h"

#include <optional>
#include <string>
#include <string_view>

namespace quenlit::legacyHistory {

inline constexpr std::string_view magic = "QUENLT01";
inline constexpr std::size_t keySize = 32;
inline constexpr std::size_t nonceSize = 12;
inline constexpr std::size_t tagSize = 16;

// Checks the magic, then opens the sealed box with the key. Fails on a short or foreign file, a
// key that is not 32 bytes, a malformed box and a failed authentication.
Result<std::string> decryptLegacyBlob(std::string_view data, std::string_view key, platform::Cipher& cipher);

}  // namespace quenlit::legacyHistory
