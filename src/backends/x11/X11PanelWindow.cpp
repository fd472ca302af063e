#include "backends/x11/X11PanelWindow.h"

#include "base/Log.h"

#include "backends/linux/PanelMouseEvents.h"
#include "backends/linux/QtScreenScale.h"
#include "backends/x11/KeyTranslation.h"

#include <xcb/xinput.h>

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

namespace quenlit::x11 {
namespace {

// The hotkey's own grab may still be active for an instant after the press that showed the panel.
constexpr auto kGrabRetryFor = std::chrono::milliseconds(60);
constexpr auto kGrabRetryEvery = std::chrono::milliseconds(3);

// The panels never take the X input focus: it stays with the application the user works in, which
// a paste goes back to. (Without this, Qt gives an override-redirect window the focus when a field
// in it is focused while it is Qt's active window.)
constexpr Qt::WindowFlags kFloatingFlags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                           Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus;
constexpr Qt::WindowFlags kManagedFlags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;

// Where a compositor runs, the window reaches past the content by these margins, and draws a soft
// shadow there, a little deeper below than above; the panels' content has rounded corners of
// kCornerRadius. Without one, the window is the content and nothing more.
constexpr int kShadowSpread = 12;
constexpr int kShadowDrop = 4;
const QMargins kShadowMargins{kShadowSpread + 2, kShadowSpread - kShadowDrop + 2, kShadowSpread + 2,
                              kShadowSpread + kShadowDrop + 2};
constexpr double kCornerRadius = 10;

// A compositing manager owns the _NET_WM_CM_Sn selection of its screen.
bool isComposited(X11Connection& x) {
    int index = 0;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(x.raw())); it.rem; xcb_screen_next(&it), ++index) {
        if (it.data->root == x.root()) break;
    }
    const xcb_atom_t selection = x.atom("_NET_WM_CM_S" + std::to_string(index));
    Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(x.raw(), xcb_get_selection_owner(x.raw(), selection), nullptr));
    return owner && owner->owner != XCB_NONE;
}

platform::Modifiers modifiersFor(std::uint16_t state) {
    platform::Modifiers modifiers;
    modifiers.shift = (state & XCB_MOD_MASK_SHIFT) != 0;
    modifiers.control = (state & XCB_MOD_MASK_CONTROL) != 0;
    modifiers.alt = (state & XCB_MOD_MASK_1) != 0;
    modifiers.super = (state & XCB_MOD_MASK_4) != 0;
    return modifiers;
}

}  // namespace

class X11PanelWindow::Host final : public QWidget {
  public:
    Host(X11PanelWindow& owner, QMargins shadow)
        : QWidget(nullptr, kFloatingFlags), owner_(owner), shadow_(shadow) {
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_X11NetWmWindowTypeUtility);
        if (!shadow_.isNull()) setAttribute(Qt::WA_TranslucentBackground);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(shadow_);
        qApp->installEventFilter(this);
    }
    QMargins shadow() const { return shadow_; }
    ~Host() override { qApp->removeEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget == nullptr || widget->window() != this) return false;
        switch (event->type()) {
            case QEvent::KeyPress: {
                // Decided at the key press itself; shortcut overrides are left to the widgets.
                auto* key = static_cast<QKeyEvent*>(event);
                const auto keycode = static_cast<xcb_keycode_t>(key->nativeScanCode());
                const auto state = static_cast<std::uint16_t>(key->nativeModifiers());
                // Qt's keysym for the press, in the layout the user typed with.
                return owner_.keyPressed(key->nativeVirtualKey(), modifiersFor(state), keycode, state);
            }
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
                owner_.currentEvent_ = linux_backend::panelMouseEventType(*event);
                return false;
            default:
                return false;
        }
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        if (shadow_.isNull()) return;
        // Faint rounded layers, each one smaller and on top of the last: darkest at the content's
        // edge, fading out towards the window's.
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 5));
        const QRectF content = QRectF(rect()).marginsRemoved(shadow_.toMarginsF()).translated(0, kShadowDrop);
        for (int i = kShadowSpread; i >= 1; --i) {
            const double r = kCornerRadius + i;
            p.drawRoundedRect(content.adjusted(-i, -i, i, i), r, r);
        }
    }

    void changeEvent(QEvent* event) override {
        if (event->type() == QEvent::ActivationChange && owner_.managed_ && !isActiveWindow())
            owner_.resignKey();
        QWidget::changeEvent(event);
    }

  private:
    X11PanelWindow& owner_;
    QMargins shadow_;
};

