#pragma once

// A floating panel on KDE Plasma. Qt 6 in Debian 12 has no layer-shell integration (layer-shell-qt
// there is built for Qt 5), so the panel is an ordinary frameless top-level window, titled so that
// KWin's scripting finds it by our process and its caption; each showing has a KWin script keep it
// above the others, off the task bar and the switcher and on every desktop, move it to its place and
// activate it, so it takes the keyboard from whatever window had it (native or XWayland). The window
// the user came from is remembered by KWin's id; hiding a panel that still has the focus gives it
// back to that window.
//
// KWin maps the window when Qt commits its first frame: showing runs the script as soon as that
// frame is out, and again every kRetryEvery until the window is there, at most kMapWait, with the event loop
// running for everything but user input (a key typed meanwhile reaches the panel afterwards, in order). A
// window mapped later than that (the first showing, on a busy machine) is still placed and activated when it
// comes, for kLateMapWait more. Key presses reach the core's key handler first; the rest go to the content's
// focus widget. Another window taking the focus counts as losing the keyboard; hiding the panel does not.
//
// Main thread only; the scripting outlives the windows.

#include "backends/kde/KWinScripting.h"
#include "base/Signal.h"
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
class QTimer;
class QEventLoop;

namespace quenlit::kde {

class KdePanelWindow final : public platform::PanelWindow {
  public:
    // The window the user came from, shared by the panels: one shown over another must still give
    // the focus back to the window before both.
    struct Remembered {
        std::string window;  // KWin's id; empty when none
    };
    static constexpr std::chrono::milliseconds kMapWait{500};
    static constexpr std::chrono::milliseconds kLateMapWait{3000};

    // KWin's id of the window that has the focus when it is another program's, else empty.
    using ActiveElsewhere = std::function<std::string()>;

    KdePanelWindow(KWinScripting& kwin, std::shared_ptr<Remembered> remembered, platform::Size size,
                   double primaryScreenHeight, std::string title, ActiveElsewhere activeElsewhere = {});
    ~KdePanelWindow() override;

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
    // Places the window and, with `activate`, makes it the active one; false while KWin has not
    // mapped it yet.
    bool arrange(bool activate);
    // Runs the event loop (but for user input) until `done`, at most `bound`; `done` is asked again
    // every kRetryEvery and as soon as the window's first frame is out.
    bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds bound);
    void drew();
    void activationChanged(bool active);

    KWinScripting& kwin_;
    std::shared_ptr<Remembered> remembered_;
    ActiveElsewhere activeElsewhere_;
    std::unique_ptr<linux_backend::PanelHost> host_;
    std::unique_ptr<QTimer> lateMap_;  // looks again for a window KWin maps late
    std::chrono::steady_clock::time_point lateMapEnd_;
    std::string title_;
    double primaryHeight_;
    platform::Point origin_;
    bool mapped_ = false;            // KWin has the window since it was shown
    bool drawn_ = false;             // its first frame since it was shown is out
    QEventLoop* waiting_ = nullptr;  // the loop waitUntil runs, woken by that frame
    bool active_ = false;            // Qt activated the window since it was shown
    bool hiding_ = false;
};

class KdePanelWindowFactory final : public platform::PanelWindowFactory {
  public:
    KdePanelWindowFactory(KWinScripting& kwin, double primaryScreenHeight,
                          KdePanelWindow::ActiveElsewhere activeElsewhere = {});
    std::unique_ptr<platform::PanelWindow> createPanel(platform::Size contentSize) override;
    // The windows made so far, for the interface to fill.
    std::vector<KdePanelWindow*> created;

  private:
    KWinScripting& kwin_;
    double primaryHeight_;
    KdePanelWindow::ActiveElsewhere activeElsewhere_;
    std::shared_ptr<KdePanelWindow::Remembered> remembered_;
};

}  // namespace quenlit::kde
