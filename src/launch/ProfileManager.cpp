#include "launch/ProfileManager.h"

#include "base/Text.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <iterator>
#include <set>
#include <system_error>
#include <unordered_map>

namespace quenlit::ProfileManager {
namespace fs = std::filesystem;

namespace {

const char* const kRegistryFile = "profiles.ini";
const char* const kPrefsFile = "prefs.js";
const char* const kParentLockFile = ".parentlock";
const char* const kLegacyLockLink = "lock";

bool fileExists(const fs::path& p) {
    std::error_code ec;
    return fs::exists(p, ec);
}

// Profile folders are compared by where they really are, so a folder reached through a link and the
// same folder named in profiles.ini count once.
fs::path resolved(const fs::path& p) {
    std::error_code ec;
    fs::path r = fs::weakly_canonical(p, ec);
    return ec ? p : r;
}

// resolved() for many paths in few folders. Each folder is resolved once, through its own folder in
// turn, and a path whose last component is no symbolic link is its resolved folder and that name:
// resolving every path in full costs a readlink per component, which over thousands of profiles
// adds up to seconds.
class PathResolver {
  public:
    fs::path resolve(const fs::path& p) {
        const fs::path name = p.filename();
        const fs::path parent = p.parent_path();
        if (name.empty() || name == "." || name == ".." || parent.empty() || parent == p) return resolved(p);
        std::error_code ec;
        if (fs::is_symlink(fs::symlink_status(p, ec))) return resolved(p);
        const std::string key = parent.string();
        auto it = folders_.find(key);
        if (it == folders_.end()) it = folders_.emplace(key, resolve(parent)).first;
        return it->second / name;
    }

