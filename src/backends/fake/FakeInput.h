#pragma once

// Keyboard taps that tests feed with events, and synthesised input that tests read back.

#include "platform/InputEvents.h"

#include <string>
#include <vector>

namespace quenlit::fake {

class FakeKeyboardEvents final : public platform::KeyboardEvents {
  public:
    // Failure to report for the next tap requests; nothing means taps are created.
    std::optional<Failure> failure;
    bool secureInput = false;
    // What the last setSwallowableKeys() named.
    std::vector<std::uint32_t> swallowableKeys;  // keysyms

    // Offers an event to every enabled tap whose mask includes it (tap-disabled notifications go to
    // all taps); returns whether the event reaches applications (false when a tap swallowed it).
    bool deliver(const platform::InputEvent& event);
    // Disables every tap, as the system does when a tap is too slow, and notifies them.
    void disableTaps(platform::EventType reason = platform::EventType::tapDisabledByTimeout);
    std::size_t tapCount() const;
    std::size_t enabledTapCount() const;

    Result<std::unique_ptr<platform::EventTap>> createTap(platform::TapMode mode, std::uint64_t eventMask,
                                                          Callback callback) override;
    bool isSecureEventInputEnabled() override { return secureInput; }
    void setSwallowableKeys(const std::vector<std::uint32_t>& keysyms) override { swallowableKeys = keysyms; }

    struct Tap;

  private:
    std::vector<Tap*> taps_;
};

class FakeInputSynthesizer final : public platform::InputSynthesizer {
  public:
    bool sourceFails = false;
    bool eventsFail = false;
    bool postFails = false;  // the desktop refuses every posted event
    bool textFails = false;  // the desktop refuses events that carry text
    // Every posted event in words, in order: "keyDown Control+v marker=0", "keyUp BackSpace
    // marker=0", "mouse 1 (10.0, 20.0)".
    std::vector<std::string> posted;
    std::vector<platform::InputEvent> postedEvents;
    int sourceCount = 0;  // event sources made
    // For each holdUserInput(), how many events had been posted then.
    std::vector<std::size_t> holds;

    void holdUserInput() override { holds.push_back(posted.size()); }

    std::unique_ptr<platform::EventSource> createEventSource() override;
    static std::string describe(const platform::InputEvent& event);
};

}  // namespace quenlit::fake
