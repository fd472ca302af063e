#pragma once

// In-memory accessibility elements: tests set attributes, settable flags and failures per
// element, and read back every write and action in words ("set AXPosition (10.0, 20.0) on window 7").

#include "platform/Accessibility.h"

#include <functional>
#include <map>
#include <set>
#include <tuple>

namespace quenlit::fake {

class FakeAccessibility final : public platform::Accessibility {
  public:
    struct Node {
        std::map<std::string, platform::AXValue, std::less<>> attributes;
        std::set<std::string, std::less<>> settable;
        std::map<std::string, platform::AXError, std::less<>> readErrors;
        std::map<std::string, platform::AXError, std::less<>> writeErrors;
        std::map<std::string, platform::AXError, std::less<>> actionErrors;
    };

    bool trusted = true;
    int promptCount = 0;
    // The user grants trust at the prompt.
    bool grantOnPrompt = false;
    // Runs after every attribute write is recorded, before it takes effect: lets a test make an
    // application react to a write (a window that leaves full screen, say).
    std::function<void(const platform::AXElement&, std::string_view attribute)> onWrite;

    static platform::AXElement windowElement(int pid, std::uint64_t window) {
        return {platform::AXElement::Kind::window, pid, window};
    }
    static platform::AXElement controlElement(int pid, std::uint64_t control) {
        return {platform::AXElement::Kind::control, pid, control};
    }
    Node& node(const platform::AXElement& element);
    // A window with a role, a frame and settable position and size, listed in the application's
    // AXWindows after the ones added before it.
    platform::AXElement addWindow(int pid, std::uint64_t window, platform::Rect frame);
    // A control with a frame, made the application's focused element.
    platform::AXElement addFocusedControl(int pid, std::uint64_t control, platform::Rect frame);

    std::vector<std::string> log() const { return log_; }
    void clearLog() { log_.clear(); }
    // Every attribute read while recordReads is set, in words ("read AXRole of window 7").
    bool recordReads = false;
    std::vector<std::string> reads() const { return reads_; }
    static std::string describe(const platform::AXElement& element);
    static std::string describe(const platform::AXValue& value);

    bool isProcessTrusted(bool prompt) override;
    platform::AXElement applicationElement(int processIdentifier) override;
    platform::AXElement systemWideElement() override { return {}; }
    platform::AXError copyAttribute(const platform::AXElement& element, std::string_view attribute,
                                    platform::AXValue& value) override;
    platform::AXError setAttribute(const platform::AXElement& element, std::string_view attribute,
                                   const platform::AXValue& value) override;
    platform::AXError isAttributeSettable(const platform::AXElement& element, std::string_view attribute,
                                          bool& settable) override;
    platform::AXError performAction(const platform::AXElement& element, std::string_view action) override;
    platform::AXError setMessagingTimeout(const platform::AXElement& element, double seconds) override;

  private:
    using Key = std::tuple<int, int, std::uint64_t>;
    static Key keyOf(const platform::AXElement& e) {
        return {static_cast<int>(e.kind), e.processIdentifier, e.handle};
    }
    std::map<Key, Node> nodes_;
    std::vector<std::string> log_;
    std::vector<std::string> reads_;
};

}  // namespace quenlit::fake
