#include "backends/gnome/GnomePanelWindow.h"

#include "backends/linux/KeyPositions.h"
#include "backends/linux/PanelHost.h"
#include "base/Log.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include <unistd.h>

#include <cmath>

namespace quenlit::gnome {
GnomePanelWindow::GnomePanelWindow(ShellExtension& shell, platform::Size size, double primaryScreenHeight,
                                   std::string title)
    : shell_(shell),
      host_(std::make_unique<linux_backend::PanelHost>(linux_backend::PanelHost::Hooks{
          .keyDown =
              [this](const platform::InputEvent& event) { return keyDownHandler && keyDownHandler(event); },
          .activationChanged = [this](bool active) { activationChanged(active); },
          .drew = {}})),
      title_(std::move(title)),
      primaryHeight_(primaryScreenHeight) {
    host_->setWindowTitle(QString::fromStdString(title_));
    host_->resize(static_cast<int>(size.width), static_cast<int>(size.height));
}

GnomePanelWindow::~GnomePanelWindow() {
    if (host_->isVisible()) orderOut();
}

QWidget* GnomePanelWindow::host() const {
    return host_.get();
}

void GnomePanelWindow::setContent(QWidget* content) {
    host_->setContent(content);
}

void GnomePanelWindow::setContentSize(platform::Size size) {
    host_->setFixedSize(static_cast<int>(size.width), static_cast<int>(size.height));
    if (host_->isVisible()) place();
}

void GnomePanelWindow::setFrameOrigin(platform::Point origin) {
    origin_ = origin;
    if (host_->isVisible()) place();
}

platform::Point GnomePanelWindow::topLeft() const {
    // From the bottom-left-origin space of the screens to the shell's, whose origin is top-left.
    return {origin_.x, primaryHeight_ - (origin_.y + host_->height())};
}

void GnomePanelWindow::place() {
    const unsigned showing = showing_;
    shell_.showPanel(title_, topLeft(), [this, showing](bool found) {
        if (showing != showing_) return;
        if (!found) log::write("panel: GNOME Shell did not find the window \"" + title_ + "\" to place it");
    });
}

bool GnomePanelWindow::waitUntil(const std::function<bool()>& done) {
    if (done()) return true;
    const auto deadline = std::chrono::steady_clock::now() + kShowWait;
    QEventLoop loop;
    QTimer check;
    check.setInterval(10);
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done() || std::chrono::steady_clock::now() >= deadline) loop.quit();
    });
    check.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return done();
}

void GnomePanelWindow::orderFrontRegardless() {
    if (host_->isVisible()) return;
    ++showing_;
    active_ = false;
    // The window in front before the panel, unless it is one of ours (a panel over another).
    previous_.reset();
    if (auto windows = shell_.windows()) {
        for (const ShellWindow& w : windows.value()) {
            if (w.focused && w.pid != ::getpid()) previous_ = w.id;
        }
    }
    host_->show();
    place();
}

void GnomePanelWindow::makeKey() {
    if (!host_->isVisible() || host_->isActiveWindow()) return;
    const unsigned showing = showing_;
    waitUntil([&] { return showing != showing_ || host_->isActiveWindow(); });
    if (showing != showing_ || host_->isActiveWindow()) return;
    log::write("panel: the window \"" + title_ + "\" did not get the keyboard within " +
               std::to_string(kShowWait.count()) + " ms");
}

bool GnomePanelWindow::isKeyWindow() {
    return host_->isVisible() && host_->isActiveWindow();
}

bool GnomePanelWindow::isVisible() {
    return host_->isVisible();
}

void GnomePanelWindow::orderOut() {
    if (hiding_ || !host_->isVisible()) return;
    hiding_ = true;
    ++showing_;
    // Only a panel that still has the focus gives it back: one that lost it to a click elsewhere, or
    // to the program just chosen, leaves it where it went. The shell knows; Qt learns of another
    // window's activation only later.
    bool hadFocus = false;
    if (auto windows = shell_.windows()) {
        for (const ShellWindow& w : windows.value()) {
            if (w.focused && w.pid == ::getpid() && w.title == title_) hadFocus = true;
        }
    }
    host_->hide();
    active_ = false;
    if (QApplication::activeWindow() == host_.get()) QApplication::setActiveWindow(nullptr);
    if (hadFocus && previous_) {
        if (auto given = shell_.activateWindow(*previous_); !given)
            log::write("panel: the focus cannot go back to the window before the panel: " +
                       given.error().reason);
    }
    previous_.reset();
    hiding_ = false;
}

void GnomePanelWindow::activateApplication() {
    if (host_->isVisible()) place();
}

std::optional<platform::EventType> GnomePanelWindow::currentEventType() {
    return host_->currentEventType();
}

void GnomePanelWindow::activationChanged(bool active) {
    if (active) {
        active_ = host_->isVisible();
        return;
    }
    if (!active_ || hiding_ || !host_->isVisible()) return;
    active_ = false;
    log::write("panel: another window took the focus — the panel hides");
    didResignKey.emit();
}

std::unique_ptr<platform::PanelWindow> GnomePanelWindowFactory::createPanel(platform::Size contentSize) {
    static const char* const kTitles[] = {"Quenlit launcher", "Quenlit clipboard"};
    const std::size_t index = created.size();
    const std::string title =
        index < std::size(kTitles) ? kTitles[index] : "Quenlit panel " + std::to_string(index + 1);
    auto window = std::make_unique<GnomePanelWindow>(shell_, contentSize, primaryHeight_, title);
    created.push_back(window.get());
    return window;
}

}  // namespace quenlit::gnome
