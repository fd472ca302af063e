#include "clipboard/ClipboardStore.h"
#include "clipboard/HistoryJson.h"
#include "clipboard/LegacyHistory.h"

#include "base/Log.h"

#include <fstream>
#include <iterator>
#include <mutex>

namespace quenlit {

// Writes run on background tasks, but never two at once and never out of order: a task takes the
// newest history waiting to be written only while it holds the write lock, so a slower, older
// write cannot land over a newer one, and a history that was not started yet is simply replaced.
struct ClipboardStore::HistoryWriter {
    struct Job {
        std::filesystem::path path;
        std::string bytes;
        std::size_t itemCount = 0;
    };

    explicit HistoryWriter(platform::AtomicFile& f) : files(f) {}

    void submit(Job job, bool keepUnreadable) {
        std::lock_guard lock(stateMutex);
        pending = std::move(job);
        keepUnreadablePending = keepUnreadablePending || keepUnreadable;
    }

    // Writes the newest waiting history: nullopt when there was none, else whether it was written.
    std::optional<bool> writePending() {
        std::lock_guard write(writeMutex);
        std::optional<Job> job;
        bool keep = false;
        {
            std::lock_guard lock(stateMutex);
            job = std::exchange(pending, std::nullopt);
            keep = keepUnreadablePending;
        }
        if (!job) return std::nullopt;
        std::optional<std::string> error = files.ensurePrivateDirectory(job->path.parent_path());
        if (!error && keep) {
            error = keepAside(job->path);
            if (!error) {
                std::lock_guard lock(stateMutex);
                keepUnreadablePending = false;
            }
        }
        if (!error) {
            std::filesystem::path temp = job->path;
            temp += ".tmp";
            error = files.writeAtomically(job->path, temp, job->bytes, 0600);
        }
        if (error) {
            log::write("clipboard: persist failed — " + *error);
            return false;
        }
        log::write("clipboard: persisted " + std::to_string(job->itemCount) + " items (" +
                   std::to_string(job->bytes.size()) + " bytes)");
        return true;
    }

    // A history file that could not be read is the user's data all the same: it is moved aside
    // (replacing an older copy) rather than written over.
    static std::optional<std::string> keepAside(const std::filesystem::path& path) {
        std::error_code ec;
        const auto status = std::filesystem::symlink_status(path, ec);
        if (status.type() == std::filesystem::file_type::not_found) return std::nullopt;
        std::filesystem::path kept = path;
        kept += ".unreadable";
        std::filesystem::rename(path, kept, ec);
        if (ec) return "could not keep the unreadable history as " + kept.string() + ": " + ec.message();
        log::write("clipboard: kept unreadable history as " + kept.string());
        return std::nullopt;
    }

