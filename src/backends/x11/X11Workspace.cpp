#include "backends/x11/X11Workspace.h"

#include "backends/linux/DesktopEntryMatch.h"

#include <algorithm>
#include <cstdlib>

namespace quenlit::x11 {
namespace {

using linux_backend::executableOf;
using linux_backend::matchDesktopEntry;
using linux_backend::processExists;
using linux_backend::resolveProgram;

}  // namespace

X11Workspace::X11Workspace(X11Connection& connection) : connection_(connection) {}

X11Workspace::X11Workspace(X11Connection& connection, X11EventHub& events)
    : connection_(connection), events_(&events) {
    // The event mask is per client and Qt shares this connection: add to its mask, never replace it.
    xcb_connection_t* c = connection_.raw();
    xcb_get_window_attributes_reply_t* attributes =
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, connection_.root()), nullptr);
    const std::uint32_t mask =
        (attributes != nullptr ? attributes->your_event_mask : 0u) | XCB_EVENT_MASK_PROPERTY_CHANGE;
    std::free(attributes);
    std::free(xcb_request_check(
        c, xcb_change_window_attributes_checked(c, connection_.root(), XCB_CW_EVENT_MASK, &mask)));
    lastActiveProcess_ = processOf(connection_.activeWindow());
    const xcb_atom_t activeWindow = connection_.atom("_NET_ACTIVE_WINDOW");
    const xcb_atom_t clients = connection_.atom("_NET_CLIENT_LIST");
    handlerToken_ = events_->addHandler([this, activeWindow, clients](xcb_generic_event_t* event) {
        if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
            const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            if (notify->window != connection_.root()) return false;
            // A window that came or went may be the one in front, or its process may have ended.
            if (notify->atom == clients) forgetFront();
            if (notify->atom == activeWindow) activeWindowChanged();
        }
        return false;  // Qt and the other services see the event too
    });
}

X11Workspace::~X11Workspace() {
    if (events_ != nullptr) events_->removeHandler(handlerToken_);
}

std::vector<X11Workspace::Group> X11Workspace::groups(X11Connection::ClientOrder order) {
    std::vector<Group> out;
    for (ClientWindow& window : connection_.clientWindows(order)) {
        // A window that does not name its process cannot be told apart from other programs'.
        if (window.processIdentifier <= 0) continue;
        auto it = std::find_if(out.begin(), out.end(), [&](const Group& g) {
            return g.processIdentifier == window.processIdentifier;
        });
        if (it == out.end()) it = out.insert(out.end(), Group{window.processIdentifier, {}});
        it->windows.push_back(std::move(window));
    }
    return out;
}

std::vector<ClientWindow> X11Workspace::windowsOf(int processIdentifier) {
    std::vector<ClientWindow> out;
    for (ClientWindow& window : connection_.clientWindows(X11Connection::ClientOrder::stacking)) {
        if (window.processIdentifier == processIdentifier) out.push_back(std::move(window));
    }
    return out;
}

int X11Workspace::processOf(std::optional<xcb_window_t> window) {
    if (!window) return 0;
    return static_cast<int>(connection_.cardinal(*window, "_NET_WM_PID").value_or(0));
}

platform::RunningApplication X11Workspace::describe(
    const Group& group, const std::vector<platform::InstalledApplication>& entries, int activeProcess) {
    platform::RunningApplication app;
    app.processIdentifier = group.processIdentifier;
    std::vector<std::pair<std::string, std::string>> classes;
    bool regular = false;
    bool allHidden = !group.windows.empty();
    for (const ClientWindow& window : group.windows) {
        if (window.wmClass) classes.push_back(*window.wmClass);
        regular = regular || (window.type == WindowType::normal && !window.skipTaskbar);
        allHidden = allHidden && window.hidden;
    }
    app.activationPolicy =
        regular ? platform::ActivationPolicy::regular : platform::ActivationPolicy::accessory;
    app.isHidden = allHidden;
    app.isActive = activeProcess == group.processIdentifier;
    app.isTerminated = !processExists(group.processIdentifier);
    // The executable is only read when the window classes name no entry.
    std::optional<std::size_t> entry = matchDesktopEntry(entries, classes, std::nullopt, resolveProgram);
    if (!entry) entry = matchDesktopEntry(entries, {}, executableOf(group.processIdentifier), resolveProgram);
    if (entry) {
        app.bundleIdentifier = entries[*entry].identifier;
        app.bundlePath = entries[*entry].path;
        app.localizedName = entries[*entry].name;
    } else {
        for (const auto& wmClass : classes) {
            if (!wmClass.second.empty()) {
                app.localizedName = wmClass.second;
                break;
            }
        }
        for (const ClientWindow& window : group.windows) {
            if (app.localizedName) break;
            if (window.name && !window.name->empty()) app.localizedName = window.name;
        }
    }
    return app;
}

