#include "backends/kde/KWinWorkspace.h"

#include "backends/linux/DesktopEntryMatch.h"

#include <unistd.h>

#include <algorithm>

namespace quenlit::kde {

KWinWorkspace::KWinWorkspace(KWinWindows& windows)
    : windows_(windows), mainThread_(std::this_thread::get_id()) {}

std::vector<KWinWorkspace::Program> KWinWorkspace::refresh() {
    auto all = windows_.list();
    if (!all) return programs();
    std::vector<Program> found;
    int active = 0;
    for (const KWinWindow& w : *all) {
        if (w.active) active = w.processIdentifier;
        // Docks, menus, pop-ups and windows kept off the task bar are no application's face.
        if (!w.normal || w.skipTaskbar || w.processIdentifier <= 0) continue;
        auto program = std::find_if(found.begin(), found.end(), [&](const Program& p) {
            return p.processIdentifier == w.processIdentifier;
        });
        if (program == found.end()) {
            found.push_back({w.processIdentifier, {}});
            program = found.end() - 1;
        }
        program->windows.push_back(w);
    }
    const int previousOther = lastOtherProcess_;
    activeProcess_ = active;
    if (active != 0 && active != ::getpid()) lastOtherProcess_ = active;
    {
        std::lock_guard<std::mutex> lock(snapshotMutex_);
        snapshot_ = found;
    }
    if (lastOtherProcess_ != previousOther && lastOtherProcess_ != 0) {
        for (const Program& p : found)
            if (p.processIdentifier == lastOtherProcess_) didActivateApplication.emit(describe(p));
    }
    return found;
}

std::vector<KWinWorkspace::Program> KWinWorkspace::programs() {
    if (onMainThread()) {
        static thread_local bool reading = false;
        if (!reading) {
            reading = true;
            auto fresh = refresh();
            reading = false;
            return fresh;
        }
    }
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    return snapshot_;
}

platform::RunningApplication KWinWorkspace::describe(const Program& program) {
    platform::RunningApplication app;
    app.processIdentifier = program.processIdentifier;
    app.activationPolicy = platform::ActivationPolicy::regular;
    bool allHidden = !program.windows.empty();
    std::vector<std::pair<std::string, std::string>> names;
    for (const KWinWindow& w : program.windows) {
        allHidden = allHidden && w.minimized;
        // A Wayland window's desktop file name is usually its entry's ID; an X11 one's class pair.
        if (!w.desktopFile.empty()) names.emplace_back(w.desktopFile, w.desktopFile);
        if (!w.resourceClass.empty()) names.emplace_back(w.resourceName, w.resourceClass);
    }
    app.isHidden = allHidden;
    app.isActive = program.processIdentifier == activeProcess_;
    app.isTerminated = !linux_backend::processExists(program.processIdentifier);
    const auto entries = recentInstalledApplications(kRunningEntriesMaxAge);
    auto entry =
        linux_backend::matchDesktopEntry(*entries, names, std::nullopt, linux_backend::resolveProgram);
    if (!entry)
        entry = linux_backend::matchDesktopEntry(*entries, {},
                                                 linux_backend::executableOf(program.processIdentifier),
                                                 linux_backend::resolveProgram);
    if (entry) {
        app.bundleIdentifier = (*entries)[*entry].identifier;
        app.bundlePath = (*entries)[*entry].path;
        app.localizedName = (*entries)[*entry].name;
        return app;
    }
    for (const KWinWindow& w : program.windows) {
        if (app.localizedName) break;
        if (!w.resourceClass.empty())
            app.localizedName = w.resourceClass;
        else if (!w.caption.empty())
            app.localizedName = w.caption;
    }
    return app;
}

std::vector<platform::RunningApplication> KWinWorkspace::runningApplications() {
    std::vector<platform::RunningApplication> out;
    for (const Program& p : programs())
        out.push_back(describe(p));
    return out;
}

std::optional<platform::RunningApplication> KWinWorkspace::runningApplication(int processIdentifier) {
    for (const Program& p : programs())
        if (p.processIdentifier == processIdentifier) return describe(p);
    return std::nullopt;
}

std::optional<platform::RunningApplication> KWinWorkspace::frontmostApplication() {
    const auto found = programs();
    // A panel of ours holding the keyboard leaves the user's application in front.
    const int front =
        activeProcess_ == ::getpid() || activeProcess_ == 0 ? lastOtherProcess_ : activeProcess_;
    for (const Program& p : found)
        if (p.processIdentifier == front) {
            auto app = describe(p);
            app.isActive = true;
            return app;
        }
    return std::nullopt;
}

std::optional<platform::RunningApplication> KWinWorkspace::keyboardFocusApplication() {
    const auto found = programs();
    for (const Program& p : found)
        if (p.processIdentifier == activeProcess_) return describe(p);
    return std::nullopt;
}

bool KWinWorkspace::forEachWindow(int processIdentifier, const std::string& body) {
    std::vector<KWinWindow> own;
    for (const Program& p : programs())
        if (p.processIdentifier == processIdentifier) own = p.windows;
    if (own.empty()) return false;
    bool any = false;
    for (const KWinWindow& w : own)
        if (windows_.withWindow(w.id, body)) any = true;
    return any;
}

bool KWinWorkspace::activate(int processIdentifier, bool allWindows) {
    std::vector<KWinWindow> own;
    for (const Program& p : programs())
        if (p.processIdentifier == processIdentifier) own = p.windows;
    if (own.empty()) return false;
    // Topmost last, so it ends in front; the active one counts as topmost.
    std::stable_sort(own.begin(), own.end(), [](const KWinWindow& a, const KWinWindow& b) {
        if (a.active != b.active) return b.active;
        return a.stacking < b.stacking;
    });
    if (!allWindows) own.erase(own.begin(), own.end() - 1);
    bool any = false;
    for (const KWinWindow& w : own)
        if (windows_.withWindow(w.id, "if (w.minimized) w.minimized = false;\nkwin.activate(w);")) any = true;
    if (any) lastOtherProcess_ = processIdentifier == ::getpid() ? lastOtherProcess_ : processIdentifier;
    return any;
}

bool KWinWorkspace::hide(int processIdentifier) {
    return forEachWindow(processIdentifier, "w.minimized = true;");
}

bool KWinWorkspace::unhide(int processIdentifier) {
    return forEachWindow(processIdentifier, "w.minimized = false;");
}

}  // namespace quenlit::kde
