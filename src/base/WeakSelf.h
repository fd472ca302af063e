#pragma once

// "Run this only if the object still exists." An object owns a WeakSelf and hands out callables
// made by bind(): delayed calls, background completions and callbacks held by longer-lived objects
// then do nothing once the object is gone.
//
// Main thread only: the check and the call happen on the thread that destroys the owner. Work on
// another thread hands its result back to the main queue first and binds the continuation there.
// The owner calls reset() first thing in its destructor when callbacks could otherwise reach a
// half-destroyed object (its members are destroyed after the destructor's body).

#include <functional>
#include <memory>
#include <utility>

namespace quenlit {

template <class T>
class WeakSelf {
  public:
    explicit WeakSelf(T* self) : self_(std::make_shared<T*>(self)) {}
    WeakSelf(const WeakSelf&) = delete;
    WeakSelf& operator=(const WeakSelf&) = delete;

    // A callable that runs f(T&, args...) while the owner lives and does nothing afterwards.
    template <class F>
    auto bind(F f) const {
        return [weak = std::weak_ptr<T*>(self_), f = std::move(f)](auto&&... args) mutable {
            if (auto self = weak.lock()) std::invoke(f, **self, std::forward<decltype(args)>(args)...);
        };
    }

    // For holders that need to ask before they act ("is the store still there?").
    std::weak_ptr<T*> weak() const { return self_; }

    // From now on every bound callable does nothing.
    void reset() { self_.reset(); }

  private:
    std::shared_ptr<T*> self_;
};

}  // namespace quenlit
