#pragma once

// A real-time scheduler for programs without a Qt event loop (the command line): run() turns the
// calling thread into the main queue until quit(); background work runs on a small thread pool.

#include "platform/Scheduler.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

namespace quenlit::linux_backend {

class ThreadScheduler final : public platform::Scheduler {
  public:
    explicit ThreadScheduler(unsigned workers = 2);
    ~ThreadScheduler() override;
    ThreadScheduler(const ThreadScheduler&) = delete;
    ThreadScheduler& operator=(const ThreadScheduler&) = delete;

    platform::TimePoint now() const override { return std::chrono::steady_clock::now(); }
    bool isMainThread() const override;

    // Runs main-queue work on the calling thread until quit() is called.
    void run();
    // Makes run() return once the work that is due now has run. Callable from any thread.
    void quit();

  protected:
    void enqueueMain(platform::Seconds delay, std::function<void()> fn) override;
    void enqueueBackground(std::function<void()> fn) override;

  private:
    void workerLoop();

    mutable std::mutex mutex_;
    std::condition_variable mainWake_;
    std::condition_variable workWake_;
    std::map<std::tuple<platform::TimePoint, std::uint64_t>, std::function<void()>> main_;
    std::deque<std::function<void()>> background_;
    std::uint64_t sequence_ = 0;
    bool quitting_ = false;
    bool stopping_ = false;
    std::thread::id mainThread_;
    std::vector<std::thread> workers_;
};

}  // namespace quenlit::linux_backend
