#pragma once

// In-memory applications and their windows: tests say what each application lists and which
// windows refuse a change, and read back every change in words ("setFrame (10.0, 20.0, 400.0,
// 300.0) on window 7", "activate window 7", "activateApplication app 10").

#include "platform/WindowControl.h"

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quenlit::fake {

class FakeWindowControl final : public platform::WindowControl {
  public:
    platform::WindowCapabilities can{true, true, true, {}};
    bool trusted = true;
    int promptCount = 0;
    // The user grants trust at the prompt.
    bool grantOnPrompt = false;
    // Runs after every change is recorded, before it takes effect, with its words: lets a test make
    // an application react to a change.
    std::function<void(const std::string& change)> onChange;

    // An ordinary, resizable window listed after the application's others.
    platform::WindowRef addWindow(int pid, std::uint64_t id, platform::Rect frame);
    // The window a test made, to change what it reports; it must exist.
    platform::WindowInfo& info(const platform::WindowRef& window);
    // Lists the window first, as the one with the focus.
    void focus(const platform::WindowRef& window);
    // windows() of the application fails with this until cleared.
    std::map<int, Failure> listFailure;
    // setFrame on these windows fails, leaving them where they are.
    std::set<std::uint64_t> refusesFrame;
    // The window closes: calls on it fail as gone.
    void close(const platform::WindowRef& window);

    const std::vector<std::string>& log() const { return log_; }
    void clearLog() { log_.clear(); }
    int listCount() const { return listCount_; }

    platform::WindowCapabilities capabilities() const override { return can; }
    bool isProcessTrusted(bool prompt) override;
    Result<std::vector<platform::WindowInfo>> windows(int processIdentifier) override;
    Result<platform::WindowInfo> window(const platform::WindowRef& window) override;
    Result<> setFrame(const platform::WindowRef& window, const platform::Rect& frame, bool resize) override;
    Result<> leaveFullScreen(const platform::WindowRef& window) override;
    Result<> activate(const platform::WindowRef& window) override;
    Result<> activateApplication(int processIdentifier) override;

  private:
    platform::WindowInfo* find(const platform::WindowRef& window);
    void noteChange(const std::string& change);

    std::map<int, std::vector<platform::WindowInfo>> applications_;
    std::vector<std::string> log_;
    int listCount_ = 0;
};

}  // namespace quenlit::fake
