#include "backends/sway/SwayPanelWindow.h"

#include "backends/linux/PanelHost.h"
#include "base/Log.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include <unistd.h>

namespace quenlit::sway {
namespace {

// Between two looks at sway's tree while waiting for the window, should its window events not come.
constexpr int kTreePollEvery = 50;  // ms
constexpr int kConditionEvery = 5;  // ms
// How long Qt has to report the activation itself before sway is asked whether the window has the focus.
constexpr std::chrono::milliseconds kActivationGrace{100};

std::string commandFor(long container, const std::string& what) {
    return "[con_id=" + std::to_string(container) + "] " + what;
}

}  // namespace

SwayPanelWindow::SwayPanelWindow(SwayIpc& sway, std::shared_ptr<Remembered> remembered, platform::Size size,
                                 std::function<double()> primaryScreenHeight, std::string title)
    : sway_(sway),
      remembered_(std::move(remembered)),
      host_(std::make_unique<linux_backend::PanelHost>(linux_backend::PanelHost::Hooks{
          .keyDown =
              [this](const platform::InputEvent& event) { return keyDownHandler && keyDownHandler(event); },
          .activationChanged = [this](bool active) { activationChanged(active); },
          .drew = {}})),
      title_(std::move(title)),
      primaryHeight_(std::move(primaryScreenHeight)) {
    host_->setWindowTitle(QString::fromStdString(title_));
    host_->resize(static_cast<int>(size.width), static_cast<int>(size.height));
    sway_.watchWindows();
    windowEvents_ = sway_.windowChanged.connect(
        [this](const std::string& change, const SwayWindow& window) { windowChanged(change, window); });
}

void SwayPanelWindow::windowChanged(const std::string& change, const SwayWindow& window) {
    if (!host_->isVisible() || hiding_) return;
    if ((change == "new" || change == "focus" || change == "title") && !container_ && isOurs(window)) {
        container_ = window.id;
        // sway mapped the window after showing gave up waiting for it: it still goes to its place.
        if (!waiting_) {
            place();
            if (auto focused = sway_.command(commandFor(*container_, "focus")); !focused)
                log::write("panel: sway did not focus the window: " + focused.error().reason);
        }
    }
    if (change != "focus" || !container_) return;
    if (window.id == *container_) {
        sawOwnFocus_ = true;
        return;
    }
    // Another window took the focus after the panel had it. sway says so even where Qt misses the
    // window's deactivation (see makeKey); events arrive in order, so one from before the panel's own
    // focus cannot count.
    if (sawOwnFocus_) resign();
}

void SwayPanelWindow::resign() {
    if (!active_ && !sawOwnFocus_) return;
    active_ = false;
    sawOwnFocus_ = false;
    log::write("panel: another window took the focus — the panel hides");
    didResignKey.emit();
}

SwayPanelWindow::~SwayPanelWindow() {
    windowEvents_.disconnect();
    // The window goes with the host; the focus goes back as when it is hidden.
    if (host_->isVisible()) orderOut();
}

QWidget* SwayPanelWindow::host() const {
    return host_.get();
}

void SwayPanelWindow::setContent(QWidget* content) {
    host_->setContent(content);
}

void SwayPanelWindow::setTitle(const std::string& title) {
    title_ = title;
    host_->setWindowTitle(QString::fromStdString(title));
}

void SwayPanelWindow::setContentSize(platform::Size size) {
    host_->setFixedSize(static_cast<int>(size.width), static_cast<int>(size.height));
    if (container_) place();
}

void SwayPanelWindow::setFrameOrigin(platform::Point origin) {
    origin_ = origin;
    if (container_) place();
}

bool SwayPanelWindow::isOurs(const SwayWindow& window) const {
    return window.pid == ::getpid() && window.appId == SwayPanelWindowFactory::kAppId &&
           window.name == title_;
}

bool SwayPanelWindow::waitUntil(const std::function<bool()>& done) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline_) return false;
    QEventLoop loop;
    QTimer check;
    check.setInterval(kConditionEvery);
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done() || std::chrono::steady_clock::now() >= deadline_) loop.quit();
    });
    check.start();
    // User input waits: a key typed while sway maps the window belongs to the panel once it is key.
    const bool wasWaiting = std::exchange(waiting_, true);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    waiting_ = wasWaiting;
    return done();
}

