#pragma once

// A floating panel window: frameless, always on top, shown without taking activation from the
// application in front where the desktop allows it (then the panel holds the keyboard while the
// other application stays active). Main thread only.

#include "base/Signal.h"
#include "platform/Geometry.h"
#include "platform/InputEvents.h"

#include <functional>
#include <memory>
#include <optional>

namespace quenlit::platform {

class PanelWindow {
  public:
    virtual ~PanelWindow() = default;

    virtual void setContentSize(Size size) = 0;
    // The bottom-left corner of the window in the bottom-left-origin screen space, in the screens'
    // units (see Screens.h); the window converts it to the toolkit's logical pixels itself.
    virtual void setFrameOrigin(Point origin) = 0;
    // Shows the window above every other, whether or not the program is active.
    virtual void orderFrontRegardless() = 0;
    // Gives the window the keyboard without activating the program where possible.
    virtual void makeKey() = 0;
    virtual bool isKeyWindow() = 0;
    virtual bool isVisible() = 0;
    virtual void orderOut() = 0;
    // Activates the program itself, taking activation from the application in front.
    virtual void activateApplication() = 0;
    // The type of the event being handled right now, if any.
    virtual std::optional<EventType> currentEventType() = 0;

    // Key presses the window receives, offered before its content sees them; the handler returns
    // true when it consumed the key.
    std::function<bool(const InputEvent&)> keyDownHandler;
    // The window lost the keyboard (another window took it, or a click landed outside).
    Signal<> didResignKey;
};

class PanelWindowFactory {
  public:
    virtual ~PanelWindowFactory() = default;
    virtual std::unique_ptr<PanelWindow> createPanel(Size contentSize) = 0;
};

}  // namespace quenlit::platform
