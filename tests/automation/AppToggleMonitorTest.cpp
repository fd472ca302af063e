#include "automation/AppToggleMonitor.h"

#include "backends/fake/FakeInput.h"
#include "backends/fake/FakeWindowControl.h"
#include "backends/fake/FakeWorkspace.h"
#include "backends/fake/VirtualScheduler.h"
#include "backends/linux/PosixFileReader.h"
#include "base/Log.h"
#include "panel/FocusRestorer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <map>

namespace quenlit {
namespace {

using platform::EventType;
using M = platform::Modifiers;
namespace key = platform::keysym;

constexpr std::uint32_t kK = 'k';
constexpr std::uint32_t kJ = 'j';
constexpr M kControl{.control = true};
constexpr M kLeftControl{.control = true, .leftControl = true};
constexpr M kRightControl{.control = true, .rightControl = true};

const std::string kToggleK =
    "[[toggle]]\nkey = \"k\"\nbundle_id = \"com.example.App\"\nmodifiers = [\"leftControl\"]\n";
const std::string kToggleFiles =
    "[[toggle]]\nkey = \"space\"\napp = \"Files\"\nmodifiers = [\"leftControl\"]\n";

const std::string kPromptLine =
    "Accessibility not trusted — prompting once (required for clipboard ⌘V / window snap / text expander / "
    "app "
    "toggle)";
const std::string kDeniedLine =
    "Accessibility still denied — enable Quenlit in Privacy → Accessibility, then fully quit & relaunch "
    "Quenlit";

platform::RunningApplication app(int pid, std::optional<std::string> bundle, std::optional<std::string> name,
                                 platform::ActivationPolicy policy = platform::ActivationPolicy::regular) {
    platform::RunningApplication a;
    a.processIdentifier = pid;
    a.bundleIdentifier = std::move(bundle);
    a.localizedName = std::move(name);
    a.activationPolicy = policy;
    return a;
}

platform::InputEvent event(EventType type, std::uint32_t keysym, M modifiers, bool autorepeat = false,
                           std::uint32_t keycode = 0) {
    platform::InputEvent e;
    e.type = type;
    e.keysym = keysym;
    e.keycode = keycode;
    e.modifiers = modifiers;
    e.autorepeat = autorepeat;
    return e;
}

class AppToggleMonitorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        FocusRestorer::resetFlagsForTesting();
        log::installSinks({sink});
    }
    void TearDown() override { log::installSinks({}); }

    AppToggleMonitor::Files files() const {
        return {dir / "config/quenlit/bindings.toml", {dir / "data/applications", dir / "usr/applications"}};
    }
    void makeMonitor() {
        monitor = std::make_unique<AppToggleMonitor>(
            AppToggleMonitor::Services{keyboard, workspace, windowControl, scheduler, fileReader}, files());
    }
    void startWith(const std::string& text) {
        testing::writeFile(files().bindingsFile, text);
        makeMonitor();
        monitor->start();
    }
    // The log without its prefix.
    std::vector<std::string> logged() const {
        std::vector<std::string> lines;
        for (const auto& line : sink->lines())
            lines.push_back(line.substr(log::kPrefix.size()));
        return lines;
    }
    std::vector<std::string> takeLog() {
        auto lines = logged();
        sink->clear();
        return lines;
    }
    bool deliver(EventType type, std::uint32_t keysym, M modifiers, bool autorepeat = false,
                 std::uint32_t keycode = 0) {
        return keyboard.deliver(event(type, keysym, modifiers, autorepeat, keycode));
    }
    // A whole press of Left Control + key; returns whether the key down and up reached applications.
    std::pair<bool, bool> chord(std::uint32_t keysym, M modifiers = kLeftControl, std::uint32_t keycode = 0) {
        deliver(EventType::flagsChanged, key::controlL, modifiers, false, 37);
        const bool down = deliver(EventType::keyDown, keysym, modifiers, false, keycode);
        const bool up = deliver(EventType::keyUp, keysym, modifiers, false, keycode);
        deliver(EventType::flagsChanged, key::controlL, {}, false, 37);
        return {down, up};
    }