std::vector<platform::RunningApplication> X11Workspace::runningApplications() {
    const auto all = groups(X11Connection::ClientOrder::mapping);
    if (all.empty()) return {};
    const auto entries = recentInstalledApplications(kRunningEntriesMaxAge);
    const int active = processOf(connection_.activeWindow());
    std::vector<platform::RunningApplication> out;
    out.reserve(all.size());
    for (const Group& group : all)
        out.push_back(describe(group, *entries, active));
    return out;
}

std::optional<platform::RunningApplication> X11Workspace::runningApplication(int processIdentifier) {
    if (processIdentifier <= 0) return std::nullopt;
    Group group{processIdentifier, {}};
    for (ClientWindow& window : connection_.clientWindows(X11Connection::ClientOrder::mapping)) {
        if (window.processIdentifier == processIdentifier) group.windows.push_back(std::move(window));
    }
    // A process without a client window is no desktop application.
    if (group.windows.empty()) return std::nullopt;
    return describe(group, *recentInstalledApplications(kRunningEntriesMaxAge),
                    processOf(connection_.activeWindow()));
}

std::optional<platform::RunningApplication> X11Workspace::frontmostApplication() {
    std::uint64_t changes = 0;
    {
        std::lock_guard lock(frontMutex_);
        if (front_) return *front_;
        changes = frontChanges_;
    }
    const int pid = processOf(connection_.activeWindow());
    std::optional<platform::RunningApplication> app;
    if (pid > 0) app = runningApplication(pid);
    // Kept only where property changes are seen: a workspace without events would never let go of it.
    if (events_ != nullptr) {
        std::lock_guard lock(frontMutex_);
        if (changes == frontChanges_) front_.emplace(app);
    }
    return app;
}

void X11Workspace::forgetFront() {
    std::lock_guard lock(frontMutex_);
    front_.reset();
    ++frontChanges_;
}

std::optional<platform::RunningApplication> X11Workspace::keyboardFocusApplication() {
    xcb_connection_t* c = connection_.raw();
    Reply<xcb_get_input_focus_reply_t> focus(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    if (!focus) return std::nullopt;
    xcb_window_t window = focus->focus;
    // A few levels suffice: the client window lies just below the window manager's frame.
    for (int depth = 0; depth < 8; ++depth) {
        if (window == XCB_NONE || window == XCB_INPUT_FOCUS_POINTER_ROOT || window == connection_.root())
            return std::nullopt;
        if (const int pid = processOf(window); pid > 0) return runningApplication(pid);
        Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
        if (!tree) return std::nullopt;
        window = tree->parent;
    }
    return std::nullopt;
}

bool X11Workspace::activate(int processIdentifier, bool allWindows) {
    const auto windows = windowsOf(processIdentifier);  // bottom of the stack first
    if (windows.empty()) return false;
    if (allWindows) {
        for (const ClientWindow& window : windows)
            connection_.requestActivation(window.id);
        return true;
    }
    auto topVisible =
        std::find_if(windows.rbegin(), windows.rend(), [](const ClientWindow& w) { return !w.hidden; });
    connection_.requestActivation(topVisible != windows.rend() ? topVisible->id : windows.back().id);
    return true;
}

bool X11Workspace::hide(int processIdentifier) {
    const auto windows = windowsOf(processIdentifier);
    for (const ClientWindow& window : windows)
        connection_.requestIconify(window.id);
    return !windows.empty();
}

bool X11Workspace::unhide(int processIdentifier) {
    const auto windows = windowsOf(processIdentifier);
    for (const ClientWindow& window : windows) {
        if (window.hidden) connection_.requestActivation(window.id);
    }
    return !windows.empty();
}

void X11Workspace::activeWindowChanged() {
    forgetFront();
    const int pid = processOf(connection_.activeWindow());
    std::optional<platform::RunningApplication> app;
    if (pid > 0) app = runningApplication(pid);
    {
        std::lock_guard lock(frontMutex_);
        front_.emplace(app);
    }
    // No active window (focus on the desktop, or between two windows) changes no application.
    if (pid <= 0 || pid == lastActiveProcess_) return;
    lastActiveProcess_ = pid;
    if (app) didActivateApplication.emit(*app);
}

}  // namespace quenlit::x11
