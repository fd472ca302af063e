#include "backends/fake/VirtualScheduler.h"

namespace quenlit::fake {

VirtualScheduler::VirtualScheduler() : start_(platform::TimePoint{} + std::chrono::hours(1)), now_(start_) {}

void VirtualScheduler::enqueueMain(platform::Seconds delay, std::function<void()> fn) {
    auto due = now_ + std::chrono::duration_cast<platform::TimePoint::duration>(
                          delay.count() > 0 ? delay : platform::Seconds(0));
    main_.emplace(std::make_tuple(due, sequence_++), std::move(fn));
}

void VirtualScheduler::enqueueBackground(std::function<void()> fn) {
    background_.push_back(std::move(fn));
}

bool VirtualScheduler::runOneDue() {
    if (!background_.empty()) {
        auto fn = std::move(background_.front());
        background_.pop_front();
        fn();
        return true;
    }
    auto it = main_.begin();
    if (it == main_.end() || std::get<0>(it->first) > now_) return false;
    auto fn = std::move(it->second);
    main_.erase(it);
    fn();
    return true;
}

void VirtualScheduler::runPending() {
    while (runOneDue()) {
    }
}

void VirtualScheduler::advance(platform::Seconds duration) {
    const auto target = now_ + std::chrono::duration_cast<platform::TimePoint::duration>(duration);
    runPending();
    while (true) {
        auto next = nextDue();
        if (!next || *next > target) break;
        if (*next > now_) now_ = *next;
        runPending();
    }
    now_ = target;
    runPending();
}

double VirtualScheduler::elapsed() const {
    return platform::Seconds(now_ - start_).count();
}

std::optional<platform::TimePoint> VirtualScheduler::nextDue() const {
    if (main_.empty()) return std::nullopt;
    return std::get<0>(main_.begin()->first);
}

}  // namespace quenlit::fake
