#pragma once

// The desktop's applications: the installed ones (desktop entries), the running ones, the one in
// front, and launching, activating, hiding and opening. On Linux an application "bundle" is a
// desktop entry: its path is the desktop file's absolute path and its identifier the desktop-file
// ID without ".desktop".
//
// All calls are made on the main thread unless noted; none blocks for long.

#include "base/Result.h"
#include "base/Signal.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quenlit::platform {

enum class ActivationPolicy { regular, accessory, prohibited };

// A desktop entry that may be shown in a launcher (not hidden, passing its TryExec and OnlyShowIn
// tests), de-duplicated by desktop-file ID with the first directory winning.
struct InstalledApplication {
    std::string identifier;           // desktop-file ID without ".desktop" ("org.gnome.Nautilus")
    std::string path;                 // absolute path of the desktop file
    std::string name;                 // the untranslated Name
    std::string icon;                 // the Icon value: a theme name or an absolute file path; may be empty
    std::string startupWMClass = {};  // the StartupWMClass value; may be empty
    std::string executable = {};      // the program of Exec as written (a name or a path); may be empty
    // `path` with its symbolic links resolved, when the backend learnt it while listing the entries;
    // empty when it did not, and the catalogue resolves the path itself.
    std::string resolvedPath = {};
    bool operator==(const InstalledApplication&) const = default;
};

// A snapshot of a running application, taken when asked for.
struct RunningApplication {
    int processIdentifier = 0;
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> bundlePath;  // its desktop file, when it could be matched to one
    std::optional<std::string> localizedName;
    ActivationPolicy activationPolicy = ActivationPolicy::regular;
    bool isHidden = false;
    bool isActive = false;
    bool isTerminated = false;
    bool operator==(const RunningApplication&) const = default;
};

struct OpenConfiguration {
    bool activates = true;
    std::vector<std::string> arguments;  // appended to the application's own command
};

class Workspace {
  public:
    virtual ~Workspace() = default;

    // May be called from a background thread (the catalogue scan).
    virtual std::vector<InstalledApplication> installedApplications() = 0;
    // May be called from a background thread. In the order the desktop reports them.
    virtual std::vector<RunningApplication> runningApplications() = 0;
    virtual std::optional<RunningApplication> runningApplication(int processIdentifier) = 0;
    virtual std::optional<RunningApplication> frontmostApplication() = 0;
    // The application whose window has the keyboard focus: where typed keys go now. The frontmost
    // one where the desktop tells no difference.
    virtual std::optional<RunningApplication> keyboardFocusApplication() { return frontmostApplication(); }

    // Brings the application's windows forward (all of them when allWindows), topmost last; false
    // when the desktop refused.
    [[nodiscard]] virtual bool activate(int processIdentifier, bool allWindows) = 0;
    [[nodiscard]] virtual bool hide(int processIdentifier) = 0;
    [[nodiscard]] virtual bool unhide(int processIdentifier) = 0;

    // Opens a file or folder with its default handler; an application path launches it. A failure
    // carries the desktop's own reason ("Failed to execute child process …").
    virtual Result<> open(const std::string& path) = 0;
    // Opens an address with its default handler (a settings page, a web page); fails when nothing
    // accepts it.
    virtual Result<> openURL(const std::string& url) = 0;
    // Launches the application at `path` (or activates it, as the desktop decides); `completion`,
    // when given, receives the outcome, possibly on another thread.
    virtual void openApplication(const std::string& path, const OpenConfiguration& configuration,
                                 std::function<void(Result<> launched)> completion) = 0;

    // The identifier of the application at `path`; absent when it is not a readable entry.
    virtual std::optional<std::string> bundleIdentifier(const std::string& path) = 0;
    // The path of the installed application with that identifier.
    virtual std::optional<std::string> applicationPath(const std::string& bundleIdentifier) = 0;
    // Quenlit's own entry, when one is installed.
    virtual std::optional<std::string> selfBundlePath() = 0;
    virtual int ownProcessIdentifier() = 0;

    // Emitted on the main thread when another application becomes the active one.
    Signal<const RunningApplication&> didActivateApplication;
};

}  // namespace quenlit::platform
