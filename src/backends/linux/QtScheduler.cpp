#include "backends/linux/QtScheduler.h"

#include <QMetaObject>
#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <cmath>

namespace quenlit::linux_backend {

QtScheduler::QtScheduler()
    : context_(std::make_unique<QObject>()),
      pool_(std::make_unique<QThreadPool>()),
      mainThread_(std::this_thread::get_id()) {}

QtScheduler::~QtScheduler() {
    waitForBackgroundWork();
}

void QtScheduler::waitForBackgroundWork() {
    pool_->waitForDone();
}

void QtScheduler::enqueueMain(platform::Seconds delay, std::function<void()> fn) {
    QObject* context = context_.get();
    if (delay.count() <= 0) {
        // Work queued back to back (one item per key typed, while the keyboard taps listen) shares
        // one event: waking the event loop once per item costs more than the items. Callable from
        // any thread; the items run in the order they were queued.
        bool first;
        {
            std::lock_guard lock(pendingMutex_);
            pending_.push_back(std::move(fn));
            first = pending_.size() == 1;
        }
        if (first) {
            QMetaObject::invokeMethod(
                context,
                [this] {
                    // Work queued while these run waits for the next event.
                    std::vector<std::function<void()>> batch;
                    {
                        std::lock_guard lock(pendingMutex_);
                        batch.swap(pending_);
                    }
                    for (auto& item : batch)
                        item();
                },
                Qt::QueuedConnection);
        }
        return;
    }
    const auto ms = static_cast<int>(std::ceil(delay.count() * 1000.0));
    if (isMainThread()) {
        QTimer::singleShot(ms, Qt::PreciseTimer, context, std::move(fn));
        return;
    }
    // A timer must be started in the thread that runs it: hop to the main thread first.
    QMetaObject::invokeMethod(
        context,
        [context, ms, fn = std::move(fn)]() mutable {
            QTimer::singleShot(ms, Qt::PreciseTimer, context, std::move(fn));
        },
        Qt::QueuedConnection);
}

void QtScheduler::enqueueBackground(std::function<void()> fn) {
    pool_->start(std::move(fn));
}

}  // namespace quenlit::linux_backend
