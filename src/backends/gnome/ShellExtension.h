#pragma once

// The client of Quenlit's own GNOME Shell extension (data/gnome-shell/), which exports
// io.github.quenlit.Shell1 at /io/github/quenlit/Shell1 on the session bus, inside GNOME Shell,
// for this program alone: the windows, the two hotkeys, the clipboard, typed keys and the panels'
// placement all go through it.
//
// Every call is bounded (kCallTimeout) and answers a value or why it failed. Frames are in the
// desktop's pixels with the origin at the primary monitor's top-left corner, y down.
//
// Showing a panel asks for the window list several times over (the window in front, its focus, the
// screen to open on, the running programs): a list is read once and served again while the event
// loop has not turned since (the focus changes arrive through it), no call that may move, activate
// or type into a window was made and it is at most kSnapshotAge old.
//
// Main thread only.

#include "base/Result.h"
#include "base/Signal.h"
#include "platform/Geometry.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QObject;

namespace quenlit::gnome {

struct ShellWindow {
    std::uint64_t id = 0;
    int pid = 0;
    std::string wmClass;  // the X class, or a Wayland window's app id
    std::string title;
    platform::Rect frame;  // origin top-left, y down
    bool focused = false;
    bool minimised = false;
    bool fullScreen = false;
    bool resizable = true;
    bool ordinary = true;
};

struct ShellMonitor {
    platform::Rect frame;     // origin top-left, y down
    platform::Rect workArea;  // the frame less the top bar and docks
};

// One key of a typed sequence: an X keysym, pressed or released.
struct ShellKey {
    std::uint32_t keysym = 0;
    bool pressed = true;
};

class ShellExtension {
  public:
    static constexpr std::chrono::milliseconds kCallTimeout{1000};
    static constexpr unsigned kVersion = 1;
    static constexpr std::chrono::milliseconds kSnapshotAge{10};

    // Reaches the extension and registers with it (it then binds the hotkeys for this program and
    // sends it its signals). Fails, saying what is missing in words a user can act on, when there
    // is no session bus, GNOME Shell does not run the extension, or it refuses this program.
    static Result<std::unique_ptr<ShellExtension>> connect();
    ~ShellExtension();
    ShellExtension(const ShellExtension&) = delete;
    ShellExtension& operator=(const ShellExtension&) = delete;

    // The hotkeys the shell bound for this program ("launcher-hotkey", "clipboard-hotkey").
    const std::vector<std::string>& boundHotKeys() const { return boundHotKeys_; }

    // Most recently used first.
    Result<std::vector<ShellWindow>> windows();
    Result<> activateWindow(std::uint64_t id);
    Result<> minimiseWindow(std::uint64_t id);
    Result<> moveResizeWindow(std::uint64_t id, const platform::Rect& frame, bool resize);
    Result<> leaveFullScreen(std::uint64_t id);
    // The primary monitor first.
    Result<std::vector<ShellMonitor>> monitors();

    Result<std::vector<std::string>> clipboardTypes();
    Result<std::string> clipboardRead(const std::string& type);
    Result<> clipboardWrite(const std::string& type, const std::string& data);
    // The primary selection, which xterm and URxvt paste.
    Result<> primaryWrite(const std::string& type, const std::string& data);

    // Types the keys in order, about 20 ms apart; returns at once. `done` (optional) gets whether
    // the shell took them, on the main thread.
    void sendKeys(const std::vector<ShellKey>& keys, std::function<void(bool)> done = {});

    // Places this program's window of that title (once mapped), keeps it above on every workspace
    // and gives it the keyboard; returns at once. `done` gets whether it was found.
    void showPanel(const std::string& title, platform::Point topLeft, std::function<void(bool)> done = {});

    // The hotkey of that name ("launcher-hotkey", "clipboard-hotkey") was pressed.
    Signal<const std::string&> hotKeyPressed;
    // The clipboard has a new owner: this program (`ours`), nobody (`empty`), or another one.
    Signal<bool, bool> clipboardChanged;
    // Another window has the keyboard focus: the process that owns it (0 for none).
    Signal<int> focusChanged;

    class Receiver;

  private:
    ShellExtension();
    // The extension was enabled again (GNOME disables extensions while the screen is locked):
    // registers with it again, so the hotkeys and the signals come back.
    void registerAgain();
    std::unique_ptr<Receiver> receiver_;
    std::vector<std::string> boundHotKeys_;
    // The last window list read, while it may be served again.
    struct Snapshot {
        std::vector<ShellWindow> windows;
        std::chrono::steady_clock::time_point asked;
        bool sameTurn = false;  // the event loop has not turned since
    };
    std::optional<Snapshot> snapshot_;
    std::unique_ptr<QObject> turns_;  // the context of the call that ends `sameTurn`
};

}  // namespace quenlit::gnome
