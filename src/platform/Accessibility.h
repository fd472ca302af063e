#pragma once

// Elements of other applications' interfaces: reading and writing their attributes and performing
// their actions. On X11 an application element stands for a process's client windows and a window
// element for one client window; see the attribute names below for what is available.
//
// Main thread only. Every call is bounded by the element's messaging time-out.

#include "platform/Geometry.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quenlit::platform {

// Result codes, with the numeric values that appear in log lines.
enum class AXError : int {
    success = 0,
    failure = -25200,
    illegalArgument = -25201,
    invalidUIElement = -25202,
    cannotComplete = -25204,
    attributeUnsupported = -25205,
    actionUnsupported = -25206,
    notImplemented = -25208,
    apiDisabled = -25211,
    noValue = -25212,
};

struct AXElement {
    enum class Kind : std::uint8_t { systemWide, application, window, control };
    Kind kind = Kind::systemWide;
    int processIdentifier = 0;
    std::uint64_t handle = 0;  // the backend's own reference (an X window id, a control id)
    bool operator==(const AXElement&) const = default;
};

using AXValue =
    std::variant<std::monostate, bool, double, std::string, Point, Size, AXElement, std::vector<AXElement>>;

namespace ax {
inline constexpr std::string_view focusedWindow = "AXFocusedWindow";
inline constexpr std::string_view mainWindow = "AXMainWindow";
inline constexpr std::string_view windows = "AXWindows";
inline constexpr std::string_view role = "AXRole";
inline constexpr std::string_view minimized = "AXMinimized";
inline constexpr std::string_view position = "AXPosition";
inline constexpr std::string_view size = "AXSize";
inline constexpr std::string_view fullScreen = "AXFullScreen";
inline constexpr std::string_view frontmost = "AXFrontmost";
inline constexpr std::string_view enhancedUserInterface = "AXEnhancedUserInterface";
inline constexpr std::string_view focusedUIElement = "AXFocusedUIElement";
inline constexpr std::string_view focused = "AXFocused";
inline constexpr std::string_view raise = "AXRaise";
inline constexpr std::string_view windowRole = "AXWindow";
}  // namespace ax

class Accessibility {
  public:
    virtual ~Accessibility() = default;

    // Whether this process may use the calls below; `prompt` asks the user once where the desktop
    // has such a prompt.
    virtual bool isProcessTrusted(bool prompt) = 0;

    virtual AXElement applicationElement(int processIdentifier) = 0;
    virtual AXElement systemWideElement() = 0;

    virtual AXError copyAttribute(const AXElement& element, std::string_view attribute, AXValue& value) = 0;
    virtual AXError setAttribute(const AXElement& element, std::string_view attribute,
                                 const AXValue& value) = 0;
    virtual AXError isAttributeSettable(const AXElement& element, std::string_view attribute,
                                        bool& settable) = 0;
    virtual AXError performAction(const AXElement& element, std::string_view action) = 0;
    virtual AXError setMessagingTimeout(const AXElement& element, double seconds) = 0;
};

}  // namespace quenlit::platform
