#include "backends/kde/KdePanelWindow.h"

#include "backends/linux/PanelHost.h"
#include "base/Log.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QWidget>

#include <unistd.h>

#include <cmath>
#include <utility>

namespace quenlit::kde {
namespace {

constexpr int kRetryEvery = 20;  // ms between looks for the mapped window, when no frame says when

}  // namespace

KdePanelWindow::KdePanelWindow(KWinScripting& kwin, std::shared_ptr<Remembered> remembered,
                               platform::Size size, double primaryScreenHeight, std::string title,
                               ActiveElsewhere activeElsewhere)
    : kwin_(kwin),
      remembered_(std::move(remembered)),
      activeElsewhere_(std::move(activeElsewhere)),
      host_(std::make_unique<linux_backend::PanelHost>(
          linux_backend::PanelHost::Hooks{
              .keyDown =
                  [this](const platform::InputEvent& event) {
                      return keyDownHandler && keyDownHandler(event);
                  },
              .activationChanged = [this](bool active) { activationChanged(active); },
              .drew = [this] { drew(); }},
          Qt::WindowStaysOnTopHint)),
      title_(std::move(title)),
      primaryHeight_(primaryScreenHeight) {
    host_->setWindowTitle(QString::fromStdString(title_));
    host_->resize(static_cast<int>(size.width), static_cast<int>(size.height));
    lateMap_ = std::make_unique<QTimer>();
    lateMap_->setInterval(kRetryEvery * 2);
    QObject::connect(lateMap_.get(), &QTimer::timeout, [this] {
        if (!host_->isVisible() || mapped_ || std::chrono::steady_clock::now() >= lateMapEnd_) {
            lateMap_->stop();
            return;
        }
        if (arrange(true)) {
            lateMap_->stop();
            log::write("panel: KWin showed the window \"" + title_ + "\" late; placed and activated now");
        }
    });
}

KdePanelWindow::~KdePanelWindow() {
    if (host_->isVisible()) orderOut();
}

QWidget* KdePanelWindow::host() const {
    return host_.get();
}

void KdePanelWindow::setContent(QWidget* content) {
    host_->setContent(content);
}

void KdePanelWindow::setContentSize(platform::Size size) {
    host_->setFixedSize(static_cast<int>(size.width), static_cast<int>(size.height));
    if (mapped_) arrange(false);
}

void KdePanelWindow::setFrameOrigin(platform::Point origin) {
    origin_ = origin;
    if (mapped_) arrange(false);
}

bool KdePanelWindow::waitUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        QEventLoop loop;
        QEventLoop* const outer = waiting_;
        waiting_ = &loop;
        QTimer::singleShot(kRetryEvery, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        waiting_ = outer;
    }
    return true;
}

void KdePanelWindow::drew() {
    if (drawn_ || !host_->isVisible()) return;
    drawn_ = true;
    if (waiting_ != nullptr) waiting_->quit();
}

bool KdePanelWindow::arrange(bool activate) {
    // From the bottom-left-origin space of the screens to KWin's, whose origin is top-left.
    const long x = std::lround(origin_.x);
    const long y = std::lround(primaryHeight_ - (origin_.y + host_->height()));
    const std::string body =
        "var me = null, list = kwin.windows();\n"
        "for (var i = 0; i < list.length; ++i)\n"
        "    if (list[i].pid === " +
        std::to_string(::getpid()) + " && String(list[i].caption) === " + javaScriptString(title_) +
        ") me = list[i];\n"
        "if (!me) { kwin.answer({ found: false }); return; }\n"
        "var before = kwin.active();\n"
        "var previous = before && before.pid !== me.pid ? kwin.id(before) : '';\n"
        "me.keepAbove = true; me.skipTaskbar = true; me.skipSwitcher = true; me.skipPager = true;\n"
        "me.onAllDesktops = true;\n"
        "me.frameGeometry = { x: " +
        std::to_string(x) + ", y: " + std::to_string(y) +
        ", width: me.frameGeometry.width, height: me.frameGeometry.height };\n" +
        (activate ? "kwin.activate(me);\n" : "") + "kwin.answer({ found: true, previous: previous });";
    auto answer = kwin_.run(body);
    if (!answer) {
        log::write("panel: KWin did not place the window \"" + title_ + "\": " + answer.error().reason);
        return false;
    }
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(*answer)).object();
    if (!o.value(QLatin1String("found")).toBool()) return false;
    const std::string previous = o.value(QLatin1String("previous")).toString().toStdString();
    if (activate && !previous.empty()) remembered_->window = previous;
    mapped_ = true;
    return true;
}

