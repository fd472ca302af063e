#pragma once

// A floating panel on sway. A Wayland client can neither place its windows nor take the keyboard
// without being focused, so the panel is an ordinary top-level window with the program's app id,
// which a rule of sway's (added by the factory, again after each reload of sway's configuration)
// floats without a border as it maps; each showing then asks sway over IPC to make it sticky (on
// every workspace), move it to its place and focus it. Showing the panel remembers the window that
// had the focus; hiding it gives the focus back to that window if it still exists, is on the
// panel's workspace, and the panel still had the focus.
//
// sway maps the window a moment after Qt shows it: showing waits for that, at most kMapWait, with
// the event loop running for everything but user input (so a key typed meanwhile reaches the
// panel afterwards, in order). Key presses reach the core's key handler first; the rest go to the
// content's focus widget. Another window taking the focus (as Qt or sway's focus events report
// it) counts as losing the keyboard; hiding the panel does not.
//
// Main thread only; the SwayIpc outlives the windows.

#include "backends/sway/SwayIpc.h"
#include "base/Signal.h"
#include "platform/PanelWindow.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace quenlit::linux_backend {
class PanelHost;
}

namespace quenlit::sway {

class SwayPanelWindow final : public platform::PanelWindow {
  public:
    // The focused window outside this program, shared by the panels of one program: showing one
    // panel over another must still give the focus back to the window before both.
    struct Remembered {
        std::optional<long> container;
    };

    static constexpr std::chrono::milliseconds kMapWait{300};

    SwayPanelWindow(SwayIpc& sway, std::shared_ptr<Remembered> remembered, platform::Size size,
                    std::function<double()> primaryScreenHeight, std::string title);
    ~SwayPanelWindow() override;

    // The top-level widget the interface draws into; the content fills it.
    QWidget* host() const;
    void setContent(QWidget* content);
    // The window's title, by which sway's criteria tell the panels apart; set before showing.
    void setTitle(const std::string& title);

    void setContentSize(platform::Size size) override;
    void setFrameOrigin(platform::Point origin) override;
    void orderFrontRegardless() override;
    void makeKey() override;
    bool isKeyWindow() override;
    bool isVisible() override;
    void orderOut() override;
    void activateApplication() override;
    std::optional<platform::EventType> currentEventType() override;

    // The container sway made for the window while it is shown; absent before sway mapped it.
    std::optional<long> container() const { return container_; }

  private:
    bool isOurs(const SwayWindow& window) const;
    // Runs the event loop, user input held back, until `done` or the showing's deadline.
    bool waitUntil(const std::function<bool()>& done);
    void findContainer();
    void place();
    void activationChanged(bool active);
    void windowChanged(const std::string& change, const SwayWindow& window);
    void resign();

    SwayIpc& sway_;
    std::shared_ptr<Remembered> remembered_;
    std::unique_ptr<linux_backend::PanelHost> host_;
    Connection windowEvents_;
    std::string title_;
    std::function<double()> primaryHeight_;  // read at each placement: outputs change
    platform::Point origin_;
    std::optional<long> container_;
    std::optional<long> previous_;  // the container to give the focus back to
    std::chrono::steady_clock::time_point deadline_;
    unsigned showing_ = 0;      // counts the showings: a hide during a wait ends the wait's showing
    bool active_ = false;       // Qt activated the window since it was shown
    bool sawOwnFocus_ = false;  // sway reported the window's focus since it was shown
    bool hiding_ = false;
    bool waiting_ = false;  // within waitUntil
};

class SwayPanelWindowFactory final : public platform::PanelWindowFactory {
  public:
    // The program's app id for every window, and the rule that floats the panels; the panels take
    // the titles in order ("Quenlit launcher", then "Quenlit clipboard": the order the core makes
    // them in), later ones "Quenlit panel N".
    SwayPanelWindowFactory(SwayIpc& sway, std::function<double()> primaryScreenHeight);
    std::unique_ptr<platform::PanelWindow> createPanel(platform::Size contentSize) override;
    // The windows made so far, for the interface to fill.
    std::vector<SwayPanelWindow*> created;

    static constexpr const char* kAppId = "quenlit";

  private:
    void addRule();

    SwayIpc& sway_;
    Connection reloads_;
    std::function<double()> primaryHeight_;  // read at each placement: outputs change
    std::shared_ptr<SwayPanelWindow::Remembered> remembered_;
};

}  // namespace quenlit::sway
