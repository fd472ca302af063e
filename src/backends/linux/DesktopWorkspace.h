#pragma once

// The workspace without a display: installed applications from the XDG desktop entries (through
// GIO), launching and opening through GIO. What it starts runs in the user's home folder (unless
// its entry names a folder), in a session of its own, with its output and input on the null
// device, and with the environment Quenlit was given. Running applications, activation and windows need the
// X server; this workspace reports none and refuses to activate, hide or unhide.

#include "platform/Workspace.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

// GIO's application type, without GIO's headers (they clash with Qt's keywords).
typedef struct _GAppInfo GAppInfo;  // NOLINT: GIO's own spelling

namespace quenlit::linux_backend {

// What walking one applications folder found.
struct ApplicationFolderWalk {
    std::vector<std::string> desktopFiles;  // relative to the folder ("kde/konsole.desktop"), sorted
    std::vector<std::string> linkedFiles;   // those of desktopFiles that are symbolic links, sorted
    std::string realFolder;                 // the folder with its symbolic links resolved
    std::vector<std::string> unreadable;    // "FOLDER: REASON" for each folder that could not be listed
};

// Subfolders deeper than this below an applications folder are not walked: desktop entries sit one
// or two levels down, and a bound keeps a pathological tree from holding the scan.
inline constexpr int kMaxApplicationFolderDepth = 8;

// The desktop files in `folder` and its subfolders. A folder is walked once however many links
// lead to it (by device and inode), a linked folder only when it lies inside one of `trees` (the
// applications folders, so a link to ".." or "/" leads nowhere), never deeper than
// kMaxApplicationFolderDepth; a folder that cannot be listed is skipped and the walk goes on.
ApplicationFolderWalk walkApplicationFolder(const std::filesystem::path& folder,
                                            const std::vector<std::filesystem::path>& trees);

class DesktopWorkspace : public platform::Workspace {
  public:
    // Variables this process changed for itself, with the values its children get instead (absent:
    // unset), e.g. the toolkit platform it forces on its own toolkit.
    using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;
    void setChildEnvironment(EnvironmentChanges changes) { childEnvironment_ = std::move(changes); }

    std::vector<platform::InstalledApplication> installedApplications() override;
    // The list of the last walk when it is at most `maxAge` old, else a new walk. For questions
    // asked on every keystroke or focus change (which entry a running program belongs to), where a
    // list a second old is as good and walking the folders each time is not.
    std::shared_ptr<const std::vector<platform::InstalledApplication>> recentInstalledApplications(
        std::chrono::milliseconds maxAge);
    // Which desktop entry a running program belongs to is asked on every keystroke (the application
    // in front) and every focus change: a list of entries a second old answers as well as a new walk.
    static constexpr std::chrono::milliseconds kRunningEntriesMaxAge{1000};
    std::vector<platform::RunningApplication> runningApplications() override { return {}; }
    std::optional<platform::RunningApplication> runningApplication(int) override { return std::nullopt; }
    std::optional<platform::RunningApplication> frontmostApplication() override { return std::nullopt; }
    bool activate(int, bool) override { return false; }
    bool hide(int) override { return false; }
    bool unhide(int) override { return false; }
    Result<> open(const std::string& path) override;
    Result<> openURL(const std::string& url) override;
    void openApplication(const std::string& path, const platform::OpenConfiguration& configuration,
                         std::function<void(Result<>)> completion) override;
    std::optional<std::string> bundleIdentifier(const std::string& path) override;
    std::optional<std::string> applicationPath(const std::string& bundleIdentifier) override;
    std::optional<std::string> selfBundlePath() override { return applicationPath("quenlit"); }
    int ownProcessIdentifier() override;

  private:
    // What a desktop file said when it was last read; read again only when the file changed.
    struct CachedEntry {
        long long modified = 0;  // nanoseconds
        long long changed = 0;
        long long size = -1;
        unsigned long long inode = 0;
        std::optional<platform::InstalledApplication> app;  // absent: hidden, not shown, or unusable
    };
    // `folderDescriptor`, when not negative, is the open folder that `relative` (the path's part
    // below it) is looked up in, which spares walking the folder's own path for every entry.
    std::optional<platform::InstalledApplication> entryFor(const std::string& path, const std::string& id,
                                                           int folderDescriptor = -1,
                                                           const std::string& relative = {});
    // Starts the program with `uri` (or none), as described above; the reason when it did not start.
    std::optional<std::string> launch(GAppInfo* info, const char* uri);

    EnvironmentChanges childEnvironment_;

    std::mutex cacheMutex_;  // scans run on background tasks
    std::unordered_map<std::string, CachedEntry> cache_;
    std::set<std::string> reportedUnreadable_;  // each unreadable folder is logged once
    std::shared_ptr<const std::vector<platform::InstalledApplication>> lastList_;
    std::chrono::steady_clock::time_point lastListTime_;
};

// Whether the desktop entry at `path` is a terminal emulator's (TerminalEmulator among its
// Categories), whatever its program calls its windows. False for a file that cannot be read.
bool isTerminalEmulatorEntry(const std::string& path);

}  // namespace quenlit::linux_backend
