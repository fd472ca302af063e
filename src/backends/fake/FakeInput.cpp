#include "backends/fake/FakeInput.h"

#include <algorithm>
#include <cstdio>

namespace quenlit::fake {

struct FakeKeyboardEvents::Tap final : platform::EventTap {
    Tap(FakeKeyboardEvents& owner, platform::TapMode mode, std::uint64_t mask, Callback callback)
        : owner(owner), mode(mode), mask(mask), callback(std::move(callback)) {
        owner.taps_.push_back(this);
    }
    ~Tap() override { std::erase(owner.taps_, this); }
    void setEnabled(bool e) override { enabled = e; }
    bool isEnabled() const override { return enabled; }

    FakeKeyboardEvents& owner;
    platform::TapMode mode;
    std::uint64_t mask;
    Callback callback;
    bool enabled = true;
};

Result<std::unique_ptr<platform::EventTap>> FakeKeyboardEvents::createTap(platform::TapMode mode,
                                                                          std::uint64_t eventMask,
                                                                          Callback callback) {
    if (failure) return *failure;
    return std::unique_ptr<platform::EventTap>(
        std::make_unique<Tap>(*this, mode, eventMask, std::move(callback)));
}

bool FakeKeyboardEvents::deliver(const platform::InputEvent& event) {
    const bool disabledNotice = event.type == platform::EventType::tapDisabledByTimeout ||
                                event.type == platform::EventType::tapDisabledByUserInput;
    bool passes = true;
    const auto taps = taps_;  // a callback may remove its own tap
    for (Tap* tap : taps) {
        if (std::find(taps_.begin(), taps_.end(), tap) == taps_.end()) continue;
        if (!disabledNotice && (!tap->enabled || (tap->mask & platform::eventMaskBit(event.type)) == 0))
            continue;
        const bool pass = tap->callback(event);
        if (!pass && tap->mode == platform::TapMode::swallowing && !disabledNotice) {
            passes = false;
            break;
        }
    }
    return passes;
}

void FakeKeyboardEvents::disableTaps(platform::EventType reason) {
    for (Tap* tap : taps_)
        tap->enabled = false;
    platform::InputEvent notice;
    notice.type = reason;
    deliver(notice);
}

std::size_t FakeKeyboardEvents::tapCount() const {
    return taps_.size();
}

std::size_t FakeKeyboardEvents::enabledTapCount() const {
    return static_cast<std::size_t>(
        std::count_if(taps_.begin(), taps_.end(), [](Tap* t) { return t->enabled; }));
}

namespace {

class Source final : public platform::EventSource {
  public:
    explicit Source(FakeInputSynthesizer& owner) : owner_(owner) {}
    std::optional<platform::InputEvent> keyboardEvent(std::uint32_t keysym, bool keyDown) override {
        if (owner_.eventsFail) return std::nullopt;
        platform::InputEvent e;
        e.type = keyDown ? platform::EventType::keyDown : platform::EventType::keyUp;
        e.keysym = keysym;
        return e;
    }
    bool post(const platform::InputEvent& event) override {
        if (owner_.postFails || (owner_.textFails && !event.text.empty())) return false;
        owner_.posted.push_back(FakeInputSynthesizer::describe(event));
        owner_.postedEvents.push_back(event);
        return true;
    }

  private:
    FakeInputSynthesizer& owner_;
};

}  // namespace

std::unique_ptr<platform::EventSource> FakeInputSynthesizer::createEventSource() {
    if (sourceFails) return nullptr;
    ++sourceCount;
    return std::make_unique<Source>(*this);
}

namespace {

std::string keysymName(std::uint32_t keysym) {
    switch (keysym) {
        case platform::keysym::backSpace:
            return "BackSpace";
        case platform::keysym::returnKey:
            return "Return";
        case platform::keysym::escape:
            return "Escape";
        case platform::keysym::tab:
            return "Tab";
        case platform::keysym::space:
            return "space";
        default:
            break;
    }
    if (keysym > 0x20 && keysym < 0x7f) return std::string(1, static_cast<char>(keysym));
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%x", static_cast<unsigned>(keysym));
    return buffer;
}

}  // namespace

std::string FakeInputSynthesizer::describe(const platform::InputEvent& e) {
    char buffer[96];
    switch (e.type) {
        case platform::EventType::keyDown:
        case platform::EventType::keyUp: {
            std::string out = e.type == platform::EventType::keyDown ? "keyDown " : "keyUp ";
            if (e.modifiers.super) out += "Super+";
            if (e.modifiers.control) out += "Control+";
            if (e.modifiers.alt) out += "Alt+";
            if (e.modifiers.shift) out += "Shift+";
            out += keysymName(e.keysym);
            std::snprintf(buffer, sizeof buffer, " marker=%lld", static_cast<long long>(e.userData));
            out += buffer;
            if (!e.text.empty()) {
                out += " text=";
                for (char16_t u : e.text) {
                    std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(u));
                    out += buffer;
                }
            }
            return out;
        }
        default:
            std::snprintf(buffer, sizeof buffer, "mouse %u (%.1f, %.1f)", static_cast<unsigned>(e.type),
                          e.location.x, e.location.y);
            return buffer;
    }
}

}  // namespace quenlit::fake
