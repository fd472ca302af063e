#pragma once

// The launcher's catalogue: installed applications and one row per usable Firefox profile,
// refreshed on a background task whenever the launcher is about to show, plus the state of the
// current zoxide lookup. Main thread only; the scan runs through the scheduler's background queue.

#include "base/Signal.h"
#include "base/WeakSelf.h"
#include "launch/AppLauncher.h"
#include "launcher/AppItem.h"
#include "platform/ProcessRunner.h"
#include "platform/Scheduler.h"
#include "platform/WindowControl.h"
#include "platform/Workspace.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quenlit {

class AppIndex {
  public:
    // Where a scan gets its facts. The profile queries run on the background task with the scan.
    struct Sources {
        platform::Workspace& workspace;
        std::function<std::vector<FirefoxProfile>()> detectProfiles;
        std::function<std::map<std::string, FirefoxProfile>(const std::vector<FirefoxProfile>&)>
            runningProfiles;
        // Asked whether windows can be moved before window commands are offered; none: they are.
        platform::WindowControl* windowControl = nullptr;
    };
    // What a zoxide lookup needs: the process runner and the home folder.
    struct ZoxideContext {
        platform::ProcessRunner& processes;
        std::filesystem::path home;
    };

    // Starts the first scan at once.
    AppIndex(platform::Scheduler& scheduler, Sources sources, ZoxideContext zoxide);
    ~AppIndex();
    AppIndex(const AppIndex&) = delete;
    AppIndex& operator=(const AppIndex&) = delete;

    const std::vector<AppItem>& apps() const { return apps_; }
    const std::optional<AppItem>& zoxideItem() const { return zoxideItem_; }
    bool isIndexing() const { return isIndexing_; }
    bool needsReindex() const { return needsReindex_; }
    std::uint64_t zoxideGeneration() const { return zoxideGeneration_; }
    const std::optional<std::string>& zoxideKey() const { return zoxideKey_; }

    // Emitted when apps() or zoxideItem() is replaced.
    Signal<> appsChanged;
    Signal<> zoxideItemChanged;

    // Requests a scan; `done` runs once a scan that covers this request has been published. A
    // request during a scan makes that scan run again and waits for it.
    void indexApps(std::function<void()> done = {});
    // Reads the catalogue; touches no index state, so it runs on a background task.
    static std::vector<AppItem> scanApps(const Sources& sources);
    // Replaces the catalogue unless only icons changed (same ids, running states and profiles in
    // the same order), so observers are not disturbed by a scan that found nothing new.
    void publishApps(std::vector<AppItem> items);

    // The rows for a query: the zoxide row alone for a zoxide query (once its lookup finished),
    // otherwise the ranked catalogue with the built-in rows.
    std::vector<AppItem> search(std::string_view query) const;

    void scheduleZoxide(std::string_view query);
    void clearZoxide();
    // The user chose the zoxide row for `directory`: zoxide records the visit on a background task,
    // as the shell's `z` does, so the folder ranks higher next time. Nothing waits for it.
    void recordZoxideVisit(const std::string& directory);

  private:
    void scanPass(std::function<void()> done);
    void waitUntilIndexed(std::function<void()> done);

    platform::Scheduler& scheduler_;
    Sources sources_;
    ZoxideContext zoxide_;
    WeakSelf<AppIndex> self_{this};  // callbacks hold it weakly: a late result finds no index

    std::vector<AppItem> apps_;
    mutable bool saidWindowCommandsOff_ = false;
    std::optional<AppItem> zoxideItem_;
    bool isIndexing_ = false;
    bool needsReindex_ = false;
    std::optional<platform::TaskHandle> zoxideTask_;
    std::uint64_t zoxideGeneration_ = 0;
    std::optional<std::string> zoxideKey_;
};

}  // namespace quenlit
