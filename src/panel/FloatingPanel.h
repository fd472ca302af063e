#pragma once

// The frameless floating panel that hosts each of the program's two views. It takes the keyboard
// without activating the program where the desktop allows it, remembers which application and
// control had the focus before it appeared, maps key presses to a few callbacks, and on closing
// either gives the focus back or, for a paste, re-activates the application that should receive
// the paste and answers it.
//
// One showing of the panel is described by the remembered application, its process identifier,
// its focus snapshot and whether activation had to be stolen: show sets them, every hide clears
// them. show, hide, hideForPaste and rememberPreviousFocus are virtual so subclasses can extend
// them (the clipboard panel empties its thumbnail cache in hide, then calls this one); the key
// dispatch and loss of the keyboard reach hide through virtual dispatch too.
//
// Main thread only. The services handed in outlive the panel.

#include "panel/FocusRestorer.h"
#include "panel/Notifications.h"
#include "platform/InputEvents.h"
#include "platform/PanelWindow.h"
#include "platform/Screens.h"
#include "platform/Workspace.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quenlit {

class FloatingPanel {
  public:
    struct Services {
        // Focus capture and restoration, and the workspace, window control, scheduler and screens
        // the panel itself uses.
        FocusRestorer::Context focus;
        NotificationCenter& notifications;
    };

    // Creates the panel's window through the factory.
    FloatingPanel(platform::Size size, Notification willShowNotification, std::string logPrefix,
                  platform::PanelWindowFactory& windows, Services services);
    // Uses the given window.
    FloatingPanel(platform::Size size, Notification willShowNotification, std::string logPrefix,
                  std::unique_ptr<platform::PanelWindow> window, Services services);
    virtual ~FloatingPanel();
    FloatingPanel(const FloatingPanel&) = delete;
    FloatingPanel& operator=(const FloatingPanel&) = delete;

    // Key callbacks. An unset callback still consumes its key. Control-P and Control-N count as
    // Up and Down, as in other keyboard launchers.
    std::function<void()> onArrowUp;
    std::function<void()> onArrowDown;
    std::function<void()> onPageUp;
    std::function<void()> onPageDown;
    std::function<void()> onEnter;  // Return or keypad Enter
    std::function<void()> onCommandK;
    // First refusal on keys pressed without Control, Alt or Super, with the keysym the key means as
    // a shortcut (panel/ShortcutKeys.h); returns true when it handled the key.
    std::function<bool(std::uint32_t keysym)> onMenuKey;

    // Shows the panel and gives it the keyboard; `afterBecomeKey` runs once after the panel became
    // key, and a second time when the program had to be activated for it, so it must be harmless
    // to repeat.
    virtual void show(std::function<void()> afterBecomeKey = {});
    // Hides the panel. With `restoreFocus`, and only when showing it took activation away from
    // the previous application, that application and its focused control get the focus back,
    // from the main queue right after the hide.
    virtual void hide(bool restoreFocus);
    // Hides the panel for a paste: re-activates the application that should receive the paste
    // keystroke and answers it; absent when there is none.
    virtual std::optional<platform::RunningApplication> hideForPaste();
    virtual void rememberPreviousFocus();

    // Where the panel's window goes on `screen`: horizontally centred on its usable area, the top
    // edge 80 logical pixels below the top of that area. In the screens' space (bottom-left origin).
    static platform::Point originOn(const platform::Screen& screen, platform::Size size);

    // The key dispatch, given every key-down the window receives; returns true when the panel
    // consumed the key, false to pass it on to the content. Tab is consumed and does nothing: the
    // search field is the panel's only input and keeps the keyboard.
    bool sendEvent(const platform::InputEvent& event);

    bool isVisible() const { return window_->isVisible(); }
    platform::PanelWindow& window() { return *window_; }
    platform::Size panelSize() const { return panelSize_; }
    const std::string& logPrefix() const { return logPrefix_; }

    const std::optional<platform::RunningApplication>& previouslyActiveApp() const {
        return previouslyActiveApp_;
    }
    std::optional<int> previousAppPID() const { return previousAppPID_; }
    const FocusRestorer::Snapshot& previousFocusSnapshot() const { return previousFocusSnapshot_; }
    bool didStealActivation() const { return didStealActivation_; }

  protected:
    const Services& services() const { return services_; }
    void log(const std::string& message) const;
    // Whether the remembered application is gone: no process with its identifier, a terminated
    // one, or another application that was given the same process identifier since.
    bool hasTerminated(const platform::RunningApplication& app) const;

  private:
    void resignKey();
    void clearShowing();
    void placeOnActiveScreen();

    std::unique_ptr<platform::PanelWindow> window_;
    Services services_;

    std::optional<platform::RunningApplication> previouslyActiveApp_;
    std::optional<int> previousAppPID_;
    FocusRestorer::Snapshot previousFocusSnapshot_;
    bool didStealActivation_ = false;
    bool isHiding_ = false;
    platform::Size panelSize_;
    Notification willShowNotification_;
    std::string logPrefix_;

    Connection resignConnection_;
};

}  // namespace quenlit
