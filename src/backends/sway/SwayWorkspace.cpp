#include "backends/sway/SwayWorkspace.h"

#include "backends/linux/DesktopEntryMatch.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <utility>

namespace quenlit::sway {
namespace {

using linux_backend::executableOf;
using linux_backend::matchDesktopEntry;
using linux_backend::processExists;
using linux_backend::resolveProgram;

// sway keeps the windows of its scratchpad on a workspace of this name, out of every output.
constexpr std::string_view kScratchpad = "__i3_scratch";

std::string criteria(long con) {
    return "[con_id=" + std::to_string(con) + "] ";
}

}  // namespace

SwayWorkspace::SwayWorkspace(Toplevels& toplevels, SwayIpc* sway)
    : toplevels_(toplevels), sway_(sway), mainThread_(std::this_thread::get_id()) {
    lastActiveProcess_ = activeProcess(refresh());
    toplevelsChanged_ = toplevels_.changed.connect([this] {
        if (sway_ != nullptr) sway_->forgetReadings();
        windowsChanged();
    });
    if (sway_ != nullptr) {
        // The toplevels lag behind sway's own focus events, and a toplevel announced before sway's
        // tree shows its window gets its process only at the tree's next change.
        swayChanged_ =
            sway_->windowChanged.connect([this](const std::string&, const SwayWindow&) { windowsChanged(); });
        sway_->watchWindows();
    }
}

SwayWorkspace::~SwayWorkspace() = default;

std::vector<SwayWorkspace::Program> SwayWorkspace::refresh() {
    const std::vector<Toplevel> list = toplevels_.list();
    std::optional<std::vector<SwayWindow>> tree;
    if (sway_ != nullptr) tree = sway_->windows();

    // Windows of one program often share their app id and title (two terminals). sway announces a
    // window's toplevel as it makes its container, so both lists hold them in the same order (the
    // toplevels oldest first, container ids growing). The activated toplevel is no guide: its
    // state and sway's focus change at different moments. Paired afresh on every reading, so a
    // pairing read while one list lagged behind the other does not outlive the next change.
    std::vector<Program> out;
    std::set<long> claimed;
    for (const Toplevel& toplevel : list) {
        if (!tree) break;
        const SwayWindow* match = nullptr;
        for (const SwayWindow& window : *tree) {
            if (claimed.count(window.id) != 0 || window.appId != toplevel.appId ||
                window.name != toplevel.title)
                continue;
            if (match == nullptr || window.id < match->id) match = &window;
        }
        // A window that names no process cannot be told apart from other programs'.
        if (match == nullptr || match->pid <= 0) continue;
        claimed.insert(match->id);
        Window window{toplevel.handle, match->id,          toplevel.appId,
                      toplevel.title,  toplevel.activated, toplevel.minimized};
        window.focused = match->focused;
        window.scratchpad = match->workspace == kScratchpad;
        window.focusRank = match->focusRank;
        auto it = std::find_if(out.begin(), out.end(), [&](const Program& program) {
            return program.processIdentifier == match->pid;
        });
        if (it == out.end()) it = out.insert(out.end(), Program{match->pid, {}});
        it->windows.push_back(std::move(window));
    }
    std::lock_guard lock(snapshotMutex_);
    snapshot_ = out;
    return out;
}

std::vector<SwayWorkspace::Program> SwayWorkspace::programs() {
    // The toplevels and sway's socket belong to the main thread.
    if (onMainThread()) return refresh();
    std::lock_guard lock(snapshotMutex_);
    return snapshot_;
}

std::optional<SwayWorkspace::Program> SwayWorkspace::program(int processIdentifier) {
    if (processIdentifier <= 0) return std::nullopt;
    for (Program& program : programs()) {
        if (program.processIdentifier == processIdentifier) return std::move(program);
    }
    return std::nullopt;
}

int SwayWorkspace::activeProcess(const std::vector<Program>& programs) {
    // sway's focus first: the tree is read when asked, while the toplevels' activated state arrives
    // with the next events, so right after a switch it still names the window left behind.
    for (const bool byToplevel : {false, true}) {
        for (const Program& program : programs) {
            for (const Window& window : program.windows) {
                if (byToplevel ? window.activated : window.focused) return program.processIdentifier;
            }
        }
    }
    return 0;
}

platform::RunningApplication SwayWorkspace::describe(const Program& program, int activeProcess) {
    platform::RunningApplication app;
    app.processIdentifier = program.processIdentifier;
    // An app id names the program the way a window class does: it is usually the desktop-file ID.
    std::vector<std::pair<std::string, std::string>> appIds;
    bool allHidden = !program.windows.empty();
    for (const Window& window : program.windows) {
        if (!window.appId.empty()) appIds.emplace_back(window.appId, window.appId);
        allHidden = allHidden && (window.minimized || window.scratchpad);
    }
    app.activationPolicy = platform::ActivationPolicy::regular;
    app.isHidden = allHidden;
    app.isActive = activeProcess == program.processIdentifier;
    app.isTerminated = !processExists(program.processIdentifier);
    const auto entries = recentInstalledApplications(kRunningEntriesMaxAge);
    // The executable is only read when the app ids name no entry.
    std::optional<std::size_t> entry = matchDesktopEntry(*entries, appIds, std::nullopt, resolveProgram);
    if (!entry)
        entry = matchDesktopEntry(*entries, {}, executableOf(program.processIdentifier), resolveProgram);
    if (entry) {
        app.bundleIdentifier = (*entries)[*entry].identifier;
        app.bundlePath = (*entries)[*entry].path;
        app.localizedName = (*entries)[*entry].name;
        return app;
    }
    // Without an entry the program is known by what its windows call it.
    for (const Window& window : program.windows) {
        if (app.localizedName) break;
        if (!window.appId.empty()) app.localizedName = window.appId;
    }
    for (const Window& window : program.windows) {
        if (app.localizedName) break;
        if (!window.title.empty()) app.localizedName = window.title;
    }
    return app;
}

std::vector<platform::RunningApplication> SwayWorkspace::runningApplications() {
    const auto all = programs();
    const int active = activeProcess(all);
    std::vector<platform::RunningApplication> out;
    out.reserve(all.size());
    for (const Program& program : all)
        out.push_back(describe(program, active));
    return out;
}

std::optional<platform::RunningApplication> SwayWorkspace::runningApplication(int processIdentifier) {
    if (processIdentifier <= 0) return std::nullopt;
    const auto all = programs();
    for (const Program& program : all) {
        if (program.processIdentifier == processIdentifier) return describe(program, activeProcess(all));
    }
    // A process without a window is no desktop application.
    return std::nullopt;
}

std::optional<platform::RunningApplication> SwayWorkspace::frontmostApplication() {
    const auto all = programs();
    const int active = activeProcess(all);
    for (const Program& program : all) {
        if (program.processIdentifier == active) return describe(program, active);
    }
    return std::nullopt;
}

bool SwayWorkspace::activate(int processIdentifier, bool allWindows) {
    const auto found = program(processIdentifier);
    if (!found || found->windows.empty()) return false;
    // The compositor keeps no stacking order to read: the window the program had in front is its
    // activated one, else the one sway focused last. It is activated last, to end in front.
    std::vector<Window> windows = found->windows;
    std::stable_sort(windows.begin(), windows.end(), [](const Window& a, const Window& b) {
        if (a.activated != b.activated) return b.activated;
        return a.focusRank > b.focusRank;
    });
    if (!allWindows) windows.erase(windows.begin(), windows.end() - 1);
    bool any = false;
    for (const Window& window : windows) {
        if (toplevels_.activate(window.handle)) any = true;
    }
    return any;
}

bool SwayWorkspace::hide(int processIdentifier) {
    const auto found = program(processIdentifier);
    // Only sway's tree names a window's process, so a program found is one sway shows.
    if (!found || sway_ == nullptr) return false;
    // sway has no minimised state and ignores the toplevel's request: its scratchpad is how it puts
    // a window out of sight.
    std::string commands;
    for (const Window& window : found->windows) {
        if (window.scratchpad) continue;
        if (!commands.empty()) commands += "; ";
        commands += criteria(window.con) + "move scratchpad";
    }
    const bool hid = !commands.empty() && sway_->command(commands).has_value();
    refresh();
    return hid;
}

bool SwayWorkspace::unhide(int processIdentifier) {
    const auto found = program(processIdentifier);
    if (!found) return false;
    bool shown = false;
    std::string commands;
    for (const Window& window : found->windows) {
        if (window.minimized && toplevels_.setMinimized(window.handle, false)) shown = true;
        if (!window.scratchpad) continue;
        if (!commands.empty()) commands += "; ";
        // Shows the window floating on the current workspace, and focuses it.
        commands += criteria(window.con) + "scratchpad show";
    }
    if (sway_ != nullptr && !commands.empty() && sway_->command(commands).has_value()) shown = true;
    refresh();
    return shown;
}

void SwayWorkspace::windowsChanged() {
    const auto all = refresh();
    const int pid = activeProcess(all);
    // No active window (an empty workspace, or between two windows) changes no application.
    if (pid <= 0 || pid == lastActiveProcess_) return;
    lastActiveProcess_ = pid;
    for (const Program& program : all) {
        if (program.processIdentifier == pid) {
            didActivateApplication.emit(describe(program, pid));
            return;
        }
    }
}

}  // namespace quenlit::sway
