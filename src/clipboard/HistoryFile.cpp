#include "clipboard/HistoryFile.h"

#include "base/Log.h"
#include "clipboard/HistoryJson.h"

#include <algorithm>
#include <iterator>
#include <mutex>
#include <set>
#include <utility>

namespace quenlit {

namespace {

// Whether the images folder is a real folder, not a link to one: the store deletes nothing
// through a link, which may lead anywhere.
bool isOwnFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    // "images/" would be looked at through a link named "images".
    const std::filesystem::path named = folder.has_filename() ? folder : folder.parent_path();
    return std::filesystem::symlink_status(named, ec).type() == std::filesystem::file_type::directory;
}

void deleteImage(const std::filesystem::path& file, const std::optional<std::filesystem::path>& folder) {
    if (!folder || !isOwnFolder(*folder)) return;
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
}

// "3F2504E0-4F89-41D3-9A0C-0305E82C3301.png", as ClipboardHistory names its files, and the
// temporary files they are written through ("….png.tmp" and "….png.tmp.XXXXXX").
bool isImageFileName(const std::string& name) {
    const std::size_t dot = name.find('.');
    if (dot == std::string::npos) return false;
    const std::string stem = name.substr(0, dot);
    const std::optional<Uuid> uuid = Uuid::parse(stem);
    if (!uuid || uuid->toString() != stem) return false;
    const std::string_view rest = std::string_view(name).substr(dot);
    return rest == ".png" || rest == ".png.tmp" || (rest.starts_with(".png.tmp.") && rest.size() == 15);
}

}  // namespace

// Saves are encoded and written on background tasks, but never two at once and never out of
// order: a task takes the newest history waiting to be written only while it holds the write lock,
// so a slower, older write cannot land over a newer one, and a history that was not started yet is
// simply replaced.
//
// The image files of entries that left the history are deleted only after a history that no
// longer names them is on disk: a crash in between leaves a file that nothing names, which the next
// load removes, never a history naming a file that is gone.
struct HistoryFile::Writer {
    // The history as it was when the save was asked for. Copying the items is cheap (their texts
    // are shared and never change); encoding them is not (tens of milliseconds for the largest
    // history), so it happens here, on the writer's task, and not at all for a superseded save.
    struct Job {
        std::filesystem::path path;
        std::vector<ClipboardItem> items;
    };

    Writer(platform::AtomicFile& f, std::optional<std::filesystem::path> folder)
        : files(f), imagesFolder(std::move(folder)) {}

    void submit(Job job, bool keepUnreadable, std::vector<std::filesystem::path> released) {
        std::lock_guard lock(stateMutex);
        pending = std::move(job);
        keepUnreadablePending = keepUnreadablePending || keepUnreadable;
        unreferenced.insert(unreferenced.end(), std::make_move_iterator(released.begin()),
                            std::make_move_iterator(released.end()));
    }

    // Writes the newest waiting history: nullopt when there was none, else whether it was written.
    std::optional<bool> writePending() {
        std::lock_guard write(writeMutex);
        std::optional<Job> job;
        bool keep = false;
        std::vector<std::filesystem::path> deletable;
        {
            std::lock_guard lock(stateMutex);
            job = std::exchange(pending, std::nullopt);
            keep = keepUnreadablePending;
            // Every one of these left the history before this job was handed over.
            deletable = unreferenced;
        }
        if (!job) return std::nullopt;
        const std::string bytes = historyJson::encode(job->items);
        std::set<std::filesystem::path> imagesNamed;
        for (const auto& item : job->items) {
            if (item.imagePath) imagesNamed.insert(*item.imagePath);
        }
        Result<> saved = files.ensurePrivateDirectory(job->path.parent_path());
        if (saved && keep) {
            saved = keepAside(job->path);
            if (saved) {
                std::lock_guard lock(stateMutex);
                keepUnreadablePending = false;
            }
        }
        if (saved) {
            std::filesystem::path temp = job->path;
            temp += ".tmp";
            saved = files.writeAtomically(job->path, temp, bytes, 0600);
        }
        if (!saved) {
            log::write("clipboard: persist failed — " + saved.error().reason);
            return false;
        }
        log::write("clipboard: persisted " + std::to_string(job->items.size()) + " items (" +
                   std::to_string(bytes.size()) + " bytes)");
        for (const auto& file : deletable) {
            if (!imagesNamed.contains(file)) deleteImage(file, imagesFolder);
        }
        {
            std::lock_guard lock(stateMutex);
            unreferenced.erase(unreferenced.begin(),
                               unreferenced.begin() + static_cast<std::ptrdiff_t>(deletable.size()));
        }
        return true;
    }

