#include "launch/ProfileManager.h"

#include "backends/fake/FakeProcesses.h"
#include "backends/linux/LinuxProcessInspector.h"
#include "backends/linux/PosixFileReader.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <set>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quenlit {
namespace {

namespace fs = std::filesystem;
using ProfileManager::Environment;
using LockState = platform::ProcessInspector::LockState;

using quenlit::testing::TempDir;

using quenlit::testing::writeFile;

linux_backend::PosixFileReader fileReader;

fs::path makeProfileFolder(const fs::path& folder, bool withPrefs = true) {
    fs::create_directories(folder);
    if (withPrefs) writeFile(folder / "prefs.js", "user_pref(\"browser.startup.page\", 3);\n");
    return folder;
}

std::string describe(const std::vector<FirefoxProfile>& profiles) {
    std::string out;
    for (const auto& p : profiles) {
        out += p.name + "|" + p.path.string() + (p.isDefault ? "|default" : "") + "\n";
    }
    return out;
}

std::set<std::string> names(const std::map<std::string, FirefoxProfile>& running) {
    std::set<std::string> out;
    for (const auto& [name, profile] : running)
        out.insert(name);
    return out;
}

// A process that has certainly exited: its id names no live process (until the system reuses it).
pid_t deadPid() {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

// --- registry parsing -------------------------------------------------------------------------

TEST(ProfileManager, ParsesTheRegistry) {
    const fs::path support = "/home/ann/.mozilla/firefox";
    struct Case {
        const char* what;
        std::string text;
        std::vector<FirefoxProfile> expected;
    } cases[] = {
        {"relative default profile",
         "[Profile0]\nName=default-release\nIsRelative=1\nPath=Profiles/abcd.default-release\nDefault=1\n",
         {{"default-release", support / "Profiles/abcd.default-release", true}}},
        {"blanks around = do not set the name", "[Profile0]\nName = x\nIsRelative=1\nPath=p.x\n", {}},
        {"absolute path as written",
         "[Profile1]\nName=work\nIsRelative=0\nPath=/srv/ff/work\n",
         {{"work", "/srv/ff/work", false}}},
        {"no IsRelative means as written", "[Profile1]\nName=w\nPath=/srv/w\n", {{"w", "/srv/w", false}}},
        {"IsRelative other than 1 means as written",
         "[Profile1]\nName=w\nIsRelative=true\nPath=/srv/w\n",
         {{"w", "/srv/w", false}}},
        {"carriage returns, tabs and blank lines",
         "\r\n  [General]\r\nStartWithLastProfile=1\r\n\r\n\t[Profile0] \rName=a\t\r  Path=a.x  "
         "\rIsRelative=1\r",
         {{"a", support / "a.x", false}}},
        {"other sections are ignored",
         "[General]\nName=g\nPath=/g\n[Install4F96D1932A9F858E]\nDefault=x.y\nName=i\nPath=/i\n"
         "[profile3]\nName=lower\nPath=/lower\n",
         {}},
        {"any section starting with [Profile",
         "[Profile12]\nName=n\nPath=/n\n[ProfileGroups]\nName=m\nPath=/m\n",
         {{"n", "/n", false}, {"m", "/m", false}}},
        {"needs both Name and Path", "[Profile0]\nName=only-name\n[Profile1]\nPath=/only/path\n", {}},
        {"keys are case-sensitive", "[Profile0]\nname=x\nPATH=/x\n", {}},
        {"a later value replaces an earlier one",
         "[Profile0]\nName=first\nPath=/a\nName=second\n",
         {{"second", "/a", false}}},
        {"value after the first =, untrimmed inside",
         "[Profile0]\nName=a = b=c\nPath=/p\n",
         {{"a = b=c", "/p", false}}},
        {"an empty name still counts", "[Profile0]\nName=\nPath=/p\n", {{"", "/p", false}}},
        {"only Default=1 exactly marks the default",
         "[Profile0]\nName=a\nPath=/a\nDefault=0\n[Profile1]\nName=b\nPath=/b\nDefault = 1\n"
         "[Profile2]\nName=c\nPath=/c\nDefault=1  \n",
         {{"a", "/a", false}, {"b", "/b", false}, {"c", "/c", true}}},
        {"the default mark does not carry into the next section",
         "[Profile0]\nDefault=1\nName=a\nPath=/a\n[Profile1]\nName=b\nPath=/b\n",
         {{"a", "/a", true}, {"b", "/b", false}}},
        {"lines without = are ignored", "[Profile0]\nName=a\njunk\nPath=/a\n", {{"a", "/a", false}}},
        {"the last section needs no line break", "[Profile0]\nName=a\nPath=/a", {{"a", "/a", false}}},
        {"file order is kept",
         "[Profile1]\nName=z\nPath=/z\n[Profile0]\nName=a\nPath=/a\n",
         {{"z", "/z", false}, {"a", "/a", false}}},
        {"empty text", "", {}},
        // A relative registry path stays inside Firefox's folder even with a leading separator.
        {"relative path with a leading /",
         "[Profile0]\nName=a\nIsRelative=1\nPath=/x.a\n",
         {{"a", support / "x.a", false}}},
        {"relative path leading out of the folder",
         "[Profile0]\nName=a\nIsRelative=1\nPath=../../outside/prof\n",
         {}},
        {"relative path leading out and back in",
         "[Profile0]\nName=a\nIsRelative=1\nPath=x/../../firefox/y.a\n",
         {}},
        {"relative path naming the folder itself", "[Profile0]\nName=a\nIsRelative=1\nPath=p/..\n", {}},
        {"relative path with inner dots stays inside",
         "[Profile0]\nName=a\nIsRelative=1\nPath=Profiles/../x.a\n",
         {{"a", support / "x.a", false}}},
        // Not marked relative, yet not absolute: Firefox skips it, and so do we.
        {"non-relative entry with a relative path", "[Profile0]\nName=a\nIsRelative=0\nPath=x.a\n", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(describe(ProfileManager::parseProfilesINI(c.text, support)), describe(c.expected))
            << c.what;
    }
}

TEST(ProfileManager, DisplayNameIsTheTextAfterTheFirstDot) {
    struct Case {
        const char* folder;
        const char* name;
    } cases[] = {
        {"/ff/abcd1234.default-release", "default-release"},
        {"/ff/work", "work"},
        {"/ff/a.b.c", "b.c"},
        {"/ff/trailing.", "trailing."},
        {"/ff/.dotfirst", "dotfirst"},
        {"/ff/x.y/", "y"},
        {"relative/q.r", "r"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProfileManager::displayName(c.folder), c.name) << c.folder;
}

TEST(ProfileManager, DisambiguatesSharedNamesByFolder) {
    std::map<fs::path, FirefoxProfile> table{
        {"/ff/a1.default", {"default", "/ff/a1.default", true}},
        {"/ff/b2.default", {"default", "/ff/b2.default", false}},
        {"/ff/c3.solo", {"solo", "/ff/c3.solo", false}},
        {"/ff/d4.home", {"Work", "/ff/d4.home", false}},
        {"/other/e5.office", {"Work", "/elsewhere/link", false}},
    };
    EXPECT_EQ(describe(ProfileManager::disambiguateNames(table)),
              "default|/ff/a1.default|default\n"
              "b2.default|/ff/b2.default\n"
              "solo|/ff/c3.solo\n"
              "home|/ff/d4.home\n"
              // The new name comes from where the folder really is; the path is kept.
              "office|/elsewhere/link\n");
}

TEST(ProfileManager, DisambiguatesEveryMemberOfAGroup) {
    std::map<fs::path, FirefoxProfile> table{
        {"/ff/a.default", {"x", "/ff/a.default", false}},
        {"/ff/b.default", {"x", "/ff/b.default", false}},
        {"/ff/c.other", {"x", "/ff/c.other", false}},
        {"/ff/plain", {"x", "/ff/plain", false}},
    };
    EXPECT_EQ(describe(ProfileManager::disambiguateNames(table)),
              "default|/ff/a.default\nb.default|/ff/b.default\nother|/ff/c.other\nplain|/ff/plain\n");
}

// --- support folder ---------------------------------------------------------------------------

TEST(ProfileManager, SupportFolderIsTheFirstThatExists) {
    TempDir home;
    XdgDirs dirs;
    dirs.home = home.path();
    dirs.configHome = home.path() / "config";
    EXPECT_FALSE(ProfileManager::firefoxSupportFolder(dirs));

    const fs::path flatpak = home.path() / ".var/app/org.mozilla.firefox/.mozilla/firefox";
    const fs::path snap = home.path() / "snap/firefox/common/.mozilla/firefox";
    const fs::path xdg = home.path() / "config/mozilla/firefox";
    const fs::path classic = home.path() / ".mozilla/firefox";
    fs::create_directories(flatpak);
    EXPECT_EQ(ProfileManager::firefoxSupportFolder(dirs), flatpak);
    fs::create_directories(snap);
    EXPECT_EQ(ProfileManager::firefoxSupportFolder(dirs), snap);
    fs::create_directories(xdg);
    EXPECT_EQ(ProfileManager::firefoxSupportFolder(dirs), xdg);
    // A file of that name is not Firefox's folder.
    writeFile(classic, "");
    EXPECT_EQ(ProfileManager::firefoxSupportFolder(dirs), xdg);
    fs::remove(classic);
    fs::create_directories(classic);
    EXPECT_EQ(ProfileManager::firefoxSupportFolder(dirs), classic);
}

// --- folders on disk and detection -------------------------------------------------------------

TEST(ProfileManager, FoldersOnDiskAreVisibleDirectoriesInNameOrder) {
    TempDir ff;
    makeProfileFolder(ff.path() / "zz.last");
    makeProfileFolder(ff.path() / "aa.first", false);
    makeProfileFolder(ff.path() / ".hidden.profile");
    writeFile(ff.path() / "profiles.ini", "");
    fs::create_directory_symlink(ff.path() / "zz.last", ff.path() / "mm.linked");
    EXPECT_EQ(
        ProfileManager::profileDirectoriesOnDisk(ff.path()),
        (std::vector<fs::path>{ff.path() / "aa.first", ff.path() / "mm.linked", ff.path() / "zz.last"}));
    EXPECT_EQ(
        describe(ProfileManager::discoverProfilesOnDisk(ff.path())),
        "linked|" + (ff.path() / "mm.linked").string() + "\nlast|" + (ff.path() / "zz.last").string() + "\n");
    EXPECT_TRUE(ProfileManager::profileDirectoriesOnDisk(ff.path() / "missing").empty());
}

TEST(ProfileManager, DetectionMergesRegistryAndDisk) {
    TempDir ff;
    TempDir outside;
    const fs::path main = makeProfileFolder(ff.path() / "a1.default-release");
    const fs::path work = makeProfileFolder(ff.path() / "b2.work");
    makeProfileFolder(ff.path() / "c3.noprefs", false);
    makeProfileFolder(ff.path() / "Crash Reports", false);
    makeProfileFolder(ff.path() / ".hidden.secret");
    const fs::path elsewhere = makeProfileFolder(outside.path() / "q9.elsewhere");
    makeProfileFolder(outside.path() / "q8.gone", false);
    writeFile(ff.path() / "profiles.ini",
              "[General]\nStartWithLastProfile=1\nVersion=2\n\n"
              "[Profile3]\nName=Outside\nIsRelative=0\nPath=" +
                  elsewhere.string() +
                  "\n\n"
                  "[Profile2]\nName=No prefs\nIsRelative=1\nPath=c3.noprefs\n\n"
                  "[Profile1]\nName=Vanished\nIsRelative=0\nPath=" +
                  (outside.path() / "q8.gone").string() +
                  "\n\n"
                  "[Profile0]\nName=Main\nIsRelative=1\nPath=a1.default-release\nDefault=1\n\n"
                  "[Install4F96D1932A9F858E]\nDefault=a1.default-release\nLocked=1\n");
    fake::FakeProcessInspector processes;
    Environment env{ff.path(), processes, fileReader};

    EXPECT_EQ(describe(ProfileManager::detectFirefoxProfiles(env)),
              "Main|" + main.string() + "|default\n" +      //
                  "Outside|" + elsewhere.string() + "\n" +  //
                  "work|" + work.string() + "\n");

    // Without the registry the folders on disk are all there is.
    fs::remove(ff.path() / "profiles.ini");
    EXPECT_EQ(describe(ProfileManager::detectFirefoxProfiles(env)),
              "default-release|" + main.string() + "\nwork|" + work.string() + "\n");

    // A registry that is not UTF-8 is skipped as a whole.
    writeFile(ff.path() / "profiles.ini",
              "[Profile0]\nName=M\xe9"
              "lanie\nIsRelative=1\nPath=b2.work\nDefault=1\n");
    EXPECT_EQ(describe(ProfileManager::detectFirefoxProfiles(env)),
              "default-release|" + main.string() + "\nwork|" + work.string() + "\n");

    // No Firefox folder at all.
    EXPECT_TRUE(
        ProfileManager::detectFirefoxProfiles(Environment{std::nullopt, processes, fileReader}).empty());
}

TEST(ProfileManager, UnusableRegistryIsReportedAndTheFoldersOnDiskRemain) {
    struct Case {
        std::string name;
        std::function<void(const fs::path& registry)> make;
        std::string problem;  // after the registry's path
    } cases[] = {
        {"larger than the limit",
         [](const fs::path& registry) {
             std::ofstream(registry) << "[Profile0]\nName=big\nIsRelative=1\nPath=b2.work\n";
             fs::resize_file(registry, ProfileManager::kMaxRegistrySize + 1);
         },
         " is too large (" + std::to_string(ProfileManager::kMaxRegistrySize + 1) + " bytes, at most " +
             std::to_string(ProfileManager::kMaxRegistrySize) + ")"},
        {"a named pipe", [](const fs::path& registry) { ASSERT_EQ(::mkfifo(registry.c_str(), 0600), 0); },
         " is not a regular file"},
        {"a link to a device", [](const fs::path& registry) { fs::create_symlink("/dev/zero", registry); },
         " is not a regular file"},
        {"a folder", [](const fs::path& registry) { fs::create_directory(registry); },
         " is not a regular file"},
    };
    for (const auto& c : cases) {
        TempDir ff;
        const fs::path work = makeProfileFolder(ff.path() / "b2.work");
        c.make(ff.path() / "profiles.ini");
        fake::FakeProcessInspector processes;
        std::string problem;
        EXPECT_EQ(describe(ProfileManager::detectFirefoxProfiles(
                      Environment{ff.path(), processes, fileReader}, &problem)),
                  "work|" + work.string() + "\n")
            << c.name;
        EXPECT_EQ(problem, (ff.path() / "profiles.ini").string() + c.problem) << c.name;
    }
}

// Lists the Firefox processes of another inspector and counts how often it is asked to.
class CountingInspector final : public platform::ProcessInspector {
  public:
    explicit CountingInspector(platform::ProcessInspector& inner) : inner_(inner) {}
    std::vector<int> firefoxProcesses() override {
        ++listings;
        return inner_.firefoxProcesses();
    }
    std::vector<std::string> openFiles(int pid) override { return inner_.openFiles(pid); }
    bool isProcessAlive(int pid) override { return inner_.isProcessAlive(pid); }
    LockState exclusiveLockState(const std::string& path) override { return inner_.exclusiveLockState(path); }
    std::optional<int> lockHolder(const std::string& path) override { return inner_.lockHolder(path); }
    int listings = 0;

  private:
    platform::ProcessInspector& inner_;
};

TEST(ProfileManager, EachDetectionListsTheProcessesOnce) {
    TempDir ff;
    fake::FakeProcessInspector processes;
    processes.firefox = {700, 701};
    for (int i = 10; i < 60; ++i) {
        // Folders without prefs.js are checked for a Firefox holding them.
        const fs::path folder =
            makeProfileFolder(ff.path() / ("p" + std::to_string(i) + ".x" + std::to_string(i)), i % 2 == 0);
        if (i == 41) processes.files[701] = {(folder / ".parentlock").string()};
    }
    CountingInspector counting(processes);
    Environment env{ff.path(), counting, fileReader};
    const auto profiles = ProfileManager::detectFirefoxProfiles(env);
    EXPECT_EQ(profiles.size(), 26u) << "25 with prefs.js and the one in use";
    EXPECT_EQ(counting.listings, 1);
    counting.listings = 0;
    EXPECT_EQ(names(ProfileManager::detectRunningProfiles(profiles, env)), (std::set<std::string>{"x41"}));
    EXPECT_EQ(counting.listings, 1);
}

TEST(ProfileManager, RegistryEntryThroughALinkReplacesTheFolderOnDisk) {
    TempDir ff;
    TempDir elsewhere;
    const fs::path work = makeProfileFolder(ff.path() / "b2.work");
    fs::create_directory_symlink(ff.path(), elsewhere.path() / "ff-link");
    writeFile(ff.path() / "profiles.ini",
              "[Profile0]\nName=Work\nIsRelative=0\nPath=" + (elsewhere.path() / "ff-link/b2.work").string() +
                  "\nDefault=1\n");
    fake::FakeProcessInspector processes;
    EXPECT_EQ(describe(ProfileManager::detectFirefoxProfiles(Environment{ff.path(), processes, fileReader})),
              "Work|" + (elsewhere.path() / "ff-link/b2.work").string() + "|default\n");
}

TEST(ProfileManager, FolderInUseWithoutPrefsIsListed) {
    TempDir ff;
    const fs::path fresh = makeProfileFolder(ff.path() / "n1.fresh", false);
    makeProfileFolder(ff.path() / "n2.idle", false);
    fake::FakeProcessInspector processes;
    processes.firefox = {4100};
    processes.files[4100] = {"/usr/lib/firefox/omni.ja", (fresh / ".parentlock").string()};
    Environment env{ff.path(), processes, fileReader};
    EXPECT_EQ(describe(ProfileManager::detectFirefoxProfiles(env)), "fresh|" + fresh.string() + "\n");

    // The registry may name it; its entry then wins although the folder has no prefs.js.
    writeFile(ff.path() / "profiles.ini",
              "[Profile0]\nName=New one\nIsRelative=1\nPath=n1.fresh\n[Profile1]\nName=Idle\nIsRelative=1\n"
              "Path=n2.idle\n");
    EXPECT_EQ(describe(ProfileManager::detectFirefoxProfiles(env)), "New one|" + fresh.string() + "\n");
}

TEST(ProfileManager, SharedRegistryNamesBecomeFolderNames) {
    TempDir ff;
    const fs::path a = makeProfileFolder(ff.path() / "a1.default");
    const fs::path b = makeProfileFolder(ff.path() / "b2.default");
    writeFile(ff.path() / "profiles.ini",
              "[Profile0]\nName=default\nIsRelative=1\nPath=b2.default\n"
              "[Profile1]\nName=default\nIsRelative=1\nPath=a1.default\n");
    fake::FakeProcessInspector processes;
    EXPECT_EQ(describe(ProfileManager::detectFirefoxProfiles(Environment{ff.path(), processes, fileReader})),
              "b2.default|" + b.string() + "\ndefault|" + a.string() + "\n");
}

TEST(ProfileManager, DefaultFirstThenNamesIgnoringCase) {
    TempDir ff;
    for (const char* folder : {"p1.zeta", "p2.Beta", "p3.alpha", "p4.Delta"})
        makeProfileFolder(ff.path() / folder);
    writeFile(ff.path() / "profiles.ini", "[Profile0]\nName=zeta\nIsRelative=1\nPath=p1.zeta\nDefault=1\n");
    fake::FakeProcessInspector processes;
    std::vector<std::string> order;
    for (const auto& p :
         ProfileManager::detectFirefoxProfiles(Environment{ff.path(), processes, fileReader})) {
        order.push_back(p.name);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"zeta", "alpha", "Beta", "Delta"}));
}

// --- lock owner and running profiles (scripted processes) --------------------------------------

TEST(ProfileManager, LockOwnerIsTheFirstFirefoxWithTheLockOpen) {
    TempDir ff;
    const fs::path work = makeProfileFolder(ff.path() / "b2.work");
    fs::create_directory_symlink(work, ff.path() / "link");
    const std::string lock = (work / ".parentlock").string();
    fake::FakeProcessInspector processes;
    Environment env{ff.path(), processes, fileReader};

    processes.files[12] = {lock};  // not a Firefox process
    processes.firefox = {30};
    EXPECT_EQ(ProfileManager::pidHoldingParentLock(work, env), std::nullopt);

    processes.firefox = {29, 31, 30};
    processes.files[29] = {"/dev/null", (work / "prefs.js").string()};
    processes.files[30] = {lock};
    processes.files[31] = {"/dev/null", lock};
    EXPECT_EQ(ProfileManager::pidHoldingParentLock(work, env), 31);
    // The folder's links are resolved before comparing.
    EXPECT_EQ(ProfileManager::pidHoldingParentLock(ff.path() / "link", env), 31);
}

TEST(ProfileManager, LockOwnerNamedByTheLockItself) {
    TempDir ff;
    const fs::path work = makeProfileFolder(ff.path() / "b2.work");
    const std::string lock = (work / ".parentlock").string();
    fake::FakeProcessInspector processes;
    Environment env{ff.path(), processes, fileReader};
    processes.firefox = {50, 51};
    processes.holders[lock] = 77;  // some other program
    EXPECT_EQ(ProfileManager::pidHoldingParentLock(work, env), std::nullopt);
    processes.holders[lock] = 51;
    EXPECT_EQ(ProfileManager::pidHoldingParentLock(work, env), 51);
}

TEST(ProfileManager, ParentLockHeldOnlyWhenAnotherProcessHoldsIt) {
    TempDir ff;
    const fs::path work = makeProfileFolder(ff.path() / "b2.work");
    fake::FakeProcessInspector processes;
    Environment env{ff.path(), processes, fileReader};
    EXPECT_FALSE(ProfileManager::isParentLockHeld(work, env));  // cannot open
    processes.locks[(work / ".parentlock").string()] = LockState::free;
    EXPECT_FALSE(ProfileManager::isParentLockHeld(work, env));
    processes.locks[(work / ".parentlock").string()] = LockState::held;
    EXPECT_TRUE(ProfileManager::isParentLockHeld(work, env));
}

TEST(ProfileManager, RunningProfilesByAnyOfTheThreeSigns) {
    TempDir ff;
    const fs::path a = makeProfileFolder(ff.path() / "a.owner");
    const fs::path b = makeProfileFolder(ff.path() / "b.locked");
    const fs::path c = makeProfileFolder(ff.path() / "c.legacy");
    const fs::path d = makeProfileFolder(ff.path() / "d.idle");
    const fs::path e = makeProfileFolder(ff.path() / "e.stale");
    fake::FakeProcessInspector processes;
    processes.firefox = {900};
    processes.files[900] = {(a / ".parentlock").string()};
    processes.locks[(b / ".parentlock").string()] = LockState::held;
    processes.locks[(d / ".parentlock").string()] = LockState::free;
    fs::create_symlink("10.0.0.2:+4242", c / "lock");
    fs::create_symlink("10.0.0.2:+4243", e / "lock");
    processes.alive = {4242};
    Environment env{ff.path(), processes, fileReader};

    std::vector<FirefoxProfile> profiles{{"owner", a, false},
                                         {"locked", b, false},
                                         {"legacy", c, false},
                                         {"idle", d, false},
                                         {"stale", e, false}};
    auto running = ProfileManager::detectRunningProfiles(profiles, env);
    EXPECT_EQ(names(running), (std::set<std::string>{"owner", "locked", "legacy"}));
    EXPECT_EQ(running.at("legacy"), (FirefoxProfile{"legacy", c, false}));

    // Of two running profiles with one name, the later one is kept.
    profiles = {{"twin", a, false}, {"twin", b, true}, {"twin", d, false}};
    running = ProfileManager::detectRunningProfiles(profiles, env);
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(running.at("twin"), (FirefoxProfile{"twin", b, true}));
}

// --- real links, locks and processes -----------------------------------------------------------

TEST(ProfileManager, LegacyLockLinkNamesALiveProcess) {
    TempDir ff;
    linux_backend::LinuxProcessInspector processes;
    Environment env{ff.path(), processes, fileReader};
    const std::string self = std::to_string(::getpid());
    const std::string dead = std::to_string(deadPid());
    struct Case {
        std::string target;
        bool alive;
    } cases[] = {
        {"127.0.1.1:+" + self, true},  {"127.0.1.1:" + self, true},      {"fe80::1:+" + self, true},
        {"127.0.1.1:+" + dead, false}, {"127.0.1.1+" + self, false},     {"127.0.1.1:abc", false},
        {"127.0.1.1:", false},         {"127.0.1.1:+", false},           {"127.0.1.1:+-" + self, false},
        {"127.0.1.1:-" + self, false}, {"127.0.1.1:0", false},           {"127.0.1.1:+" + self + "x", false},
        {"127.0.1.1: " + self, false}, {"127.0.1.1:+4294967297", false},
    };
    int n = 0;
    for (const auto& c : cases) {
        const fs::path folder = ff.path() / ("p" + std::to_string(n++));
        fs::create_directories(folder);
        fs::create_symlink(c.target, folder / "lock");
        EXPECT_EQ(ProfileManager::isLegacyLockSymlinkAlive(folder, env), c.alive) << c.target;
    }
    // A plain file or nothing at all is no sign of life.
    const fs::path plain = makeProfileFolder(ff.path() / "plain");
    writeFile(plain / "lock", "127.0.1.1:+" + self);
    EXPECT_FALSE(ProfileManager::isLegacyLockSymlinkAlive(plain, env));
    EXPECT_FALSE(ProfileManager::isLegacyLockSymlinkAlive(ff.path() / "missing", env));
}

// Runs the helper under the name "firefox", holding `profile`, until stopped.
class FakeFirefox {
  public:
    FakeFirefox(const fs::path& executable, const fs::path& profile) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        std::string exe = executable.string();
        std::string folder = profile.string();
        char* argv[] = {exe.data(), folder.data(), nullptr};
        if (::posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        ready_ = pid_ > 0 && readLine(fds[0]) == "ready";
        ::close(fds[0]);
    }
    ~FakeFirefox() { stop(); }
    FakeFirefox(const FakeFirefox&) = delete;
    FakeFirefox& operator=(const FakeFirefox&) = delete;

    int pid() const { return pid_; }
    bool ready() const { return ready_; }
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    static std::string readLine(int fd) {
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 200) <= 0) continue;
            char c;
            if (::read(fd, &c, 1) != 1) break;
            if (c == '\n') return line;
            line += c;
        }
        return line;
    }

    pid_t pid_ = -1;
    bool ready_ = false;
};

