#include "base/Log.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace quenlit::log {
namespace {

using SinkList = std::vector<std::shared_ptr<Sink>>;

// Sink lists are never freed while the process runs, so a writer on another thread can keep using
// the list it loaded without a lock. They are replaced only a handful of times per run.
std::atomic<const SinkList*> gSinks{nullptr};

std::vector<std::unique_ptr<SinkList>>& retiredLists() {
    static std::vector<std::unique_ptr<SinkList>> lists;
    return lists;
}

}  // namespace

void installSinks(std::vector<std::shared_ptr<Sink>> sinks) {
    static std::mutex installing;
    std::lock_guard lock(installing);
    auto list = std::make_unique<SinkList>(std::move(sinks));
    gSinks.store(list.get(), std::memory_order_release);
    retiredLists().push_back(std::move(list));
}

void write(std::string_view message) noexcept {
    const SinkList* sinks = gSinks.load(std::memory_order_acquire);
    if (sinks == nullptr || sinks->empty()) return;
    std::string line;
    try {
        line.reserve(kPrefix.size() + message.size());
        line.append(kPrefix).append(message);
    } catch (...) {
        return;  // out of memory: the record is lost, the caller never notices
    }
    for (const auto& sink : *sinks)
        sink->write(line);
}

std::string isoTimestamp(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    const auto seconds = floor<std::chrono::seconds>(t);
    const auto days = floor<std::chrono::days>(seconds);
    const year_month_day ymd{days};
    const hh_mm_ss<std::chrono::seconds> time{seconds - days};
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02ld:%02ld:%02ldZ", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<long>(time.hours().count()), static_cast<long>(time.minutes().count()),
                  static_cast<long>(time.seconds().count()));
    return buffer;
}

struct MemorySink::Impl {
    std::mutex mutex;
    std::vector<std::string> lines;
};

std::shared_ptr<MemorySink::Impl> MemorySink::makeImpl() {
    return std::make_shared<Impl>();
}

void MemorySink::write(std::string_view line) noexcept {
    try {
        std::lock_guard lock(impl_->mutex);
        impl_->lines.emplace_back(line);
    } catch (...) {
    }
}

std::vector<std::string> MemorySink::lines() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->lines;
}

void MemorySink::clear() {
    std::lock_guard lock(impl_->mutex);
    impl_->lines.clear();
}

}  // namespace quenlit::log
