#include "backends/sway/SwayHotKeys.h"

#include "backends/linux/KeyPositions.h"
#include "base/Log.h"

#include <QCoreApplication>

#include <xkbcommon/xkbcommon.h>

#include <glob.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

namespace quenlit::sway {
namespace {

namespace bits = swayconfig::modifierBits;

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The first word and the rest, split at whitespace.
std::pair<std::string_view, std::string_view> firstWord(std::string_view text) {
    text = trim(text);
    const auto end = text.find_first_of(" \t");
    if (end == std::string_view::npos) return {text, {}};
    return {text.substr(0, end), trim(text.substr(end))};
}

std::optional<std::uint32_t> modifierNamed(std::string_view name) {
    struct Named {
        const char* name;
        std::uint32_t bit;
    };
    static constexpr std::array<Named, 12> kNames = {{{"Shift", bits::shift},
                                                      {"Lock", bits::lock},
                                                      {"Control", bits::control},
                                                      {"Ctrl", bits::control},
                                                      {"Mod1", bits::mod1},
                                                      {"Alt", bits::mod1},
                                                      {"Mod2", bits::mod2},
                                                      {"Mod3", bits::mod3},
                                                      {"Mod4", bits::mod4},
                                                      {"Super", bits::mod4},
                                                      {"Mod5", bits::mod5},
                                                      {"Logo", bits::mod4}}};
    for (const auto& entry : kNames)
        if (equalsIgnoringCase(name, entry.name)) return entry.bit;
    return std::nullopt;
}

// Substitutes the variables the configuration set so far; a longer name wins over its prefix, as in
// sway ("$modifier" is not "$mod" followed by "ifier").
std::string substitute(std::string_view text,
                       const std::vector<std::pair<std::string, std::string>>& variables) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == '$') {
            const std::pair<std::string, std::string>* best = nullptr;
            for (const auto& variable : variables) {
                if (text.substr(i).starts_with(variable.first) &&
                    (best == nullptr || variable.first.size() > best->first.size()))
                    best = &variable;
            }
            if (best != nullptr) {
                out += best->second;
                i += best->first.size();
                continue;
            }
        }
        out += text[i++];
    }
    return out;
}

// "Mod4+shift+Space" of a bindsym, or "Mod4+65" of a bindcode; absent for a chord of several keys,
// a mouse button, an unknown modifier or a key xkb has no name for.
std::optional<swayconfig::KeyBinding> parseCombination(std::string_view combination, bool byCode) {
    swayconfig::KeyBinding binding;
    std::optional<std::string_view> key;
    while (!combination.empty()) {
        const auto plus = combination.find('+');
        const std::string_view part = combination.substr(0, plus);
        combination = plus == std::string_view::npos ? std::string_view{} : combination.substr(plus + 1);
        if (auto bit = modifierNamed(part)) {
            binding.modifiers |= *bit;
        } else if (part.size() == 6 && equalsIgnoringCase(part.substr(0, 5), "Group")) {
            continue;  // a layout group, not a modifier
        } else if (key) {
            return std::nullopt;
        } else {
            key = part;
        }
    }
    if (!key || key->empty()) return std::nullopt;
    if (byCode) {
        int code = 0;
        for (char c : *key) {
            if (!std::isdigit(static_cast<unsigned char>(c)) || code > 1000) return std::nullopt;
            code = code * 10 + (c - '0');
        }
        // Key codes in sway's configuration are the X numbering: evdev + 8.
        const auto position = code >= 8
                                  ? linux_backend::keyPositionForEvdev(static_cast<std::uint16_t>(code - 8))
                                  : std::nullopt;
        if (!position) return std::nullopt;
        binding.keysym = position->keysym;
        return binding;
    }
    const std::string name(*key);
    const xkb_keysym_t keysym = xkb_keysym_from_name(name.c_str(), XKB_KEYSYM_CASE_INSENSITIVE);
    if (keysym == XKB_KEY_NoSymbol) return std::nullopt;
    binding.keysym = xkb_keysym_to_lower(keysym);
    return binding;
}

// A binding line after its bindsym or bindcode: the flags, the combination and the command.
std::optional<swayconfig::KeyBinding> parseBinding(std::string_view rest, bool byCode) {
    for (;;) {
        auto [word, after] = firstWord(rest);
        if (word.empty()) return std::nullopt;
        if (word.starts_with("--")) {
            rest = after;
            continue;
        }
        auto binding = parseCombination(word, byCode);
        if (!binding || after.empty()) return std::nullopt;
        binding->command = std::string(after);
        return binding;
    }
}

