#pragma once

// The app-toggle bindings file: a small hand-written file in a restricted TOML dialect that binds
// keys, pressed with the left Control key, to applications. This side is pure: text in, bindings
// (or the first error) out; reading the file and acting on the bindings is AppToggleMonitor's.

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quenlit {

enum class AppToggleModifier : std::uint8_t { leftControl };

// "leftControl": the text form, also the only spelling the file accepts.
std::string_view caseName(AppToggleModifier modifier);

// A set of modifiers that fits in a byte, so the tap compares it without touching memory elsewhere.
class AppToggleModifierSet {
  public:
    AppToggleModifierSet() = default;
    AppToggleModifierSet(std::initializer_list<AppToggleModifier> modifiers) {
        for (AppToggleModifier m : modifiers)
            insert(m);
    }
    void insert(AppToggleModifier m) { bits_ |= bit(m); }
    bool contains(AppToggleModifier m) const { return (bits_ & bit(m)) != 0; }
    bool empty() const { return bits_ == 0; }
    bool operator==(const AppToggleModifierSet&) const = default;

  private:
    static std::uint8_t bit(AppToggleModifier m) {
        return static_cast<std::uint8_t>(1u << static_cast<unsigned>(m));
    }
    std::uint8_t bits_ = 0;
};

struct AppToggleBinding {
    std::string key;  // as written, lower-cased
    std::uint16_t keyCode = 0;
    AppToggleModifierSet modifiers;       // never empty
    std::optional<std::string> appName;   // trimmed; absent when not given or blank
    std::optional<std::string> bundleID;  // trimmed; absent when not given or blank

    // What log lines call the binding: the bundle identifier, else the name, else "?".
    std::string label() const;
    bool operator==(const AppToggleBinding&) const = default;
};

class AppToggleBindingsError {
  public:
    enum class Kind {
        fileUnreadable,
        fileTooLarge,
        unknownKey,
        unknownModifier,
        emptyKey,
        missingTarget,
        noModifiers
    };

    static AppToggleBindingsError fileUnreadable(std::string path) {
        return {Kind::fileUnreadable, std::move(path)};
    }
    static AppToggleBindingsError fileTooLarge(std::string path, std::uintmax_t size) {
        AppToggleBindingsError error{Kind::fileTooLarge, std::move(path)};
        error.size_ = size;
        return error;
    }
    static AppToggleBindingsError unknownKey(std::string key) { return {Kind::unknownKey, std::move(key)}; }
    static AppToggleBindingsError unknownModifier(std::string modifier) {
        return {Kind::unknownModifier, std::move(modifier)};
    }
    static AppToggleBindingsError emptyKey() { return {Kind::emptyKey, {}}; }
    static AppToggleBindingsError missingTarget() { return {Kind::missingTarget, {}}; }
    static AppToggleBindingsError noModifiers() { return {Kind::noModifiers, {}}; }

    Kind kind() const { return kind_; }
    // The path, key text or modifier text the error is about; empty for the other kinds.
    const std::string& payload() const { return payload_; }
    // fileTooLarge: the file's size in bytes; 0 for the other kinds.
    std::uintmax_t size() const { return size_; }
    // The text that goes into the log ("unknown key \"F1\"").
    std::string description() const;
    bool operator==(const AppToggleBindingsError&) const = default;

  private:
    AppToggleBindingsError(Kind kind, std::string payload) : kind_(kind), payload_(std::move(payload)) {}
    Kind kind_;
    std::string payload_;
    std::uintmax_t size_ = 0;
};

// All bindings of a file, or the error that keeps every one of them from being used.
struct AppToggleBindingsResult {
    std::vector<AppToggleBinding> bindings;  // empty when there is an error
    std::optional<AppToggleBindingsError> error;
    bool ok() const { return !error.has_value(); }
};

namespace AppToggleBindings {

// A bindings file is a few lines per toggle; a larger file is refused rather than read.
inline constexpr std::uintmax_t kMaxFileSize = 4 * 1024 * 1024;

// Never fails on syntax (malformed lines are ignored); fails with the first toggle of the file
// that does not make a binding. A text without any "[[toggle]]" gives no bindings and no error.
AppToggleBindingsResult parse(std::string_view text);

// The virtual key code of a key name ("k", "Space", " esc "); absent for names without one.
std::optional<std::uint16_t> keyCode(std::string_view key);

// The pieces of the dialect, exposed for tests.
std::string_view stripComment(std::string_view line);
std::string_view unquote(std::string_view value);
std::vector<std::string> parseStringArray(std::string_view value);

// A toggle table while its lines are read.
struct ToggleDraft {
    std::optional<std::string> key;
    std::optional<std::string> app;
    std::optional<std::string> bundleID;
    std::vector<std::string> modifiers;

    std::variant<AppToggleBinding, AppToggleBindingsError> build() const;
};

}  // namespace AppToggleBindings

}  // namespace quenlit