X11PanelWindow::X11PanelWindow(X11Connection& connection, X11EventHub& events, X11HotKeys* hotKeys,
                               platform::Size size, PrimaryHeight primaryScreenHeight)
    : x_(connection),
      events_(events),
      hotKeys_(hotKeys),
      host_(std::make_unique<Host>(*this, isComposited(connection) ? kShadowMargins : QMargins())),
      primaryHeight_(std::move(primaryScreenHeight)) {
    const QMargins m = host_->shadow();
    host_->resize(static_cast<int>(size.width) + m.left() + m.right(),
                  static_cast<int>(size.height) + m.top() + m.bottom());
    handlerToken_ = events_.addHandler([this](xcb_generic_event_t* e) { return onXEvent(e); });
    // Clicks anywhere on the screen, seen even while other programs hold the pointer.
    if (const xcb_query_extension_reply_t* ext = xcb_get_extension_data(x_.raw(), &xcb_input_id);
        ext != nullptr && ext->present) {
        xinputOpcode_ = ext->major_opcode;
        struct {
            xcb_input_event_mask_t head;
            std::uint32_t mask;
        } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS};
        xcb_input_xi_select_events(x_.raw(), x_.root(), 1, &mask.head);
    }
    const std::uint32_t rootMask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(x_.raw(), x_.root(), XCB_CW_EVENT_MASK, &rootMask);
    x_.flush();
}

X11PanelWindow::~X11PanelWindow() {
    events_.removeHandler(handlerToken_);
    releaseGrab();
}

QWidget* X11PanelWindow::host() const {
    return host_.get();
}

void X11PanelWindow::setContent(QWidget* content) {
    host_->layout()->addWidget(content);
}

void X11PanelWindow::setContentSize(platform::Size size) {
    const QMargins m = host_->shadow();
    host_->setFixedSize(static_cast<int>(size.width) + m.left() + m.right(),
                        static_cast<int>(size.height) + m.top() + m.bottom());
    setFrameOrigin(origin_);
}

void X11PanelWindow::setFrameOrigin(platform::Point origin) {
    origin_ = origin;
    // The origin is the content's, in device pixels with the origin at the primary monitor's
    // bottom-left corner; the shadow lies around it. Converted here, once: to X's top-left origin,
    // then to Qt's logical pixels through the monitor the panel lands on (Qt scales whatever it is
    // given, so a device position handed to it as it is would be scaled twice).
    const QMargins m = host_->shadow();
    const double h0 = primaryHeight_ ? primaryHeight_() : 0;
    const double bottom = h0 - origin.y;
    const double scale = linux_backend::qtScaleOf({origin.x, bottom - 1, 1, 1});
    const double contentHeight = (host_->height() - m.top() - m.bottom()) * scale;
    const platform::Point topLeft = linux_backend::qtLogicalPoint({origin.x, bottom - contentHeight});
    host_->move(static_cast<int>(std::lround(topLeft.x)) - m.left(),
                static_cast<int>(std::lround(topLeft.y)) - m.top());
}

void X11PanelWindow::orderFrontRegardless() {
    if (keptShown_) {
        // Nothing else manages an override-redirect window: on top of its siblings, then mapped.
        const auto window = static_cast<xcb_window_t>(host_->winId());
        const std::uint32_t above = XCB_STACK_MODE_ABOVE;
        xcb_configure_window(x_.raw(), window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
        xcb_map_window(x_.raw(), window);
        mapped_ = true;
        x_.flush();
        return;
    }
    host_->show();
    host_->raise();
    if (QWindow* w = host_->windowHandle()) w->raise();
    keptShown_ = !managed_;
    mapped_ = true;
    x_.flush();
}

bool X11PanelWindow::grabKeyboard() {
    if (!isVisible()) return false;
    const auto window = static_cast<xcb_window_t>(host_->winId());
    const auto deadline = std::chrono::steady_clock::now() + kGrabRetryFor;
    while (true) {
        auto cookie = xcb_grab_keyboard(x_.raw(), 1, window, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC,
                                        XCB_GRAB_MODE_ASYNC);
        Reply<xcb_grab_keyboard_reply_t> reply(xcb_grab_keyboard_reply(x_.raw(), cookie, nullptr));
        if (reply && reply->status == XCB_GRAB_STATUS_SUCCESS) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kGrabRetryEvery);
    }
}

void X11PanelWindow::makeKey() {
    if (managed_) {
        host_->activateWindow();
        return;
    }
    if (grabbed_) return;
    grabbed_ = grabKeyboard();
    // Read once the panel takes typing, one round trip less before it does; our grab leaves the
    // window manager's active window as it was.
    if (grabbed_) activeAtGrab_ = x_.activeWindow();
    // Qt's own idea of the active window decides where typed text goes; the X focus and the
    // window manager's active window stay where they are.
    if (grabbed_) QApplication::setActiveWindow(host_.get());
}

bool X11PanelWindow::isKeyWindow() {
    if (!isVisible()) return false;
    return managed_ ? host_->isActiveWindow() : grabbed_;
}

bool X11PanelWindow::isVisible() {
    return host_->isVisible() && mapped_;
}

