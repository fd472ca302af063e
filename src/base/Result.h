#pragma once

// The outcome of a call that can fail: a value, or the reason it failed in words a log line or a
// notification can show. Shaped like std::expected<T, Failure> (has_value, value, error,
// value_or, *, ->), so that moving to it is a rename; [[nodiscard]], so a failure cannot be
// dropped silently: a caller that means to ignore one says why in a comment beside a (void).

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace quenlit {

struct Failure {
    // What kind of failure, where a caller acts on it: the thing addressed is gone (a window
    // closed, a process ended), the desktop cannot do this at all, or it refused or failed this
    // once.
    enum class Kind : unsigned char { failed, gone, unsupported };

    std::string reason;
    Kind kind = Kind::failed;

    static Failure gone(std::string reason) { return {std::move(reason), Kind::gone}; }
    static Failure unsupported(std::string reason) { return {std::move(reason), Kind::unsupported}; }
};

template <class T = void>
class [[nodiscard]] Result {
  public:
    using value_type = T;
    using error_type = Failure;

    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}

    bool has_value() const { return state_.index() == 0; }
    explicit operator bool() const { return has_value(); }

    // Only for a successful call.
    const T& value() const& { return std::get<0>(state_); }
    T& value() & { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const T& operator*() const& { return value(); }
    T& operator*() & { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    const T* operator->() const { return &value(); }
    T* operator->() { return &value(); }

    template <class U>
    T value_or(U&& fallback) const& {
        return has_value() ? value() : static_cast<T>(std::forward<U>(fallback));
    }

    // The failure; for a successful call, a failure with no reason (std::expected leaves that
    // undefined, and a log line that reads it by mistake should not crash).
    const Failure& error() const {
        static const Failure none;
        return has_value() ? none : std::get<1>(state_);
    }

  private:
    std::variant<T, Failure> state_;
};

template <>
class [[nodiscard]] Result<void> {
  public:
    using value_type = void;
    using error_type = Failure;

    Result() = default;
    Result(Failure failure) : failure_(std::move(failure)) {}

    bool has_value() const { return !failure_.has_value(); }
    explicit operator bool() const { return has_value(); }

    const Failure& error() const {
        static const Failure none;
        return failure_ ? *failure_ : none;
    }

  private:
    std::optional<Failure> failure_;
};

}  // namespace quenlit