    testing::TempDir dir;
    std::shared_ptr<log::MemorySink> sink = std::make_shared<log::MemorySink>();
    fake::FakeKeyboardEvents keyboard;
    fake::FakeWorkspace workspace;
    fake::FakeWindowControl windowControl;
    fake::VirtualScheduler scheduler;
    linux_backend::PosixFileReader fileReader;
    std::unique_ptr<AppToggleMonitor> monitor;
};

TEST_F(AppToggleMonitorTest, StartLogsEachBindingThenInstallsTheTap) {
    startWith("# mine\n" + kToggleK + kToggleFiles);
    EXPECT_EQ(logged(), (std::vector<std::string>{"apptoggle: binding leftControl+k → com.example.App",
                                                  "apptoggle: binding leftControl+space → Files",
                                                  "apptoggle: event tap active",
                                                  "apptoggle: start bindings=2 ax=1 tap=1"}));
    EXPECT_EQ(monitor->bindings().size(), 2u);
    EXPECT_EQ(keyboard.tapCount(), 1u);
    EXPECT_EQ(keyboard.enabledTapCount(), 1u);
    // A desktop that grabs keys one by one is told which: k and space.
    EXPECT_EQ(keyboard.swallowableKeys, (std::vector<std::uint32_t>{'k', ' '}));
    EXPECT_EQ(windowControl.promptCount, 0);
}

TEST_F(AppToggleMonitorTest, LeftControlKSwallowsDownAndUpAndTogglesOnce) {
    workspace.running = {app(42, "com.example.App", "Example")};
    startWith(kToggleK);
    sink->clear();

    deliver(EventType::flagsChanged, key::controlL, kLeftControl);
    EXPECT_FALSE(deliver(EventType::keyDown, kK, kLeftControl));
    EXPECT_TRUE(workspace.calls().empty()) << "the action never runs inside the tap";
    EXPECT_TRUE(deliver(EventType::keyDown, kK, kLeftControl, true)) << "autorepeat reaches the application";
    EXPECT_TRUE(deliver(EventType::keyDown, kK, kLeftControl, true));
    EXPECT_FALSE(deliver(EventType::keyUp, kK, kLeftControl));
    EXPECT_TRUE(deliver(EventType::flagsChanged, key::controlL, {}));
    scheduler.runPending();

    EXPECT_EQ(workspace.calls(), std::vector<std::string>{"activate 42 allWindows=true"});
    EXPECT_EQ(logged(), std::vector<std::string>{"apptoggle: activate com.example.App pid=42 ok=true"});
}

TEST_F(AppToggleMonitorTest, OnlyLeftControlAloneMatches) {
    workspace.running = {app(42, "com.example.App", "Example")};
    startWith(kToggleK);
    struct Case {
        std::string name;
        std::uint32_t keysym;
        M modifiers;
        bool passes;
        std::uint32_t keycode = 0;
    } cases[] = {
        {"left Control", kK, kLeftControl, false},
        {"both Controls, the left one said",
         kK,
         {.control = true, .leftControl = true, .rightControl = true},
         false},
        {"right Control", kK, kRightControl, true},
        {"left Control + Shift", 'K', {.shift = true, .control = true, .leftControl = true}, true},
        {"left Control + Alt", kK, {.control = true, .alt = true, .leftControl = true}, true},
        {"left Control + Super", kK, {.control = true, .super = true, .leftControl = true}, true},
        {"left Control key said without Control", kK, {.leftControl = true}, true},
        {"no modifier", kK, {}, true},
        {"unbound key", kJ, kLeftControl, true},
        {"the key labelled K on a Dvorak layout", kK, kLeftControl, false, 55},
        {"the K key on a Russian layout", 0x6cc, kLeftControl, false, 45},
        {"the Dvorak layout's j on the K key", kJ, kLeftControl, true, 45},
    };
    for (const auto& c : cases) {
        workspace.clearCalls();
        const auto [down, up] = chord(c.keysym, c.modifiers, c.keycode);
        EXPECT_EQ(down, c.passes) << c.name;
        EXPECT_EQ(up, c.passes) << c.name;
        scheduler.runPending();
        EXPECT_EQ(workspace.calls().size(), c.passes ? 0u : 1u) << c.name;
    }
}

