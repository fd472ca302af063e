#include "clipboard/HistoryFile.h"

#include "base/Log.h"
#include "clipboard/HistoryJson.h"

#include <mutex>
#include <utility>

namespace quenlit {

// Writes run on background tasks, but never two at once and never out of order: a task takes the
// newest history waiting to be written only while it holds the write lock, so a slower, older
// write cannot land over a newer one, and a history that was not started yet is simply replaced.
struct HistoryFile::Writer {
    struct Job {
        std::filesystem::path path;
        std::string bytes;
        std::size_t itemCount = 0;
    };

    explicit Writer(platform::AtomicFile& f) : files(f) {}

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

HistoryFile::HistoryFile(platform::Scheduler& scheduler, platform::AtomicFile& files,
                         ClipboardHistory& history, std::optional<std::filesystem::path> path,
                         platform::Seconds debounce)
    : scheduler_(scheduler),
      history_(history),
      path_(std::move(path)),
      debounce_(debounce),
      writer_(std::make_shared<Writer>(files)) {}

HistoryFile::~HistoryFile() {
    if (cancelScheduledSave()) saveNow();
    flush();
    self_.reset();
}

bool HistoryFile::exists() const {
    if (!path_) return false;
    std::error_code ec;
    return std::filesystem::status(*path_, ec).type() != std::filesystem::file_type::not_found;
}

std::optional<std::vector<ClipboardItem>> HistoryFile::read(std::size_t limit) {
    if (!path_) return std::vector<ClipboardItem>();
    historyJson::Decoded decoded = historyJson::readFile(*path_, limit);
    if (decoded.error) {
        log::write("clipboard: failed to load history — " + *decoded.error);
        keepUnreadable_ = true;
        return std::nullopt;
    }
    return std::move(decoded.items);
}

bool HistoryFile::saveNow() {
    if (!path_) return true;
    const auto& items = history_.items();
    writer_->submit({*path_, historyJson::encode(items), items.size()},
                    std::exchange(keepUnreadable_, false));
    scheduler_.runInBackground<std::optional<bool>>(
        [writer = writer_](const platform::TaskHandle&) { return writer->writePending(); },
        self_.bind([](HistoryFile& self, std::optional<bool> outcome) {
            if (outcome) self.finished(*outcome);
        }));
    return true;
}

void HistoryFile::flush() {
    if (auto outcome = writer_->writePending()) finished(*outcome);
}

void HistoryFile::finished(bool succeeded) {
    if (onWriteFinished) onWriteFinished(succeeded);
}

void HistoryFile::scheduleSave() {
    if (!path_) return;
    if (scheduledSave_) scheduledSave_->cancel();
    scheduledSave_ = scheduler_.postAfter(debounce_, self_.bind([](HistoryFile& self) {
        self.scheduledSave_.reset();
        self.saveNow();
    }));
}

bool HistoryFile::cancelScheduledSave() {
    if (!scheduledSave_) return false;
    scheduledSave_->cancel();
    scheduledSave_.reset();
    return true;
}

}  // namespace quenlit
