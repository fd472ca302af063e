#pragma once

// sway's IPC: a UNIX socket (SWAYSOCK) that speaks i3's framing ("i3-ipc", a 32-bit length and a
// 32-bit type in native order, then a JSON body). Requests are answered on the same socket in
// order, so a request is a blocking write and read, bounded to one second; events arrive on a second
// socket of their own, read on the main thread from the event loop.
//
// Main thread only.

#include "base/Result.h"
#include "base/Signal.h"
#include "platform/Geometry.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QObject;
class QSocketNotifier;

namespace quenlit::sway {

// A window of the tree (a "con" or "floating_con" with a program in it).
struct SwayWindow {
    long id = 0;        // the container id, for [con_id=N] criteria
    int pid = 0;        // 0 when sway does not know it
    std::string appId;  // Wayland app id; for XWayland windows the X class
    std::string name;   // the title
    bool focused = false;
    bool floating = false;
    bool visible = false;
    bool xwayland = false;
    bool fullscreen = false;  // on its workspace or across all outputs
    // How recently it had the focus among all windows: 0 the focused (or last focused) one.
    int focusRank = 0;
    platform::Rect rect;  // the outer rectangle, borders and title bar included, in layout
                          // coordinates (origin top-left of the layout, y down)
    std::string workspace;
    // The size the program last drew at (sway's "geometry"): it follows a new frame only once the
    // program answered it.
    double drawnWidth = 0;
    double drawnHeight = 0;
    bool operator==(const SwayWindow&) const = default;
};

struct SwayOutput {
    std::string name;
    bool active = false;
    bool focused = false;
    platform::Rect rect;    // in layout coordinates
    platform::Rect usable;  // the current workspace's rectangle: the output less bars
    bool operator==(const SwayOutput&) const = default;
};

// The parts of the IPC's answers the backend reads, parsed from their JSON; exposed for tests.
namespace swayjson {
std::optional<std::vector<SwayWindow>> windows(std::string_view getTreeReply);
std::optional<std::vector<SwayOutput>> outputs(std::string_view getOutputsReply,
                                               std::string_view getWorkspacesReply);
// The first failed command's error of a RUN_COMMAND reply, or nothing when all succeeded.
Result<> commandOutcome(std::string_view runCommandReply);
}  // namespace swayjson

class SwayIpc {
  public:
    enum class MessageType : std::uint32_t {
        runCommand = 0,
        getWorkspaces = 1,
        subscribe = 2,
        getOutputs = 3,
        getTree = 4,
        getVersion = 7,
        getBindingModes = 8,
        getConfig = 9,
    };

    // Connects to the socket at `path` (SWAYSOCK when empty); a failure says why.
    static Result<std::unique_ptr<SwayIpc>> connect(std::string path = {});
    ~SwayIpc();
    SwayIpc(const SwayIpc&) = delete;
    SwayIpc& operator=(const SwayIpc&) = delete;

    // One request and its reply body; fails when the socket breaks or sway does not answer within
    // a second.
    Result<std::string> request(MessageType type, std::string_view payload = {});
    // False once a request broke the connection.
    bool connected() const { return fd_ >= 0; }

    // Runs sway commands ("[con_id=4] focus; floating enable"); fails with sway's own error text.
    Result<> command(std::string_view commands);
    // Sends commands without waiting for sway's answer: sway runs them before anything asked later.
    // The answer is read before the next request's; a refusal is logged then, after `onRefusal`.
    void commandLater(std::string_view commands, std::string onRefusal);
    // The tree and the outputs are read once for everything that asks while the event loop does
    // not turn (a panel being shown asks for the front window, the running applications and the
    // screens): a command, a window event, the next turn of the loop or 50 ms make the next ask
    // read them again.
    std::optional<std::vector<SwayWindow>> windows();
    std::optional<SwayWindow> focusedWindow();
    std::optional<std::vector<SwayOutput>> outputs();
    // What the tree and the outputs said may have changed (news from another channel, such as the
    // Wayland toplevels): the next ask reads them again.
    void forgetReadings();
    // The text of the configuration file sway loaded (its includes are not expanded).
    std::optional<std::string> config();

    // Window events ("focus", "new", "close", "title", "move", "floating"), once subscribed; the
    // first call subscribes on a second connection read from the event loop.
    void watchWindows();
    Signal<const std::string& /*change*/, const SwayWindow&> windowChanged;
    // sway read its configuration again, which forgets the bindings and rules made at run time;
    // reported on the same subscription as the window events.
    Signal<> configReloaded;
    // A key binding ran, with its command as bound ("nop quenlit hotkey 1"); reported on the same
    // subscription as the window events.
    Signal<const std::string& /*command*/> bindingRan;
    // Whether sway's events reach this object: watchWindows() subscribed and sway has not closed
    // the subscription.
    bool watching() const { return eventFd_ >= 0; }

    // A string that sway's criteria match literally ("a.b" -> "a\\.b", quoted).
    static std::string quoteForCriteria(std::string_view text);

  private:
    explicit SwayIpc(int fd, std::string path);
    void readEvents();
    void keepUntilTheLoopTurns();
    Result<std::string> readReply(MessageType type, std::chrono::steady_clock::time_point deadline);
    void readLateReplies(std::chrono::steady_clock::time_point deadline);

    int fd_ = -1;
    int eventFd_ = -1;
    std::string path_;
    std::unique_ptr<QSocketNotifier> eventNotifier_;
    std::string eventBuffer_;
    std::vector<std::string> lateReplies_;  // what to log, in order, for each command sent later
    std::optional<std::vector<SwayWindow>> tree_;
    std::optional<std::vector<SwayOutput>> outputs_;
    std::chrono::steady_clock::time_point readAt_;
    // Owns the posted expiry, so none runs after this object is gone.
    std::unique_ptr<QObject> expiry_;
};

}  // namespace quenlit::sway
