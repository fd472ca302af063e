#pragma once

// Global hotkeys on KDE Plasma through kglobalaccel (org.kde.kglobalaccel on the session bus,
// inside KWin on Wayland): each hotkey is an action of the component "quenlit" with its default
// key. The user's own choice in System Settings wins: kglobalaccel answers the registration with the
// key the user saved, which is then used and said in the log; the default is not forced on it. A key
// another component holds is not taken from it: the registration fails and names the holder. The
// presses arrive as globalShortcutPressed on the component's object, whatever window has the focus,
// and the key does not reach that window.
//
// Main thread only. Registrations are made inactive again when released or when the object goes,
// so the keys are free while the program does not run, and kept as the user's settings.

#include "base/Signal.h"
#include "platform/HotKeys.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace quenlit::kde {

// The Qt key code (QKeySequence's integer, modifiers included) of a keysym with the modifiers;
// absent for a key without one. Exposed for tests.
std::optional<int> qtKeyFor(std::uint32_t keysym, platform::Modifiers modifiers);

class KGlobalAccelHotKeys final : public QObject, public platform::HotKeys {
    Q_OBJECT
  public:
    struct Action {
        std::string name;          // "launcher"
        std::string friendlyName;  // "Show the launcher", as System Settings lists it
    };
    // `actions`: the action for each hotkey id; an id without one cannot be registered.
    explicit KGlobalAccelHotKeys(std::map<std::uint32_t, Action> actions);
    ~KGlobalAccelHotKeys() override;

    Result<platform::HotKeyRef> registerHotKey(std::uint32_t id, std::uint32_t keysym,
                                               platform::Modifiers modifiers) override;
    void unregisterHotKey(platform::HotKeyRef registration) override;
    std::string describe(std::uint32_t keysym, platform::Modifiers modifiers) const override;

    static constexpr const char* kComponent = "quenlit";

  private Q_SLOTS:
    void onPressed(const QString& component, const QString& action, qlonglong timestamp);

    // Q_SLOTS is empty to the compiler and the linter, not to moc: this section is not redundant.
  private:  // NOLINT(readability-redundant-access-specifiers)
    std::map<std::uint32_t, Action> actions_;
    std::map<std::uint64_t, std::uint32_t> registered_;  // registration → hotkey id
    std::uint64_t nextRef_ = 1;
    bool listening_ = false;
};

}  // namespace quenlit::kde
