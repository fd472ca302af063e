#pragma once

// The two global hotkeys: Command-Space toggles the launcher, Command-Escape the clipboard
// history (Super on Linux). One process-wide handler receives every hotkey press and hands it to
// the most recently created manager, whose action then runs on the main queue.
//
// Main thread only. The services outlive the manager.

#include "base/WeakSelf.h"
#include "platform/HotKeys.h"
#include "platform/Scheduler.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace quenlit {

class HotKeyManager {
  public:
    static constexpr std::uint32_t kLauncherHotKeyId = 1;
    static constexpr std::uint32_t kClipboardHotKeyId = 2;

    // Becomes the active manager and registers both hotkeys; a combination that cannot be had is
    // logged and stays inactive.
    HotKeyManager(platform::HotKeys& hotKeys, platform::Scheduler& scheduler,
                  std::function<void()> onLauncherToggle, std::function<void()> onClipboardToggle);
    // Unregisters the hotkeys it holds; stops being the active manager if it still is.
    ~HotKeyManager();
    HotKeyManager(const HotKeyManager&) = delete;
    HotKeyManager& operator=(const HotKeyManager&) = delete;

    // The process-wide handler: id 1 runs the active manager's launcher action, id 2 its clipboard
    // action, each posted to the main queue; other ids, or no active manager, do nothing.
    static void hotKeyEventHandler(std::uint32_t hotKeyId);
    static HotKeyManager* activeManager();

    bool isLauncherHotKeyRegistered() const { return launcherHotKeyRef_.has_value(); }
    bool isClipboardHotKeyRegistered() const { return clipboardHotKeyRef_.has_value(); }

    // Forgets the process-wide handler and active manager, so each test starts afresh.
    static void resetForTesting();

  private:
    std::optional<platform::HotKeyRef> registerHotKey(std::uint32_t id, std::uint32_t keysym);
    void run(std::function<void()> HotKeyManager::*action);

    platform::HotKeys& hotKeys_;
    platform::Scheduler& scheduler_;
    std::optional<platform::HotKeyRef> launcherHotKeyRef_;
    std::optional<platform::HotKeyRef> clipboardHotKeyRef_;
    std::function<void()> onLauncherToggle_;
    std::function<void()> onClipboardToggle_;
    // Posted actions hold this weakly; it expires with the manager.
    WeakSelf<HotKeyManager> self_{this};
};

}  // namespace quenlit
