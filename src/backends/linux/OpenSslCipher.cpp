#include "backends/linux/OpenSslCipher.h"

#include <openssl/evp.h>

#include <dlfcn.h>

#include <climits>
#include <string>

namespace quenlit::linux_backend {

// The functions used, by the types the headers declare them with.
struct OpenSslCipher::Library {
    void* handle = nullptr;
    decltype(&EVP_CIPHER_CTX_new) contextNew = nullptr;
    decltype(&EVP_CIPHER_CTX_free) contextFree = nullptr;
    decltype(&EVP_CIPHER_CTX_ctrl) contextControl = nullptr;
    decltype(&EVP_aes_256_gcm) aes256Gcm = nullptr;
    decltype(&EVP_DecryptInit_ex) decryptInit = nullptr;
    decltype(&EVP_DecryptUpdate) decryptUpdate = nullptr;
    decltype(&EVP_DecryptFinal_ex) decryptFinal = nullptr;

    ~Library() {
        if (handle != nullptr) ::dlclose(handle);
    }

    template <typename F>
    bool find(F& function, const char* name) {
        function = reinterpret_cast<F>(::dlsym(handle, name));
        return function != nullptr;
    }

    static std::unique_ptr<Library> load() {
        auto library = std::make_unique<Library>();
        // The version the program was built against first; any other of the same interface after.
        for (const char* name : {"libcrypto.so.3", "libcrypto.so"}) {
            library->handle = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
            if (library->handle != nullptr) break;
        }
        if (library->handle == nullptr) return nullptr;
        const bool complete = library->find(library->contextNew, "EVP_CIPHER_CTX_new") &&
                              library->find(library->contextFree, "EVP_CIPHER_CTX_free") &&
                              library->find(library->contextControl, "EVP_CIPHER_CTX_ctrl") &&
                              library->find(library->aes256Gcm, "EVP_aes_256_gcm") &&
                              library->find(library->decryptInit, "EVP_DecryptInit_ex") &&
                              library->find(library->decryptUpdate, "EVP_DecryptUpdate") &&
                              library->find(library->decryptFinal, "EVP_DecryptFinal_ex");
        return complete ? std::move(library) : nullptr;
    }
};

namespace {

const unsigned char* bytes(std::string_view s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}
unsigned char* bytes(std::string& s) {
    return reinterpret_cast<unsigned char*>(s.data());
}

Failure failure(std::string description) {
    return Failure{std::move(description)};
}

}  // namespace

OpenSslCipher::OpenSslCipher() = default;
OpenSslCipher::~OpenSslCipher() = default;

Result<std::string> OpenSslCipher::openAes256Gcm(std::string_view key, std::string_view nonce,
                                                 std::string_view ciphertext, std::string_view tag) {
    std::call_once(loadOnce_, [this] { library_ = Library::load(); });
    if (!library_) return failure("OpenSSL's libcrypto could not be loaded");
    const Library& l = *library_;
    if (key.size() != 32 || nonce.size() != 12 || tag.size() != 16 ||
        ciphertext.size() > static_cast<std::size_t>(INT_MAX))
        return failure("AES-GCM could not be set up");

    std::unique_ptr<EVP_CIPHER_CTX, decltype(l.contextFree)> ctx(l.contextNew(), l.contextFree);
    if (!ctx || l.decryptInit(ctx.get(), l.aes256Gcm(), nullptr, nullptr, nullptr) != 1 ||
        l.contextControl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(nonce.size()), nullptr) != 1 ||
        l.decryptInit(ctx.get(), nullptr, nullptr, bytes(key), bytes(nonce)) != 1) {
        return failure("AES-GCM could not be set up");
    }
    std::string plaintext(ciphertext.size(), '\0');
    int written = 0;
    if (!ciphertext.empty() && l.decryptUpdate(ctx.get(), bytes(plaintext), &written, bytes(ciphertext),
                                               static_cast<int>(ciphertext.size())) != 1) {
        return failure("the encrypted data could not be decrypted");
    }
    // The tag is only read by OpenSSL, whatever the signature says.
    std::string tagCopy(tag);
    int finalWritten = 0;
    if (l.contextControl(ctx.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(tag.size()), tagCopy.data()) !=
            1 ||
        l.decryptFinal(ctx.get(), bytes(plaintext) + written, &finalWritten) != 1) {
        return failure("authentication failed: the file is damaged or the key is wrong");
    }
    plaintext.resize(static_cast<std::size_t>(written + finalWritten));
    return plaintext;
}

}  // namespace quenlit::linux_backend
