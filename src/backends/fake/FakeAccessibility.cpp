#include "backends/fake/FakeAccessibility.h"

#include <cstdio>

namespace quenlit::fake {
namespace {

using platform::AXElement;
using platform::AXResult;

std::string number(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", v);
    return buffer;
}

// Appended piece by piece: GCC 12 at -O3 reports a false overlap (-Wrestrict) in chains of
// string concatenations.
std::string pairText(double a, double b) {
    std::string text = "(";
    text += number(a);
    text += ", ";
    text += number(b);
    text += ')';
    return text;
}

std::string appText(int pid) {
    return "app " + std::to_string(pid);
}

}  // namespace

std::string FakeAccessibility::describe(const AXElement& e) {
    switch (e.kind) {
        case AXElement::Kind::window:
            return "window " + std::to_string(e.handle);
        case AXElement::Kind::control:
            return "control " + std::to_string(e.handle);
    }
    return "?";
}

void FakeAccessibility::noteRead(const std::string& what) {
    if (recordReads) reads_.push_back("read " + what);
}

void FakeAccessibility::noteChange(const std::string& change) {
    log_.push_back(change);
    if (onChange) onChange(change);
}

FakeAccessibility::Element* FakeAccessibility::find(const AXElement& element) {
    auto it = elements_.find(keyOf(element));
    return it == elements_.end() ? nullptr : &it->second;
}

AXElement FakeAccessibility::addWindow(int pid, std::uint64_t window, platform::Rect frame) {
    const AXElement handle = windowElement(pid, window);
    Element& e = element(handle);
    e.role = platform::AXRole::window;
    e.frame = frame;
    e.resizable = true;
    Application& app = application(pid);
    std::vector<AXElement> list = app.windows.get().value_or(std::vector<AXElement>{});
    list.push_back(handle);
    app.windows = std::move(list);
    return handle;
}

AXElement FakeAccessibility::addFocusedControl(int pid, std::uint64_t control, platform::Rect frame) {
    const AXElement handle = controlElement(pid, control);
    element(handle).frame = frame;
    application(pid).focusedElement = handle;
    return handle;
}

bool FakeAccessibility::isProcessTrusted(bool prompt) {
    if (prompt && !trusted) {
        ++promptCount;
        if (grantOnPrompt) trusted = true;
    }
    return trusted;
}

// --- Applications ---

AXResult<> FakeAccessibility::setMessagingTimeout(int processIdentifier, double seconds) {
    log_.push_back("timeout " + number(seconds) + " on " + appText(processIdentifier));
    return {};
}

AXResult<AXElement> FakeAccessibility::focusedWindow(int processIdentifier) {
    noteRead("focusedWindow of " + appText(processIdentifier));
    return application(processIdentifier).focusedWindow;
}

AXResult<AXElement> FakeAccessibility::mainWindow(int processIdentifier) {
    noteRead("mainWindow of " + appText(processIdentifier));
    return application(processIdentifier).mainWindow;
}

AXResult<std::vector<AXElement>> FakeAccessibility::windows(int processIdentifier) {
    noteRead("windows of " + appText(processIdentifier));
    return application(processIdentifier).windows;
}

AXResult<AXElement> FakeAccessibility::focusedElement(int processIdentifier) {
    noteRead("focusedElement of " + appText(processIdentifier));
    return application(processIdentifier).focusedElement;
}

AXResult<AXElement> FakeAccessibility::systemFocusedElement() {
    noteRead("focusedElement of system");
    return systemFocused;
}

AXResult<> FakeAccessibility::bringToFront(int processIdentifier) {
    noteChange("bringToFront on " + appText(processIdentifier));
    return {};
}

AXResult<> FakeAccessibility::setFocusedWindow(int processIdentifier, const AXElement& window) {
    noteChange("setFocusedWindow " + describe(window) + " on " + appText(processIdentifier));
    application(processIdentifier).focusedWindow = window;
    return {};
}

AXResult<> FakeAccessibility::setMainWindow(int processIdentifier, const AXElement& window) {
    noteChange("setMainWindow " + describe(window) + " on " + appText(processIdentifier));
    application(processIdentifier).mainWindow = window;
    return {};
}

AXResult<> FakeAccessibility::setFocusedElement(int processIdentifier, const AXElement& element) {
    noteChange("setFocusedElement " + describe(element) + " on " + appText(processIdentifier));
    application(processIdentifier).focusedElement = element;
    return {};
}

AXResult<bool> FakeAccessibility::isEnhancedUserInterface(int processIdentifier) {
    noteRead("enhancedUserInterface of " + appText(processIdentifier));
    return application(processIdentifier).enhancedUserInterface;
}

AXResult<> FakeAccessibility::setEnhancedUserInterface(int processIdentifier, bool on) {
    noteChange(std::string("setEnhancedUserInterface ") + (on ? "true" : "false") + " on " +
               appText(processIdentifier));
    application(processIdentifier).enhancedUserInterface = on;
    return {};
}

// --- Windows and controls ---

AXResult<> FakeAccessibility::setMessagingTimeout(const AXElement& element, double seconds) {
    log_.push_back("timeout " + number(seconds) + " on " + describe(element));
    return {};
}

AXResult<platform::AXRole> FakeAccessibility::role(const AXElement& element) {
    noteRead("role of " + describe(element));
    const Element* e = find(element);
    if (e == nullptr) return Error::invalidUIElement;
    return e->role;
}

AXResult<platform::Rect> FakeAccessibility::frame(const AXElement& element) {
    noteRead("frame of " + describe(element));
    const Element* e = find(element);
    if (e == nullptr) return Error::invalidUIElement;
    return e->frame;
}

AXResult<bool> FakeAccessibility::isMinimised(const AXElement& window) {
    noteRead("minimised of " + describe(window));
    const Element* e = find(window);
    if (e == nullptr) return Error::invalidUIElement;
    return e->minimised;
}

AXResult<bool> FakeAccessibility::isFullScreen(const AXElement& window) {
    noteRead("fullScreen of " + describe(window));
    const Element* e = find(window);
    if (e == nullptr) return Error::invalidUIElement;
    return e->fullScreen;
}

AXResult<> FakeAccessibility::leaveFullScreen(const AXElement& window) {
    noteChange("leaveFullScreen on " + describe(window));
    Element* e = find(window);
    if (e == nullptr) return Error::invalidUIElement;
    e->fullScreen = false;
    return {};
}

AXResult<bool> FakeAccessibility::isResizable(const AXElement& window) {
    noteRead("resizable of " + describe(window));
    const Element* e = find(window);
    if (e == nullptr) return Error::invalidUIElement;
    return e->resizable;
}

AXResult<> FakeAccessibility::setPosition(const AXElement& window, platform::Point origin) {
    noteChange("setPosition " + pairText(origin.x, origin.y) + " on " + describe(window));
    Element* e = find(window);
    if (e == nullptr) return Error::invalidUIElement;
    if (e->positionError) return *e->positionError;
    // A frame that cannot be read stays unreadable.
    if (e->frame)
        e->frame = platform::Rect{origin.x, origin.y, e->frame.value().width, e->frame.value().height};
    return {};
}

AXResult<> FakeAccessibility::setSize(const AXElement& window, platform::Size size) {
    noteChange("setSize " + pairText(size.width, size.height) + " on " + describe(window));
    Element* e = find(window);
    if (e == nullptr) return Error::invalidUIElement;
    if (!e->resizable.get().value_or(false)) return Error::cannotComplete;
    if (e->frame) e->frame = platform::Rect{e->frame.value().x, e->frame.value().y, size.width, size.height};
    return {};
}

AXResult<> FakeAccessibility::raise(const AXElement& window) {
    noteChange("raise on " + describe(window));
    Element* e = find(window);
    if (e == nullptr) return Error::invalidUIElement;
    e->minimised = false;
    return {};
}

AXResult<> FakeAccessibility::focus(const AXElement& element) {
    noteChange("focus on " + describe(element));
    if (find(element) == nullptr) return Error::invalidUIElement;
    return {};
}

}  // namespace quenlit::fake