void SwayPanelWindow::findContainer() {
    const unsigned showing = showing_;
    auto lastLook = std::chrono::steady_clock::now();
    const bool found = waitUntil([&] {
        if (showing != showing_ || container_) return true;
        // The window events normally name the container first; the tree answers when they do not.
        if (std::chrono::steady_clock::now() - lastLook >= std::chrono::milliseconds(kTreePollEvery)) {
            lastLook = std::chrono::steady_clock::now();
            if (auto windows = sway_.windows()) {
                for (const auto& window : *windows)
                    if (isOurs(window)) container_ = window.id;
            }
        }
        return container_.has_value();
    });
    if (!found && showing == showing_)
        log::write("panel: sway did not show the window \"" + title_ + "\" within " +
                   std::to_string(kMapWait.count()) + " ms");
}

void SwayPanelWindow::place() {
    // From the bottom-left-origin space of the screens to sway's layout, whose origin is top-left.
    const double top = (primaryHeight_ ? primaryHeight_() : 0) - (origin_.y + host_->height());
    // The factory's rule floats the window as it maps, so it never shows tiled for a moment; it is
    // repeated here, as a reload of sway's configuration forgets the rule. Sticky is only set here:
    // sway 1.7 does not apply it to a window being mapped.
    const std::string move = "floating enable, border none, sticky enable, move absolute position " +
                             std::to_string(std::lround(origin_.x)) + " " + std::to_string(std::lround(top));
    if (auto moved = sway_.command(commandFor(*container_, move)); !moved)
        log::write("panel: sway did not move the window: " + moved.error().reason);
}

void SwayPanelWindow::orderFrontRegardless() {
    if (host_->isVisible() && container_) return;
    if (!host_->isVisible()) {
        ++showing_;
        container_.reset();
        active_ = false;
        sawOwnFocus_ = false;
        // The window in front before the panel, unless it is one of ours (a panel over another).
        const auto focused = sway_.focusedWindow();
        if (!focused)
            remembered_->container.reset();
        else if (focused->pid != ::getpid())
            remembered_->container = focused->id;
        previous_ = remembered_->container;
        deadline_ = std::chrono::steady_clock::now() + kMapWait;
        host_->show();
    }
    const unsigned showing = showing_;
    findContainer();
    if (showing != showing_ || !container_) return;
    place();
    if (auto focused = sway_.command(commandFor(*container_, "focus")); !focused)
        log::write("panel: sway did not focus the window: " + focused.error().reason);
}

void SwayPanelWindow::makeKey() {
    if (!host_->isVisible() || !container_ || host_->isActiveWindow()) return;
    const unsigned showing = showing_;
    const auto graceEnd = std::chrono::steady_clock::now() + kActivationGrace;
    deadline_ = std::max(deadline_, graceEnd + kActivationGrace);
    bool focusedBySway = false;
    auto lastLook = std::chrono::steady_clock::time_point{};
    waitUntil([&] {
        if (showing != showing_ || host_->isActiveWindow()) return true;
        const auto now = std::chrono::steady_clock::now();
        if (now >= graceEnd && now - lastLook >= std::chrono::milliseconds(kTreePollEvery / 2)) {
            lastLook = now;
            const auto focused = sway_.focusedWindow();
            focusedBySway = focused && focused->id == *container_;
        }
        return focusedBySway;
    });
    if (showing != showing_ || host_->isActiveWindow()) return;
    if (focusedBySway) {
        // Qt on Wayland now and then misses the activation of a window it showed again (its record of
        // the window's earlier activation outlives the hidden surface); the keyboard is ours all the
        // same, and Qt's active window decides which widget the typing goes to.
        QApplication::setActiveWindow(host_.get());
        return;
    }
    log::write("panel: the window \"" + title_ + "\" did not get the keyboard within " +
               std::to_string(kMapWait.count()) + " ms");
}

bool SwayPanelWindow::isKeyWindow() {
    return host_->isVisible() && host_->isActiveWindow();
}

