#include "automation/HotKeyManager.h"

#include "base/Log.h"
#include "base/Signal.h"
#include "platform/InputEvents.h"

#include <utility>
#include <variant>

namespace quenlit {
namespace {

// Process-wide, as hotkey delivery is: the handler is installed once and never removed, and
// presses go to the most recently created manager.
HotKeyManager* activeManagerPointer = nullptr;
bool didInstallHandler = false;
Connection handlerConnection;

}  // namespace

HotKeyManager::HotKeyManager(platform::HotKeys& hotKeys, platform::Scheduler& scheduler,
                             std::function<void()> onLauncherToggle, std::function<void()> onClipboardToggle)
    : hotKeys_(hotKeys),
      scheduler_(scheduler),
      onLauncherToggle_(std::move(onLauncherToggle)),
      onClipboardToggle_(std::move(onClipboardToggle)) {
    activeManagerPointer = this;
    if (!didInstallHandler) {
        handlerConnection = hotKeys_.pressed.connect(&HotKeyManager::hotKeyEventHandler);
        didInstallHandler = true;
    }
    launcherHotKeyRef_ = registerHotKey(kLauncherHotKeyId, platform::keysym::space);
    clipboardHotKeyRef_ = registerHotKey(kClipboardHotKeyId, platform::keysym::escape);
}

HotKeyManager::~HotKeyManager() {
    if (launcherHotKeyRef_) hotKeys_.unregisterHotKey(*std::exchange(launcherHotKeyRef_, std::nullopt));
    if (clipboardHotKeyRef_) hotKeys_.unregisterHotKey(*std::exchange(clipboardHotKeyRef_, std::nullopt));
    // An older manager going away must not take the presses away from the newer one.
    if (activeManagerPointer == this) activeManagerPointer = nullptr;
}

std::optional<platform::HotKeyRef> HotKeyManager::registerHotKey(std::uint32_t id, std::uint32_t keysym) {
    constexpr platform::Modifiers kSuper{.super = true};
    auto result = hotKeys_.registerHotKey(id, keysym, kSuper);
    if (result) return *result;
    log::write("hotkey: " + hotKeys_.describe(keysym, kSuper) + " unavailable — " + result.error().reason);
    return std::nullopt;
}

void HotKeyManager::hotKeyEventHandler(std::uint32_t hotKeyId) {
    HotKeyManager* manager = activeManagerPointer;
    if (manager == nullptr) return;
    if (hotKeyId == kLauncherHotKeyId) {
        manager->run(&HotKeyManager::onLauncherToggle_);
    } else if (hotKeyId == kClipboardHotKeyId) {
        manager->run(&HotKeyManager::onClipboardToggle_);
    }
}

// The press is delivered inside the event handler; the panels are toggled a moment later on the
// main queue, outside it.
void HotKeyManager::run(std::function<void()> HotKeyManager::*action) {
    scheduler_.post(self_.bind([action](HotKeyManager& self) {
        if (const auto& fn = self.*action) fn();
    }));
}

HotKeyManager* HotKeyManager::activeManager() {
    return activeManagerPointer;
}

void HotKeyManager::resetForTesting() {
    handlerConnection.disconnect();
    didInstallHandler = false;
    activeManagerPointer = nullptr;
}

}  // namespace quenlit
