#include "clipboard/LegacyImport.h"

#include "base/Log.h"
#include "clipboard/HistoryJson.h"
#include "clipboard/LegacyHistory.h"

#include <utility>

namespace quenlit {

std::optional<std::vector<ClipboardItem>> LegacyImport::read(const std::filesystem::path& legacy,
                                                             std::size_t limit,
                                                             std::uintmax_t maxHistoryBytes) {
    // Without the key the file is of no use, however large it is.
    std::optional<std::string> key = keychainKey(secrets_);
    if (!key) {
        log::write("clipboard: legacy key missing from Keychain — cannot migrate");
        return std::nullopt;
    }
    const std::string name = legacy.filename().string();
    const std::uintmax_t maxBytes =
        maxHistoryBytes + legacyHistory::magic.size() + legacyHistory::nonceSize + legacyHistory::tagSize;
    std::string data;
    const platform::AtomicFile::Read read = files_.readFile(legacy, maxBytes, [&](std::size_t size) {
        data.resize(size);
        return data.data();
    });
    using Outcome = platform::AtomicFile::Read::Outcome;
    std::optional<std::string> failure;
    switch (read.outcome) {
        case Outcome::read:
            break;
        case Outcome::missing:
            failure = "the file " + name + " could not be opened";
            break;
        case Outcome::notAFile:
            failure = "the file " + name + " is not a regular file";
            break;
        case Outcome::tooLarge:
            failure = "the file " + name + " is " + std::to_string(read.size) +
                      " bytes, larger than any history can be (" + std::to_string(maxBytes) + " bytes)";
            break;
        case Outcome::failed:
            failure = "the file " + name + " could not be read";
            break;
    }
    if (failure) {
        log::write("clipboard: legacy migration failed — " + *failure);
        return std::nullopt;
    }
    if (cipher_ == nullptr) {
        log::write("clipboard: legacy migration failed — no AES-GCM implementation is available");
        return std::nullopt;
    }
    Result<std::string> decrypted = legacyHistory::decryptLegacyBlob(data, *key, *cipher_);
    std::string().swap(data);
    if (!decrypted) {
        log::write("clipboard: legacy migration failed — " + decrypted.error().reason);
        return std::nullopt;
    }
    historyJson::Decoded decoded = historyJson::decode(*decrypted, limit);
    std::string().swap(*decrypted);
    if (decoded.error) {
        log::write("clipboard: legacy migration failed — " + *decoded.error);
        return std::nullopt;
    }
    pending_ = Pending{legacy, decoded.items.size()};
    return std::move(decoded.items);
}

void LegacyImport::finish() {
    if (!pending_) return;
    const Pending done = *std::exchange(pending_, std::nullopt);
    std::error_code ignored;
    std::filesystem::remove(done.legacyPath, ignored);
    deleteKeychainKey(secrets_);
    log::write("clipboard: migrated legacy encrypted history (" + std::to_string(done.itemCount) + " items)");
}

std::optional<std::string> LegacyImport::keychainKey(platform::SecretStore& secrets) {
    std::optional<std::string> key = secrets.read(keyService, keyAccount);
    if (!key || key->size() != legacyHistory::keySize) return std::nullopt;
    return key;
}

void LegacyImport::deleteKeychainKey(platform::SecretStore& secrets) {
    secrets.remove(keyService, keyAccount);
}

}  // namespace quenlit
