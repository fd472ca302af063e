#pragma once

// The text expander: a listen-only tap sees every key and mouse press on the desktop, turns each
// into an input of the policy as it arrives (on the main thread), and when the keyword has been
// typed holds the user's further keys back, erases the keyword with synthesised Delete presses and
// types the expansion in its place; the held keys follow it. Every event it posts
// carries a marker, so its own typing never feeds back into the policy.
//
// Main thread, except for the tap's callback, which may run on the tap's own thread (it decides as
// each key arrives, and hands the expansion to the main queue). The platform services outlive the
// expander; work it has scheduled does nothing once it is destroyed.

#include "automation/TextExpanderPolicy.h"
#include "base/Signal.h"
#include "base/WeakSelf.h"
#include "platform/InputEvents.h"
#include "platform/Scheduler.h"
#include "platform/WindowControl.h"
#include "platform/Workspace.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace quenlit {

class TextExpander {
  public:
    struct Services {
        platform::KeyboardEvents& keyboard;
        platform::InputSynthesizer& input;
        platform::Workspace& workspace;
        platform::WindowControl& windows;
        platform::Scheduler& scheduler;
        // The wall clock: the idle rule and the typed date and time read it.
        TextExpanderPolicy::NowProvider wallClock;
    };

    // "QUEX" as a big-endian number, in the user-data field of every event the expander posts.
    static constexpr std::int64_t kSyntheticMarker = 0x51554558;
    // The key typed text rides on; the text replaces whatever the key would give.
    static constexpr std::uint32_t kTextKeysym = 'a';
    // Left, right and other mouse down, key down, flags changed.
    static constexpr std::uint64_t kEventMask = 0x200140A;
    static constexpr std::size_t kMaxTextUnits = 16;
    // The keyword's key has reached the application when the tap sees it, and the keys typed after
    // it are held back meanwhile: the deletions and the text follow at once.
    static constexpr platform::Seconds kDeleteDelay{0};
    static constexpr platform::Seconds kTypeDelay{0};

    // Keys that end a typed sequence, by virtual key code (automation/VirtualKeys.h): Return, keypad
    // Enter, Escape, Tab, the arrows, Home, End, Page Up, Page Down and Forward Delete.
    static bool isResetKeyCode(std::uint16_t keyCode);

    explicit TextExpander(Services services);
    ~TextExpander();
    TextExpander(const TextExpander&) = delete;
    TextExpander& operator=(const TextExpander&) = delete;

    // Asks for accessibility trust (with the one prompt of the run), watches application switches
    // and installs the tap. Does nothing while a tap is installed.
    void start();
    // Removes the tap and the observer and forgets what was typed; start() may follow again.
    void stop();

    // Erases the match's keyword and types its expansion, after short delays on the main queue.
    void expand(const TextExpanderPolicy::Match& match);

    // Types `text` (UTF-8) one scalar per key press, each press carrying the scalar's UTF-16
    // units. Empty text succeeds at once; false when a source or an event cannot be made (the
    // scalars posted before stay typed).
    static bool typeUnicode(std::string_view text, platform::InputSynthesizer& input);

    const TextExpanderPolicy& policy() const { return policy_; }
    bool isExpanding() const;
    bool isTapInstalled() const { return tap_ != nullptr; }

  private:
    // What the tap callback reads from a key or flags event before handing it to the main queue.
    struct KeyEvent {
        platform::EventType type;
        std::int64_t userData;
        bool secureInput;
        platform::Modifiers modifiers;
        std::optional<std::uint16_t> keyCode;  // the virtual key, when it has one
        std::u16string text;
    };

    void installAppSwitchObserver();
    void installTapIfPossible();
    void tearDownTap();
    bool textExpanderCallback(const platform::InputEvent& event);
    void handleKey(const KeyEvent& event);
    void clearPolicy();
    void setExpanding(bool expanding);

    // Runs fn on the main queue after `delay`, unless the expander is gone by then.
    template <typename F>
    void later(platform::Seconds delay, F fn);

    Services services_;
    // The policy and isExpanding_ are shared with the tap's callback, which a desktop may call on
    // a thread of its own as each key arrives.
    mutable std::mutex keysMutex_;
    TextExpanderPolicy policy_;
    std::unique_ptr<platform::EventTap> tap_;
    Connection appObserver_;
    bool isExpanding_ = false;
    bool loggedTapFailure_ = false;
    // Scheduled work holds this weakly; it expires with the expander.
    WeakSelf<TextExpander> self_{this};
};

}  // namespace quenlit
