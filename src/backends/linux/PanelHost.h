#pragma once

// The Qt window that carries a panel's content on the Wayland desktops: a frameless top-level
// window whose content fills it (a Wayland desktop always composites, so the content's rounded
// corners show what lies behind). Key presses anywhere in it go to the panel before its widgets
// see them, mouse buttons are reported as the core names them, and so are its activation changes
// and the moment its first frame after an exposure was handled.
//
// Main thread only.

#include "platform/InputEvents.h"

#include <QWidget>

#include <functional>
#include <optional>

class QKeyEvent;

namespace quenlit::linux_backend {

class PanelHost final : public QWidget {
  public:
    struct Hooks {
        // True when the panel took the key: the widgets do not see it.
        std::function<bool(const QKeyEvent&)> keyPressed;
        // The mouse event being handled, as the core names it.
        std::function<void(std::optional<platform::EventType>)> mouseButton;
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

    bool eventFilter(QObject* watched, QEvent* event) override;

  protected:
    void changeEvent(QEvent* event) override;

  private:
    Hooks hooks_;
};

}  // namespace quenlit::linux_backend
