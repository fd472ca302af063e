#pragma once

// Our own connection to the Wayland compositor, beside the one Qt keeps for its windows: the
// wlroots protocols (data control, virtual keyboard, foreign toplevels) are not Qt's, and their
// events are dispatched from the Qt event loop through a socket notifier on the display's
// descriptor.
//
// A broken connection (the compositor went away, a protocol error) is logged once; from then on
// requests do nothing and the objects of this connection stay inert. Nothing crashes.
//
// Main thread only; after the QCoreApplication exists (the probe excepted).

#include "base/Signal.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct zwlr_data_control_manager_v1;
struct zwp_virtual_keyboard_manager_v1;
struct zwlr_foreign_toplevel_manager_v1;
struct org_kde_kwin_fake_input;
class QSocketNotifier;

namespace quenlit::wayland {

// The globals of the wlroots protocols a compositor offers, with their versions (0 when absent).
struct WaylandGlobals {
    std::uint32_t seat = 0;
    std::uint32_t dataControl = 0;
    std::uint32_t extDataControl = 0;  // the standard successor (ext-data-control-v1)
    std::uint32_t virtualKeyboard = 0;
    std::uint32_t foreignToplevel = 0;
    std::uint32_t fakeInput = 0;  // KWin's, offered to the programs its desktop entries allow
    bool operator==(const WaylandGlobals&) const = default;
};

class WaylandConnection {
  public:
    // The newest versions this program speaks.
    static constexpr std::uint32_t kDataControlVersion = 2;  // with the primary selection
    static constexpr std::uint32_t kExtDataControlVersion = 1;
    static constexpr std::uint32_t kVirtualKeyboardVersion = 1;
    static constexpr std::uint32_t kForeignToplevelVersion = 3;
    static constexpr std::uint32_t kSeatVersion = 7;
    static constexpr std::uint32_t kFakeInputVersion = 4;  // with keyboard keys

    // How long the probe waits for a compositor's answer.
    static constexpr std::chrono::milliseconds kProbeWait{1000};

    // Which globals the display (WAYLAND_DISPLAY when empty; none when that is unset too, rather
    // than libwayland's guess "wayland-0") offers: connects, makes one round trip and disconnects.
    // Absent when no compositor answers within `wait` (a hung compositor holds nobody up); then
    // `problem`, when given, says what happened. Usable before Qt starts.
    static std::optional<WaylandGlobals> probe(const std::string& display = {},
                                               std::chrono::milliseconds wait = kProbeWait,
                                               std::string* problem = nullptr);

    // Connects to the display (WAYLAND_DISPLAY when empty) and learns its globals; absent when no
    // compositor answers.
    static std::unique_ptr<WaylandConnection> connect(const std::string& display = {});
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    const WaylandGlobals& offered() const { return offered_; }
    wl_display* display() const { return display_; }
    // The first seat; null when the compositor has none.
    wl_seat* seat() const { return seat_; }
    // The data-control manager: ext-data-control-v1's when the compositor offers it (KWin 6.5 offers
    // only that one), else wlr-data-control's. The two protocols carry the same requests and events
    // in the same order with the same arguments, so their messages are the same bytes: an ext
    // manager is bound with its own interface and then driven through wlr's generated calls, and the
    // objects it makes follow. Only the names in protocol logs (WAYLAND_DEBUG) say wlr.
    zwlr_data_control_manager_v1* dataControlManager() const { return dataControl_; }
    // Whether the manager is ext-data-control-v1's.
    bool dataControlIsExt() const { return dataControlIsExt_; }
    zwp_virtual_keyboard_manager_v1* virtualKeyboardManager() const { return virtualKeyboard_; }
    // KWin's fake input; null when not offered to this program.
    org_kde_kwin_fake_input* fakeInput() const { return fakeInput_; }
    // Bound on the first call: the compositor lists every window as soon as the manager is bound,
    // so the caller sets its listener right away, before anything is dispatched. Null when the
    // compositor does not offer it, or when it was taken before.
    zwlr_foreign_toplevel_manager_v1* takeForeignToplevelManager();
    // The version of wlr-data-control the bound manager speaks (0 when absent): 2 for ext, which has
    // the primary selection from its first version.
    std::uint32_t dataControlVersion() const;

    // Sends what requests are buffered; call after making requests. Waits for the socket when
    // the compositor is slow to read, from the event loop rather than blocking.
    void flush();
    // Sends what requests are buffered now, waiting up to `bound` for the socket; for a request whose
    // answer is waited for right after. False when not everything went.
    bool flushWithin(std::chrono::milliseconds bound);
    // Sends the requests and waits until the compositor has handled them and every event they
    // caused is dispatched. False when the connection is broken.
    bool roundtrip();
    // Reads and dispatches the events that have arrived, without waiting.
    void dispatchAvailable();
    bool broken() const { return broken_; }

    // Once, when the connection breaks.
    Signal<> disconnected;

  private:
    explicit WaylandConnection(wl_display* display);
    static void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                         std::uint32_t version);
    static void onGlobalRemove(void* data, wl_registry* registry, std::uint32_t name);
    void watch();
    void readAndDispatch(bool readable);
    // Logs a broken connection once and stops watching it.
    bool checkBroken();

    wl_display* display_;
    wl_registry* registry_ = nullptr;
    WaylandGlobals offered_;
    std::uint32_t toplevelName_ = 0;
    bool toplevelTaken_ = false;
    wl_seat* seat_ = nullptr;
    zwlr_data_control_manager_v1* dataControl_ = nullptr;
    bool dataControlIsExt_ = false;
    zwp_virtual_keyboard_manager_v1* virtualKeyboard_ = nullptr;
    org_kde_kwin_fake_input* fakeInput_ = nullptr;
    std::unique_ptr<QSocketNotifier> readable_;
    std::unique_ptr<QSocketNotifier> writable_;
    bool broken_ = false;
};

}  // namespace quenlit::wayland
