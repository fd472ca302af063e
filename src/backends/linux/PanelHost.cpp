#include "backends/linux/PanelHost.h"

#include "backends/linux/PanelKeyEvents.h"
#include "backends/linux/PanelMouseEvents.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

namespace quenlit::linux_backend {

PanelHost::PanelHost(Hooks hooks, Qt::WindowFlags flags)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | flags), hooks_(std::move(hooks)) {
    setAttribute(Qt::WA_TranslucentBackground);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    qApp->installEventFilter(this);
}

PanelHost::~PanelHost() {
    qApp->removeEventFilter(this);
}

void PanelHost::setContent(QWidget* content) {
    layout()->addWidget(content);
}

bool PanelHost::eventFilter(QObject* watched, QEvent* event) {
    // The first frame is drawn and committed as the window's exposure is handled: told once the
    // handling is over.
    if (hooks_.drew && event->type() == QEvent::Expose && watched == windowHandle())
        QTimer::singleShot(0, this, [this] {
            if (windowHandle() != nullptr && windowHandle()->isExposed()) hooks_.drew();
        });
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || widget->window() != this) return false;
    switch (event->type()) {
        case QEvent::KeyPress:
            // Decided at the key press itself; shortcut overrides are left to the widgets.
            currentEvent_ = platform::EventType::keyDown;
            return hooks_.keyDown && hooks_.keyDown(panelKeyEvent(*static_cast<QKeyEvent*>(event)));
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
            currentEvent_ = panelMouseEventType(*event);
            return false;
        default:
            return false;
    }
}

void PanelHost::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && hooks_.activationChanged)
        hooks_.activationChanged(isActiveWindow());
    QWidget::changeEvent(event);
}

}  // namespace quenlit::linux_backend