TEST_F(AppToggleMonitorTest, KeyboardThatDoesNotSayWhichControlUsesTheLastControlChange) {
    startWith(kToggleK);
    // Before any Control change, Control without saying which key is not known to be the left key.
    EXPECT_TRUE(deliver(EventType::keyDown, kK, kControl));
    EXPECT_TRUE(deliver(EventType::flagsChanged, key::controlL, kControl));
    EXPECT_FALSE(deliver(EventType::keyDown, kK, kControl));
    EXPECT_FALSE(deliver(EventType::keyUp, kK, kControl));
    // Other modifier keys leave the state alone.
    EXPECT_TRUE(deliver(EventType::flagsChanged, key::shiftL, M{.shift = true, .control = true}));
    EXPECT_FALSE(deliver(EventType::keyDown, kK, kControl));
    // A right Control change without the left key: left Control is no longer believed held.
    EXPECT_TRUE(deliver(EventType::flagsChanged, key::controlR, kControl));
    EXPECT_TRUE(deliver(EventType::keyDown, kK, kControl));
    // A right Control change that reports the left key too.
    EXPECT_TRUE(deliver(EventType::flagsChanged, key::controlR, kLeftControl));
    EXPECT_FALSE(deliver(EventType::keyDown, kK, kControl));
    // The left key with the right one said is the right key being reported through the left one.
    EXPECT_TRUE(deliver(EventType::flagsChanged, key::controlL, kRightControl));
    EXPECT_TRUE(deliver(EventType::keyDown, kK, kControl));
    // A remembered left Control never counts while the right key is said to be down.
    EXPECT_TRUE(deliver(EventType::flagsChanged, key::controlL, kControl));
    EXPECT_TRUE(deliver(EventType::keyDown, kK, kRightControl));
    // Releasing Control.
    EXPECT_TRUE(deliver(EventType::flagsChanged, key::controlL, {}));
    EXPECT_TRUE(deliver(EventType::keyDown, kK, kControl));
}

TEST_F(AppToggleMonitorTest, HidesWhenFrontmostActivatesWhenRunningLaunchesOtherwise) {
    testing::writeFile(dir / "usr/applications/Files.desktop", "[Desktop Entry]\n");
    workspace.running = {app(7, "org.other", "Other"), app(42, std::nullopt, "files")};
    workspace.frontmostProcess = 42;
    startWith(kToggleFiles);
    sink->clear();

    chord(key::space);
    scheduler.runPending();
    // The desktop moves on to another application once Files is hidden.
    workspace.frontmostProcess = 7;
    chord(key::space);
    scheduler.runPending();
    workspace.running.pop_back();
    chord(key::space);
    scheduler.runPending();

    const std::string desktopFile = (dir / "usr/applications/Files.desktop").string();
    EXPECT_EQ(workspace.calls(),
              (std::vector<std::string>{"hide 42", "activate 42 allWindows=true",
                                        "openApplication " + desktopFile + " activates=true"}));
    EXPECT_EQ(logged(), (std::vector<std::string>{"apptoggle: hide Files pid=42 ok=true",
                                                  "apptoggle: activate Files pid=42 ok=true",
                                                  "apptoggle: launch Files path=" + desktopFile}));
}

