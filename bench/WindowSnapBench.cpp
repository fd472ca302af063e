// The geometry of a window command: every command over a few visible frames (a laptop under a
// menu bar, an odd-width monitor, a wide monitor left of the primary with fractional edges).

#include "Budget.h"

#include "automation/WindowSnap.h"

#include <vector>

namespace {

using quenlit::platform::Rect;
namespace WindowSnap = quenlit::WindowSnap;

const std::vector<Rect> kBounds = {
    {0, 25, 1440, 875},
    {0, 25, 1441, 875},
    {-2560, -180.5, 2560, 1415.25},
    {1920, 0, 1080, 1890},
};
const Rect kCurrent{180.3, 140.7, 1600, 500.2};

}  // namespace

int main(int argc, char** argv) {
    const int calls = static_cast<int>(kBounds.size() * WindowSnap::kAllCommands.size());
    quenlit::bench::addBudgeted(
        "WindowSnap.targetFrame/12 commands x 4 bounds", 0.1e-6, calls, [](benchmark::State& state) {
            for (auto _ : state) {
                for (const Rect& bounds : kBounds) {
                    for (WindowSnap::Command command : WindowSnap::kAllCommands) {
                        Rect target = WindowSnap::targetFrame(bounds, command, kCurrent);
                        benchmark::DoNotOptimize(target);
                    }
                }
            }
        });
    return quenlit::bench::runAll(argc, argv);
}
