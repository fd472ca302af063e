#include "clipboard/LegacyHistory.h"

#include <openssl/evp.h>

#include <climits>
#include <memory>

namespace quenlit::legacyHistory {
namespace {

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

CipherContext newContext() {
    return CipherContext(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
}

const unsigned char* bytes(std::string_view s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}
unsigned char* bytes(std::string& s) {
    return reinterpret_cast<unsigned char*>(s.data());
}

Decrypted failure(std::string description) {
    return {std::string(), std::move(description)};
}

}  // namespace

Decrypted decryptLegacyBlob(std::string_view data, std::string_view key) {
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

    CipherContext ctx = newContext();
    if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(nonceSize), nullptr) != 1 ||
        EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, bytes(key), bytes(nonce)) != 1) {
        return failure("AES-GCM could not be set up");
    }
    std::string plaintext(ciphertext.size(), '\0');
    int written = 0;
    if (!ciphertext.empty() && EVP_DecryptUpdate(ctx.get(), bytes(plaintext), &written, bytes(ciphertext),
                                                 static_cast<int>(ciphertext.size())) != 1) {
        return failure("the encrypted data could not be decrypted");
    }
    // The tag is only read by OpenSSL, whatever the signature says.
    std::string tagCopy(tag);
    int finalWritten = 0;
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(tagSize), tagCopy.data()) !=
            1 ||
        EVP_DecryptFinal_ex(ctx.get(), bytes(plaintext) + written, &finalWritten) != 1) {
        return failure("authentication failed: the file is damaged or the key is wrong");
    }
    plaintext.resize(static_cast<std::size_t>(written + finalWritten));
    return {std::move(plaintext), std::nullopt};
}

}  // namespace quenlit::legacyHistory
