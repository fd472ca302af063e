#pragma once

// An in-memory desktop: installed and running applications that tests arrange, and a record of
// every request made of it, in words ("activate 42 allWindows=true").

#include "platform/Workspace.h"

#include <map>
#include <mutex>

namespace quenlit::fake {

class FakeWorkspace final : public platform::Workspace {
  public:
    std::vector<platform::InstalledApplication> installed;
    std::vector<platform::RunningApplication> running;
    std::optional<int> frontmostProcess;
    // Where typed keys go, when not to the frontmost application (a window of another program took
    // the focus without becoming active).
    std::optional<int> keyboardFocusProcess;
    std::map<std::string, std::string> identifiersByPath;  // what bundleIdentifier(path) answers
    std::optional<std::string> selfPath;
    int ownProcess = 4242;
    // What a launch reports; nothing means success.
    std::function<std::optional<std::string>(const std::string& path, const platform::OpenConfiguration&)>
        launchError;
    // What opening a file, folder or application path reports; nothing means success.
    std::function<std::optional<std::string>(const std::string& path)> openError;

    std::vector<std::string> calls() const;
    void clearCalls();

    // Makes `pid` the active application and tells the observers, as the desktop would.
    void activateFromOutside(int pid);

    std::vector<platform::InstalledApplication> installedApplications() override;
    std::vector<platform::RunningApplication> runningApplications() override;
    std::optional<platform::RunningApplication> runningApplication(int processIdentifier) override;
    std::optional<platform::RunningApplication> frontmostApplication() override;
    std::optional<platform::RunningApplication> keyboardFocusApplication() override;
    bool activate(int processIdentifier, bool allWindows) override;
    bool hide(int processIdentifier) override;
    bool unhide(int processIdentifier) override;
    Result<> open(const std::string& path) override;
    Result<> openURL(const std::string& url) override;
    std::function<bool(const std::string& url)> acceptsURL;  // nothing: no address is accepted
    void openApplication(const std::string& path, const platform::OpenConfiguration& configuration,
                         std::function<void(Result<>)> completion) override;
    std::optional<std::string> bundleIdentifier(const std::string& path) override;
    std::optional<std::string> applicationPath(const std::string& bundleIdentifier) override;
    std::optional<std::string> selfBundlePath() override { return selfPath; }
    int ownProcessIdentifier() override { return ownProcess; }

  private:
    void record(std::string call);
    platform::RunningApplication* find(int pid);

    mutable std::mutex mutex_;  // the catalogue scan reads from a background task
    std::vector<std::string> calls_;
};

}  // namespace quenlit::fake
