#include "backends/linux/ThreadScheduler.h"

namespace quenlit::linux_backend {

ThreadScheduler::ThreadScheduler(unsigned workers) : mainThread_(std::this_thread::get_id()) {
    for (unsigned i = 0; i < (workers == 0 ? 1 : workers); ++i)
        workers_.emplace_back([this] { workerLoop(); });
}

ThreadScheduler::~ThreadScheduler() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    workWake_.notify_all();
    for (auto& t : workers_)
        t.join();
}

bool ThreadScheduler::isMainThread() const {
    std::lock_guard lock(mutex_);
    return std::this_thread::get_id() == mainThread_;
}

void ThreadScheduler::enqueueMain(platform::Seconds delay, std::function<void()> fn) {
    auto due = now() + std::chrono::duration_cast<platform::TimePoint::duration>(
                           delay.count() > 0 ? delay : platform::Seconds(0));
    {
        std::lock_guard lock(mutex_);
        main_.emplace(std::make_tuple(due, sequence_++), std::move(fn));
    }
    mainWake_.notify_one();
}

void ThreadScheduler::enqueueBackground(std::function<void()> fn) {
    {
        std::lock_guard lock(mutex_);
        background_.push_back(std::move(fn));
    }
    workWake_.notify_one();
}

void ThreadScheduler::run() {
    std::unique_lock lock(mutex_);
    mainThread_ = std::this_thread::get_id();
    quitting_ = false;
    while (true) {
        auto it = main_.begin();
        if (it != main_.end() && std::get<0>(it->first) <= now()) {
            auto fn = std::move(it->second);
            main_.erase(it);
            lock.unlock();
            fn();
            lock.lock();
            continue;
        }
        if (quitting_) break;
        if (it == main_.end()) {
            mainWake_.wait(lock);
        } else {
            mainWake_.wait_until(lock, std::get<0>(it->first));
        }
    }
}

void ThreadScheduler::quit() {
    {
        std::lock_guard lock(mutex_);
        quitting_ = true;
    }
    mainWake_.notify_all();
}

void ThreadScheduler::workerLoop() {
    std::unique_lock lock(mutex_);
    while (true) {
        workWake_.wait(lock, [this] { return stopping_ || !background_.empty(); });
        if (background_.empty()) return;
        auto fn = std::move(background_.front());
        background_.pop_front();
        lock.unlock();
        fn();
        lock.lock();
    }
}

}  // namespace quenlit::linux_backend
