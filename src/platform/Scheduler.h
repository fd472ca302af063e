#pragma once

// Where all asynchronous work of the core goes: the main queue (the event loop's thread), delayed
// main-queue work, and background tasks whose results are handed back to the main queue. The
// desktop program runs it on the Qt event loop, the command line on a plain thread loop, and tests
// on a virtual clock that they advance by hand, so no delay in the core ever waits for real.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace quenlit::platform {

using Seconds = std::chrono::duration<double>;
using TimePoint = std::chrono::steady_clock::time_point;

// Cancels one scheduled task. Copies share the task; cancelling after the task ran does nothing.
// A background task sees the cancellation through isCancelled() and may stop early; its hand-back
// to the main queue is then skipped.
class TaskHandle {
  public:
    TaskHandle() : flag_(std::make_shared<std::atomic<bool>>(false)) {}
    void cancel() const { flag_->store(true, std::memory_order_relaxed); }
    bool isCancelled() const { return flag_->load(std::memory_order_relaxed); }

  private:
    std::shared_ptr<std::atomic<bool>> flag_;
};

class Scheduler {
  public:
    virtual ~Scheduler() = default;

    // Monotonic time of this scheduler (virtual in tests).
    virtual TimePoint now() const = 0;
    // Whether the caller runs on the main queue's thread.
    virtual bool isMainThread() const = 0;

    // Runs fn on the main thread after the work already queued. Callable from any thread.
    TaskHandle post(std::function<void()> fn) { return postAfter(Seconds(0), std::move(fn)); }

    // Runs fn on the main thread once `delay` has passed. Callable from any thread.
    TaskHandle postAfter(Seconds delay, std::function<void()> fn) {
        TaskHandle handle;
        enqueueMain(delay, [handle, fn = std::move(fn)] {
            if (!handle.isCancelled()) fn();
        });
        return handle;
    }

    // Runs work on a background thread.
    TaskHandle runInBackground(std::function<void(const TaskHandle&)> work) {
        TaskHandle handle;
        enqueueBackground([handle, work = std::move(work)] {
            if (!handle.isCancelled()) work(handle);
        });
        return handle;
    }

    // Runs work on a background thread and hands its result to done on the main thread, unless the
    // task was cancelled first.
    template <typename T>
    TaskHandle runInBackground(std::function<T(const TaskHandle&)> work, std::function<void(T)> done) {
        return runInBackground([this, work = std::move(work), done = std::move(done)](const TaskHandle& h) {
            auto result = std::make_shared<T>(work(h));
            enqueueMain(Seconds(0), [h, done, result] {
                if (!h.isCancelled()) done(std::move(*result));
            });
        });
    }

  protected:
    virtual void enqueueMain(Seconds delay, std::function<void()> fn) = 0;
    virtual void enqueueBackground(std::function<void()> fn) = 0;
};

}  // namespace quenlit::platform
