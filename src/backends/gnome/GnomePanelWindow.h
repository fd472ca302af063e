#pragma once

// A floating panel on GNOME Wayland. A Wayland client can neither place its windows nor take the
// keyboard on its own, so the panel is an ordinary frameless top-level window of a title of its
// own, which Quenlit's Shell extension finds by this program's process and that title as it maps,
// moves to its place, keeps above on every workspace and activates. Hiding it gives the focus
// back to the window that had it before, if the panel still had the focus.
//
// Showing waits for the shell's answer and for Qt's activation, at most kShowWait, with the event
// loop running for everything but user input (a key typed meanwhile reaches the panel afterwards,
// in order). Key presses reach the core's key handler first; the rest go to the content's focus
// widget. Another window taking the focus counts as losing the keyboard; hiding the panel does not.
//
// Main thread only; the ShellExtension outlives the windows.

#include "backends/gnome/ShellExtension.h"
#include "platform/PanelWindow.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace quenlit::linux_backend {
class PanelHost;
}

namespace quenlit::gnome {

class GnomePanelWindow final : public platform::PanelWindow {
  public:
    static constexpr std::chrono::milliseconds kShowWait{1000};

    GnomePanelWindow(ShellExtension& shell, platform::Size size, double primaryScreenHeight,
                     std::string title);
    ~GnomePanelWindow() override;

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

  private:
    platform::Point topLeft() const;
    void place();
    bool waitUntil(const std::function<bool()>& done);
    void activationChanged(bool active);

    ShellExtension& shell_;
    std::unique_ptr<linux_backend::PanelHost> host_;
    std::string title_;
    double primaryHeight_;
    platform::Point origin_;
    std::optional<std::uint64_t> previous_;  // the window to give the focus back to
    unsigned showing_ = 0;
    bool active_ = false;
    bool hiding_ = false;
};

class GnomePanelWindowFactory final : public platform::PanelWindowFactory {
  public:
    GnomePanelWindowFactory(ShellExtension& shell, double primaryScreenHeight)
        : shell_(shell), primaryHeight_(primaryScreenHeight) {}
    // The panels take the titles in order ("Quenlit launcher", then "Quenlit clipboard": the
    // order the core makes them in), later ones "Quenlit panel N".
    std::unique_ptr<platform::PanelWindow> createPanel(platform::Size contentSize) override;
    std::vector<GnomePanelWindow*> created;

  private:
    ShellExtension& shell_;
    double primaryHeight_;
};

}  // namespace quenlit::gnome
