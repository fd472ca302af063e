#include "backends/fake/FakeWorkspace.h"

#include <algorithm>

namespace quenlit::fake {

std::vector<std::string> FakeWorkspace::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

void FakeWorkspace::clearCalls() {
    std::lock_guard lock(mutex_);
    calls_.clear();
}

void FakeWorkspace::record(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
}

platform::RunningApplication* FakeWorkspace::find(int pid) {
    auto it = std::find_if(running.begin(), running.end(),
                           [pid](const auto& app) { return app.processIdentifier == pid; });
    return it == running.end() ? nullptr : &*it;
}

void FakeWorkspace::activateFromOutside(int pid) {
    for (auto& app : running)
        app.isActive = app.processIdentifier == pid;
    frontmostProcess = pid;
    if (auto* app = find(pid)) didActivateApplication.emit(*app);
}

std::vector<platform::InstalledApplication> FakeWorkspace::installedApplications() {
    std::lock_guard lock(mutex_);
    return installed;
}

std::vector<platform::RunningApplication> FakeWorkspace::runningApplications() {
    std::lock_guard lock(mutex_);
    return running;
}

std::optional<platform::RunningApplication> FakeWorkspace::runningApplication(int processIdentifier) {
    if (auto* app = find(processIdentifier)) return *app;
    return std::nullopt;
}

std::optional<platform::RunningApplication> FakeWorkspace::frontmostApplication() {
    if (!frontmostProcess) return std::nullopt;
    return runningApplication(*frontmostProcess);
}

std::optional<platform::RunningApplication> FakeWorkspace::keyboardFocusApplication() {
    if (!keyboardFocusProcess) return frontmostApplication();
    return runningApplication(*keyboardFocusProcess);
}

bool FakeWorkspace::activate(int processIdentifier, bool allWindows) {
    record("activate " + std::to_string(processIdentifier) +
           " allWindows=" + (allWindows ? "true" : "false"));
    auto* app = find(processIdentifier);
    if (app == nullptr || app->isTerminated) return false;
    for (auto& other : running)
        other.isActive = false;
    app->isActive = true;
    app->isHidden = false;
    frontmostProcess = processIdentifier;
    return true;
}

bool FakeWorkspace::hide(int processIdentifier) {
    record("hide " + std::to_string(processIdentifier));
    auto* app = find(processIdentifier);
    if (app == nullptr) return false;
    app->isHidden = true;
    app->isActive = false;
    return true;
}

bool FakeWorkspace::unhide(int processIdentifier) {
    record("unhide " + std::to_string(processIdentifier));
    auto* app = find(processIdentifier);
    if (app == nullptr) return false;
    app->isHidden = false;
    return true;
}

Result<> FakeWorkspace::open(const std::string& path) {
    record("open " + path);
    if (openError) {
        if (auto error = openError(path)) return Failure{*error};
    }
    return {};
}

Result<> FakeWorkspace::openURL(const std::string& url) {
    record("openURL " + url);
    if (acceptsURL && acceptsURL(url)) return {};
    return Failure{"no handler for " + url};
}

void FakeWorkspace::openApplication(const std::string& path, const platform::OpenConfiguration& configuration,
                                    std::function<void(Result<>)> completion) {
    std::string call =
        "openApplication " + path + " activates=" + (configuration.activates ? "true" : "false");
    for (const auto& argument : configuration.arguments)
        call += " " + argument;
    if (!completion) call += " (no completion)";
    record(call);
    std::optional<std::string> error = launchError ? launchError(path, configuration) : std::nullopt;
    if (!completion) return;
    if (error) {
        completion(Failure{*error});
    } else {
        completion({});
    }
}

std::optional<std::string> FakeWorkspace::bundleIdentifier(const std::string& path) {
    auto it = identifiersByPath.find(path);
    if (it != identifiersByPath.end()) return it->second;
    return std::nullopt;
}

std::optional<std::string> FakeWorkspace::applicationPath(const std::string& identifier) {
    for (const auto& app : installed) {
        if (app.identifier == identifier) return app.path;
    }
    return std::nullopt;
}

}  // namespace quenlit::fake
