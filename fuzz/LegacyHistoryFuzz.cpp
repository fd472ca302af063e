// The legacy encrypted history is read once, from whatever the earlier release left on disk. The
// first byte picks what the rest is: 0 — a plaintext history, sealed here with the fixed key so
// that decryption succeeds and the decoder sees the fuzzer's bytes; anything else — a file as it
// might be on disk, opened with the fixed key (mostly failing authentication, which must fail
// cleanly).

#include "backends/linux/OpenSslCipher.h"
#include "clipboard/HistoryJson.h"
#include "clipboard/LegacyHistory.h"

#include <openssl/evp.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

const std::string kKey = "quenlit-fuzz-key-0123456789abcde";  // 32 bytes
const std::string kNonce = "fuzz-nonce12";                    // 12 bytes

std::string seal(std::string_view plaintext) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr);
    EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_IVLEN, 12, nullptr);
    EVP_EncryptInit_ex(ctx, nullptr, nullptr, reinterpret_cast<const unsigned char*>(kKey.data()),
                       reinterpret_cast<const unsigned char*>(kNonce.data()));
    std::string out = "QUENLT01" + kNonce;
    const std::size_t start = out.size();
    out.resize(start + plaintext.size() + 16);
    auto* p = reinterpret_cast<unsigned char*>(out.data()) + start;
    int n = 0, m = 0;
    EVP_EncryptUpdate(ctx, p, &n, reinterpret_cast<const unsigned char*>(plaintext.data()),
                      static_cast<int>(plaintext.size()));
    EVP_EncryptFinal_ex(ctx, p + n, &m);
    EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, 16, p + n + m);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(start + static_cast<std::size_t>(n + m) + 16);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > INT_MAX / 2) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const bool sealHere = data[0] == 0;
    const std::string file = sealHere ? seal(rest) : std::string(rest);
    static quenlit::linux_backend::OpenSslCipher cipher;
    const auto opened = quenlit::legacyHistory::decryptLegacyBlob(file, kKey, cipher);
    if (sealHere && (!opened || *opened != rest)) __builtin_trap();
    if (!opened) {
        if (opened.error().reason.empty()) __builtin_trap();
        return 0;
    }
    const auto decoded = quenlit::historyJson::decode(*opened, 200);
    if (decoded.error && !decoded.items.empty()) __builtin_trap();
    return 0;
}