// The configuration's logical lines: comments dropped, lines ending in a backslash joined with the
// next, and the lines of a block ("bindsym {" ... "}") given the block's words in front. Lines in a
// mode's block other than the default mode's are left out.
std::vector<std::string> logicalLines(std::string_view text) {
    struct Block {
        std::string prefix;  // empty for a mode's block
        bool otherMode = false;
    };
    std::vector<Block> blocks;
    std::vector<std::string> out;
    std::string pending;
    while (!text.empty()) {
        const auto newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view{} : text.substr(newline + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty() && line.back() == '\\') {
            pending += line.substr(0, line.size() - 1);
            continue;
        }
        std::string joined = pending + std::string(line);
        pending.clear();
        const std::string_view content = trim(joined);
        if (content.empty() || content.front() == '#') continue;
        if (content == "}") {
            if (!blocks.empty()) blocks.pop_back();
            continue;
        }
        const bool inOtherMode =
            std::any_of(blocks.begin(), blocks.end(), [](const Block& b) { return b.otherMode; });
        std::string prefix;
        for (const auto& block : blocks) {
            if (!block.prefix.empty()) prefix += block.prefix + " ";
        }
        if (content.back() == '{') {
            const std::string_view opening = trim(content.substr(0, content.size() - 1));
            const auto [word, name] = firstWord(opening);
            if (word == "mode") {
                std::string_view mode = name;
                for (;;) {  // the mode's flags, then its name, perhaps quoted
                    auto [flag, after] = firstWord(mode);
                    if (!flag.starts_with("--")) break;
                    mode = after;
                }
                if (mode.size() >= 2 && (mode.front() == '"' || mode.front() == '\'') &&
                    mode.back() == mode.front())
                    mode = mode.substr(1, mode.size() - 2);
                blocks.push_back({{}, mode != "default"});
            } else {
                blocks.push_back({std::string(opening), false});
            }
            continue;
        }
        if (inOtherMode) continue;
        out.push_back(prefix + std::string(content));
    }
    return out;
}

std::uint32_t swayModifiers(platform::Modifiers modifiers) {
    std::uint32_t out = 0;
    if (modifiers.super) out |= bits::mod4;
    if (modifiers.shift) out |= bits::shift;
    if (modifiers.alt) out |= bits::mod1;
    if (modifiers.control) out |= bits::control;
    return out;
}

std::string ownExecutable() {
    std::error_code error;
    std::string path = std::filesystem::read_symlink("/proc/self/exe", error).string();
    // The file was replaced (an upgrade) while the program runs: its new copy is at the same place.
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.ends_with(kDeleted)) path.resize(path.size() - kDeleted.size());
    return path;
}

// The arguments as sway passes them on: plain words as they are, others quoted.
std::optional<std::string> quoteArguments(std::string_view arguments) {
    std::string out;
    while (!arguments.empty()) {
        auto [word, rest] = firstWord(arguments);
        arguments = rest;
        if (word.empty()) break;
        const bool plain = std::all_of(word.begin(), word.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' ||
                   c == '/';
        });
        auto quoted = plain ? std::optional<std::string>(word) : SwayHotKeys::quoteForExec(word);
        if (!quoted) return std::nullopt;
        out += " " + *quoted;
    }
    return out;
}

}  // namespace

