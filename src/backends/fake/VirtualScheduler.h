#pragma once

// The scheduler of the tests: time stands still until the test advances it. Background tasks run
// on the test's thread, in order, whenever the test lets time pass or drains the queues, which
// makes every interleaving of a test reproducible.

#include "platform/Scheduler.h"

#include <cstdint>
#include <deque>
#include <map>
#include <tuple>

namespace quenlit::fake {

class VirtualScheduler final : public platform::Scheduler {
  public:
    VirtualScheduler();

    platform::TimePoint now() const override { return now_; }
    bool isMainThread() const override { return true; }

    // Runs everything that is due now (background tasks first, then main-queue work in order of
    // due time and posting), including work that this work schedules for now.
    void runPending();
    // Lets `duration` pass, running each delayed task at its own due time.
    void advance(platform::Seconds duration);
    // Seconds since this scheduler was created.
    double elapsed() const;

    std::size_t pendingMainCount() const { return main_.size(); }
    std::size_t pendingBackgroundCount() const { return background_.size(); }
    // Due time of the earliest main-queue task, if any.
    std::optional<platform::TimePoint> nextDue() const;

  protected:
    void enqueueMain(platform::Seconds delay, std::function<void()> fn) override;
    void enqueueBackground(std::function<void()> fn) override;

  private:
    bool runOneDue();

    platform::TimePoint start_;
    platform::TimePoint now_;
    std::uint64_t sequence_ = 0;
    std::map<std::tuple<platform::TimePoint, std::uint64_t>, std::function<void()>> main_;
    std::deque<std::function<void()>> background_;
};

}  // namespace quenlit::fake
