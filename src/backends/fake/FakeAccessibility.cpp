#include "backends/fake/FakeAccessibility.h"

#include <cstdio>

namespace quenlit::fake {
namespace {

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

}  // namespace

std::string FakeAccessibility::describe(const platform::AXElement& e) {
    switch (e.kind) {
        case platform::AXElement::Kind::systemWide:
            return "system";
        case platform::AXElement::Kind::application:
            return "app " + std::to_string(e.processIdentifier);
        case platform::AXElement::Kind::window:
            return "window " + std::to_string(e.handle);
        case platform::AXElement::Kind::control:
            return "control " + std::to_string(e.handle);
    }
    return "?";
}

std::string FakeAccessibility::describe(const platform::AXValue& value) {
    struct Visitor {
        std::string operator()(std::monostate) const { return "none"; }
        std::string operator()(bool b) const { return b ? "true" : "false"; }
        std::string operator()(double d) const { return number(d); }
        std::string operator()(const std::string& s) const { return "\"" + s + "\""; }
        std::string operator()(const platform::Point& p) const { return pairText(p.x, p.y); }
        std::string operator()(const platform::Size& s) const { return pairText(s.width, s.height); }
        std::string operator()(const platform::AXElement& e) const { return describe(e); }
        std::string operator()(const std::vector<platform::AXElement>& list) const {
            return std::to_string(list.size()) + " elements";
        }
    };
    return std::visit(Visitor{}, value);
}

FakeAccessibility::Node& FakeAccessibility::node(const platform::AXElement& element) {
    return nodes_[keyOf(element)];
}

platform::AXElement FakeAccessibility::addWindow(int pid, std::uint64_t window, platform::Rect frame) {
    platform::AXElement element = windowElement(pid, window);
    Node& n = node(element);
    n.attributes[std::string(platform::ax::role)] = std::string(platform::ax::windowRole);
    n.attributes[std::string(platform::ax::position)] = frame.origin();
    n.attributes[std::string(platform::ax::size)] = frame.size();
    n.attributes[std::string(platform::ax::minimized)] = false;
    n.settable.insert(std::string(platform::ax::position));
    n.settable.insert(std::string(platform::ax::size));
    Node& app = node(applicationElement(pid));
    auto& list = app.attributes[std::string(platform::ax::windows)];
    if (!std::holds_alternative<std::vector<platform::AXElement>>(list))
        list = std::vector<platform::AXElement>{};
    std::get<std::vector<platform::AXElement>>(list).push_back(element);
    return element;
}

platform::AXElement FakeAccessibility::addFocusedControl(int pid, std::uint64_t control,
                                                         platform::Rect frame) {
    platform::AXElement element = controlElement(pid, control);
    Node& n = node(element);
    n.attributes[std::string(platform::ax::position)] = frame.origin();
    n.attributes[std::string(platform::ax::size)] = frame.size();
    node(applicationElement(pid)).attributes[std::string(platform::ax::focusedUIElement)] = element;
    return element;
}

bool FakeAccessibility::isProcessTrusted(bool prompt) {
    if (prompt && !trusted) {
        ++promptCount;
        if (grantOnPrompt) trusted = true;
    }
    return trusted;
}

platform::AXElement FakeAccessibility::applicationElement(int processIdentifier) {
    return {platform::AXElement::Kind::application, processIdentifier, 0};
}

platform::AXError FakeAccessibility::copyAttribute(const platform::AXElement& element,
                                                   std::string_view attribute, platform::AXValue& value) {
    if (recordReads) reads_.push_back("read " + std::string(attribute) + " of " + describe(element));
    auto it = nodes_.find(keyOf(element));
    if (it == nodes_.end()) return platform::AXError::invalidUIElement;
    if (auto e = it->second.readErrors.find(attribute); e != it->second.readErrors.end()) return e->second;
    auto a = it->second.attributes.find(attribute);
    if (a == it->second.attributes.end()) return platform::AXError::noValue;
    value = a->second;
    return platform::AXError::success;
}

platform::AXError FakeAccessibility::setAttribute(const platform::AXElement& element,
                                                  std::string_view attribute,
                                                  const platform::AXValue& value) {
    log_.push_back("set " + std::string(attribute) + " " + describe(value) + " on " + describe(element));
    if (onWrite) onWrite(element, attribute);
    Node& n = node(element);
    if (auto e = n.writeErrors.find(attribute); e != n.writeErrors.end()) return e->second;
    n.attributes[std::string(attribute)] = value;
    return platform::AXError::success;
}

platform::AXError FakeAccessibility::isAttributeSettable(const platform::AXElement& element,
                                                         std::string_view attribute, bool& settable) {
    auto it = nodes_.find(keyOf(element));
    if (it == nodes_.end()) return platform::AXError::invalidUIElement;
    settable = it->second.settable.count(attribute) > 0;
    return platform::AXError::success;
}

platform::AXError FakeAccessibility::performAction(const platform::AXElement& element,
                                                   std::string_view action) {
    Node& n = node(element);
    log_.push_back(std::string(action) + " on " + describe(element));
    if (auto e = n.actionErrors.find(action); e != n.actionErrors.end()) return e->second;
    if (action == platform::ax::raise) n.attributes[std::string(platform::ax::minimized)] = false;
    return platform::AXError::success;
}

platform::AXError FakeAccessibility::setMessagingTimeout(const platform::AXElement& element, double seconds) {
    log_.push_back("timeout " + number(seconds) + " on " + describe(element));
    return platform::AXError::success;
}

}  // namespace quenlit::fake
