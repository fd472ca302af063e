#pragma once

// Finds the user's Firefox profiles (profiles.ini and the profile folders on disk), gives them
// unique names in a fixed order, and tells which of them a running Firefox is using.
//
// Stateless; callable from any thread as long as the ProcessInspector is. Nothing here fails as a
// whole: unreadable files, folders or processes simply contribute nothing (a caller that wants to
// know why profiles.ini was left out can ask).

#include "base/Paths.h"
#include "launch/FirefoxProfile.h"
#include "platform/FileReader.h"
#include "platform/ProcessRunner.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenlit::ProfileManager {

struct Environment {
    // Firefox's folder holding profiles.ini and the profile folders; absent when Firefox has none.
    std::optional<std::filesystem::path> supportFolder;
    platform::ProcessInspector& processes;
    platform::FileReader& files;
};

// profiles.ini lists a few lines per profile; a larger file is not read.
inline constexpr std::uintmax_t kMaxRegistrySize = 4 * 1024 * 1024;

// The first existing folder of ~/.mozilla/firefox, $XDG_CONFIG_HOME/mozilla/firefox, the Snap's and
// the Flatpak's copies of ~/.mozilla/firefox.
std::optional<std::filesystem::path> firefoxSupportFolder(const XdgDirs& dirs);

// All profiles, default ones first, then by name in the user's collation. When profiles.ini exists
// but cannot be used (unreadable, no regular file, too large), `registryProblem` (when given)
// receives what is wrong with it and the profiles come from the folders on disk alone.
std::vector<FirefoxProfile> detectFirefoxProfiles(const Environment& env,
                                                  std::string* registryProblem = nullptr);

// The running profiles among `profiles`, by name (a later profile of the same name wins).
std::map<std::string, FirefoxProfile> detectRunningProfiles(const std::vector<FirefoxProfile>& profiles,
                                                            const Environment& env);

// The Firefox process that has the folder's ".parentlock" open or locked, if any.
std::optional<int> pidHoldingParentLock(const std::filesystem::path& profileFolder, const Environment& env);
// Whether another process holds a write lock on the folder's ".parentlock".
bool isParentLockHeld(const std::filesystem::path& profileFolder, const Environment& env);
// Whether the folder's "lock" symbolic link ("address:+pid") names a live process.
bool isLegacyLockSymlinkAlive(const std::filesystem::path& profileFolder, const Environment& env);

// The profiles of a profiles.ini text in file order; relative paths are taken inside
// `supportFolder`, and an entry whose relative path leads out of it ("../elsewhere") is skipped.
std::vector<FirefoxProfile> parseProfilesINI(std::string_view text,
                                             const std::filesystem::path& supportFolder);

// The visible subfolders of the folder holding the profile folders, ordered by name.
std::vector<std::filesystem::path> profileDirectoriesOnDisk(const std::filesystem::path& profilesFolder);
// The subfolders with a "prefs.js", named after their folder, none of them default.
std::vector<FirefoxProfile> discoverProfilesOnDisk(const std::filesystem::path& profilesFolder);

// "abcd1234.default-release" gives "default-release"; a name without an inner dot stays whole.
std::string displayName(const std::filesystem::path& profileFolder);

// Renames every member of a group of profiles sharing a name after its folder, visiting each group
// in the order of the table's keys (the profile folders with symbolic links resolved).
std::vector<FirefoxProfile> disambiguateNames(const std::map<std::filesystem::path, FirefoxProfile>& table);

}  // namespace quenlit::ProfileManager
