#include "backends/sway/SwayWindowControl.h"

#include "backends/sway/SwayScreens.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace quenlit::sway {
namespace {

using platform::WindowInfo;
using platform::WindowRef;

constexpr auto kStateChangeBound = std::chrono::milliseconds(200);
constexpr auto kGeometryBound = std::chrono::milliseconds(300);
// How long a read of the tree stands for the tree: the span of one user action (a window command
// reads the windows, then writes one of them).
constexpr auto kListedFor = std::chrono::milliseconds(250);
// sway keeps the windows of its scratchpad on a workspace of this name, out of every output.
constexpr std::string_view kScratchpad = "__i3_scratch";

long rounded(double value) {
    return std::lround(value);
}

std::string criteria(long id) {
    return "[con_id=" + std::to_string(id) + "] ";
}

Failure gone(std::uint64_t id) {
    return Failure::gone("window " + std::to_string(id) + " is gone");
}

Failure noAnswer() {
    return Failure{"sway did not answer"};
}

WindowInfo infoOf(const SwayWindow& window, int processIdentifier, platform::Point origin) {
    WindowInfo info;
    info.ref = {processIdentifier, static_cast<std::uint64_t>(window.id)};
    info.frame = layoutToAccessibility(window.rect, origin);
    info.minimised = window.workspace == kScratchpad;
    info.fullScreen = window.fullscreen;
    return info;
}

}  // namespace

SwayWindowControl::SwayWindowControl(SwayIpc& sway) : sway_(sway) {}

Result<> SwayWindowControl::run(const std::string& commands) {
    if (!sway_.command(commands)) return Failure{"sway refused: " + commands};
    return {};
}

Result<std::pair<SwayWindow, platform::Point>> SwayWindowControl::find(const WindowRef& window) {
    if (listed_ && std::chrono::steady_clock::now() - listed_->at < kListedFor) {
        for (const SwayWindow& candidate : listed_->windows) {
            if (static_cast<std::uint64_t>(candidate.id) == window.id)
                return std::pair{candidate, listed_->origin};
        }
    }
    const auto all = sway_.windows();
    const auto outputs = sway_.outputs();
    if (!all || !outputs) return noAnswer();
    for (const SwayWindow& candidate : *all) {
        if (static_cast<std::uint64_t>(candidate.id) == window.id)
            return std::pair{candidate, accessibilityOrigin(*outputs)};
    }
    return gone(window.id);
}

Result<std::vector<WindowInfo>> SwayWindowControl::windows(int processIdentifier) {
    auto all = sway_.windows();
    const auto outputs = sway_.outputs();
    if (!all || !outputs) return noAnswer();
    std::vector<SwayWindow> own;
    for (SwayWindow& window : *all) {
        if (processIdentifier > 0 && window.pid == processIdentifier) own.push_back(std::move(window));
    }
    // A process without windows is no application with an interface.
    if (own.empty()) return Failure::gone("process " + std::to_string(processIdentifier) + " has no windows");
    std::stable_sort(own.begin(), own.end(),
                     [](const SwayWindow& a, const SwayWindow& b) { return a.focusRank < b.focusRank; });
    const platform::Point origin = accessibilityOrigin(*outputs);
    listed_ = Listed{own, origin, std::chrono::steady_clock::now()};
    std::vector<WindowInfo> out;
    for (const SwayWindow& window : own)
        out.push_back(infoOf(window, processIdentifier, origin));
    return out;
}

Result<WindowInfo> SwayWindowControl::window(const WindowRef& window) {
    const auto found = find(window);
    if (!found) return found.error();
    return infoOf(found->first, window.processIdentifier, found->second);
}

