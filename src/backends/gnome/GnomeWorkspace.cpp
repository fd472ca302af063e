#include "backends/gnome/GnomeWorkspace.h"

#include "backends/linux/DesktopEntryMatch.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace quenlit::gnome {

using linux_backend::executableOf;
using linux_backend::matchDesktopEntry;
using linux_backend::processExists;
using linux_backend::resolveProgram;

GnomeWorkspace::GnomeWorkspace(ShellExtension& shell)
    : shell_(shell), mainThread_(std::this_thread::get_id()), self_(static_cast<int>(::getpid())) {
    focusChanged_ = shell_.focusChanged.connect([this](int pid) {
        if (pid <= 0 || pid == self_ || pid == lastFront_) return;
        lastFront_ = pid;
        const auto all = windows();
        didActivateApplication.emit(describe(pid, all, pid));
    });
}

std::vector<ShellWindow> GnomeWorkspace::windows() {
    if (std::this_thread::get_id() != mainThread_) {
        std::lock_guard lock(snapshotMutex_);
        return snapshot_;
    }
    auto listed = shell_.windows();
    std::vector<ShellWindow> all = listed ? std::move(listed.value()) : std::vector<ShellWindow>{};
    std::lock_guard lock(snapshotMutex_);
    snapshot_ = all;
    return all;
}

int GnomeWorkspace::frontProcess(const std::vector<ShellWindow>& all) {
    // Most recently used first: the first ordinary window of another program is the one the user
    // was in, whether or not a panel of ours has the keyboard now.
    for (const ShellWindow& w : all) {
        if (w.pid > 0 && w.pid != self_ && w.ordinary && !w.minimised) return w.pid;
    }
    return 0;
}

platform::RunningApplication GnomeWorkspace::describe(int pid, const std::vector<ShellWindow>& all,
                                                      int front) {
    platform::RunningApplication app;
    app.processIdentifier = pid;
    app.activationPolicy = platform::ActivationPolicy::regular;
    std::vector<std::pair<std::string, std::string>> classes;
    bool allHidden = true, any = false;
    for (const ShellWindow& w : all) {
        if (w.pid != pid) continue;
        any = true;
        if (!w.wmClass.empty()) classes.emplace_back(w.wmClass, w.wmClass);
        allHidden = allHidden && w.minimised;
    }
    app.isHidden = any && allHidden;
    app.isActive = pid == front;
    app.isTerminated = !processExists(pid);
    const auto entries = recentInstalledApplications(kRunningEntriesMaxAge);
    std::optional<std::size_t> entry = matchDesktopEntry(*entries, classes, std::nullopt, resolveProgram);
    if (!entry) entry = matchDesktopEntry(*entries, {}, executableOf(pid), resolveProgram);
    if (entry) {
        app.bundleIdentifier = (*entries)[*entry].identifier;
        app.bundlePath = (*entries)[*entry].path;
        app.localizedName = (*entries)[*entry].name;
        return app;
    }
    // Without an entry the program is known by what its windows call it.
    for (const ShellWindow& w : all) {
        if (w.pid == pid && !w.wmClass.empty()) {
            app.localizedName = w.wmClass;
            break;
        }
    }
    return app;
}

std::vector<platform::RunningApplication> GnomeWorkspace::runningApplications() {
    const auto all = windows();
    const int front = frontProcess(all);
    std::vector<int> pids;
    for (const ShellWindow& w : all) {
        if (w.pid > 0 && w.ordinary && std::find(pids.begin(), pids.end(), w.pid) == pids.end())
            pids.push_back(w.pid);
    }
    std::vector<platform::RunningApplication> out;
    for (int pid : pids)
        out.push_back(describe(pid, all, front));
    return out;
}

std::optional<platform::RunningApplication> GnomeWorkspace::runningApplication(int processIdentifier) {
    if (processIdentifier <= 0) return std::nullopt;
    const auto all = windows();
    const bool has =
        std::any_of(all.begin(), all.end(), [&](const ShellWindow& w) { return w.pid == processIdentifier; });
    if (!has) return std::nullopt;
    return describe(processIdentifier, all, frontProcess(all));
}

std::optional<platform::RunningApplication> GnomeWorkspace::frontmostApplication() {
    const auto all = windows();
    const int front = frontProcess(all);
    if (front == 0) return std::nullopt;
    return describe(front, all, front);
}

bool GnomeWorkspace::activate(int processIdentifier, bool allWindows) {
    const auto all = windows();
    std::vector<std::uint64_t> ids;
    for (const ShellWindow& w : all) {
        if (w.pid == processIdentifier && w.ordinary) ids.push_back(w.id);
    }
    if (ids.empty()) return false;
    if (!allWindows) ids = {ids.front()};
    // The one it had in front last, so it ends up on top.
    bool ok = true;
    for (auto it = ids.rbegin(); it != ids.rend(); ++it)
        ok = shell_.activateWindow(*it).has_value() && ok;
    return ok;
}

