#pragma once

// The outcome of a call that can fail: a value, or the reason it failed in words a log line or a
// notification can show. [[nodiscard]], so a failure cannot be dropped silently.

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace quenlit {

struct Failure {
    std::string reason;
};

template <class T = void>
class [[nodiscard]] Result {
  public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return std::get<0>(state_); }
    T& value() & { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    // Empty when the call succeeded.
    const std::string& reason() const {
        static const std::string none;
        return ok() ? none : std::get<1>(state_).reason;
    }

  private:
    std::variant<T, Failure> state_;
};

template <>
class [[nodiscard]] Result<void> {
  public:
    Result() = default;
    Result(Failure failure) : failure_(std::move(failure)) {}

    bool ok() const { return !failure_.has_value(); }
    explicit operator bool() const { return ok(); }
    const std::string& reason() const {
        static const std::string none;
        return failure_ ? failure_->reason : none;
    }

  private:
    std::optional<Failure> failure_;
};

}  // namespace quenlit
