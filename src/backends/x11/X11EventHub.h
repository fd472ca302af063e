#pragma once

// One place that sees the X events Qt reads, before Qt handles them: each X11 service adds a
// handler; a handler that returns true consumes the event. Main thread only.

#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>

#include <cstdint>
#include <functional>
#include <map>

namespace quenlit::x11 {

class X11EventHub final : public QAbstractNativeEventFilter {
  public:
    using Handler = std::function<bool(xcb_generic_event_t*)>;

    // Installs itself on the running QCoreApplication; removed when destroyed.
    X11EventHub();
    ~X11EventHub() override;

    // Returns a token for removeHandler.
    int addHandler(Handler handler);
    void removeHandler(int token);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    std::map<int, Handler> handlers_;
    int next_ = 1;
};

}  // namespace quenlit::x11
