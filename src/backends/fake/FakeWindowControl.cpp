#include "backends/fake/FakeWindowControl.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace quenlit::fake {
namespace {

using platform::WindowInfo;
using platform::WindowRef;

std::string number(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", v);
    return buffer;
}

// Appended piece by piece: GCC 12 at -O3 reports a false overlap (-Wrestrict) in chains of
// string concatenations.
std::string rectText(const platform::Rect& r, bool withSize) {
    std::string text = "(";
    text += number(r.x);
    text += ", ";
    text += number(r.y);
    if (withSize) {
        text += ", ";
        text += number(r.width);
        text += ", ";
        text += number(r.height);
    }
    text += ')';
    return text;
}

std::string windowText(const WindowRef& window) {
    return "window " + std::to_string(window.id);
}

Failure gone(const WindowRef& window) {
    return Failure::gone(windowText(window) + " is gone");
}

}  // namespace

WindowRef FakeWindowControl::addWindow(int pid, std::uint64_t id, platform::Rect frame) {
    WindowInfo window;
    window.ref = {pid, id};
    window.frame = frame;
    applications_[pid].push_back(window);
    return window.ref;
}

WindowInfo* FakeWindowControl::find(const WindowRef& window) {
    auto app = applications_.find(window.processIdentifier);
    if (app == applications_.end()) return nullptr;
    auto it = std::find_if(app->second.begin(), app->second.end(),
                           [&](const WindowInfo& w) { return w.ref == window; });
    return it == app->second.end() ? nullptr : &*it;
}

WindowInfo& FakeWindowControl::info(const WindowRef& window) {
    WindowInfo* found = find(window);
    if (!found) throw std::logic_error("no such window: " + windowText(window));
    return *found;
}

void FakeWindowControl::focus(const WindowRef& window) {
    auto& list = applications_[window.processIdentifier];
    auto it = std::find_if(list.begin(), list.end(), [&](const WindowInfo& w) { return w.ref == window; });
    if (it != list.end()) std::rotate(list.begin(), it, it + 1);
}

void FakeWindowControl::close(const WindowRef& window) {
    auto& list = applications_[window.processIdentifier];
    std::erase_if(list, [&](const WindowInfo& w) { return w.ref == window; });
}

void FakeWindowControl::noteChange(const std::string& change) {
    log_.push_back(change);
    if (onChange) onChange(change);
}

bool FakeWindowControl::isProcessTrusted(bool prompt) {
    if (prompt && !trusted) {
        ++promptCount;
        if (grantOnPrompt) trusted = true;
    }
    return trusted;
}

Result<std::vector<WindowInfo>> FakeWindowControl::windows(int processIdentifier) {
    ++listCount_;
    if (auto failure = listFailure.find(processIdentifier); failure != listFailure.end())
        return failure->second;
    auto app = applications_.find(processIdentifier);
    if (app == applications_.end() || app->second.empty())
        return Failure::gone("app " + std::to_string(processIdentifier) + " has no windows");
    return app->second;
}

Result<WindowInfo> FakeWindowControl::window(const WindowRef& window) {
    if (WindowInfo* found = find(window)) return *found;
    return gone(window);
}

Result<> FakeWindowControl::setFrame(const WindowRef& window, const platform::Rect& frame, bool resize) {
    noteChange("setFrame " + rectText(frame, resize) + " on " + windowText(window));
    WindowInfo* found = find(window);
    if (!found) return gone(window);
    if (refusesFrame.count(window.id) != 0) return Failure{windowText(window) + " refused the frame"};
    found->frame.x = frame.x;
    found->frame.y = frame.y;
    if (resize && found->resizable) {
        found->frame.width = frame.width;
        found->frame.height = frame.height;
    }
    return {};
}

Result<> FakeWindowControl::leaveFullScreen(const WindowRef& window) {
    noteChange("leaveFullScreen on " + windowText(window));
    WindowInfo* found = find(window);
    if (!found) return gone(window);
    found->fullScreen = false;
    return {};
}

Result<> FakeWindowControl::activate(const WindowRef& window) {
    noteChange("activate " + windowText(window));
    WindowInfo* found = find(window);
    if (!found) return gone(window);
    found->minimised = false;
    focus(window);
    return {};
}

Result<> FakeWindowControl::activateApplication(int processIdentifier) {
    noteChange("activateApplication app " + std::to_string(processIdentifier));
    auto app = applications_.find(processIdentifier);
    if (app == applications_.end() || app->second.empty())
        return Failure::gone("app " + std::to_string(processIdentifier) + " has no windows");
    return {};
}

}  // namespace quenlit::fake
