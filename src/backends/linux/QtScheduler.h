#pragma once

// The desktop program's scheduler: main-queue work on Qt's event loop, background work on a thread
// pool of its own, results handed back through the event loop. Not Qt's global pool: Qt's raster
// paint engine draws on that one, and a long decode there would hold the painting.

#include "platform/Scheduler.h"

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QObject;
class QThreadPool;

namespace quenlit::linux_backend {

class QtScheduler final : public platform::Scheduler {
  public:
    // Create on the main thread, after the QGuiApplication.
    QtScheduler();
    ~QtScheduler() override;

    platform::TimePoint now() const override { return std::chrono::steady_clock::now(); }
    bool isMainThread() const override { return std::this_thread::get_id() == mainThread_; }

    // Waits until no background task runs or waits to run. At shutdown, before the services those
    // tasks use are destroyed.
    void waitForBackgroundWork();

  protected:
    void enqueueMain(platform::Seconds delay, std::function<void()> fn) override;
    void enqueueBackground(std::function<void()> fn) override;

  private:
    std::unique_ptr<QObject> context_;  // lives on the main thread; queued work runs in its thread
    std::unique_ptr<QThreadPool> pool_;
    std::thread::id mainThread_;
    std::mutex pendingMutex_;
    std::vector<std::function<void()>> pending_;  // queued for the next main-queue event
};

}  // namespace quenlit::linux_backend
