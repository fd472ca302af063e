#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace quenlit::x11 {

// The key events posted here, in order, for a listener of raw key events that must tell its own
// synthesised events from typing: an event is ours when it is the oldest posted one not seen yet.
// Entries not seen within a second are dropped (an event that never came back must not make a
// later user key look synthesised). Thread-safe.
class SyntheticKeyLog {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr auto lifetime = std::chrono::seconds(1);

    void record(std::uint8_t keycode, bool press, std::int64_t userData, Clock::time_point at = Clock::now());
    // The marker of the posted event this one is, which is then taken off the log; absent when it
    // is not one of ours.
    std::optional<std::int64_t> take(std::uint8_t keycode, bool press, Clock::time_point at = Clock::now());
    // For a listener that reads presses only: the releases posted before this press are passed by.
    std::optional<std::int64_t> takePress(std::uint8_t keycode, Clock::time_point at = Clock::now());
    bool isOwnEvent(std::uint8_t keycode, bool press, Clock::time_point at = Clock::now()) {
        return take(keycode, press, at).has_value();
    }
    std::size_t size() const;

  private:
    struct Entry {
        std::uint8_t keycode;
        bool press;
        std::int64_t userData;
        Clock::time_point at;
    };
    void dropExpired(Clock::time_point now);

    mutable std::mutex mutex_;
    std::deque<Entry> entries_;
};

}  // namespace quenlit::x11
