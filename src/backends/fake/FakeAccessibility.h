#pragma once

// In-memory applications, windows and controls: tests set what each call answers (a value or an
// error) per application and per element, and read back every change and time-out in words
// ("setPosition (10.0, 20.0) on window 7", "bringToFront on app 10").

#include "platform/Accessibility.h"

#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace quenlit::fake {

class FakeAccessibility final : public platform::Accessibility {
  public:
    using Error = platform::AccessibilityError;

    // What an application answers; nothing until a test says so.
    struct Application {
        platform::AXResult<platform::AXElement> focusedWindow = Error::noValue;
        platform::AXResult<platform::AXElement> mainWindow = Error::noValue;
        platform::AXResult<std::vector<platform::AXElement>> windows = Error::noValue;
        platform::AXResult<platform::AXElement> focusedElement = Error::noValue;
        platform::AXResult<bool> enhancedUserInterface = Error::noValue;
    };
    // What a window or control answers; an element no test made is invalid.
    struct Element {
        platform::AXResult<platform::AXRole> role = platform::AXRole::other;
        platform::AXResult<platform::Rect> frame = Error::noValue;
        platform::AXResult<bool> minimised = false;
        platform::AXResult<bool> fullScreen = false;
        platform::AXResult<bool> resizable = false;
        // setPosition fails with this error, leaving the frame as it was.
        std::optional<Error> positionError;
    };

    bool trusted = true;
    int promptCount = 0;
    // The user grants trust at the prompt.
    bool grantOnPrompt = false;
    // The focused control of whichever application has the focus.
    platform::AXResult<platform::AXElement> systemFocused = Error::noValue;
    // Runs after every change is recorded, before it takes effect, with its words: lets a test
    // make an application react to a change (a window whose frame cannot be read while it leaves
    // full screen, say).
    std::function<void(const std::string& change)> onChange;

    static platform::AXElement windowElement(int pid, std::uint64_t window) {
        return {platform::AXElement::Kind::window, pid, window};
    }
    static platform::AXElement controlElement(int pid, std::uint64_t control) {
        return {platform::AXElement::Kind::control, pid, control};
    }
    Application& application(int pid) { return applications_[pid]; }
    Element& element(const platform::AXElement& element) { return elements_[keyOf(element)]; }
    // An ordinary, resizable window with a frame, listed in the application's windows after the
    // ones added before it.
    platform::AXElement addWindow(int pid, std::uint64_t window, platform::Rect frame);
    // A control with a frame, made the application's focused element.
    platform::AXElement addFocusedControl(int pid, std::uint64_t control, platform::Rect frame);

    std::vector<std::string> log() const { return log_; }
    void clearLog() { log_.clear(); }
    // Every read while recordReads is set, in words ("read role of window 7").
    bool recordReads = false;
    std::vector<std::string> reads() const { return reads_; }
    static std::string describe(const platform::AXElement& element);

    bool isProcessTrusted(bool prompt) override;

    platform::AXResult<> setMessagingTimeout(int processIdentifier, double seconds) override;
    platform::AXResult<platform::AXElement> focusedWindow(int processIdentifier) override;
    platform::AXResult<platform::AXElement> mainWindow(int processIdentifier) override;
    platform::AXResult<std::vector<platform::AXElement>> windows(int processIdentifier) override;
    platform::AXResult<platform::AXElement> focusedElement(int processIdentifier) override;
    platform::AXResult<platform::AXElement> systemFocusedElement() override;
    platform::AXResult<> bringToFront(int processIdentifier) override;
    platform::AXResult<> setFocusedWindow(int processIdentifier, const platform::AXElement& window) override;
    platform::AXResult<> setMainWindow(int processIdentifier, const platform::AXElement& window) override;
    platform::AXResult<> setFocusedElement(int processIdentifier,
                                           const platform::AXElement& element) override;
    platform::AXResult<bool> isEnhancedUserInterface(int processIdentifier) override;
    platform::AXResult<> setEnhancedUserInterface(int processIdentifier, bool on) override;

    platform::AXResult<> setMessagingTimeout(const platform::AXElement& element, double seconds) override;
    platform::AXResult<platform::AXRole> role(const platform::AXElement& element) override;
    platform::AXResult<platform::Rect> frame(const platform::AXElement& element) override;
    platform::AXResult<bool> isMinimised(const platform::AXElement& window) override;
    platform::AXResult<bool> isFullScreen(const platform::AXElement& window) override;
    platform::AXResult<> leaveFullScreen(const platform::AXElement& window) override;
    platform::AXResult<bool> isResizable(const platform::AXElement& window) override;
    platform::AXResult<> setPosition(const platform::AXElement& window, platform::Point origin) override;
    platform::AXResult<> setSize(const platform::AXElement& window, platform::Size size) override;
    platform::AXResult<> raise(const platform::AXElement& window) override;
    platform::AXResult<> focus(const platform::AXElement& element) override;

  private:
    using Key = std::tuple<int, int, std::uint64_t>;
    static Key keyOf(const platform::AXElement& e) {
        return {static_cast<int>(e.kind), e.processIdentifier, e.handle};
    }
    void noteRead(const std::string& what);
    void noteChange(const std::string& change);
    // The element a test made, or none: calls on any other element fail as invalid.
    Element* find(const platform::AXElement& element);

    std::map<int, Application> applications_;
    std::map<Key, Element> elements_;
    std::vector<std::string> log_;
    std::vector<std::string> reads_;
};

}  // namespace quenlit::fake
