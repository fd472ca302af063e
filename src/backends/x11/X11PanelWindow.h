#pragma once

// A floating panel on X11. Shown as an override-redirect window that takes the keyboard with a
// grab, it becomes "key" while _NET_ACTIVE_WINDOW stays with the application in front; when the
// grab cannot be had (another program holds the keyboard) the panel falls back to an ordinary
// managed window that is activated. Key presses reach the core's key handler first (after our own
// global hotkeys, which the grab would otherwise swallow); the rest go to the content's focus
// widget. Losing the grab, another window becoming active, or a click outside the panel counts as
// losing the keyboard. Where a compositor runs, the window is a little larger than its content and
// draws the panel's shadow in that margin; the frame origin stays the content's.

#include "backends/x11/X11Connection.h"
#include "backends/x11/X11EventHub.h"
#include "backends/x11/X11HotKeys.h"
#include "platform/PanelWindow.h"

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QWidget;

namespace quenlit::x11 {

class X11PanelWindow final : public platform::PanelWindow {
  public:
    // The primary monitor's height in device pixels, read at each placement: the layout can change.
    using PrimaryHeight = std::function<double()>;
    X11PanelWindow(X11Connection& connection, X11EventHub& events, X11HotKeys* hotKeys, platform::Size size,
                   PrimaryHeight primaryScreenHeight);
    ~X11PanelWindow() override;

    // The top-level widget the interface draws into. The content fills it, less the shadow's margin.
    QWidget* host() const;
    void setContent(QWidget* content);

    void setContentSize(platform::Size size) override;
    void setFrameOrigin(platform::Point origin) override;
    void orderFrontRegardless() override;
    void makeKey() override;
    bool isKeyWindow() override;
    bool isVisible() override;
    void orderOut() override;
    void activateApplication() override;
    std::optional<platform::EventType> currentEventType() override;

    class Host;

  private:
    bool onXEvent(xcb_generic_event_t* event);
    bool grabKeyboard();
    void releaseGrab();
    void resignKey();
    bool keyPressed(std::uint32_t keysym, platform::Modifiers modifiers, xcb_keycode_t keycode,
                    std::uint16_t state);

    X11Connection& x_;
    X11EventHub& events_;
    X11HotKeys* hotKeys_;
    std::unique_ptr<Host> host_;
    int handlerToken_ = 0;
    std::uint8_t xinputOpcode_ = 0;
    PrimaryHeight primaryHeight_;
    platform::Point origin_;
    bool grabbed_ = false;
    // The active window when the panel took the keyboard: only a change away from it means the
    // user went to another window (the window manager also rewrites the same value).
    std::optional<xcb_window_t> activeAtGrab_;
    bool managed_ = false;  // the fallback: a window the window manager activates
    // Once Qt has shown the panel, hiding and showing it again unmap and map its X window directly,
    // and Qt keeps it shown: Qt's own show costs two round trips before the window is mapped and a
    // walk over the widgets, on the path between the hotkey and the panel on screen. Qt takes the
    // unmapping as the window no longer exposed, paints nothing meanwhile, and paints what changed
    // when the window is exposed again. (The managed fallback shows and hides through Qt.)
    bool keptShown_ = false;
    bool mapped_ = false;
    std::optional<platform::EventType> currentEvent_;
};

class X11PanelWindowFactory final : public platform::PanelWindowFactory {
  public:
    X11PanelWindowFactory(X11Connection& connection, X11EventHub& events, X11HotKeys* hotKeys,
                          X11PanelWindow::PrimaryHeight primaryScreenHeight)
        : x_(connection),
          events_(events),
          hotKeys_(hotKeys),
          primaryHeight_(std::move(primaryScreenHeight)) {}
    std::unique_ptr<platform::PanelWindow> createPanel(platform::Size contentSize) override;
    // The windows made so far, for the interface to fill.
    std::vector<X11PanelWindow*> created;

  private:
    X11Connection& x_;
    X11EventHub& events_;
    X11HotKeys* hotKeys_;
    X11PanelWindow::PrimaryHeight primaryHeight_;
};

}  // namespace quenlit::x11
