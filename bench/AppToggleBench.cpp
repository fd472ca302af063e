// The app-toggle tap sees every key press and modifier change of the desktop, so its decision
// must be cheap and must not allocate: a mix of bound chords, ordinary typing, unbound chords and
// Control changes against 20 bindings.

#include "Budget.h"

#include "automation/AppToggleMonitor.h"
#include "backends/fake/FakeInput.h"
#include "backends/fake/FakeWindowControl.h"
#include "backends/fake/FakeWorkspace.h"
#include "backends/linux/PosixFileReader.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <vector>

namespace {

// Counts heap allocations while `counting` is set, to show the key path makes none.
bool counting = false;
std::size_t allocations = 0;

}  // namespace

void* operator new(std::size_t size) {
    if (counting) ++allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using quenlit::platform::EventType;
using quenlit::platform::Modifiers;
namespace keysym = quenlit::platform::keysym;

// Work posted by a matched key down is dropped: only the decision is measured.
class DiscardingScheduler final : public quenlit::platform::Scheduler {
  public:
    quenlit::platform::TimePoint now() const override { return {}; }
    bool isMainThread() const override { return true; }

  protected:
    void enqueueMain(quenlit::platform::Seconds, std::function<void()>) override {}
    void enqueueBackground(std::function<void()>) override {}
};

quenlit::platform::InputEvent event(EventType type, std::uint32_t key, Modifiers modifiers) {
    quenlit::platform::InputEvent e;
    e.type = type;
    e.keysym = key;
    e.modifiers = modifiers;
    return e;
}

constexpr Modifiers kLeftControl{.control = true, .leftControl = true};
constexpr Modifiers kShift{.shift = true};
constexpr std::uint32_t kLastBoundKey = 't';  // the 20th binding
constexpr std::uint32_t kUnboundKey = '9';

// What the tap sees while the user types a word, then presses a bound chord, then an unbound one.
std::vector<quenlit::platform::InputEvent> typingWithoutMatch() {
    std::vector<quenlit::platform::InputEvent> events;
    for (std::uint32_t key : {'h', 'e', 'l', 'l', 'o'}) {
        events.push_back(event(EventType::keyDown, key, {}));
        events.push_back(event(EventType::keyUp, key, {}));
    }
    events.push_back(event(EventType::flagsChanged, keysym::shiftL, kShift));
    events.push_back(event(EventType::keyDown, 'A', kShift));
    events.push_back(event(EventType::keyUp, 'A', kShift));
    events.push_back(event(EventType::flagsChanged, keysym::shiftL, {}));
    events.push_back(event(EventType::flagsChanged, keysym::controlL, kLeftControl));
    events.push_back(event(EventType::keyDown, kUnboundKey, kLeftControl));
    events.push_back(event(EventType::keyUp, kUnboundKey, kLeftControl));
    events.push_back(event(EventType::keyDown, 'T', {.shift = true, .control = true, .leftControl = true}));
    events.push_back(event(EventType::flagsChanged, keysym::controlL, {}));
    return events;
}

std::vector<quenlit::platform::InputEvent> mixed() {
    auto events = typingWithoutMatch();
    events.push_back(event(EventType::flagsChanged, keysym::controlL, kLeftControl));
    events.push_back(event(EventType::keyDown, kLastBoundKey, kLeftControl));
    events.push_back(event(EventType::keyUp, kLastBoundKey, kLeftControl));
    events.push_back(event(EventType::flagsChanged, keysym::controlL, {}));
    return events;
}

}  // namespace

int main(int argc, char** argv) {
    const auto folder = std::filesystem::temp_directory_path() / "quenlit-app-toggle-bench";
    std::filesystem::create_directories(folder);
    const auto file = folder / "bindings.toml";
    {
        std::ofstream out(file);
        for (char key = 'a'; key < 'a' + 20; ++key) {
            out << "[[toggle]]\nkey = \"" << key << "\"\nbundle_id = \"org.example.App" << key
                << "\"\nmodifiers = [\"leftControl\"]\n";
        }
    }
    quenlit::fake::FakeKeyboardEvents keyboard;
    quenlit::fake::FakeWorkspace workspace;
    quenlit::fake::FakeWindowControl windowControl;
    DiscardingScheduler scheduler;
    quenlit::linux_backend::PosixFileReader files;
    quenlit::AppToggleMonitor monitor({keyboard, workspace, windowControl, scheduler, files}, {file, {}});
    monitor.start();
    std::filesystem::remove_all(folder);
    if (monitor.bindings().size() != 20 || !monitor.hasTap()) {
        std::fprintf(stderr, "app_toggle_bench: the 20 bindings did not load\n");
        return 1;
    }

    const auto quiet = typingWithoutMatch();
    counting = true;
    for (const auto& e : quiet)
        benchmark::DoNotOptimize(monitor.appToggleCallback(e));
    counting = false;
    std::printf("allocations for %zu events without a match: %zu\n", quiet.size(), allocations);
    if (allocations != 0) return 1;
    // A bound chord posts the toggle to the main queue, which allocates; this also shows the count works.
    allocations = 0;
    counting = true;
    benchmark::DoNotOptimize(
        monitor.appToggleCallback(event(EventType::keyDown, kLastBoundKey, kLeftControl)));
    counting = false;
    std::printf("allocations for a bound key down (the posted toggle): %zu\n", allocations);

    const auto events = mixed();
    quenlit::bench::addBudgeted("AppToggleMonitor.tap decision/20 bindings, mixed events", 0.5e-6,
                                static_cast<int>(events.size()), [&](benchmark::State& state) {
                                    for (auto _ : state) {
                                        for (const auto& e : events) {
                                            benchmark::DoNotOptimize(monitor.appToggleCallback(e));
                                        }
                                    }
                                });
    quenlit::bench::addBudgeted("AppToggleMonitor.tap decision/bound chord, last of 20", 0.5e-6, 1,
                                [&](benchmark::State& state) {
                                    const auto down = event(EventType::keyDown, kLastBoundKey, kLeftControl);
                                    for (auto _ : state)
                                        benchmark::DoNotOptimize(monitor.appToggleCallback(down));
                                });
    return quenlit::bench::runAll(argc, argv);
}