TEST_F(AppToggleMonitorTest, MissingApplicationsAndLaunchErrorsAreLogged) {
    startWith(kToggleFiles);
    sink->clear();
    monitor->handleToggle(monitor->bindings()[0]);
    workspace.installed = {
        {"org.gnome.Nautilus", "/usr/share/applications/org.gnome.Nautilus.desktop", "Files", ""}};
    workspace.launchError = [](const std::string&, const platform::OpenConfiguration&) {
        return std::optional<std::string>("Failed to execute child process “nautilus”");
    };
    monitor->handleToggle(monitor->bindings()[0]);
    EXPECT_EQ(logged(), (std::vector<std::string>{
                            "apptoggle: app not found Files",
                            "apptoggle: launch failed Files — Failed to execute child process “nautilus”",
                        }));
}

TEST_F(AppToggleMonitorTest, ResolveComparesBundleIdentifierFirstAndSkipsNonRegularApplications) {
    const std::vector<std::filesystem::path> folders = {dir / "a", dir / "b"};
    testing::writeFile(dir / "b/Notes.desktop", "");
    workspace.installed = {{"com.example.App", "/apps/com.example.App.desktop", "Example", ""}};
    AppToggleLookup lookup{workspace, folders};
    auto accessory = app(5, "com.example.App", "Example", platform::ActivationPolicy::accessory);
    auto terminated = app(6, "com.example.App", "Example");
    terminated.isTerminated = true;
    const auto regular = app(8, "com.example.App", "Example");
    const auto notes = app(9, "org.notes", "NOTES");
    struct Case {
        std::string name;
        std::optional<std::string> bundle;
        std::optional<std::string> appName;
        std::optional<platform::RunningApplication> frontmost;
        std::vector<platform::RunningApplication> running;
        AppToggleAction expected;
    } cases[] = {
        {"frontmost target",
         "com.example.App",
         std::nullopt,
         regular,
         {notes, regular},
         AppToggleAction::hide(regular)},
        {"first running target",
         "com.example.App",
         std::nullopt,
         notes,
         {notes, regular, regular},
         AppToggleAction::activate(regular)},
        {"accessory and terminated are no targets",
         "com.example.App",
         std::nullopt,
         accessory,
         {accessory, terminated},
         AppToggleAction::launch("/apps/com.example.App.desktop")},
        {"name ignoring case",
         std::nullopt,
         "notes",
         std::nullopt,
         {regular, notes},
         AppToggleAction::activate(notes)},
        {"identifier decides, the name is not compared",
         "org.none",
         "Notes",
         std::nullopt,
         {notes},
         AppToggleAction::launch((dir / "b/Notes.desktop").string())},
        {"nothing runs, no file", std::nullopt, "Missing", std::nullopt, {}, AppToggleAction::notFound()},
        {"no target at all", std::nullopt, std::nullopt, regular, {regular}, AppToggleAction::notFound()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AppToggleAction::resolve(c.bundle, c.appName, c.frontmost, c.running, lookup), c.expected)
            << c.name;
    }
}