void X11PanelWindow::releaseGrab() {
    if (!grabbed_) return;
    grabbed_ = false;
    xcb_ungrab_keyboard(x_.raw(), XCB_CURRENT_TIME);
    x_.flush();
}

void X11PanelWindow::orderOut() {
    const bool wasKey = isKeyWindow();
    releaseGrab();
    if (keptShown_) {
        xcb_unmap_window(x_.raw(), static_cast<xcb_window_t>(host_->winId()));
        x_.flush();
    } else {
        host_->hide();
    }
    mapped_ = false;
    if (managed_) {
        // The next showing tries the non-activating way again.
        managed_ = false;
        host_->setWindowFlags(kFloatingFlags);
    }
    if (QApplication::activeWindow() == host_.get()) QApplication::setActiveWindow(nullptr);
    if (wasKey) didResignKey.emit();
}

void X11PanelWindow::activateApplication() {
    if (managed_) return;
    releaseGrab();
    const bool wasVisible = isVisible();
    managed_ = true;
    // Qt's idea of the window is its own again: a kept window that is unmapped is hidden.
    if (keptShown_ && !wasVisible) host_->hide();
    keptShown_ = false;
    host_->setWindowFlags(kManagedFlags);  // hides the window; the native window is made again
    if (wasVisible) {
        host_->show();
        setFrameOrigin(origin_);
    }
    host_->raise();
    host_->activateWindow();
}

std::optional<platform::EventType> X11PanelWindow::currentEventType() {
    return currentEvent_;
}

void X11PanelWindow::resignKey() {
    if (!isVisible()) return;
    releaseGrab();
    didResignKey.emit();
}

bool X11PanelWindow::keyPressed(std::uint32_t keysym, platform::Modifiers modifiers, xcb_keycode_t keycode,
                                std::uint16_t state) {
    currentEvent_ = platform::EventType::keyDown;
    // Our own global hotkeys come first: the grab keeps them from the root window.
    if (hotKeys_ != nullptr && hotKeys_->handleGrabbedKeyPress(keycode, state)) return true;
    if (!keyDownHandler) return false;
    platform::InputEvent event;
    event.type = platform::EventType::keyDown;
    event.keysym = keysym;
    event.keycode = keycode;
    event.modifiers = modifiers;
    return keyDownHandler(event);
}

bool X11PanelWindow::onXEvent(xcb_generic_event_t* event) {
    const auto type = event->response_type & 0x7f;
    if (!isVisible()) return false;
    if (type == XCB_GE_GENERIC && xinputOpcode_ != 0) {
        auto* ge = reinterpret_cast<xcb_ge_generic_event_t*>(event);
        if (ge->extension == xinputOpcode_ && ge->event_type == XCB_INPUT_RAW_BUTTON_PRESS) {
            Reply<xcb_query_pointer_reply_t> pointer(
                xcb_query_pointer_reply(x_.raw(), xcb_query_pointer(x_.raw(), x_.root()), nullptr));
            // A click on the shadow is a click outside.
            const QRect content = host_->frameGeometry().marginsRemoved(host_->shadow());
            if (pointer && !content.contains(pointer->root_x, pointer->root_y)) {
                log::write("panel: a click outside — the panel hides");
                resignKey();
            }
        }
        return false;
    }
    if (type == XCB_PROPERTY_NOTIFY && !managed_ && grabbed_) {
        auto* property = reinterpret_cast<xcb_property_notify_event_t*>(event);
        // Another window became active while the panel held the keyboard: it has lost it. The
        // window manager also passes through "none" when our grab moves between the two panels
        // (and rewrites the same value): neither takes the keyboard from us.
        if (property->window == x_.root() && property->atom == x_.atom("_NET_ACTIVE_WINDOW")) {
            const auto active = x_.activeWindow();
            if (active && active != activeAtGrab_) {
                log::write("panel: window " + std::to_string(*active) + " became active — the panel hides");
                resignKey();
            }
        }
        return false;
    }
    return false;
}

namespace {

QtMessageHandler gQtMessages = nullptr;

// Qt warns each time a field of a panel is focused that the panel's window will not take the
// focus, which is what we want; every other message passes on.
void dropFocusRefusals(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg && message.contains(QLatin1String("Qt::WindowDoesNotAcceptFocus"))) return;
    if (gQtMessages != nullptr) gQtMessages(type, context, message);
}

}  // namespace

std::unique_ptr<platform::PanelWindow> X11PanelWindowFactory::createPanel(platform::Size contentSize) {
    if (created.empty()) gQtMessages = qInstallMessageHandler(dropFocusRefusals);
    auto window = std::make_unique<X11PanelWindow>(x_, events_, hotKeys_, contentSize, primaryHeight_);
    created.push_back(window.get());
    return window;
}

}  // namespace quenlit::x11
