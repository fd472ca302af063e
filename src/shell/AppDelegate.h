#pragma once

// The application delegate: creates and owns every long-lived object (the two panels, their
// navigation states, the clipboard store, the hotkey manager, the text expander and the
// app-toggle monitor), wires the panels' keys, reacts to the two global hotkeys, performs the
// clipboard paste sequence, and tears the background monitors down at termination.
//
// Main thread only. Every callback handed to a panel or the hotkey manager holds its target
// weakly: one that fires after its target is gone does nothing.

#include "automation/AppToggleMonitor.h"
#include "automation/HotKeyManager.h"
#include "automation/TextExpander.h"
#include "base/WeakSelf.h"
#include "clipboard/ClipboardStore.h"
#include "launch/ProfileManager.h"
#include "launcher/LauncherPanel.h"
#include "panel/FloatingPanel.h"
#include "panel/NavigationState.h"
#include "panel/Notifications.h"
#include "platform/DesktopServices.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

namespace quenlit {

class ClipboardPanel;

class AppDelegate {
  public:
    // The desktop, borrowed for the delegate's life.
    using Platform = platform::DesktopServices;

    struct Configuration {
        ClipboardStore::Options clipboardOptions;
        AppToggleMonitor::Files bindings;
        std::optional<std::filesystem::path> firefoxSupportFolder;
        std::filesystem::path home;
        // Ends the event loop; "Quit Quenlit" calls it.
        std::function<void()> quit;
        // The wall clock for texts that show the time ("$time"); the system clock by default.
        std::function<std::chrono::system_clock::time_point()> wallClock;
        // The clipboard panel and history monitoring; off on a desktop without clipboard capture.
        bool clipboard = true;
    };

    // Creates the two navigation states and the clipboard store; nothing else until launch.
    AppDelegate(Platform platform, Configuration configuration);
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    void togglePanel();
    void toggleClipboardPanel();
    void pasteClipboardItem(const ClipboardItem& item);

    // Replaces the panel's arrow, page and Enter callbacks: Up and Down move the state by a row,
    // Page Up and Page Down by a page, without wrapping; Enter posts `enterNotification`.
    void wireNavigation(FloatingPanel& panel, NavigationState& state, Notification enterNotification);

    LauncherPanel* panel() { return panel_.get(); }
    ClipboardPanel* clipboardPanel() { return clipboardPanel_.get(); }
    HotKeyManager* hotKeyManager() { return hotKeyManager_.get(); }
    TextExpander* textExpander() { return textExpander_.get(); }
    AppToggleMonitor* appToggleMonitor() { return appToggleMonitor_.get(); }
    NavigationState& navigationState() { return navigationState_; }
    NavigationState& clipboardNavigationState() { return clipboardNavigationState_; }
    ClipboardStore& clipboardStore() { return clipboardStore_; }
    NotificationCenter& notifications() { return notifications_; }

    // Emitted once the panels exist, so the interface can draw into their windows.
    Signal<> didCreatePanels;

  private:
    void setupClipboardPanel();
    void setupHotKey();
    FloatingPanel::Services panelServices();
    ContentView::Services launcherViewServices();

    Platform platform_;
    Configuration configuration_;
    ProfileManager::Environment profiles_;
    NotificationCenter notifications_;
    NavigationState navigationState_;
    NavigationState clipboardNavigationState_;
    ClipboardStore clipboardStore_;
    std::unique_ptr<LauncherPanel> panel_;
    std::unique_ptr<ClipboardPanel> clipboardPanel_;
    std::unique_ptr<HotKeyManager> hotKeyManager_;
    std::unique_ptr<TextExpander> textExpander_;
    std::unique_ptr<AppToggleMonitor> appToggleMonitor_;
    WeakSelf<AppDelegate> self_{this};
};

}  // namespace quenlit