namespace swayconfig {

namespace {

// sway follows includes a few levels deep; a file that includes itself must not loop.
constexpr int kMaxIncludeDepth = 8;

struct Reading {
    const IncludeReader& readIncluded;
    std::vector<std::pair<std::string, std::string>> variables;
    std::vector<KeyBinding> out;
};

void readBindings(std::string_view text, Reading& reading, int depth) {
    for (const std::string& line : logicalLines(text)) {
        const auto [command, rest] = firstWord(line);
        if (command == "set") {
            const auto [name, value] = firstWord(rest);
            if (name.size() > 1 && name.front() == '$')
                reading.variables.emplace_back(name, substitute(value, reading.variables));
            continue;
        }
        if (command == "include") {
            // An included file shares the variables, and its bindings count where it is included.
            if (reading.readIncluded && depth < kMaxIncludeDepth) {
                for (const std::string& included : reading.readIncluded(substitute(rest, reading.variables)))
                    readBindings(included, reading, depth + 1);
            }
            continue;
        }
        if (command != "bindsym" && command != "bindcode") continue;
        if (auto binding = parseBinding(substitute(rest, reading.variables), command == "bindcode"))
            reading.out.push_back(std::move(*binding));
    }
}

}  // namespace

std::vector<KeyBinding> keyBindings(std::string_view configText, const IncludeReader& readIncluded) {
    Reading reading{readIncluded, {}, {}};
    readBindings(configText, reading, 0);
    return std::move(reading.out);
}

std::vector<std::string> readIncludedFiles(const std::string& pattern) {
    std::string path(trim(pattern));
    if (path.size() >= 2 && (path.front() == '"' || path.front() == '\'') && path.back() == path.front())
        path = path.substr(1, path.size() - 2);
    // The environment's variables, as sway's word expansion gives them ($HOME, ${XDG_CONFIG_HOME}).
    std::string expanded;
    for (std::size_t i = 0; i < path.size();) {
        if (path[i] == '$') {
            const bool braced = i + 1 < path.size() && path[i + 1] == '{';
            std::size_t end = i + (braced ? 2 : 1);
            while (end < path.size() &&
                   (std::isalnum(static_cast<unsigned char>(path[end])) || path[end] == '_'))
                ++end;
            const std::string name = path.substr(i + (braced ? 2 : 1), end - i - (braced ? 2 : 1));
            if (braced && end < path.size() && path[end] == '}') ++end;
            const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
            expanded += value != nullptr ? value : "";
            i = end;
            continue;
        }
        expanded += path[i++];
    }
    const char* home = std::getenv("HOME");
    if (expanded.starts_with("~/") && home != nullptr) expanded = home + expanded.substr(1);
    if (!expanded.empty() && expanded.front() != '/') {
        // Relative to the configuration's folder; sway does not say which file it read, so the
        // first one of its search order stands for it.
        const char* configHome = std::getenv("XDG_CONFIG_HOME");
        const std::string base = configHome != nullptr && *configHome != '\0' ? configHome
                                 : home != nullptr                            ? std::string(home) + "/.config"
                                                                              : std::string();
        std::vector<std::filesystem::path> candidates;
        if (home != nullptr) candidates.push_back(std::filesystem::path(home) / ".sway/config");
        if (!base.empty()) candidates.push_back(std::filesystem::path(base) / "sway/config");
        candidates.push_back("/etc/sway/config");
        std::error_code error;
        for (const auto& candidate : candidates) {
            if (std::filesystem::is_regular_file(candidate, error)) {
                expanded = (candidate.parent_path() / expanded).string();
                break;
            }
        }
    }
    std::vector<std::string> texts;
    glob_t matches{};
    if (::glob(expanded.c_str(), 0, nullptr, &matches) == 0) {
        for (std::size_t i = 0; i < matches.gl_pathc; ++i) {
            std::error_code error;
            const std::filesystem::path file(matches.gl_pathv[i]);
            // A configuration file is small; anything else here is not one.
            if (!std::filesystem::is_regular_file(file, error) ||
                std::filesystem::file_size(file, error) > (1u << 20))
                continue;
            std::ifstream in(file, std::ios::binary);
            texts.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    ::globfree(&matches);
    return texts;
}

}  // namespace swayconfig

SwayHotKeys::SwayHotKeys(SwayIpc& sway, std::map<std::uint32_t, std::string> commands, std::string executable)
    : sway_(sway),
      commands_(std::move(commands)),
      executable_(executable.empty() ? ownExecutable() : std::move(executable)) {
    // sway's events are read from the event loop; without one (a command-line run) there are none.
    if (QCoreApplication::instance() != nullptr) sway_.watchWindows();
    reloads_ = sway_.configReloaded.connect([this] { bindAgain(); });
    presses_ = sway_.bindingRan.connect([this](const std::string& command) {
        const auto hit = std::find_if(
            registrations_.begin(), registrations_.end(),
            [&](const Registration& r) { return !r.pressCommand.empty() && r.pressCommand == command; });
        if (hit != registrations_.end()) pressed.emit(hit->id);
    });
}

SwayHotKeys::~SwayHotKeys() {
    while (!registrations_.empty())
        unregisterHotKey(static_cast<platform::HotKeyRef>(registrations_.back().ref));
}

std::optional<std::string> SwayHotKeys::swayCombination(std::uint32_t keysym, platform::Modifiers modifiers) {
    if (keysym == 0) return std::nullopt;
    const char* name = nullptr;
    std::array<char, 64> buffer{};
    if (xkb_keysym_get_name(xkb_keysym_to_lower(keysym), buffer.data(), buffer.size()) > 0)
        name = buffer.data();
    if (name == nullptr) return std::nullopt;
    std::string out;
    if (modifiers.super) out += "Mod4+";
    if (modifiers.control) out += "Control+";
    if (modifiers.alt) out += "Mod1+";
    if (modifiers.shift) out += "Shift+";
    return out + name;
}

std::optional<std::string> SwayHotKeys::quoteForExec(std::string_view text) {
    // The command reaches the shell through sway's parser twice: once when bound, where it sits in
    // double quotes that sway takes off, and once when run, where sway splits commands at ";" and ","
    // (quotes or not, once escapes are involved). sway substitutes its variables wherever a "$"
    // stands and reads backslashes and double quotes itself; control characters would end the line.
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || std::strchr("\\$\";,`", c) != nullptr) return std::nullopt;
    }
    // Single quotes for the shell; a quote inside closes them, adds an escaped quote and reopens.
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

Result<platform::HotKeyRef> SwayHotKeys::registerHotKey(std::uint32_t id, std::uint32_t keysym,
                                                        platform::Modifiers modifiers) {
    // Which Control key does not count: sway binds the modifier.
    modifiers = modifiers.withoutSides();
    for (const auto& r : registrations_) {
        if (r.keysym == keysym && r.modifiers == modifiers)
            return Failure{"already registered by this program"};
    }
    const auto combination = swayCombination(keysym, modifiers);
    if (!combination) return Failure{"the key has no name sway knows"};
    // What the binding runs: a nop this object hears of, or, without sway's events, this program.
    std::string pressCommand;
    std::string action;
    if (sway_.watching()) {
        pressCommand = "nop quenlit hotkey " + std::to_string(id);
        action = pressCommand;
    } else {
        const auto arguments = commands_.find(id);
        if (arguments == commands_.end()) return Failure{"no command to bind it to"};
        const auto program = quoteForExec(executable_);
        const auto quotedArguments = quoteArguments(arguments->second);
        if (executable_.empty() || !program || !quotedArguments)
            return Failure{"this program's path cannot be handed to sway: " + executable_};
        action = "exec \"" + *program + *quotedArguments + "\"";
    }

    const auto config = sway_.config();
    if (!config) return Failure{"sway's configuration cannot be read"};
    if (auto taken = usersBinding(*config, keysym, modifiers))
        return Failure{"bound in your sway configuration to \"" + *taken + "\""};

    Registration r{nextRef_++,
                   id,
                   std::move(pressCommand),
                   keysym,
                   modifiers,
                   *combination,
                   "bindsym --no-repeat " + *combination + " " + action,
                   true};
    if (auto bound = sway_.command(r.bindCommand); !bound)
        return Failure{"sway refused the binding: " + bound.error().reason};
    registrations_.push_back(std::move(r));
    return static_cast<platform::HotKeyRef>(registrations_.back().ref);
}

std::optional<std::string> SwayHotKeys::usersBinding(const std::string& config, std::uint32_t keysym,
                                                     platform::Modifiers modifiers) {
    const std::uint32_t wanted = swayModifiers(modifiers);
    keysym = xkb_keysym_to_lower(keysym);
    for (const auto& binding : swayconfig::keyBindings(config, swayconfig::readIncludedFiles)) {
        if (binding.modifiers == wanted && binding.keysym == keysym) return binding.command;
    }
    return std::nullopt;
}

void SwayHotKeys::bindAgain() {
    // The new configuration may bind a combination itself now: it is the user's then.
    const auto config = sway_.config();
    for (auto& r : registrations_) {
        const auto taken = config ? usersBinding(*config, r.keysym, r.modifiers) : std::nullopt;
        if (taken) {
            if (r.bound)
                log::write("hotkey: " + describe(r.keysym, r.modifiers) +
                           " is now bound in your sway configuration to \"" + *taken + "\" — left to it");
            r.bound = false;
            continue;
        }
        auto bound = sway_.command(r.bindCommand);
        r.bound = bound.has_value();
        if (!bound)
            log::write("hotkey: sway refused the binding of " + r.combination + " again — " +
                       bound.error().reason);
    }
}

void SwayHotKeys::unregisterHotKey(platform::HotKeyRef registration) {
    const auto ref = static_cast<std::uint64_t>(registration);
    auto it = std::find_if(registrations_.begin(), registrations_.end(),
                           [ref](const Registration& r) { return r.ref == ref; });
    if (it == registrations_.end()) return;
    const std::string combination = it->combination;
    const bool bound = it->bound;
    registrations_.erase(it);
    if (!bound) return;  // the user's own binding since a reload, or none
    if (auto unbound = sway_.command("unbindsym " + combination); !unbound)
        log::write("hotkey: sway keeps the binding of " + combination + " — " + unbound.error().reason);
}

std::string SwayHotKeys::describe(std::uint32_t keysym, platform::Modifiers modifiers) const {
    return linux_backend::describeHotKey(keysym, modifiers);
}

}  // namespace quenlit::sway
