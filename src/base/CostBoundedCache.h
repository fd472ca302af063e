#pragma once

// A thread-safe memory cache bounded by the total cost of its entries: once an insert pushes the
// total over the limit, the least recently used entries go until it fits again. Every call may
// come from any thread; values are returned by copy, so keep them cheap to copy (shared data).

#include <cstddef>
#include <list>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

namespace quenlit {

template <typename Key, typename Value, typename Hash = std::hash<Key>>
class CostBoundedCache {
  public:
    explicit CostBoundedCache(std::size_t costLimit) : costLimit_(costLimit) {}
    CostBoundedCache(const CostBoundedCache&) = delete;
    CostBoundedCache& operator=(const CostBoundedCache&) = delete;

    std::size_t costLimit() const { return costLimit_; }

    // The value under key, which becomes the most recently used entry; nothing when absent.
    std::optional<Value> get(const Key& key) {
        std::lock_guard lock(mutex_);
        auto it = index_.find(key);
        if (it == index_.end()) return std::nullopt;
        order_.splice(order_.begin(), order_, it->second);
        return it->second->value;
    }

    // Stores value under key, replacing an earlier one, then evicts from the least recently used
    // end until the total cost is within the limit. An entry that alone costs more than the limit
    // is not kept, and pushes nothing else out: it could never fit.
    void insert(const Key& key, Value value, std::size_t cost) {
        std::lock_guard lock(mutex_);
        eraseLocked(key);
        if (cost > costLimit_) return;
        order_.push_front(Entry{key, std::move(value), cost});
        index_.emplace(key, order_.begin());
        totalCost_ += cost;
        while (totalCost_ > costLimit_)
            eraseLocked(order_.back().key);
    }

    void remove(const Key& key) {
        std::lock_guard lock(mutex_);
        eraseLocked(key);
    }

    void removeAll() {
        std::lock_guard lock(mutex_);
        index_.clear();
        order_.clear();
        totalCost_ = 0;
    }

    bool contains(const Key& key) const {
        std::lock_guard lock(mutex_);
        return index_.count(key) > 0;
    }
    std::size_t count() const {
        std::lock_guard lock(mutex_);
        return index_.size();
    }
    std::size_t totalCost() const {
        std::lock_guard lock(mutex_);
        return totalCost_;
    }

  private:
    struct Entry {
        Key key;
        Value value;
        std::size_t cost;
    };

    void eraseLocked(const Key& key) {
        auto it = index_.find(key);
        if (it == index_.end()) return;
        auto entry = it->second;
        totalCost_ -= entry->cost;
        index_.erase(it);
        order_.erase(entry);  // last: `key` may refer to this entry's own key
    }

    const std::size_t costLimit_;
    mutable std::mutex mutex_;
    std::list<Entry> order_;  // most recently used first
    std::unordered_map<Key, typename std::list<Entry>::iterator, Hash> index_;
    std::size_t totalCost_ = 0;
};

}  // namespace quenlit
