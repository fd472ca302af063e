#include "backends/x11/X11EventHub.h"

#include <QCoreApplication>

#include <vector>

namespace quenlit::x11 {

X11EventHub::X11EventHub() {
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11EventHub::~X11EventHub() {
    if (QCoreApplication::instance() != nullptr) QCoreApplication::instance()->removeNativeEventFilter(this);
}

int X11EventHub::addHandler(Handler handler) {
    handlers_.emplace(next_, std::move(handler));
    return next_++;
}

void X11EventHub::removeHandler(int token) {
    handlers_.erase(token);
}

bool X11EventHub::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t") return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    // A handler may add or remove handlers: walk a snapshot of the tokens.
    std::vector<int> tokens;
    tokens.reserve(handlers_.size());
    for (const auto& [token, handler] : handlers_)
        tokens.push_back(token);
    for (int token : tokens) {
        auto it = handlers_.find(token);
        if (it != handlers_.end() && it->second(event)) return true;
    }
    return false;
}

}  // namespace quenlit::x11