bool GnomeWorkspace::hide(int processIdentifier) {
    bool any = false;
    for (const ShellWindow& w : windows()) {
        if (w.pid != processIdentifier || w.minimised || !w.ordinary) continue;
        any = shell_.minimiseWindow(w.id).has_value() || any;
    }
    return any;
}

bool GnomeWorkspace::unhide(int processIdentifier) {
    bool any = false;
    for (const ShellWindow& w : windows()) {
        if (w.pid != processIdentifier || !w.minimised) continue;
        any = shell_.activateWindow(w.id).has_value() || any;
    }
    return any;
}

namespace {

platform::WindowInfo infoOf(const ShellWindow& w) {
    platform::WindowInfo info;
    info.ref = {w.pid, w.id};
    info.frame = w.frame;
    info.ordinary = w.ordinary;
    info.minimised = w.minimised;
    info.fullScreen = w.fullScreen;
    info.resizable = w.resizable;
    return info;
}

}  // namespace

Result<std::vector<platform::WindowInfo>> GnomeWindowControl::windows(int processIdentifier) {
    auto all = shell_.windows();
    if (!all) return all.error();
    std::vector<platform::WindowInfo> out;
    for (const ShellWindow& w : all.value()) {
        if (w.pid == processIdentifier) out.push_back(infoOf(w));
    }
    if (out.empty()) return Failure::gone("the application has no windows");
    return out;
}

Result<platform::WindowInfo> GnomeWindowControl::window(const platform::WindowRef& window) {
    auto all = shell_.windows();
    if (!all) return all.error();
    for (const ShellWindow& w : all.value()) {
        if (w.id == window.id) return infoOf(w);
    }
    return Failure::gone("the window is gone");
}

Result<> GnomeWindowControl::setFrame(const platform::WindowRef& window, const platform::Rect& frame,
                                      bool resize) {
    auto before = this->window(window);
    if (!before) return before.error();
    if (auto moved = shell_.moveResizeWindow(window.id, frame, resize); !moved) return moved;
    // The window takes its new frame when its program answers the configure: read it back until it
    // shows, or has settled elsewhere (a size the program refuses), at most half a second.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    platform::Rect last = before.value().frame;
    int still = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        auto now = this->window(window);
        if (!now) return now.error();
        const platform::Rect f = now.value().frame;
        const bool placed = f.x == frame.x && f.y == frame.y &&
                            (!resize || (f.width == frame.width && f.height == frame.height));
        if (placed) return {};
        still = f == last && !(f == before.value().frame) ? still + 1 : 0;
        if (still >= 3) return {};
        last = f;
    }
    return {};
}

Result<> GnomeWindowControl::leaveFullScreen(const platform::WindowRef& window) {
    if (auto left = shell_.leaveFullScreen(window.id); !left) return left;
    for (int i = 0; i < 25; ++i) {
        auto now = this->window(window);
        if (!now) return now.error();
        if (!now.value().fullScreen) return {};
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return {};
}

Result<> GnomeWindowControl::activate(const platform::WindowRef& window) {
    return shell_.activateWindow(window.id);
}

Result<> GnomeWindowControl::activateApplication(int processIdentifier) {
    auto all = windows(processIdentifier);
    if (!all) return all.error();
    return shell_.activateWindow(all.value().front().ref.id);
}

std::vector<platform::Screen> screensFromMonitors(const std::vector<ShellMonitor>& monitors) {
    std::vector<platform::Screen> out;
    if (monitors.empty()) return out;
    // Bottom-left origin at the primary monitor's bottom-left corner, y up.
    const double height = monitors.front().frame.height;
    const auto flip = [height](const platform::Rect& r) {
        return platform::Rect{r.x, height - (r.y + r.height), r.width, r.height};
    };
    for (const ShellMonitor& m : monitors)
        out.push_back({flip(m.frame), flip(m.workArea)});
    return out;
}

std::vector<platform::Screen> GnomeScreens::screens() {
    auto monitors = shell_.monitors();
    return monitors ? screensFromMonitors(monitors.value()) : std::vector<platform::Screen>{};
}

std::optional<platform::Screen> GnomeScreens::mainScreen() {
    auto monitors = shell_.monitors();
    if (!monitors || monitors.value().empty()) return std::nullopt;
    return screensFromMonitors(monitors.value()).front();
}

std::optional<platform::Screen> GnomeScreens::activeScreen() {
    auto monitors = shell_.monitors();
    if (!monitors || monitors.value().empty()) return std::nullopt;
    const auto all = screensFromMonitors(monitors.value());
    // The monitor of the window the user is in (the most recently used one of another program),
    // else the primary one.
    if (auto windows = shell_.windows()) {
        for (const ShellWindow& w : windows.value()) {
            if (w.pid == ::getpid() || !w.ordinary || w.minimised) continue;
            const double x = w.frame.midX(), y = w.frame.midY();
            for (std::size_t i = 0; i < monitors.value().size(); ++i) {
                const platform::Rect& m = monitors.value()[i].frame;
                if (x >= m.minX() && x < m.maxX() && y >= m.minY() && y < m.maxY()) return all[i];
            }
            break;
        }
    }
    return all.front();
}

}  // namespace quenlit::gnome