  private:
    std::unordered_map<std::string, fs::path> folders_;
};

std::string_view trimBlanksAndTabs(std::string_view s) {
    std::size_t begin = s.find_first_not_of(" \t");
    if (begin == std::string_view::npos) return {};
    std::size_t end = s.find_last_not_of(" \t");
    return s.substr(begin, end - begin + 1);
}

// The registry's text; absent when it is missing, unusable (the reason then goes to `problem`) or
// not UTF-8.
std::optional<std::string> readRegistry(const fs::path& p, platform::FileReader& files,
                                        std::string* problem) {
    platform::FileRead read = files.read(p, kMaxRegistrySize);
    if (!read.ok()) {
        if (read.status != platform::FileRead::Status::missing && problem != nullptr) {
            *problem = read.problem(p, kMaxRegistrySize);
        }
        return std::nullopt;
    }
    std::string text = std::move(read.bytes);
    // Decoding replaces every ill-formed sequence, so a text survives the round trip exactly when it
    // was valid UTF-8.
    std::string roundTrip;
    for (char32_t c : text::decodeUtf8(text))
        text::appendUtf8(roundTrip, c);
    if (roundTrip != text) return std::nullopt;
    return text;
}

// A whole signed 32-bit decimal number, with an optional leading sign.
std::optional<std::int32_t> parseInt32(std::string_view s) {
    bool plus = !s.empty() && s.front() == '+';
    if (plus) s.remove_prefix(1);
    if (s.empty() || (plus && s.front() == '-')) return std::nullopt;
    std::int32_t value = 0;
    auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (error != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return value;
}

// The Firefox processes and the files they hold open, read on first use and then kept for the rest
// of one detection: listing the processes once per profile made a detection over thousands of
// profiles take seconds.
class FirefoxProcessTable {
  public:
    explicit FirefoxProcessTable(platform::ProcessInspector& processes) : processes_(processes) {}

    const std::vector<int>& firefox() {
        load();
        return firefox_;
    }
    // The first Firefox process, in the order the inspector lists them, that has the file open.
    std::optional<int> openedBy(const std::string& file) {
        load();
        auto it = openedBy_.find(file);
        if (it == openedBy_.end()) return std::nullopt;
        return it->second;
    }

  private:
    void load() {
        if (loaded_) return;
        loaded_ = true;
        firefox_ = processes_.firefoxProcesses();
        for (int pid : firefox_) {
            for (std::string& file : processes_.openFiles(pid))
                openedBy_.emplace(std::move(file), pid);
        }
    }

    platform::ProcessInspector& processes_;
    bool loaded_ = false;
    std::vector<int> firefox_;
    std::unordered_map<std::string, int> openedBy_;
};

std::optional<int> pidHoldingParentLock(const fs::path& profileFolder, const Environment& env,
                                        FirefoxProcessTable& table, PathResolver& paths) {
    const std::string target = paths.resolve(profileFolder / kParentLockFile).string();
    if (std::optional<int> pid = table.openedBy(target)) return pid;
    // A sandboxed Firefox (Flatpak, Snap) sees the profile under another path, so its descriptors do
    // not name our path; the lock itself still names its holder.
    if (std::optional<int> holder = env.processes.lockHolder(target)) {
        const std::vector<int>& firefox = table.firefox();
        if (std::find(firefox.begin(), firefox.end(), *holder) != firefox.end()) return holder;
    }
    return std::nullopt;
}

}  // namespace

std::optional<fs::path> firefoxSupportFolder(const XdgDirs& dirs) {
    const fs::path candidates[] = {
        dirs.home / ".mozilla" / "firefox",
        dirs.configHome / "mozilla" / "firefox",
        dirs.home / "snap" / "firefox" / "common" / ".mozilla" / "firefox",
        dirs.home / ".var" / "app" / "org.mozilla.firefox" / ".mozilla" / "firefox",
    };
    for (const fs::path& candidate : candidates) {
        std::error_code ec;
        if (fs::is_directory(candidate, ec)) return candidate;
    }
    return std::nullopt;
}

std::vector<FirefoxProfile> parseProfilesINI(std::string_view text, const fs::path& supportFolder) {
    std::vector<FirefoxProfile> profiles;
    bool inProfileSection = false;
    bool isDefault = false;
    std::map<std::string, std::string> values;

    auto flush = [&] {
        if (inProfileSection) {
            auto name = values.find("Name");
            auto path = values.find("Path");
            if (name != values.end() && path != values.end()) {
                auto relative = values.find("IsRelative");
                if (relative != values.end() && relative->second == "1") {
                    // Joined, never replaced: a leading "/" must not lead out of Firefox's folder,
                    // and neither may "..".
                    const fs::path inside = fs::path(path->second).relative_path().lexically_normal();
                    if (!inside.empty() && *inside.begin() != "." && *inside.begin() != "..") {
                        profiles.push_back(FirefoxProfile{name->second, supportFolder / inside, isDefault});
                    }
                } else if (fs::path folder(path->second); folder.is_absolute()) {
                    // Firefox itself ignores such an entry with a relative path; taken against our
                    // working directory it would name some unrelated folder.
                    profiles.push_back(FirefoxProfile{name->second, std::move(folder), isDefault});
                }
            }
        }
        values.clear();
        isDefault = false;
    };

    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = trimBlanksAndTabs(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty()) continue;
        if (line.front() == '[') {
            flush();
            inProfileSection = line.substr(0, 8) == "[Profile";
            continue;
        }
        if (!inProfileSection) continue;
        if (line == "Default=1") {
            isDefault = true;
            continue;
        }
        std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        values[std::string(line.substr(0, equals))] = std::string(line.substr(equals + 1));
    }
    flush();
    return profiles;
}

std::vector<fs::path> profileDirectoriesOnDisk(const fs::path& profilesFolder) {
    std::vector<fs::path> folders;
    std::error_code ec;
    fs::directory_iterator it(profilesFolder, ec);
    if (ec) return {};
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const fs::path& p = it->path();
        std::string name = p.filename().string();
        if (name.empty() || name.front() == '.') continue;
        std::error_code typeError;
        if (it->is_directory(typeError)) folders.push_back(p);
    }
    // The listing's own order depends on the file system; a fixed order keeps the names stable.
    std::sort(folders.begin(), folders.end());
    return folders;
}

std::vector<FirefoxProfile> discoverProfilesOnDisk(const fs::path& profilesFolder) {
    std::vector<FirefoxProfile> profiles;
    for (const fs::path& folder : profileDirectoriesOnDisk(profilesFolder)) {
        if (fileExists(folder / kPrefsFile))
            profiles.push_back(FirefoxProfile{displayName(folder), folder, false});
    }
    return profiles;
}

