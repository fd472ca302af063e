#include "backends/kde/FakeInputKeys.h"

#include "backends/linux/KeyPositions.h"
#include "backends/linux/PasteKey.h"
#include "backends/wayland/WaylandConnection.h"

#include <fake-input-client-protocol.h>
#include <wayland-client.h>

#include <optional>
#include <utility>
#include <vector>

namespace quenlit::kde {
namespace {

// evdev codes (linux/input-event-codes.h).
constexpr std::uint32_t kLeftControl = 29;
constexpr std::uint32_t kLeftShift = 42;
constexpr std::uint32_t kLeftAlt = 56;
constexpr std::uint32_t kInsert = 110;

enum : std::uint32_t { released = 0, pressed = 1 };

}  // namespace

class FakeInputKeys::Source final : public platform::EventSource {
  public:
    explicit Source(FakeInputKeys& owner) : owner_(owner) {}
    ~Source() override {
        // Never leave a key or a modifier down: the focused window would go on seeing it held.
        if (!down_.empty()) {
            releaseAll();
            owner_.connection_.flush();
        }
    }

    std::optional<platform::InputEvent> keyboardEvent(std::uint32_t keysym, bool keyDown) override {
        if (keysym == 0) return std::nullopt;
        platform::InputEvent event;
        event.type = keyDown ? platform::EventType::keyDown : platform::EventType::keyUp;
        event.keysym = keysym;
        return event;
    }

    bool post(const platform::InputEvent& event) override {
        org_kde_kwin_fake_input* input = owner_.connection_.fakeInput();
        if (input == nullptr || owner_.connection_.broken()) return false;
        if (event.type != platform::EventType::keyDown && event.type != platform::EventType::keyUp)
            return false;
        if (!event.text.empty()) return false;
        // Fake input presses keys by position: the key of the keysym on a US keyboard.
        const auto position = linux_backend::keyPositionForKeysym(event.keysym);
        if (!position) return false;
        if (event.type == platform::EventType::keyUp) {
            releaseAll();
        } else {
            releaseAll();
            std::vector<std::uint32_t> keys;
            const bool paste = event.modifiers.withoutSides() == platform::Modifiers{.control = true} &&
                               (event.keysym == 'v' || event.keysym == 'V');
            const linux_backend::PasteKey pasteKey =
                paste ? frontPasteKey() : linux_backend::PasteKey::controlV;
            if (pasteKey == linux_backend::PasteKey::shiftInsert) {
                keys = {kLeftShift, kInsert};
            } else {
                if (event.modifiers.control) keys.push_back(kLeftControl);
                if (event.modifiers.shift || pasteKey == linux_backend::PasteKey::controlShiftV)
                    keys.push_back(kLeftShift);
                if (event.modifiers.alt) keys.push_back(kLeftAlt);
                keys.push_back(position->evdev);
            }
            for (std::uint32_t key : keys) {
                org_kde_kwin_fake_input_keyboard_key(input, key, pressed);
                down_.push_back(key);
            }
        }
        owner_.connection_.flush();
        return !owner_.connection_.broken();
    }

  private:
    linux_backend::PasteKey frontPasteKey() const {
        if (!owner_.focusedClass) return linux_backend::PasteKey::controlV;
        const auto [instance, klass] = owner_.focusedClass();
        if (linux_backend::pasteKeyForClass(instance, klass) == linux_backend::PasteKey::shiftInsert)
            return owner_.publishPrimary && owner_.publishPrimary() ? linux_backend::PasteKey::shiftInsert
                                                                    : linux_backend::PasteKey::controlV;
        linux_backend::PasteKey key = linux_backend::pasteKeyForAppId(klass);
        if (key == linux_backend::PasteKey::controlV) key = linux_backend::pasteKeyForAppId(instance);
        if (key == linux_backend::PasteKey::controlV && owner_.focusedIsTerminal &&
            owner_.focusedIsTerminal())
            return linux_backend::PasteKey::controlShiftV;
        return key;
    }

    void releaseAll() {
        org_kde_kwin_fake_input* input = owner_.connection_.fakeInput();
        // The key first, then the modifiers, in the reverse order of their presses.
        for (auto key = down_.rbegin(); key != down_.rend() && input != nullptr; ++key)
            org_kde_kwin_fake_input_keyboard_key(input, *key, released);
        down_.clear();
    }

    FakeInputKeys& owner_;
    std::vector<std::uint32_t> down_;
};

FakeInputKeys::FakeInputKeys(wayland::WaylandConnection& connection) : connection_(connection) {
    if (connection_.fakeInput() == nullptr) return;
    org_kde_kwin_fake_input_authenticate(connection_.fakeInput(), "Quenlit",
                                         "pastes the clipboard entry you chose into the window in front");
    connection_.flush();
}

bool FakeInputKeys::available() const {
    return connection_.fakeInput() != nullptr &&
           wl_proxy_get_version(reinterpret_cast<wl_proxy*>(connection_.fakeInput())) >= 4;
}

std::unique_ptr<platform::EventSource> FakeInputKeys::createEventSource() {
    if (!available()) return nullptr;
    return std::make_unique<Source>(*this);
}

}  // namespace quenlit::kde