bool SwayPanelWindow::isVisible() {
    return host_->isVisible();
}

void SwayPanelWindow::orderOut() {
    if (hiding_) return;
    hiding_ = true;
    ++showing_;
    // Only a panel that still has the focus gives it back: one that lost it to a click elsewhere
    // leaves it where the user put it. And only to a window on the workspace the panel is on: the
    // panel sticks to every workspace, and the user may have gone to another one meanwhile, where
    // going back would take them away again.
    // Whether the panel still has the focus is sway's to say: Qt learns of a window activated
    // over IPC or through foreign-toplevel (the program just chosen) only with later events.
    std::optional<long> giveBackTo;
    if (previous_) {
        if (auto windows = sway_.windows()) {
            std::string here;
            bool stillFocused = !container_ && host_->isActiveWindow();
            for (const auto& w : *windows) {
                if (container_ && w.id == *container_) {
                    here = w.workspace;
                    stillFocused = w.focused;
                }
            }
            for (const auto& w : *windows)
                if (stillFocused && w.id == *previous_ && (here.empty() || w.workspace == here))
                    giveBackTo = w.id;
        }
    }
    host_->hide();
    container_.reset();
    active_ = false;
    sawOwnFocus_ = false;
    if (QApplication::activeWindow() == host_.get()) QApplication::setActiveWindow(nullptr);
    if (giveBackTo) {
        if (auto focused = sway_.command(commandFor(*giveBackTo, "focus")); !focused)
            log::write("panel: the focus cannot go back to container " + std::to_string(*giveBackTo) + ": " +
                       focused.error().reason);
    }
    previous_.reset();
    hiding_ = false;
}

void SwayPanelWindow::activateApplication() {
    if (container_) {
        if (auto focused = sway_.command(commandFor(*container_, "focus")); !focused)
            log::write("panel: sway did not focus the window: " + focused.error().reason);
        return;
    }
    host_->activateWindow();
}

std::optional<platform::EventType> SwayPanelWindow::currentEventType() {
    return host_->currentEventType();
}

void SwayPanelWindow::activationChanged(bool active) {
    if (active) {
        active_ = host_->isVisible();
        return;
    }
    // Hiding the window takes the focus from it too; only another window taking it counts.
    if (!active_ || hiding_ || !host_->isVisible()) return;
    // sway also takes the keyboard away for a moment when a keyboard comes or goes (a virtual one
    // that types text, too) while the window keeps its focus: only sway knows which it was.
    if (auto focused = sway_.focusedWindow(); focused && container_ && focused->id == *container_) return;
    resign();
}

SwayPanelWindowFactory::SwayPanelWindowFactory(SwayIpc& sway, std::function<double()> primaryScreenHeight)
    : sway_(sway),
      primaryHeight_(std::move(primaryScreenHeight)),
      remembered_(std::make_shared<SwayPanelWindow::Remembered>()) {
    // Qt gives its windows the desktop file's name as their app id.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kAppId));
    addRule();
    // A reload of sway's configuration forgets the rule.
    sway_.watchWindows();
    reloads_ = sway_.configReloaded.connect([this] { addRule(); });
}

void SwayPanelWindowFactory::addRule() {
    // The commands in quotes: a bare comma would end the rule and run "border none" at once, on
    // whatever has the focus.
    const std::string rule =
        std::string("for_window [app_id=\"^") + kAppId + "$\"] \"floating enable, border none\"";
    // Sent without waiting: sway takes it before the first panel maps, asked for after it.
    sway_.commandLater(rule, "panel: sway did not take the rule that floats the panels: ");
}

std::unique_ptr<platform::PanelWindow> SwayPanelWindowFactory::createPanel(platform::Size contentSize) {
    static const char* const kTitles[] = {"Quenlit launcher", "Quenlit clipboard"};
    const std::size_t index = created.size();
    const std::string title =
        index < std::size(kTitles) ? kTitles[index] : "Quenlit panel " + std::to_string(index + 1);
    auto window = std::make_unique<SwayPanelWindow>(sway_, remembered_, contentSize, primaryHeight_, title);
    created.push_back(window.get());
    return window;
}

}  // namespace quenlit::sway
