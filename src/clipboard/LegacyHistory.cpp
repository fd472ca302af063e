#include "clipboard/LegacyHistory.h"

#include <climits>

namespace quenlit::legacyHistory {
namespace {

Failure failure(std::string description) {
    return Failure{std::move(description)};
}

}  // namespace

Result<std::string> decryptLegacyBlob(std::string_view data, std::string_view key, platform::Cipher& cipher) {
    if (data.size() <= magic.size() || data.substr(0, magic.size()) != magic) {
        return failure("the file is corrupt: it is not an encrypted clipboard history");
    }
    if (key.size() != keySize) return failure("the key is not 256 bits long");
    const std::string_view box = data.substr(magic.size());
    if (box.size() < nonceSize + tagSize) return failure("the encrypted data is malformed (too short)");
    const std::string_view nonce = box.substr(0, nonceSize);
    const std::string_view ciphertext = box.substr(nonceSize, box.size() - nonceSize - tagSize);
    const std::string_view tag = box.substr(box.size() - tagSize);
    if (ciphertext.size() > static_cast<std::size_t>(INT_MAX))
        return failure("the encrypted data is too large");
    return cipher.openAes256Gcm(key, nonce, ciphertext, tag);
}

}  // namespace quenlit::legacyHistory