TEST_F(AppToggleMonitorTest, ResolveURLLooksForTheDesktopFileThenTheEntryName) {
    const std::vector<std::filesystem::path> folders = {dir / "home", dir / "usr", dir / "local"};
    testing::writeFile(dir / "usr/notes.desktop", "");
    testing::writeFile(dir / "local/notes.desktop", "");
    testing::writeFile(dir / "local/Editor.desktop", "");
    testing::writeFile(dir / "usr/sub/deep.desktop", "");
    testing::writeFile(dir / "usr/org.gnome.Files.desktop", "");
    std::filesystem::create_directories(dir / "home/Folder.desktop");
    workspace.installed = {
        {"org.gnome.Nautilus", "/x/org.gnome.Nautilus.desktop", "Files", ""},
        {"second", "/x/second.desktop", "files", ""},
        {"deep-name", "/x/sub-deep.desktop", "sub/deep", ""},
    };
    AppToggleLookup lookup{workspace, folders};
    struct Case {
        std::string name;
        std::optional<std::string> bundle;
        std::optional<std::string> appName;
        std::optional<std::string> path;
    } cases[] = {
        {"by identifier", "org.gnome.Nautilus", "notes", "/x/org.gnome.Nautilus.desktop"},
        {"unknown identifier falls back to the name", "org.none", "notes",
         (dir / "usr/notes.desktop").string()},
        {"first folder in order", std::nullopt, "notes", (dir / "usr/notes.desktop").string()},
        {"suffix not doubled", std::nullopt, "org.gnome.Files.desktop",
         (dir / "usr/org.gnome.Files.desktop").string()},
        {"file name is case-sensitive, Name is not", std::nullopt, "FILES", "/x/org.gnome.Nautilus.desktop"},
        {"file name as written", std::nullopt, "Editor", (dir / "local/Editor.desktop").string()},
        {"a folder is no desktop file", std::nullopt, "Folder", std::nullopt},
        {"subfolders are not searched", std::nullopt, "sub/deep", "/x/sub-deep.desktop"},
        {"absolute names stay inside the folders", std::nullopt, (dir / "usr/notes").string(), std::nullopt},
        {"nothing", std::nullopt, "Nothing", std::nullopt},
        {"blank identifier and no name", "", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AppToggleAction::resolveURL(c.bundle, c.appName, lookup), c.path) << c.name;
}

TEST_F(AppToggleMonitorTest, TapCreationFailureIsLoggedOnceUntilATapIsCreated) {
    keyboard.failure = Failure::unsupported("no tap");
    startWith(kToggleK);
    monitor->installTapIfPossible();
    monitor->installTapIfPossible();
    EXPECT_EQ(takeLog(), (std::vector<std::string>{"apptoggle: binding leftControl+k → com.example.App",
                                                   "apptoggle: failed to create event tap",
                                                   "apptoggle: start bindings=1 ax=1 tap=0"}));
    EXPECT_FALSE(monitor->hasTap());

    keyboard.failure.reset();
    monitor->installTapIfPossible();
    monitor->installTapIfPossible();  // already there
    EXPECT_EQ(keyboard.tapCount(), 1u);
    monitor->tearDownTap();
    EXPECT_EQ(keyboard.tapCount(), 0u);
    EXPECT_TRUE(deliver(EventType::keyDown, kK, kLeftControl));
    keyboard.failure = Failure::unsupported("no tap");
    monitor->installTapIfPossible();
    EXPECT_EQ(takeLog(), (std::vector<std::string>{"apptoggle: event tap active",
                                                   "apptoggle: failed to create event tap"}));
}

TEST_F(AppToggleMonitorTest, RunLoopSourceFailureDiscardsTheTap) {
    keyboard.failure = Failure{"no run-loop source"};
    startWith(kToggleK);
    monitor->installTapIfPossible();
    EXPECT_EQ(logged(), (std::vector<std::string>{"apptoggle: binding leftControl+k → com.example.App",
                                                  "apptoggle: failed to create run-loop source",
                                                  "apptoggle: start bindings=1 ax=1 tap=0",
                                                  "apptoggle: failed to create run-loop source"}));
    EXPECT_EQ(keyboard.tapCount(), 0u);
}

TEST_F(AppToggleMonitorTest, ADisabledTapIsEnabledAgainFromTheMainQueue) {
    for (EventType reason : {EventType::tapDisabledByTimeout, EventType::tapDisabledByUserInput}) {
        workspace.running = {app(42, "com.example.App", "Example")};
        startWith(kToggleK);
        sink->clear();
        keyboard.disableTaps(reason);
        EXPECT_EQ(keyboard.enabledTapCount(), 0u);
        EXPECT_TRUE(logged().empty());
        scheduler.runPending();
        EXPECT_EQ(keyboard.enabledTapCount(), 1u);
        EXPECT_EQ(takeLog(), std::vector<std::string>{"apptoggle: re-enabled tap after disable"});
        EXPECT_FALSE(chord(kK).first);
        monitor.reset();
        scheduler.runPending();
    }
}

TEST_F(AppToggleMonitorTest, UntrustedAtLaunchDefersTheTap) {
    windowControl.trusted = false;
    startWith(kToggleK);
    EXPECT_EQ(logged(),
              (std::vector<std::string>{"apptoggle: binding leftControl+k → com.example.App", kPromptLine,
                                        kDeniedLine, "apptoggle: tap deferred — Accessibility not trusted",
                                        "apptoggle: start bindings=1 ax=0 tap=0"}));
    EXPECT_EQ(windowControl.promptCount, 1);
    EXPECT_EQ(keyboard.tapCount(), 0u);
    EXPECT_FALSE(monitor->hasTap());
}

TEST_F(AppToggleMonitorTest, NoUsableBindingsMeansNoTapAndNoTrustRequest) {
    windowControl.trusted = false;
    const std::string path = files().bindingsFile.string();
    struct Case {
        std::string name;
        std::optional<std::string> text;  // nothing: no file
        std::vector<std::string> lines;
    } cases[] = {
        {"missing file", std::nullopt, {"apptoggle: no bindings (create " + path + ")"}},
        {"no toggles", "# later\n", {"apptoggle: no bindings (create " + path + ")"}},
        {"parse error anywhere",
         kToggleK + "[[toggle]]\nkey = \"F1\"\napp = \"Notes\"\nmodifiers = [\"leftControl\"]\n",
         {"apptoggle: load failed — unknown key \"F1\"", "apptoggle: no bindings (create " + path + ")"}},
        {"not UTF-8",
         kToggleK + "# caf\xE9\n",
         {"apptoggle: load failed — cannot read " + path, "apptoggle: no bindings (create " + path + ")"}},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(dir / "config");
        if (c.text) testing::writeFile(files().bindingsFile, *c.text);
        makeMonitor();
        monitor->start();
        EXPECT_EQ(takeLog(), c.lines) << c.name;
        EXPECT_TRUE(monitor->bindings().empty()) << c.name;
        EXPECT_EQ(keyboard.tapCount(), 0u) << c.name;
        EXPECT_EQ(windowControl.promptCount, 0) << c.name;
    }
}

TEST_F(AppToggleMonitorTest, PendingTogglesDoNothingOnceTheMonitorIsGone) {
    workspace.running = {app(42, "com.example.App", "Example")};
    startWith(kToggleK);
    EXPECT_FALSE(chord(kK).first);
    monitor.reset();
    EXPECT_EQ(keyboard.tapCount(), 0u);
    scheduler.runPending();
    EXPECT_TRUE(workspace.calls().empty());
}

TEST(AppToggleMonitorFiles, ApplicationFoldersFollowTheXdgOrder) {
    auto files = [](std::map<std::string, std::string> env) {
        auto dirs = XdgDirs::fromEnvironment([&env](const char* name) -> const char* {
            auto it = env.find(name);
            return it == env.end() ? nullptr : it->second.c_str();
        });
        return AppToggleMonitor::Files::forUser(dirs, [&env](const char* name) -> const char* {
            auto it = env.find(name);
            return it == env.end() ? nullptr : it->second.c_str();
        });
    };
    const auto defaults = files({{"HOME", "/home/me"}});
    EXPECT_EQ(defaults.bindingsFile, "/home/me/.config/quenlit/bindings.toml");
    EXPECT_EQ(
        defaults.applicationDirectories,
        (std::vector<std::filesystem::path>{"/home/me/.local/share/applications",
                                            "/usr/local/share/applications", "/usr/share/applications"}));
    const auto custom = files({{"HOME", "/home/me"},
                               {"XDG_CONFIG_HOME", "/cfg"},
                               {"XDG_DATA_HOME", "/data"},
                               {"XDG_DATA_DIRS", "/opt/share:relative/share::/usr/share"}});
    EXPECT_EQ(custom.bindingsFile, "/cfg/quenlit/bindings.toml");
    EXPECT_EQ(custom.applicationDirectories,
              (std::vector<std::filesystem::path>{"/data/applications", "/opt/share/applications",
                                                  "/usr/share/applications"}));
}

}  // namespace
}  // namespace quenlit
