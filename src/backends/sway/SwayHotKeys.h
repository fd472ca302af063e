#pragma once

// Global hotkeys on sway. A Wayland client cannot grab keys: the compositor owns them. So each
// combination becomes a binding of sway's own, made over IPC when registered and removed when
// released. Its command is a "nop" that sway reports on its binding events, which this object
// turns into `pressed`: no process is started between the key and the panel. Where sway's events
// cannot be read, the binding runs this program's executable instead, with a command line of the
// composition's choosing ("toggle launcher"), which reaches the running instance through its
// control socket; `pressed` is not emitted for those.
//
// A combination the user's sway configuration (with the files it includes) already binds is left
// to the user: its registration fails and says what it is bound to. Bindings made at run time by other
// programs cannot be seen over IPC and are replaced.
//
// sway forgets run-time bindings when it reloads its configuration: they are made again then (once
// sway's events are watched, which needs the event loop), unless the new configuration binds the
// combination itself.
//
// Main thread only. Whatever is still bound when the object goes away is unbound, so the program
// leaves sway's bindings as it found them when it exits.

#include "backends/sway/SwayIpc.h"
#include "base/Signal.h"
#include "platform/HotKeys.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenlit::sway {

// The key bindings of a sway configuration file, as far as hotkeys care; exposed for tests.
namespace swayconfig {

// xkb's modifier bits, the ones sway's binding modifiers name.
namespace modifierBits {
inline constexpr std::uint32_t shift = 0x1;
inline constexpr std::uint32_t lock = 0x2;
inline constexpr std::uint32_t control = 0x4;
inline constexpr std::uint32_t mod1 = 0x8;  // Alt
inline constexpr std::uint32_t mod2 = 0x10;
inline constexpr std::uint32_t mod3 = 0x20;
inline constexpr std::uint32_t mod4 = 0x40;  // Super, "Logo"
inline constexpr std::uint32_t mod5 = 0x80;
}  // namespace modifierBits

struct KeyBinding {
    std::uint32_t modifiers = 0;  // modifierBits
    std::uint32_t keysym = 0;     // lower case; for a bindcode, the key's keysym on a US layout
    std::string command;          // with the configuration's variables substituted
    bool operator==(const KeyBinding&) const = default;
};

// The texts of the files an include line names (its argument, variables substituted), in order.
using IncludeReader = std::function<std::vector<std::string>(const std::string& pattern)>;

// The bindsym and bindcode lines of the default mode, variables substituted, those of included
// files where they are included (without a reader, includes are left out); lines of other modes,
// mouse buttons and keys xkb does not know are left out.
std::vector<KeyBinding> keyBindings(std::string_view configText, const IncludeReader& readIncluded = {});

// Reads included files from disk as sway does: environment variables and "~" expanded, a relative
// path taken from the folder of the configuration sway reads by default, wildcards matched.
std::vector<std::string> readIncludedFiles(const std::string& pattern);

}  // namespace swayconfig

class SwayHotKeys final : public platform::HotKeys {
  public:
    // `commands`: for each hotkey id, the arguments this program's executable runs with when the
    // combination is pressed and sway's events cannot be read ("toggle launcher"); an id without
    // one cannot be registered then.
    // `executable`: the program sway starts, this process's own executable by default.
    SwayHotKeys(SwayIpc& sway, std::map<std::uint32_t, std::string> commands, std::string executable = {});
    ~SwayHotKeys() override;
    SwayHotKeys(const SwayHotKeys&) = delete;
    SwayHotKeys& operator=(const SwayHotKeys&) = delete;

    Result<platform::HotKeyRef> registerHotKey(std::uint32_t id, std::uint32_t keysym,
                                               platform::Modifiers modifiers) override;
    void unregisterHotKey(platform::HotKeyRef registration) override;
    std::string describe(std::uint32_t keysym, platform::Modifiers modifiers) const override;

    // The combination in sway's own words ("Mod4+space"); absent for a key without a keysym name.
    static std::optional<std::string> swayCombination(std::uint32_t keysym, platform::Modifiers modifiers);
    // `text` as one word of the shell command a binding's exec runs, written so that sway's parser,
    // which reads it when binding and again when running it, hands it on unchanged; absent when it
    // holds characters that cannot pass both safely.
    static std::optional<std::string> quoteForExec(std::string_view text);

  private:
    struct Registration {
        std::uint64_t ref;
        std::uint32_t id;
        std::string pressCommand;  // the nop sway reports when the binding runs; empty for an exec
        std::uint32_t keysym;
        platform::Modifiers modifiers;
        std::string combination;
        std::string bindCommand;
        bool bound;  // false once a reloaded configuration binds the combination itself
    };

    // What the user's configuration binds the combination to, if it does.
    static std::optional<std::string> usersBinding(const std::string& config, std::uint32_t keysym,
                                                   platform::Modifiers modifiers);
    // After sway reloaded its configuration, which forgot our bindings.
    void bindAgain();

    SwayIpc& sway_;
    std::map<std::uint32_t, std::string> commands_;
    std::string executable_;
    std::vector<Registration> registrations_;
    std::uint64_t nextRef_ = 1;
    Connection reloads_;
    Connection presses_;
};

}  // namespace quenlit::sway