    platform::AtomicFile& files;
    std::mutex writeMutex;  // held for a whole write
    std::mutex stateMutex;  // guards the two fields below
    std::optional<Job> pending;
    bool keepUnreadablePending = false;
};

void ClipboardStore::initWriter() {
    writer_ = std::make_shared<HistoryWriter>(files_);
}

ClipboardStore::~ClipboardStore() {
    // Nothing the user copied is lost by closing the store between a change and its debounced save.
    if (persistWorkItem_) {
        persistWorkItem_->cancel();
        persistWorkItem_.reset();
        persistNow();
    }
    flushPendingWrites();
    self_.reset();
}

void ClipboardStore::loadFromDiskIfNeeded() {
    if (didLoadFromDisk_) return;
    didLoadFromDisk_ = true;
    if (!storagePath_) return;
    std::error_code ec;
    const auto status = std::filesystem::status(*storagePath_, ec);
    // A file that cannot even be looked at (a folder without permission) is not "no file": it is
    // reported as unreadable and kept.
    if (status.type() != std::filesystem::file_type::not_found) {
        loadJSON(*storagePath_);
        return;
    }
    if (storagePath_->lexically_normal() == defaultStoragePath().lexically_normal() &&
        std::filesystem::exists(legacyPath(), ec)) {
        migrateLegacyEncrypted(legacyPath(), *storagePath_);
        return;
    }
    log::write("clipboard: no history file yet at " + storagePath_->string());
}

void ClipboardStore::loadJSON(const std::filesystem::path& path) {
    historyJson::Decoded decoded =
        historyJson::readFile(path, static_cast<std::size_t>(std::max(maxItems_, 0)));
    if (decoded.error) {
        log::write("clipboard: failed to load history — " + *decoded.error);
        keepUnreadableHistory_ = true;
        return;
    }
    items_ = std::move(decoded.items);
    enforceImageCap();
    log::write("clipboard: loaded " + std::to_string(items_.size()) + " items from disk");
    notifyItemsChanged();
    // Lower-case the texts for filtering before the first keystroke needs them.
    scheduler_.runInBackground([loaded = items_](const platform::TaskHandle&) {
        for (const auto& item : loaded)
            (void)item.loweredText();
    });
}

void ClipboardStore::migrateLegacyEncrypted(const std::filesystem::path& legacy,
                                            const std::filesystem::path& /*storage: written by persistNow*/) {
    std::string data;
    {
        std::ifstream in(legacy, std::ios::binary);
        if (!in) {
            log::write("clipboard: legacy migration failed — the file " + legacy.filename().string() +
                       " could not be opened");
            return;
        }
        data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) {
            log::write("clipboard: legacy migration failed — the file " + legacy.filename().string() +
                       " could not be read");
            return;
        }
    }
    std::optional<std::string> key = legacyKeychainKey(secretStore_);
    if (!key) {
        log::write("clipboard: legacy key missing from Keychain — cannot migrate");
        return;
    }
    legacyHistory::Decrypted decrypted = legacyHistory::decryptLegacyBlob(data, *key);
    std::string().swap(data);
    if (decrypted.error) {
        log::write("clipboard: legacy migration failed — " + *decrypted.error);
        return;
    }
    historyJson::Decoded decoded =
        historyJson::decode(decrypted.plaintext, static_cast<std::size_t>(std::max(maxItems_, 0)));
    std::string().swap(decrypted.plaintext);
    if (decoded.error) {
        log::write("clipboard: legacy migration failed — " + *decoded.error);
        return;
    }
    items_ = std::move(decoded.items);
    notifyItemsChanged();
    // The legacy file and key go only once the history is safely in the new file; until then a
    // failed save leaves everything as it was for the next start.
    pendingMigration_ = PendingMigration{legacy, items_.size()};
    persistNow();
}

void ClipboardStore::finishLegacyMigration() {
    if (!pendingMigration_) return;
    const PendingMigration done = *std::exchange(pendingMigration_, std::nullopt);
    std::error_code ignored;
    std::filesystem::remove(done.legacyPath, ignored);
    deleteLegacyKeychainKey(secretStore_);
    log::write("clipboard: migrated legacy encrypted history (" + std::to_string(done.itemCount) + " items)");
}

std::optional<std::string> ClipboardStore::legacyKeychainKey(platform::SecretStore& secrets) {
    std::optional<std::string> key = secrets.read(legacyKeyService, legacyKeyAccount);
    if (!key || key->size() != legacyHistory::keySize) return std::nullopt;
    return key;
}

void ClipboardStore::deleteLegacyKeychainKey(platform::SecretStore& secrets) {
    secrets.remove(legacyKeyService, legacyKeyAccount);
}

bool ClipboardStore::persistNow() {
    if (!storagePath_) return true;
    writer_->submit({*storagePath_, historyJson::encode(items_), items_.size()},
                    std::exchange(keepUnreadableHistory_, false));
    std::weak_ptr<ClipboardStore*> weak = self_;
    scheduler_.runInBackground<std::optional<bool>>(
        [writer = writer_](const platform::TaskHandle&) { return writer->writePending(); },
        [weak](std::optional<bool> outcome) {
            if (auto self = weak.lock(); self && outcome) (**self).onWriteFinished(*outcome);
        });
    return true;
}

void ClipboardStore::flushPendingWrites() {
    if (auto outcome = writer_->writePending()) onWriteFinished(*outcome);
}

void ClipboardStore::onWriteFinished(bool succeeded) {
    if (succeeded) finishLegacyMigration();
}

void ClipboardStore::schedulePersist() {
    if (!storagePath_) return;
    if (persistWorkItem_) persistWorkItem_->cancel();
    std::weak_ptr<ClipboardStore*> weak = self_;
    persistWorkItem_ = scheduler_.postAfter(persistDebounce_, [weak] {
        auto self = weak.lock();
        if (!self) return;
        (**self).persistWorkItem_.reset();
        (**self).persistNow();
    });
}

}  // namespace quenlit
