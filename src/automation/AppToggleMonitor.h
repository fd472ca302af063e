#pragma once

// Makes the app-toggle bindings live: reads the bindings file once at launch, installs a keyboard
// tap that swallows Left Control + a bound key, and on the main queue hides, activates or launches
// the bound application.

#include "automation/AppToggleBindings.h"
#include "base/Paths.h"
#include "base/WeakSelf.h"
#include "platform/FileReader.h"
#include "platform/InputEvents.h"
#include "platform/Scheduler.h"
#include "platform/WindowControl.h"
#include "platform/Workspace.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace quenlit {

// Where a toggle looks for an application that does not run.
struct AppToggleLookup {
    platform::Workspace& workspace;
    // The XDG applications folders, in XDG order; desktop files are looked for directly inside.
    const std::vector<std::filesystem::path>& applicationDirectories;
};

// What one toggle does.
struct AppToggleAction {
    enum class Kind { hide, activate, launch, notFound };
    Kind kind = Kind::notFound;
    std::optional<platform::RunningApplication> app;  // hide and activate
    std::string path;                                 // launch: the application's desktop file

    static AppToggleAction hide(platform::RunningApplication app) { return {Kind::hide, std::move(app), {}}; }
    static AppToggleAction activate(platform::RunningApplication app) {
        return {Kind::activate, std::move(app), {}};
    }
    static AppToggleAction launch(std::string path) { return {Kind::launch, std::nullopt, std::move(path)}; }
    static AppToggleAction notFound() { return {}; }
    bool operator==(const AppToggleAction&) const = default;

    // Hides the target when it is in front, else activates the first running target, else launches
    // its application file. A target is a regular, live application whose identifier equals the
    // bundle identifier, or (without one) whose name equals the application name ignoring case.
    static AppToggleAction resolve(const std::optional<std::string>& bundleID,
                                   const std::optional<std::string>& appName,
                                   const std::optional<platform::RunningApplication>& frontmost,
                                   const std::vector<platform::RunningApplication>& running,
                                   const AppToggleLookup& lookup);
    // The desktop file of the application: by identifier through the workspace, else the file named
    // after the application directly inside an applications folder, else the first installed entry
    // with that name ignoring case.
    static std::optional<std::string> resolveURL(const std::optional<std::string>& bundleID,
                                                 const std::optional<std::string>& appName,
                                                 const AppToggleLookup& lookup);
};

class AppToggleMonitor {
  public:
    // Borrowed; they outlive the monitor.
    struct Services {
        platform::KeyboardEvents& keyboard;
        platform::Workspace& workspace;
        platform::WindowControl& windows;
        platform::Scheduler& scheduler;
        platform::FileReader& files;
    };

    struct Files {
        std::filesystem::path bindingsFile;
        std::vector<std::filesystem::path> applicationDirectories;

        // The user's bindings file, and $XDG_DATA_HOME/applications followed by the applications
        // folder of each absolute entry of $XDG_DATA_DIRS (default /usr/local/share:/usr/share).
        static Files forUser(const XdgDirs& dirs, const XdgDirs::Getenv& getenv);
    };

    AppToggleMonitor(Services services, Files files);
    ~AppToggleMonitor();
    AppToggleMonitor(const AppToggleMonitor&) = delete;
    AppToggleMonitor& operator=(const AppToggleMonitor&) = delete;

    // Main thread, once at launch: loads the bindings and, when there are any, installs the tap.
    void start();
    void reloadBindings();
    void installTapIfPossible();
    // Removes the tap; after this the tap callback is never called again.
    void tearDownTap();

    // The tap's decision for one event: true passes it on, false swallows it. Takes only the state
    // lock and allocates nothing, except when it schedules work on the main queue.
    bool appToggleCallback(const platform::InputEvent& event);
    // Main thread: hides, activates or launches the binding's application.
    void handleToggle(const AppToggleBinding& binding);

    const std::vector<AppToggleBinding>& bindings() const { return bindings_; }
    bool hasTap() const { return tapPort_ != nullptr; }
    const std::filesystem::path& bindingsFile() const { return files_.bindingsFile; }

    // The file's bindings: none when it does not exist, fileTooLarge above the size limit,
    // fileUnreadable when it cannot be read (a folder on its path denies access), is no regular
    // file or is not UTF-8, else what the parser makes of it.
    static AppToggleBindingsResult loadBindings(const std::filesystem::path& file,
                                                platform::FileReader& files);
    // "apptoggle: binding leftControl+k → com.example.App"
    static std::string bindingLogLine(const AppToggleBinding& binding);
    // "apptoggle: no bindings (create /home/me/.config/quenlit/bindings.toml)"
    static std::string noBindingsLogLine(const std::filesystem::path& file);
    // "apptoggle: load failed — toggle needs app or bundle_id"
    static std::string loadFailedLogLine(const AppToggleBindingsError& error);

  private:
    using Snapshot = std::vector<AppToggleBinding>;

    void publish(std::vector<AppToggleBinding> bindings);

    Services services_;
    Files files_;
    // Main thread only.
    std::vector<AppToggleBinding> bindings_;
    std::unique_ptr<platform::EventTap> tapPort_;
    bool loggedTapFailure_ = false;

    // The tap reads an immutable snapshot of the bindings: copying the pointer under the lock costs
    // no allocation on the key path, and a swap never disturbs a callback still reading the old one.
    std::mutex stateLock_;
    std::shared_ptr<const Snapshot> bindingsForTap_;
    bool leftControlForTap_ = false;

    // Work posted to the main queue does nothing once the monitor is gone. (The tap's thread only
    // copies the guard; the check runs on the main queue.)
    WeakSelf<AppToggleMonitor> self_{this};
};

}  // namespace quenlit
