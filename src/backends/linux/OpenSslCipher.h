#pragma once

// AES-256-GCM from OpenSSL's libcrypto, loaded when first asked: only the one-time import of an
// earlier release's history needs it, and loaded at start-up the library would cost every run more
// than a megabyte of memory. Thread-safe.

#include "platform/Cipher.h"

#include <memory>
#include <mutex>

namespace quenlit::linux_backend {

class OpenSslCipher final : public platform::Cipher {
  public:
    OpenSslCipher();
    ~OpenSslCipher() override;
    OpenSslCipher(const OpenSslCipher&) = delete;
    OpenSslCipher& operator=(const OpenSslCipher&) = delete;

    Result<std::string> openAes256Gcm(std::string_view key, std::string_view nonce,
                                      std::string_view ciphertext, std::string_view tag) override;

  private:
    struct Library;
    std::once_flag loadOnce_;
    std::unique_ptr<Library> library_;  // null until loaded, and when loading failed
};

}  // namespace quenlit::linux_backend
