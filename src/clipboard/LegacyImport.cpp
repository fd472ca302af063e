#include "clipboard/LegacyImport.h"

#include "base/Log.h"
#include "clipboard/HistoryJson.h"
#include "clipboard/LegacyHistory.h"

#include <fstream>
#include <iterator>
#include <utility>

namespace quenlit {

std::optional<std::vector<ClipboardItem>> LegacyImport::read(const std::filesystem::path& legacy,
                                                             std::size_t limit) {
    std::string data;
    {
        std::ifstream in(legacy, std::ios::binary);
        if (!in) {
            log::write("clipboard: legacy migration failed — the file " + legacy.filename().string() +
                       " could not be opened");
            return std::nullopt;
        }
        data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) {
            log::write("clipboard: legacy migration failed — the file " + legacy.filename().string() +
                       " could not be read");
            return std::nullopt;
        }
    }
    std::optional<std::string> key = keychainKey(secrets_);
    if (!key) {
        log::write("clipboard: legacy key missing from Keychain — cannot migrate");
        return std::nullopt;
    }
    legacyHistory::Decrypted decrypted = legacyHistory::decryptLegacyBlob(data, *key);
    std::string().swap(data);
    if (decrypted.error) {
        log::write("clipboard: legacy migration failed — " + *decrypted.error);
        return std::nullopt;
    }
    historyJson::Decoded decoded = historyJson::decode(decrypted.plaintext, limit);
    std::string().swap(decrypted.plaintext);
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