std::string displayName(const fs::path& profileFolder) {
    fs::path last = profileFolder.filename();
    if (last.empty()) last = profileFolder.parent_path().filename();
    std::string name = last.string();
    std::size_t dot = name.find('.');
    if (dot == std::string::npos || dot + 1 == name.size()) return name;
    return name.substr(dot + 1);
}

std::vector<FirefoxProfile> disambiguateNames(const std::map<fs::path, FirefoxProfile>& table) {
    std::map<std::string, std::size_t> uses;
    for (const auto& [key, profile] : table)
        ++uses[profile.name];

    std::map<std::string, std::set<std::string>> givenInGroup;
    std::vector<FirefoxProfile> out;
    out.reserve(table.size());
    for (const auto& [key, profile] : table) {
        FirefoxProfile p = profile;
        if (uses[profile.name] > 1) {
            std::set<std::string>& given = givenInGroup[profile.name];
            std::string candidate = displayName(key);
            if (given.count(candidate) > 0) candidate = key.filename().string();
            given.insert(candidate);
            p.name = candidate;
        }
        out.push_back(std::move(p));
    }
    return out;
}

std::vector<FirefoxProfile> detectFirefoxProfiles(const Environment& env, std::string* registryProblem) {
    if (!env.supportFolder) return {};
    const fs::path& support = *env.supportFolder;
    std::map<fs::path, FirefoxProfile> table;
    FirefoxProcessTable processes(env.processes);
    PathResolver paths;

    for (const FirefoxProfile& p : discoverProfilesOnDisk(support))
        table.emplace(paths.resolve(p.path), p);

    // A profile in use may not have written its prefs.js yet.
    for (const fs::path& folder : profileDirectoriesOnDisk(support)) {
        fs::path key = paths.resolve(folder);
        if (table.count(key) > 0) continue;
        if (pidHoldingParentLock(folder, env, processes, paths))
            table.emplace(key, FirefoxProfile{displayName(folder), folder, false});
    }

    if (std::optional<std::string> registry =
            readRegistry(support / kRegistryFile, env.files, registryProblem)) {
        for (const FirefoxProfile& p : parseProfilesINI(*registry, support)) {
            fs::path key = paths.resolve(p.path);
            auto it = table.find(key);
            if (it != table.end()) {
                it->second = p;
            } else if (fileExists(p.path / kPrefsFile)) {
                table.emplace(key, p);
            }
        }
    }

    std::vector<FirefoxProfile> profiles = disambiguateNames(table);
    std::stable_sort(profiles.begin(), profiles.end(), [](const FirefoxProfile& a, const FirefoxProfile& b) {
        if (a.isDefault != b.isDefault) return a.isDefault;
        return text::compareNames(a.name, b.name) < 0;
    });
    return profiles;
}

std::map<std::string, FirefoxProfile> detectRunningProfiles(const std::vector<FirefoxProfile>& profiles,
                                                            const Environment& env) {
    std::map<std::string, FirefoxProfile> running;
    FirefoxProcessTable processes(env.processes);
    PathResolver paths;
    for (const FirefoxProfile& p : profiles) {
        if (pidHoldingParentLock(p.path, env, processes, paths) || isParentLockHeld(p.path, env) ||
            isLegacyLockSymlinkAlive(p.path, env)) {
            running.insert_or_assign(p.name, p);
        }
    }
    return running;
}

std::optional<int> pidHoldingParentLock(const fs::path& profileFolder, const Environment& env) {
    FirefoxProcessTable processes(env.processes);
    PathResolver paths;
    return pidHoldingParentLock(profileFolder, env, processes, paths);
}

bool isParentLockHeld(const fs::path& profileFolder, const Environment& env) {
    return env.processes.exclusiveLockState((profileFolder / kParentLockFile).string()) ==
           platform::ProcessInspector::LockState::held;
}

bool isLegacyLockSymlinkAlive(const fs::path& profileFolder, const Environment& env) {
    std::error_code ec;
    fs::path target = fs::read_symlink(profileFolder / kLegacyLockLink, ec);
    if (ec) return false;
    const std::string text = target.string();
    std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    std::optional<std::int32_t> pid = parseInt32(std::string_view(text).substr(colon + 1));
    if (!pid || *pid <= 0) return false;
    return env.processes.isProcessAlive(*pid);
}

}  // namespace quenlit::ProfileManager
