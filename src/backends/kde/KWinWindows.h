#pragma once

// Other programs' windows as KWin lists them, read through a script (KWinScripting): each with
// its process, class, frame and state. KWin names a window by a UUID; the core's window references
// carry a number, so each UUID gets one, kept for the program's life (a closed window's number then
// reads as gone).
//
// Frames are KWin's global coordinates: logical pixels, origin at the top-left of the output layout.
//
// One script costs a few milliseconds, and showing a panel asks for the list several times over
// (the window in front, its focus, the screen to open on, the running programs): a list is read
// once and served again while the event loop has not turned since, no other script was sent (one
// that moved or activated a window would make it stale) and it is at most kSnapshotAge old.
//
// Main thread only, with a QCoreApplication.

#include "backends/kde/KWinScripting.h"
#include "base/Result.h"
#include "platform/Geometry.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QObject;

namespace quenlit::kde {

struct KWinWindow {
    std::uint64_t id = 0;
    std::string uuid;
    int processIdentifier = 0;
    std::string resourceClass;
    std::string resourceName;
    std::string desktopFile;
    std::string caption;
    platform::Rect frame;
    bool normal = true;
    bool minimized = false;
    bool fullScreen = false;
    bool resizeable = true;
    bool skipTaskbar = false;
    bool active = false;
    int stacking = 0;  // higher is nearer the top
};

// The numbers given to KWin's window UUIDs, each kept for the program's life.
class KWinWindowNumbers {
  public:
    std::uint64_t numberFor(const std::string& uuid);
    // Absent for a number never given.
    std::optional<std::string> uuidOf(std::uint64_t number) const;

  private:
    std::map<std::string, std::uint64_t> numbers_;
    std::map<std::uint64_t, std::string> uuids_;
    std::uint64_t next_ = 1;
};

// Reads the JSON a script answered with: a list of windows or one window; {gone: true} fails as
// gone, {error: …} as failed.
Result<std::vector<KWinWindow>> parseKWinWindows(const std::string& json, KWinWindowNumbers& numbers);

class KWinWindows {
  public:
    static constexpr std::chrono::milliseconds kSnapshotAge{10};

    explicit KWinWindows(KWinScripting& scripting);
    ~KWinWindows();

    // Every window KWin manages, in its order.
    Result<std::vector<KWinWindow>> list();
    // Runs `body` with `w` bound to the window (the script answers {gone:true} when it closed) and
    // returns the window as it is afterwards.
    Result<KWinWindow> withWindow(std::uint64_t id, const std::string& body);

  private:
    KWinScripting& scripting_;
    KWinWindowNumbers numbers_;
    // The last list read, while it may be served again.
    struct Snapshot {
        std::vector<KWinWindow> windows;
        std::chrono::steady_clock::time_point asked;
        unsigned long scriptsSent = 0;
        bool sameTurn = false;  // the event loop has not turned since
    };
    std::optional<Snapshot> snapshot_;
    std::unique_ptr<QObject> turns_;  // the context of the call that ends `sameTurn`
};

}  // namespace quenlit::kde