Result<> SwayWindowControl::setFrame(const WindowRef& window, const platform::Rect& frame, bool resize) {
    const auto found = find(window);
    if (!found) return found.error();
    const SwayWindow& before = found->first;

    // sway places "move absolute position" by the outer frame's top-left corner and "resize set"
    // sizes the outer frame, title bar included, keeping its centre: the move comes after the
    // resize, so the frame ends at the corner asked for.
    const platform::Point corner = accessibilityToLayout(frame.origin(), found->second);
    // The tree changes now: the next action reads it afresh.
    listed_.reset();
    // sway lays out tiled windows itself and ignores moves and sizes asked of them. A window made
    // floating is sized by sway while the program still answers the tiled size: a size asked for
    // in the same breath can be lost, so the frame is asked for once the program drew at its
    // floating size (sway says it floats at once, and gives it a frame at once, before the
    // program answered).
    if (!before.floating) {
        if (auto done = run(criteria(before.id) + "floating enable"); !done) return done;
        // sway gives the floating window its frame at once; the program answers with its size
        // later, and until then the frame does not count as steady.
        if (auto floated = awaitWindow(
                before.id, before.rect,
                [&](const SwayWindow& now) {
                    return now.floating &&
                           (now.drawnWidth != before.drawnWidth || now.drawnHeight != before.drawnHeight);
                },
                false);
            !floated)
            return floated;
    }
    std::string commands = criteria(before.id);
    if (resize) {
        commands += "resize set width " + std::to_string(std::max(1L, rounded(frame.width))) + " px height " +
                    std::to_string(std::max(1L, rounded(frame.height))) + " px, ";
    }
    commands += "move absolute position " + std::to_string(rounded(corner.x)) + " " +
                std::to_string(rounded(corner.y));
    const auto placed = [&](const SwayWindow& now) {
        const bool atCorner = now.rect.x == rounded(corner.x) && now.rect.y == rounded(corner.y);
        const bool atSize =
            !resize || (now.rect.width == rounded(frame.width) && now.rect.height == rounded(frame.height));
        return atCorner && atSize;
    };
    // A program still answering the floating size it was given a moment ago can undo the frame
    // asked for: asked once more when the window did not end there.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (auto done = run(commands); !done) return done;
        if (auto waited = awaitWindow(before.id, before.rect, placed); !waited) return waited;
        sway_.forgetReadings();
        const auto now = sway_.windows();
        if (!now) return noAnswer();
        const auto it = std::find_if(now->begin(), now->end(),
                                     [&](const SwayWindow& candidate) { return candidate.id == before.id; });
        if (it == now->end() || placed(*it)) return {};
    }
    return {};
}

Result<> SwayWindowControl::leaveFullScreen(const WindowRef& window) {
    const auto found = find(window);
    if (!found) return found.error();
    if (!found->first.fullscreen) return {};
    listed_.reset();
    if (auto done = run(criteria(found->first.id) + "fullscreen disable"); !done) return done;
    // The caller reads the window right after: let the tree show it first.
    const auto deadline = std::chrono::steady_clock::now() + kStateChangeBound;
    for (;;) {
        sway_.forgetReadings();
        const auto now = find(window);
        if (!now) return now.error();
        if (!now->first.fullscreen || std::chrono::steady_clock::now() >= deadline) return {};
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

Result<> SwayWindowControl::awaitWindow(long id, const platform::Rect& start,
                                        const std::function<bool(const SwayWindow&)>& done, bool steadyEnds) {
    // The tree shows a new frame once the program has drawn at its new size; a program that
    // adjusts the size (to whole character cells, to its limits) ends the wait once its frame has
    // changed and then stays put.
    const auto deadline = std::chrono::steady_clock::now() + kGeometryBound;
    std::optional<platform::Rect> last;
    int steady = 0;
    for (;;) {
        // Each look is a new reading: the tree kept for the rest of this turn of the loop is the
        // one from before the change.
        sway_.forgetReadings();
        const auto all = sway_.windows();
        if (!all) return noAnswer();
        const auto it =
            std::find_if(all->begin(), all->end(), [&](const SwayWindow& window) { return window.id == id; });
        if (it == all->end()) return gone(static_cast<std::uint64_t>(id));
        if (done(*it)) return {};
        steady = last && *last == it->rect && it->rect != start ? steady + 1 : 0;
        last = it->rect;
        if ((steadyEnds && steady >= 4) || std::chrono::steady_clock::now() >= deadline) return {};
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

Result<> SwayWindowControl::activate(const WindowRef& window) {
    // The id names the window to sway; no need to read the tree first.
    listed_.reset();
    return run(criteria(static_cast<long>(window.id)) + "focus");
}

Result<> SwayWindowControl::activateApplication(int processIdentifier) {
    const auto all = windows(processIdentifier);
    if (!all) return all.error();
    return activate(all->front().ref);
}

}  // namespace quenlit::sway
