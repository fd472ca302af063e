#pragma once

// The history on disk: the JSON file (format in HistoryJson.h) that the clipboard history is read
// from once and saved to after changes. A save copies the items on the main thread (cheap: their
// texts are shared) and a serial writer encodes and writes that copy on background tasks, so the
// largest history costs the main thread well under a millisecond; a burst of changes is saved once,
// persistDebounce after the last. A history file that could not be read is moved aside before the
// first save replaces it.
//
// Main thread only; the writer's background tasks come back to the main thread through the
// scheduler and do nothing once the HistoryFile is gone.

#include "base/WeakSelf.h"
#include "clipboard/ClipboardHistory.h"
#include "platform/AtomicFile.h"
#include "platform/Scheduler.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace quenlit {

class HistoryFile {
  public:
    // `history` is what every save writes; it and the services must outlive the HistoryFile. Without
    // a path nothing is read or written.
    HistoryFile(platform::Scheduler& scheduler, platform::AtomicFile& files, ClipboardHistory& history,
                std::optional<std::filesystem::path> path, platform::Seconds debounce);
    // Nothing the user copied is lost by closing between a change and its debounced save: a
    // scheduled save is written at once, and every handed-over save reaches the disk.
    ~HistoryFile();
    HistoryFile(const HistoryFile&) = delete;
    HistoryFile& operator=(const HistoryFile&) = delete;

    const std::optional<std::filesystem::path>& path() const { return path_; }
    // Whether anything is at the path. A file that cannot even be looked at (a folder without
    // permission) counts as there: it is reported as unreadable and kept.
    bool exists() const;
    // Reads and decodes the file, keeping its first maxItems items. A file that is not a regular
    // file, or larger than a history of the history's limits can be, is not read. On failure logs
    // why and returns nothing; the unreadable file is then kept aside before the first save.
    std::optional<std::vector<ClipboardItem>> read();
    // After a load: deletes the image files of the images folder (by their naming pattern, and
    // nothing else there) that no entry of `named` names, and the temporary files of saves that
    // were cut short. A linked images folder is not the store's: nothing in it is touched.
    void removeOrphans(const std::vector<ClipboardItem>& named);
    // Takes the image files the history released: without a history file they are deleted at
    // once, otherwise once a save that no longer names them has succeeded.
    void releaseImages();

    // Hands the history as it is now to the writer, which encodes it and replaces the file on a
    // background task; changes made after the call are not part of this save. Writes run one at a
    // time, in order, and a write that has not started yet is superseded by a newer one. The
    // outcome ("persisted" or "persist failed") is logged when the write ends. Returns true once the
    // history is handed over (or when there is no file).
    bool saveNow();
    // Saves `debounce` after the last of a burst of calls.
    void scheduleSave();
    // Drops a scheduled save; true when there was one.
    bool cancelScheduledSave();
    bool hasScheduledSave() const { return scheduledSave_.has_value(); }
    // Whether the history changed since it was last handed to the writer, or since it was known to
    // match the file (noteInSync), or the last write failed.
    bool hasUnsavedChanges() const { return path_ && savedRevision_ != history_.revision(); }
    // The history as it is now is what the file holds (it was just loaded from it).
    void noteInSync() { savedRevision_ = history_.revision(); }
    // Blocks until every history handed to the writer is on disk.
    void flush();
    platform::Seconds debounce() const { return debounce_; }

    // Called on the main thread when a write has ended, with whether it succeeded.
    std::function<void(bool succeeded)> onWriteFinished;

  private:
    struct Writer;

    void finished(bool succeeded);

    platform::Scheduler& scheduler_;
    platform::AtomicFile& files_;
    ClipboardHistory& history_;
    std::optional<std::filesystem::path> path_;
    platform::Seconds debounce_;
    std::optional<platform::TaskHandle> scheduledSave_;
    // The history's revision that the file holds, as far as is known.
    std::optional<std::uint64_t> savedRevision_;
    // A history file that could not be read is moved aside before the first save replaces it.
    bool keepUnreadable_ = false;
    // Released image files that go to the writer with the next save.
    std::vector<std::filesystem::path> unsaved_;
    // Shared with its background tasks, which may outlive the HistoryFile.
    std::shared_ptr<Writer> writer_;
    WeakSelf<HistoryFile> self_{this};
};

}  // namespace quenlit
