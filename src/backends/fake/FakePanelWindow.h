#pragma once

// A panel window without a screen: tests decide whether making it key succeeds (the non-activating
// path) or not (the fallback), press keys into it, and read back what was asked of it.

#include "platform/PanelWindow.h"

#include <string>
#include <vector>

namespace quenlit::fake {

class FakePanelWindow final : public platform::PanelWindow {
  public:
    bool keyWithoutActivation = true;  // makeKey succeeds while the program is not active
    bool programActive = false;
    platform::Size contentSize;
    platform::Point origin;
    std::optional<platform::EventType> eventType;
    std::vector<std::string> calls;

    // Delivers a key-down as the window system would; returns whether the panel consumed it.
    // A key is its keysym and keycode (0: as a virtual keyboard gives it) in the user's layout.
    bool pressKey(std::uint32_t keysym, platform::Modifiers modifiers = {}, std::uint32_t keycode = 0) {
        platform::InputEvent e;
        e.type = platform::EventType::keyDown;
        e.keysym = keysym;
        e.keycode = keycode;
        e.modifiers = modifiers;
        return keyDownHandler ? keyDownHandler(e) : false;
    }
    // Another window takes the keyboard.
    void loseKey() {
        key_ = false;
        didResignKey.emit();
    }

    void setContentSize(platform::Size size) override { contentSize = size; }
    void setFrameOrigin(platform::Point o) override { origin = o; }
    void orderFrontRegardless() override {
        calls.push_back("orderFront");
        visible_ = true;
    }
    void makeKey() override {
        calls.push_back("makeKey");
        if (visible_ && (keyWithoutActivation || programActive)) key_ = true;
    }
    bool isKeyWindow() override { return key_; }
    bool isVisible() override { return visible_; }
    void orderOut() override {
        calls.push_back("orderOut");
        const bool wasKey = key_;
        visible_ = false;
        key_ = false;
        if (wasKey) didResignKey.emit();
    }
    void activateApplication() override {
        calls.push_back("activateApplication");
        programActive = true;
    }
    std::optional<platform::EventType> currentEventType() override { return eventType; }

  private:
    bool visible_ = false;
    bool key_ = false;
};

class FakePanelWindowFactory final : public platform::PanelWindowFactory {
  public:
    std::vector<FakePanelWindow*> created;
    std::unique_ptr<platform::PanelWindow> createPanel(platform::Size contentSize) override {
        auto window = std::make_unique<FakePanelWindow>();
        window->contentSize = contentSize;
        created.push_back(window.get());
        return window;
    }
};

}  // namespace quenlit::fake
