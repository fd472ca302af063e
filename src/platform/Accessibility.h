#pragma once

// The windows and focused controls of other applications: what the core reads and changes to
// snap a window, to put the focus back after a panel closes, and to bring minimised windows back.
// An application is addressed by its process identifier; its windows and controls by the handles
// the calls below hand out. On X11 an application's windows are its process's client windows.
//
// Main thread only. Every call is bounded by the messaging time-out of what it addresses, and
// answers a value or the reason it failed; a failure never blocks or throws.

#include "platform/Geometry.h"

#include <cstdint>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

namespace quenlit::platform {

// Why a call failed; the numbers are the accessibility API's own result codes, which diagnostics
// print.
enum class AccessibilityError : int {
    failure = -25200,
    illegalArgument = -25201,
    invalidUIElement = -25202,  // the window or application is gone, or the handle is not one
    cannotComplete = -25204,    // the application did not answer, or refused
    attributeUnsupported = -25205,
    actionUnsupported = -25206,
    notImplemented = -25208,
    apiDisabled = -25211,  // this process is not trusted
    noValue = -25212,      // asked for something there is none of (no focused control)
};

// A value, or the error that kept the call from giving one. [[nodiscard]], so a failure is never
// dropped without saying so.
template <class T = void>
class [[nodiscard]] AXResult {
  public:
    AXResult(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    AXResult(AccessibilityError error) : state_(std::in_place_index<1>, error) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }
    // Only for a successful call.
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    // Only for a failed call.
    AccessibilityError error() const { return std::get<1>(state_); }
    // The value, or absent for a failed call.
    std::optional<T> get() const& { return ok() ? std::optional<T>(value()) : std::nullopt; }
    std::optional<T> get() && { return ok() ? std::optional<T>(std::move(*this).value()) : std::nullopt; }

  private:
    std::variant<T, AccessibilityError> state_;
};

template <>
class [[nodiscard]] AXResult<void> {
  public:
    AXResult() = default;
    AXResult(AccessibilityError error) : error_(error) {}

    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }
    // Only for a failed call.
    AccessibilityError error() const { return *error_; }

  private:
    std::optional<AccessibilityError> error_;
};

// A window or a control of another application, as a backend's own reference to it (an X window
// id, a control id). It stays valid as a value after the window closes; calls on it then fail
// with invalidUIElement.
struct AXElement {
    enum class Kind : std::uint8_t { window, control };
    Kind kind = Kind::window;
    int processIdentifier = 0;
    std::uint64_t handle = 0;
    bool operator==(const AXElement&) const = default;
};

// What an element is, as far as the core tells elements apart: an ordinary window (a document or
// dialog window) can be snapped; a sheet, a drawer, a pop-up or a control cannot.
enum class AXRole : std::uint8_t { window, other };

class Accessibility {
  public:
    virtual ~Accessibility() = default;

    // Whether this process may use the calls below; `prompt` asks the user once where the desktop
    // has such a prompt.
    virtual bool isProcessTrusted(bool prompt) = 0;

    // --- An application, by process identifier. ---
    virtual AXResult<> setMessagingTimeout(int processIdentifier, double seconds) = 0;
    // The window with the keyboard focus, and the main (document) window; often the same one.
    virtual AXResult<AXElement> focusedWindow(int processIdentifier) = 0;
    virtual AXResult<AXElement> mainWindow(int processIdentifier) = 0;
    // Its windows in the order the application reports them (topmost first on X11).
    virtual AXResult<std::vector<AXElement>> windows(int processIdentifier) = 0;
    // The control with the keyboard focus in the application, and in whichever application has
    // the focus.
    virtual AXResult<AXElement> focusedElement(int processIdentifier) = 0;
    virtual AXResult<AXElement> systemFocusedElement() = 0;
    // Makes the application the front one.
    virtual AXResult<> bringToFront(int processIdentifier) = 0;
    virtual AXResult<> setFocusedWindow(int processIdentifier, const AXElement& window) = 0;
    virtual AXResult<> setMainWindow(int processIdentifier, const AXElement& window) = 0;
    virtual AXResult<> setFocusedElement(int processIdentifier, const AXElement& element) = 0;
    // The richer interface some applications switch on for assistive software; while it is on,
    // they animate frame changes.
    virtual AXResult<bool> isEnhancedUserInterface(int processIdentifier) = 0;
    virtual AXResult<> setEnhancedUserInterface(int processIdentifier, bool on) = 0;

    // --- A window or a control. ---
    virtual AXResult<> setMessagingTimeout(const AXElement& element, double seconds) = 0;
    virtual AXResult<AXRole> role(const AXElement& element) = 0;
    // The outer frame in the accessibility space (origin at the top-left of the primary screen,
    // y down).
    virtual AXResult<Rect> frame(const AXElement& element) = 0;
    virtual AXResult<bool> isMinimised(const AXElement& window) = 0;
    virtual AXResult<bool> isFullScreen(const AXElement& window) = 0;
    virtual AXResult<> leaveFullScreen(const AXElement& window) = 0;
    // Whether the window's size can be changed (false for a fixed-size window).
    virtual AXResult<bool> isResizable(const AXElement& window) = 0;
    // Writes return once the window reports its new frame (bounded), so a read right after sees it.
    virtual AXResult<> setPosition(const AXElement& window, Point origin) = 0;
    virtual AXResult<> setSize(const AXElement& window, Size size) = 0;
    // Brings the window above the application's others; a minimised window comes back.
    virtual AXResult<> raise(const AXElement& window) = 0;
    // Gives the control the keyboard focus within its window.
    virtual AXResult<> focus(const AXElement& element) = 0;
};

}  // namespace quenlit::platform