TEST(ProfileManager, FindsTheRealProcessHoldingAProfile) {
    TempDir bin;
    TempDir ff;
    const fs::path firefox = bin.path() / "firefox";
    fs::copy_file(QUENLIT_FAKE_FIREFOX, firefox);
    fs::permissions(firefox, fs::perms::owner_all, fs::perm_options::add);

    const fs::path work = makeProfileFolder(ff.path() / "aaaa.work");
    const fs::path home = makeProfileFolder(ff.path() / "bbbb.home");
    const fs::path fresh = makeProfileFolder(ff.path() / "cccc.fresh", false);
    writeFile(home / ".parentlock", "");  // left behind by a Firefox that has quit
    linux_backend::LinuxProcessInspector processes;
    Environment env{ff.path(), processes, fileReader};

    FakeFirefox first(firefox, work);
    FakeFirefox second(firefox, fresh);
    ASSERT_TRUE(first.ready());
    ASSERT_TRUE(second.ready());

    EXPECT_EQ(ProfileManager::pidHoldingParentLock(work, env), first.pid());
    EXPECT_EQ(ProfileManager::pidHoldingParentLock(fresh, env), second.pid());
    EXPECT_EQ(ProfileManager::pidHoldingParentLock(home, env), std::nullopt);
    EXPECT_TRUE(ProfileManager::isParentLockHeld(work, env));
    EXPECT_FALSE(ProfileManager::isParentLockHeld(home, env));

    // The folder in use is listed although it has no prefs.js yet.
    std::vector<FirefoxProfile> profiles = ProfileManager::detectFirefoxProfiles(env);
    EXPECT_EQ(describe(profiles),
              "fresh|" + fresh.string() + "\nhome|" + home.string() + "\nwork|" + work.string() + "\n");
    EXPECT_EQ(names(ProfileManager::detectRunningProfiles(profiles, env)),
              (std::set<std::string>{"fresh", "work"}));

    first.stop();
    second.stop();
    EXPECT_EQ(ProfileManager::pidHoldingParentLock(work, env), std::nullopt);
    EXPECT_FALSE(ProfileManager::isParentLockHeld(work, env));
    profiles = ProfileManager::detectFirefoxProfiles(env);
    EXPECT_EQ(describe(profiles), "home|" + home.string() + "\nwork|" + work.string() + "\n");
    EXPECT_TRUE(ProfileManager::detectRunningProfiles(profiles, env).empty());
}

}  // namespace
}  // namespace quenlit
