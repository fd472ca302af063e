#pragma once

// Reads an X selection (the CLIPBOARD) from the program that owns it, on an X connection of its
// own, and counts the changes of its owner (XFixes).
//
// Reading a selection is a conversation with another program: we ask, it writes the data into a
// property of our window, possibly in many increments (INCR) for large data. A slow or hung owner
// must not hold the event loop: every read is bounded in time, and a read past its bound is
// abandoned. Events of an abandoned read that arrive later are told apart by the property they
// name, which changes with every read.
//
// Each change of owner is also kept as an announcement (a new owner, a clear, an owner that went
// away) for takeChanges(); the connection's descriptor tells when more may have come.
//
// Not thread-safe: one thread uses a reader. The desktop program watches the owner on the main
// thread and reads the owner's content with a reader of its own on another thread.

#include "platform/Pasteboard.h"

#include <xcb/xcb.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quenlit::x11 {

class X11Connection;

class SelectionReader {
  public:
    // The most targets taken from an owner's list; the rest are ignored.
    static constexpr std::size_t kMaxTargets = 1024;

    // Opens a connection to `display` (the default display when null) and starts watching the
    // owner of `selection`. Absent when the display or the XFixes extension is not available.
    static std::unique_ptr<SelectionReader> open(const char* display, std::string_view selection);
    // Another reader of the same selection on the same display, on a connection of its own: for
    // reading on another thread.
    std::unique_ptr<SelectionReader> openReader() const;
    ~SelectionReader();
    SelectionReader(const SelectionReader&) = delete;
    SelectionReader& operator=(const SelectionReader&) = delete;

    // How many times the owner of the selection changed since the reader was opened (a program
    // copied, the owner exited), counting what has arrived so far without waiting.
    long ownerChanges();
    // The owner changes that arrived since the last call, oldest first, counting what has arrived
    // so far without waiting.
    std::vector<platform::PasteboardChange> takeChanges();
    // The owners that went away (their window destroyed, their program gone) since the last call:
    // their window ids may be given to other programs' windows from then on.
    std::vector<xcb_window_t> takeGoneOwners() { return std::exchange(goneOwners_, {}); }
    // Changes that arrived during other requests and wait for takeChanges().
    bool hasChanges() const { return !changes_.empty(); }
    // Readable when events may have come.
    int fileDescriptor() const;
    // The window owning the selection; XCB_WINDOW_NONE when nobody owns it.
    xcb_window_t owner();

    struct Outcome {
        enum class Kind {
            ok,
            noOwner,   // nobody owns the selection
            refused,   // the owner does not offer the target, or answered with nothing
            timedOut,  // the owner did not finish within the bound
            tooLarge,  // the data is larger than the limit
        };
        Kind kind = Kind::refused;
        std::string bytes;  // the data, for ok
        std::string type;   // the type the owner gave the data (an atom name), for ok
    };
    // The selection converted to `target`, within `bound`, at most `limit` bytes.
    Outcome read(std::string_view target, std::chrono::milliseconds bound, std::size_t limit);
    // The targets the owner offers (the TARGETS conversion), as atom names, each once and at most
    // kMaxTargets of them; absent on failure, and then `timedOut` tells whether the owner did not
    // answer in time.
    std::optional<std::vector<std::string>> targets(std::chrono::milliseconds bound, bool& timedOut);

    X11Connection& connection() { return *x_; }

  private:
    SelectionReader(xcb_connection_t* connection, int screen, std::string_view selection);
    bool start();
    void handleEvent(xcb_generic_event_t* event);
    // Waits for the next event of this connection until `deadline`; null when none came.
    xcb_generic_event_t* nextEvent(std::chrono::steady_clock::time_point deadline);
    std::optional<std::string> takeProperty(xcb_atom_t property, xcb_atom_t& type, std::size_t limit,
                                            bool& tooLarge);

    xcb_connection_t* raw_;
    std::unique_ptr<X11Connection> x_;
    xcb_window_t window_ = XCB_WINDOW_NONE;
    xcb_atom_t selection_ = XCB_ATOM_NONE;
    std::uint8_t xfixesEvent_ = 0;
    long ownerChanges_ = 0;
    std::vector<platform::PasteboardChange> changes_;
    xcb_window_t lastOwner_ = XCB_WINDOW_NONE;
    std::vector<xcb_window_t> goneOwners_;
    unsigned readSerial_ = 0;
    std::optional<std::string> display_;
    std::string selectionName_;
};

}  // namespace quenlit::x11