    // A history file that could not be read is the user's data all the same: it is moved aside
    // under a name nothing else has, never over an older copy or whatever else took the name.
    static Result<> keepAside(const std::filesystem::path& path) {
        std::error_code ec;
        const auto status = std::filesystem::symlink_status(path, ec);
        if (status.type() == std::filesystem::file_type::not_found) return {};
        constexpr int attempts = 100;
        for (int n = 1; n <= attempts; ++n) {
            std::filesystem::path kept = path;
            kept += n == 1 ? std::string(".unreadable") : ".unreadable-" + std::to_string(n);
            if (std::filesystem::symlink_status(kept, ec).type() != std::filesystem::file_type::not_found)
                continue;
            std::filesystem::rename(path, kept, ec);
            if (ec)
                return Failure{"could not keep the unreadable history as " + kept.string() + ": " +
                               ec.message()};
            log::write("clipboard: kept unreadable history as " + kept.string());
            return {};
        }
        return Failure{"could not keep the unreadable history: " + std::to_string(attempts) +
                       " copies are kept already beside " + path.string()};
    }

    platform::AtomicFile& files;
    const std::optional<std::filesystem::path> imagesFolder;
    std::mutex writeMutex;  // held for a whole write
    std::mutex stateMutex;  // guards the fields below
    std::optional<Job> pending;
    bool keepUnreadablePending = false;
    // Image files of entries that left the history, oldest first, not deleted yet.
    std::vector<std::filesystem::path> unreferenced;
};

HistoryFile::HistoryFile(platform::Scheduler& scheduler, platform::AtomicFile& files,
                         ClipboardHistory& history, std::optional<std::filesystem::path> path,
                         platform::Seconds debounce)
    : scheduler_(scheduler),
      files_(files),
      history_(history),
      path_(std::move(path)),
      debounce_(debounce),
      writer_(std::make_shared<Writer>(files, history.imagesDirectory())) {}

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

std::optional<std::vector<ClipboardItem>> HistoryFile::read() {
    if (!path_) return std::vector<ClipboardItem>();
    const auto maxItems = static_cast<std::size_t>(std::max(history_.maxItems(), 0));
    historyJson::Decoded decoded = historyJson::readFile(
        files_, *path_, maxItems, historyJson::largestFileSize(maxItems, history_.maxTextLength()));
    if (decoded.error) {
        log::write("clipboard: failed to load history — " + *decoded.error);
        keepUnreadable_ = true;
        return std::nullopt;
    }
    return std::move(decoded.items);
}

void HistoryFile::releaseImages() {
    std::vector<std::filesystem::path> released = history_.takeReleasedImages();
    if (released.empty()) return;
    if (path_) {
        unsaved_.insert(unsaved_.end(), std::make_move_iterator(released.begin()),
                        std::make_move_iterator(released.end()));
        return;
    }
    // No history on disk names them.
    for (const auto& file : released)
        deleteImage(file, history_.imagesDirectory());
}

void HistoryFile::removeOrphans(const std::vector<ClipboardItem>& named) {
    if (!path_) return;
    const std::filesystem::path folder = path_->parent_path();
    const std::string historyName = path_->filename().string();
    std::error_code ec;
    // Temporary files of history saves that were cut short.
    for (const auto& entry : std::filesystem::directory_iterator(folder.empty() ? "." : folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name == historyName + ".tmp" ||
            (name.size() == historyName.size() + 11 && name.starts_with(historyName + ".tmp."))) {
            std::error_code ignored;
            std::filesystem::remove(entry.path(), ignored);
        }
    }
    const std::optional<std::filesystem::path>& images = history_.imagesDirectory();
    if (!images ||
        std::filesystem::symlink_status(*images, ec).type() == std::filesystem::file_type::not_found)
        return;
    if (!isOwnFolder(*images)) {
        log::write("clipboard: " + images->string() +
                   " is not a folder of the store's own — its files are left alone");
        return;
    }
    std::set<std::string> kept;
    for (const auto& item : named) {
        if (item.imagePath) kept.insert(std::filesystem::path(*item.imagePath).lexically_normal().string());
    }
    std::size_t removed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(*images, ec)) {
        const std::string name = entry.path().filename().string();
        if (!isImageFileName(name) || kept.contains(entry.path().lexically_normal().string())) continue;
        std::error_code failed;
        if (std::filesystem::remove(entry.path(), failed)) ++removed;
    }
    if (removed > 0)
        log::write("clipboard: removed " + std::to_string(removed) + " image files no entry names");
}

bool HistoryFile::saveNow() {
    if (!path_) return true;
    releaseImages();
    savedRevision_ = history_.revision();
    writer_->submit({*path_, history_.items()}, std::exchange(keepUnreadable_, false),
                    std::exchange(unsaved_, {}));
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
    // The file may hold anything now: the next chance to save takes it.
    if (!succeeded) savedRevision_.reset();
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
