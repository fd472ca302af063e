#pragma once

// The Qt window that carries a panel's content on the Wayland desktops: a frameless top-level
// window whose content fills it (a Wayland desktop always composites, so the content's rounded
// corners show what lies behind). Key presses anywhere in it go to the panel before its widgets
// see them, it knows which kind of event is being handled, and it reports its activation changes
// and the moment its first frame after an exposure was handled.
//
// Main thread only.

#include "platform/InputEvents.h"

#include <QWidget>

#include <functional>
#include <optional>

namespace quenlit::linux_backend {

class PanelHost final : public QWidget {
  public:
    struct Hooks {
        // A key press, as the core sees it; true when the panel took it: the widgets do not see it.
        std::function<bool(const platform::InputEvent&)> keyDown;
        std::function<void(bool active)> activationChanged;
        // The window was exposed and the handling of that (its first frame drawn and committed)
        // is over; unset, not reported.
        std::function<void()> drew;
    };

    // `flags`: window flags beside Qt::Window and Qt::FramelessWindowHint.
    explicit PanelHost(Hooks hooks, Qt::WindowFlags flags = {});
    ~PanelHost() override;
    PanelHost(const PanelHost&) = delete;
    PanelHost& operator=(const PanelHost&) = delete;

    void setContent(QWidget* content);
    // The kind of the key press or mouse button being handled, as the core names it.
    std::optional<platform::EventType> currentEventType() const { return currentEvent_; }

    bool eventFilter(QObject* watched, QEvent* event) override;

  protected:
    void changeEvent(QEvent* event) override;

  private:
    Hooks hooks_;
    std::optional<platform::EventType> currentEvent_;
};

}  // namespace quenlit::linux_backend
