#pragma once

// The one-time import of an earlier release's encrypted history (format in LegacyHistory.h): its
// file lies in the program's data folder and its key in the user's secret store. Both are deleted
// only once the imported history has been saved in the current format; until then a failed save
// leaves everything as it was for the next start.
//
// Main thread only.

#include "clipboard/ClipboardItem.h"
#include "platform/AtomicFile.h"
#include "platform/Cipher.h"
#include "platform/SecretStore.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenlit {

class LegacyImport {
  public:
    static constexpr std::string_view fileName = "clipboard-history.enc";
    static constexpr std::string_view keyService = "com.quenlit.app.clipboard";
    static constexpr std::string_view keyAccount = "history-aes-key";

    // The services must outlive the import. Without a cipher no file can be opened: the import
    // then fails, leaving the file and the key alone.
    LegacyImport(platform::SecretStore& secrets, platform::AtomicFile& files, platform::Cipher* cipher)
        : secrets_(secrets), files_(files), cipher_(cipher) {}

    // Looks up the key, then reads and decrypts the legacy history, keeping its first `limit`
    // items; a file whose history would be larger than `maxHistoryBytes` is not read. On failure
    // logs why and returns nothing, leaving the file and the key alone. On success the import is
    // pending until finish().
    std::optional<std::vector<ClipboardItem>> read(const std::filesystem::path& legacy, std::size_t limit,
                                                   std::uintmax_t maxHistoryBytes);
    // Once the imported history is saved: deletes the legacy file and the key, and logs the import.
    // Does nothing when no import is pending.
    void finish();
    bool isPending() const { return pending_.has_value(); }

    // The legacy key: exactly 32 bytes, or none.
    static std::optional<std::string> keychainKey(platform::SecretStore& secrets);
    static void deleteKeychainKey(platform::SecretStore& secrets);

  private:
    struct Pending {
        std::filesystem::path legacyPath;
        std::size_t itemCount;
    };

    platform::SecretStore& secrets_;
    platform::AtomicFile& files_;
    platform::Cipher* cipher_;
    std::optional<Pending> pending_;
};

}  // namespace quenlit
