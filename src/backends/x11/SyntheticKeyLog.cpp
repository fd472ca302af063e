#include "backends/x11/SyntheticKeyLog.h"

namespace quenlit::x11 {

void SyntheticKeyLog::record(std::uint8_t keycode, bool press, std::int64_t userData, Clock::time_point at) {
    std::lock_guard lock(mutex_);
    dropExpired(at);
    entries_.push_back({keycode, press, userData, at});
}

std::optional<std::int64_t> SyntheticKeyLog::take(std::uint8_t keycode, bool press, Clock::time_point at) {
    std::lock_guard lock(mutex_);
    dropExpired(at);
    // The server delivers our events in the order we posted them, with the user's own keys possibly
    // in between: only the oldest outstanding one can be next.
    if (entries_.empty() || entries_.front().keycode != keycode || entries_.front().press != press) {
        return std::nullopt;
    }
    const std::int64_t userData = entries_.front().userData;
    entries_.pop_front();
    return userData;
}

std::optional<std::int64_t> SyntheticKeyLog::takePress(std::uint8_t keycode, Clock::time_point at) {
    {
        std::lock_guard lock(mutex_);
        while (!entries_.empty() && !entries_.front().press)
            entries_.pop_front();
    }
    return take(keycode, true, at);
}

std::size_t SyntheticKeyLog::size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

void SyntheticKeyLog::dropExpired(Clock::time_point now) {
    while (!entries_.empty() && now - entries_.front().at > lifetime)
        entries_.pop_front();
}

}  // namespace quenlit::x11
