#pragma once

// Moves and resizes the front window of another application from the launcher's twelve window
// commands. The geometry is pure arithmetic in the accessibility space (origin at the top-left of
// the primary monitor, y down); the screens report their frames in the bottom-left-origin space,
// and the two meet through the primary monitor's height H0.
//
// Main thread only; every call is synchronous and keeps no state between calls.

#include "platform/Geometry.h"
#include "platform/Screens.h"
#include "platform/WindowControl.h"
#include "platform/Workspace.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenlit::WindowSnap {

enum class Command : std::uint8_t {
    left,
    right,
    top,
    bottom,
    firstThird,
    lastTwoThirds,
    moveToTop,
    moveToBottom,
    moveToLeft,
    moveToRight,
    maximize,
    reasonableSize,
};

inline constexpr std::array<Command, 12> kAllCommands = {
    Command::left,       Command::right,         Command::top,       Command::bottom,
    Command::firstThird, Command::lastTwoThirds, Command::moveToTop, Command::moveToBottom,
    Command::moveToLeft, Command::moveToRight,   Command::maximize,  Command::reasonableSize,
};

// The case name, as written in log lines ("firstThird").
std::string_view caseName(Command command);
// The four moveTo… commands keep the window's size; every other command resizes.
bool isMoveCommand(Command command);

inline constexpr double kOneThird = 0.3333333333333333;
inline constexpr double kReasonableFraction = 0.6;
inline constexpr double kReasonableMaxWidth = 1025;
inline constexpr double kReasonableMaxHeight = 900;

// --- Geometry, all in the accessibility space; `bounds` is the target screen's visible frame. ---

platform::Rect targetFrame(const platform::Rect& bounds, Command command, const platform::Rect& current);
// The halves for left/right/top/bottom, the thirds, the reasonable size; the bounds unchanged for
// the move commands and maximize.
platform::Rect halfFrame(const platform::Rect& bounds, Command side);
// The thirds for firstThird/lastTwoThirds; the bounds unchanged for any other command.
platform::Rect thirdFrame(const platform::Rect& bounds, Command side);
// `r` moved, never resized, to lie inside `bounds`; one larger than the bounds is pinned to their
// left or top edge.
platform::Rect clamped(const platform::Rect& r, const platform::Rect& bounds);
// Snaps the edges, not the size, to whole points, so frames sharing an edge keep sharing it.
platform::Rect roundedEdges(const platform::Rect& r);

// H0: the height of the first screen whose frame starts at (0, 0), else of the main screen, else 0.
double primaryScreenHeight(const std::vector<platform::Screen>& screens,
                           const std::optional<platform::Screen>& mainScreen);
// Accessibility space to the screens' bottom-left-origin space and back; the formula is its own
// inverse.
platform::Rect accessibilityToScreenSpace(const platform::Rect& r, double h0);
platform::Rect screenSpaceToAccessibility(const platform::Rect& r, double h0);

// "(720.0, 25.0, 721.0, 875.0)": each number in the shortest form that reads back exactly, with at
// least one fractional digit.
std::string describe(const platform::Rect& r);
std::string formatNumber(double value);

// --- The window side. ---

struct Context {
    platform::WindowControl& windows;
    platform::Screens& screens;
    platform::Workspace& workspace;
};

// Places the front window of `app` (the application in front before the launcher opened) and
// brings the application back to the front. Every outcome is one log line.
void apply(Command command, const std::optional<platform::RunningApplication>& app, Context& context);

// The window with the focus if it is eligible, else the first eligible one of the application's
// windows: an ordinary, unminimised window more than 1 × 1.
std::optional<platform::WindowInfo> targetWindow(int processIdentifier, platform::WindowControl& windows);
bool isEligible(const platform::WindowInfo& window);
// The first screen whose frame holds the window's centre (left and bottom edges inclusive), else
// the main screen.
std::optional<platform::Screen> screenContainingCenterOf(const platform::Rect& windowFrame, double h0,
                                                         platform::Screens& screens);

}  // namespace quenlit::WindowSnap
