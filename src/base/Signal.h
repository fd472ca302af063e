#pragma once

// Observable fields and events. A connection lives as long as the Connection handle that
// connect() returns; once the handle is gone the callback is never called again, so an observer
// that owns its handle can never be called after it was destroyed. Single-threaded: connect,
// disconnect and emit all happen on the main thread.

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace quenlit {

class Connection {
  public:
    Connection() = default;
    explicit Connection(std::function<void()> disconnect) : disconnect_(std::move(disconnect)) {}
    Connection(Connection&& other) noexcept : disconnect_(std::exchange(other.disconnect_, nullptr)) {}
    Connection& operator=(Connection&& other) noexcept {
        if (this != &other) {
            disconnect();
            disconnect_ = std::exchange(other.disconnect_, nullptr);
        }
        return *this;
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() { disconnect(); }

    void disconnect() {
        if (disconnect_) std::exchange(disconnect_, nullptr)();
    }
    bool connected() const { return static_cast<bool>(disconnect_); }

  private:
    std::function<void()> disconnect_;
};

template <typename... Args>
class Signal {
  public:
    using Slot = std::function<void(Args...)>;

    Signal() = default;
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    [[nodiscard]] Connection connect(Slot slot) {
        auto entry = std::make_shared<Entry>(Entry{std::move(slot), true});
        state_->entries.push_back(entry);
        std::weak_ptr<State> weakState = state_;
        std::weak_ptr<Entry> weakEntry = entry;
        return Connection([weakState, weakEntry] {
            auto e = weakEntry.lock();
            if (e) e->alive = false;
            if (auto s = weakState.lock()) std::erase(s->entries, e);
        });
    }

    // Calls every slot connected before the emission began; a slot disconnected meanwhile is skipped.
    void emit(Args... args) const {
        auto state = state_;
        auto snapshot = state->entries;
        for (const auto& entry : snapshot) {
            if (entry->alive) entry->slot(args...);
        }
    }

    std::size_t connectionCount() const { return state_->entries.size(); }

  private:
    struct Entry {
        Slot slot;
        bool alive;
    };
    struct State {
        std::vector<std::shared_ptr<Entry>> entries;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace quenlit