void KdePanelWindow::orderFrontRegardless() {
    if (host_->isVisible() && mapped_) return;
    if (!host_->isVisible()) {
        // The window the user comes from. KWin may give the panel the focus itself as it maps it,
        // before the placing script could see who had it.
        if (activeElsewhere_) {
            if (std::string id = activeElsewhere_(); !id.empty()) remembered_->window = std::move(id);
        }
        mapped_ = false;
        active_ = false;
        drawn_ = false;
        host_->show();
    }
    // Looked for once its first frame is out (KWin maps it then), and every kRetryEvery after.
    int looks = 0;
    if (!waitUntil(
            [&] { return !host_->isVisible() || ((drawn_ || mapped_ || looks++ > 0) && arrange(true)); },
            kMapWait) &&
        host_->isVisible()) {
        log::write("panel: KWin did not show the window \"" + title_ + "\" within " +
                   std::to_string(kMapWait.count()) + " ms");
        lateMapEnd_ = std::chrono::steady_clock::now() + kLateMapWait;
        lateMap_->start();
    }
}

void KdePanelWindow::makeKey() {
    if (!host_->isVisible() || !mapped_ || host_->isActiveWindow()) return;
    if (waitUntil([this] { return !host_->isVisible() || host_->isActiveWindow(); }, kMapWait)) return;
    log::write("panel: the window \"" + title_ + "\" did not get the keyboard within " +
               std::to_string(kMapWait.count()) + " ms");
}

bool KdePanelWindow::isKeyWindow() {
    return host_->isVisible() && host_->isActiveWindow();
}

bool KdePanelWindow::isVisible() {
    return host_->isVisible();
}

void KdePanelWindow::orderOut() {
    if (hiding_) return;
    hiding_ = true;
    lateMap_->stop();
    // Only a panel that still has the focus gives it back: one that lost it to a click elsewhere, or
    // to the program just chosen, leaves it where it went. KWin knows; Qt learns of another window's
    // activation only later, so the script looks again.
    const bool giveBack = host_->isActiveWindow() && !remembered_->window.empty();
    host_->hide();
    mapped_ = false;
    active_ = false;
    drawn_ = false;
    if (giveBack) {
        auto given = kwin_.run("var w = kwin.find(" + javaScriptString(remembered_->window) +
                               "), now = kwin.active();\n"
                               "if (w && (!now || now.pid === " +
                               std::to_string(::getpid()) +
                               ")) { if (w.minimized) w.minimized = false; kwin.activate(w); }\n"
                               "kwin.answer(!!w);");
        if (!given) log::write("panel: the focus cannot go back: " + given.error().reason);
    }
    hiding_ = false;
}

void KdePanelWindow::activateApplication() {
    if (host_->isVisible()) arrange(true);
}

std::optional<platform::EventType> KdePanelWindow::currentEventType() {
    return host_->currentEventType();
}

void KdePanelWindow::activationChanged(bool active) {
    if (active) {
        active_ = host_->isVisible();
        return;
    }
    if (!active_ || hiding_ || !host_->isVisible()) return;
    active_ = false;
    log::write("panel: another window took the focus — the panel hides");
    didResignKey.emit();
}

KdePanelWindowFactory::KdePanelWindowFactory(KWinScripting& kwin, double primaryScreenHeight,
                                             KdePanelWindow::ActiveElsewhere activeElsewhere)
    : kwin_(kwin),
      primaryHeight_(primaryScreenHeight),
      activeElsewhere_(std::move(activeElsewhere)),
      remembered_(std::make_shared<KdePanelWindow::Remembered>()) {}

std::unique_ptr<platform::PanelWindow> KdePanelWindowFactory::createPanel(platform::Size contentSize) {
    static const char* const kTitles[] = {"Quenlit launcher", "Quenlit clipboard"};
    const std::size_t index = created.size();
    const std::string title =
        index < std::size(kTitles) ? kTitles[index] : "Quenlit panel " + std::to_string(index + 1);
    auto window = std::make_unique<KdePanelWindow>(kwin_, remembered_, contentSize, primaryHeight_, title,
                                                   activeElsewhere_);
    created.push_back(window.get());
    return window;
}

}  // namespace quenlit::kde
