#include "launcher/ContentView.h"

#include "backends/fake/FakeNotifications.h"
#include "backends/fake/FakePasteboard.h"
#include "backends/fake/FakeProcesses.h"
#include "backends/fake/FakeWindowControl.h"
#include "backends/fake/FakeWorkspace.h"
#include "backends/fake/VirtualScheduler.h"
#include "backends/linux/PosixFileReader.h"
#include "base/Log.h"
#include "support/TempDir.h"

#include "QuenlitVersion.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace quenlit {
namespace {

using platform::Seconds;
using testing::TempDir;
using testing::writeFile;

constexpr int kMailPid = 300;

class ContentViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        log::installSinks({logSink});
        workspace.ownProcess = 4242;
    }
    void TearDown() override { log::installSinks({}); }

    platform::InstalledApplication entry(const std::string& id, const std::string& name,
                                         std::string icon = "") {
        return {id, "/usr/share/applications/" + id + ".desktop", name, std::move(icon)};
    }
    void installTools(int count) {
        workspace.installed.clear();
        for (int i = 0; i < count; ++i) {
            const std::string letter(1, static_cast<char>('A' + i));
            workspace.installed.push_back(entry("tool" + letter, "Tool " + letter));
        }
    }
    ContentView::Services services() {
        return {scheduler,
                notifications,
                pasteboard,
                workspace,
                {workspace, [this] { return profiles; },
                 [this](const std::vector<FirefoxProfile>&) { return runningProfiles; }},
                {runner, dir.path()},
                {{workspace, windowControl, &desktopNotifications}, {firefoxFolder, inspector, fileReader}},
                [this] { ++quits; }};
    }
    ContentView& makeView() {
        view = std::make_unique<ContentView>(
            navigation, services(), [this] { ++dismisses; },
            [this](WindowSnap::Command command) { snaps.push_back(command); });
        scheduler.runPending();  // the index's first scan
        return *view;
    }
    // Selects the first row of `kind` and chooses it, as Return does.
    void chooseFirst(AppItemKind::Case kind) {
        const auto rows = view->rows();
        auto it = std::find_if(rows.begin(), rows.end(), [&](const AppItem& r) { return r.kind == kind; });
        ASSERT_NE(it, rows.end());
        navigation.setSelectedIndex(it - rows.begin());
        notifications.post(Notification::launchSelectedApp);
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& row : view->rows())
            out.push_back(row.name);
        return out;
    }
    bool logged(const std::string& message) const {
        const auto lines = logSink->lines();
        return std::find(lines.begin(), lines.end(), std::string(log::kPrefix) + message) != lines.end();
    }

    TempDir dir;
    fake::VirtualScheduler scheduler;
    fake::FakeWorkspace workspace;
    fake::FakePasteboard pasteboard;
    fake::FakeWindowControl windowControl;
    fake::FakeProcessRunner runner;
    fake::FakeProcessInspector inspector;
    linux_backend::PosixFileReader fileReader;
    std::optional<std::filesystem::path> firefoxFolder;
    std::vector<FirefoxProfile> profiles;
    std::map<std::string, FirefoxProfile> runningProfiles;
    NotificationCenter notifications;
    fake::FakeNotifications desktopNotifications;
    NavigationState navigation;
    int quits = 0;
    int dismisses = 0;
    std::vector<WindowSnap::Command> snaps;
    std::unique_ptr<ContentView> view;
    std::shared_ptr<log::MemorySink> logSink = std::make_shared<log::MemorySink>();
};

TEST_F(ContentViewTest, EmptyStatesTellAnEmptyQueryFromOneWithoutResults) {
    auto& v = makeView();
    auto p = v.presentation();
    ASSERT_TRUE(p.emptyState);
    EXPECT_EQ(p.emptyState->symbol, "keyboard");
    EXPECT_EQ(p.emptyState->text, "Start typing to search…");
    EXPECT_FALSE(p.showsClearButton);
    EXPECT_EQ(p.versionLabel, "v" QUENLIT_VERSION);

    v.setQuery("qqxzv");
    p = v.presentation();
    ASSERT_TRUE(p.emptyState);
    EXPECT_EQ(p.emptyState->symbol, "magnifyingglass");
    EXPECT_EQ(p.emptyState->text, "No results");
    EXPECT_TRUE(p.showsClearButton);
    EXPECT_TRUE(p.rows.empty());
}

TEST_F(ContentViewTest, EmptyQueryListsTheApplicationsToSwitchTo) {
    workspace.installed = {entry("org.gnome.Mail", "Mail"), entry("maps", "Maps")};
    workspace.running = {{kMailPid, "org.gnome.Mail", workspace.installed[0].path, "Mail"}};
    auto& v = makeView();
    EXPECT_EQ(names(), std::vector<std::string>{"Mail"});
    EXPECT_FALSE(v.presentation().emptyState);
}

TEST_F(ContentViewTest, RowsCarryWhatTheListDraws) {
    workspace.installed = {entry("org.gnome.Mail", "Mail", "mail-client"), entry("maps", "Maps")};
    workspace.running = {{kMailPid, "org.gnome.Mail", workspace.installed[0].path, "Mail"}};
    auto& v = makeView();
    v.setQuery("ma");
    auto p = v.presentation();
    ASSERT_GE(p.rows.size(), 2u);
    const auto mail =
        std::find_if(p.rows.begin(), p.rows.end(), [](const auto& r) { return r.name == "Mail"; });
    const auto maps =
        std::find_if(p.rows.begin(), p.rows.end(), [](const auto& r) { return r.name == "Maps"; });
    ASSERT_NE(mail, p.rows.end());
    ASSERT_NE(maps, p.rows.end());
    EXPECT_EQ(mail->icon, IconRef::theme("mail-client"));
    EXPECT_TRUE(mail->isRunning);
    EXPECT_EQ(maps->icon.source, IconRef::Source::symbol);
    EXPECT_EQ(maps->icon.name, "app.dashed");
    EXPECT_FALSE(maps->isRunning);
    EXPECT_EQ(mail->nameWeight, ContentView::NameWeight::medium);
    EXPECT_TRUE(p.rows[0].isSelected);
    EXPECT_FALSE(p.rows[1].isSelected);
    EXPECT_EQ(p.rows[0].id, v.rows()[0].id);

    v.setQuery("1000*1000");
    p = v.presentation();
    ASSERT_FALSE(p.rows.empty());
    EXPECT_EQ(p.rows[0].name, "1,000,000");
    EXPECT_EQ(p.rows[0].nameWeight, ContentView::NameWeight::semibold);
    EXPECT_TRUE(p.rows[0].secondaryText);
    EXPECT_TRUE(p.rows[0].secondaryTextSingleLine);
}

TEST_F(ContentViewTest, ChangingTheQuerySelectsTheFirstRowAndAsksZoxide) {
    installTools(5);
    auto& v = makeView();
    v.setQuery("tool");
    navigation.setSelectedIndex(3);
    v.setQuery("tool b");
    EXPECT_EQ(navigation.selectedIndex(), 0);
    EXPECT_EQ(navigation.maxIndex(), static_cast<std::int64_t>(v.rows().size()) - 1);

    runner.executables = {"/usr/local/bin/zoxide"};
    std::filesystem::create_directories(dir.path() / "src/proj");
    runner.respond = [this](const std::string&, const std::vector<std::string>&) {
        return platform::ProcessOutcome{0, (dir.path() / "src/proj").string() + "\n", ""};
    };
    v.setQuery("z proj");
    const std::uint64_t generation = v.appIndex().zoxideGeneration();
    EXPECT_TRUE(logged("zoxide: query gen=" + std::to_string(generation) + " proj"));
    EXPECT_TRUE(v.rows().empty());
    scheduler.runPending();
    ASSERT_EQ(names(), std::vector<std::string>{"proj"});
    EXPECT_EQ(navigation.maxIndex(), 0);

    notifications.post(Notification::launchSelectedApp);
    EXPECT_EQ(workspace.calls().back(), "open " + (dir.path() / "src/proj").string());
    EXPECT_EQ(v.query(), "");
    EXPECT_EQ(dismisses, 1);
}

TEST_F(ContentViewTest, ChoosingTheZoxideRowRecordsTheVisitInTheBackgroundAndAFolderShortcutDoesNot) {
    runner.executables = {"/usr/local/bin/zoxide"};
    const std::string proj = (dir.path() / "src/proj").string();
    std::filesystem::create_directories(proj);
    runner.respond = [&](const std::string&, const std::vector<std::string>& arguments) {
        return platform::ProcessOutcome{0, arguments.front() == "query" ? proj + "\n" : "", ""};
    };
    auto& v = makeView();
    struct Case {
        const char* query;
        std::vector<std::string> recorded;  // the runs after the lookup's
    };
    const std::vector<Case> cases{
        {"z proj", {"/usr/local/bin/zoxide add -- " + proj}},
        {"dl", {}},  // the Downloads shortcut is a folder row too
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        v.setQuery(c.query);
        scheduler.runPending();
        const std::size_t before = runner.runs().size();
        chooseFirst(AppItem::Kind::folder);
        EXPECT_EQ(runner.runs().size(), before) << "nothing runs on the main thread";
        scheduler.runPending();
        const auto runs = runner.runs();
        EXPECT_EQ(std::vector<std::string>(runs.begin() + static_cast<std::ptrdiff_t>(before), runs.end()),
                  c.recorded);
    }
}

TEST_F(ContentViewTest, ShowingResetsTheSelectionReindexesAndFocusesTheFieldShortlyAfter) {
    installTools(3);
    auto& v = makeView();
    v.setQuery("tool");
    navigation.setSelectedIndex(2);
    workspace.installed.push_back(entry("toolD", "Tool D"));
    notifications.post(Notification::launcherWillShow);
    EXPECT_EQ(navigation.selectedIndex(), 0);
    EXPECT_EQ(v.rows().size(), 3u) << "the new catalogue is not there yet";
    EXPECT_FALSE(v.isSearchFocused());
    scheduler.advance(Seconds(0.04));
    EXPECT_FALSE(v.isSearchFocused());
    EXPECT_EQ(v.rows().size(), 4u);
    EXPECT_EQ(navigation.maxIndex(), 3);
    scheduler.advance(Seconds(0.01));
    EXPECT_TRUE(v.isSearchFocused());
    EXPECT_TRUE(v.presentation().searchSymbolHighlighted);
}

TEST_F(ContentViewTest, EachShowingHandsTheFieldTheKeyboardWithTheKeptQuerySelected) {
    installTools(3);
    auto& v = makeView();
    int redraws = 0;
    Connection c = v.changed.connect([&] { ++redraws; });
    v.setQuery("2+2");
    EXPECT_FALSE(v.isFieldActivationPending()) << "typing leaves the caret where it is";
    const int before = redraws;
    notifications.post(Notification::launcherWillShow);
    EXPECT_TRUE(v.isFieldActivationPending());
    EXPECT_GT(redraws, before) << "the view hears of it at once, before the panel takes the keyboard";
    EXPECT_EQ(v.query(), "2+2") << "the query survives hiding";
    v.fieldActivated();
    EXPECT_FALSE(v.isFieldActivationPending());
    v.setQuery("3*3");
    EXPECT_FALSE(v.isFieldActivationPending());
    notifications.post(Notification::launcherWillShow);
    EXPECT_TRUE(v.isFieldActivationPending()) << "again on every showing";
}

TEST_F(ContentViewTest, ALaterReindexKeepsTheUsersSelectionUnlessItsRowIsGone) {
    installTools(5);
    auto& v = makeView();
    v.setQuery("tool");
    notifications.post(Notification::launcherWillShow);
    navigation.moveDown();
    navigation.moveDown();  // the user moves while the scan runs
    workspace.installed.push_back(entry("toolF", "Tool F"));
    scheduler.advance(Seconds(0.1));
    EXPECT_EQ(v.rows().size(), 6u);
    EXPECT_EQ(navigation.selectedIndex(), 2);
    EXPECT_EQ(navigation.maxIndex(), 5);

    notifications.post(Notification::launcherWillShow);
    for (int i = 0; i < 4; ++i)
        navigation.moveDown();
    installTools(2);
    scheduler.advance(Seconds(0.1));
    EXPECT_EQ(navigation.selectedIndex(), 1) << "the selected row vanished: the last row is selected";
    EXPECT_EQ(navigation.maxIndex(), 1);
}

TEST_F(ContentViewTest, FirstAppearanceFocusesAndSyncsOnce) {
    installTools(4);
    auto& v = makeView();
    v.setQuery("tool");
    navigation.setSelectedIndex(3);
    v.viewDidAppear();
    EXPECT_EQ(navigation.selectedIndex(), 0);
    scheduler.advance(Seconds(0.05));
    EXPECT_TRUE(v.isSearchFocused());
    navigation.setSelectedIndex(2);
    v.viewDidAppear();
    scheduler.advance(Seconds(0.1));
    EXPECT_EQ(navigation.selectedIndex(), 2);
}

TEST_F(ContentViewTest, MovingTheSelectionAsksToScrollToThatRow) {
    installTools(5);
    auto& v = makeView();
    v.setQuery("tool");
    std::vector<Uuid> requests;
    Connection c = v.scrollRequested.connect([&](const Uuid& id) { requests.push_back(id); });
    const auto rows = v.rows();
    navigation.moveDown();
    navigation.setSelectedIndex(3);
    navigation.setSelectedIndex(3);  // no move
    navigation.setSelectedIndex(9);  // beyond the rows
    EXPECT_EQ(requests, (std::vector<Uuid>{rows[1].id, rows[3].id}));
}

TEST_F(ContentViewTest, CalculatorRowCopiesItsCopyText) {
    auto& v = makeView();
    v.setQuery("1000*1000");
    notifications.post(Notification::launchSelectedApp);
    EXPECT_EQ(pasteboard.types(), std::vector<std::string>{std::string(platform::pasteboardType::string)});
    EXPECT_EQ(pasteboard.string(platform::pasteboardType::string), "1000000");
    EXPECT_EQ(v.query(), "");
    EXPECT_EQ(dismisses, 1);
}

TEST_F(ContentViewTest, ApplicationRowsActivateARunningInstanceOrLaunch) {
    workspace.installed = {entry("org.gnome.Mail", "Mail"), entry("maps", "Maps")};
    const std::string mailPath = workspace.installed[0].path;
    workspace.identifiersByPath[mailPath] = "org.gnome.Mail";
    workspace.running = {{kMailPid, "org.gnome.Mail", mailPath, "Mail"}};
    auto& v = makeView();
    v.setQuery("mail");
    notifications.post(Notification::launchSelectedApp);
    EXPECT_TRUE(logged("activateOrLaunch path=" + mailPath + " bundleID=org.gnome.Mail"));
    const auto calls = workspace.calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "activate 300 allWindows=true"), calls.end());
    EXPECT_EQ(dismisses, 1);

    v.setQuery("maps");
    v.searchField().keyDown(platform::keysym::returnKey);  // Return in the field
    EXPECT_EQ(workspace.calls().back(), "open " + workspace.installed[1].path);
    EXPECT_EQ(dismisses, 2);
    EXPECT_EQ(v.query(), "");
}

TEST_F(ContentViewTest, ProfileRowStartsFirefoxWithThatProfile) {
    firefoxFolder = dir.path() / "firefox";
    writeFile(*firefoxFolder / "profiles.ini", "[Profile0]\nName=work\nIsRelative=1\nPath=work\n");
    writeFile(*firefoxFolder / "work/prefs.js", "");
    profiles = {{"work", *firefoxFolder / "work", false}};
    workspace.installed = {entry("firefox", "Firefox")};
    auto& v = makeView();
    v.setQuery("firefox");
    ASSERT_EQ(v.rows().size(), 1u);
    EXPECT_EQ(v.presentation().rows[0].secondaryText, "work");
    notifications.post(Notification::launchSelectedApp);
    EXPECT_EQ(workspace.calls().back(), "openApplication " + workspace.installed[0].path +
                                            " activates=true -no-remote --profile " +
                                            (*firefoxFolder / "work").string() + " -foreground");
    EXPECT_EQ(dismisses, 1);
}

TEST_F(ContentViewTest, ALaunchThatFailsIsLoggedAndToldToTheUserAndThePanelStillCloses) {
    const std::string reason = "Failed to execute child process \u201cnope\u201d (No such file or directory)";
    workspace.installed = {entry("broken", "Broken App"), entry("firefox", "Firefox")};
    workspace.openError = [&](const std::string&) { return reason; };
    workspace.launchError = [&](const std::string&, const platform::OpenConfiguration&) { return reason; };
    firefoxFolder = dir.path() / "firefox";
    writeFile(*firefoxFolder / "work/prefs.js", "");
    auto& v = makeView();
    const std::string downloads = (dir.path() / "Downloads").string();
    const std::string firefox = workspace.installed[1].path;
    struct Case {
        std::string query;
        AppItemKind::Case kind;
        std::string name;
        std::string path;
    };
    const std::vector<Case> cases = {
        {"broken", AppItem::Kind::app, "Broken App", workspace.installed[0].path},
        {"downloads", AppItem::Kind::folder, "Downloads", ""},
        {"firefox", AppItem::Kind::app, "Firefox", firefox},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        profiles = c.name == "Firefox" ? std::vector<FirefoxProfile>{{"work", *firefoxFolder / "work", false}}
                                       : std::vector<FirefoxProfile>{};
        v.appIndex().indexApps();
        scheduler.runPending();
        desktopNotifications.shown.clear();
        const int dismissed = dismisses;
        v.setQuery(c.query);
        chooseFirst(c.kind);
        const std::string path = c.path.empty() ? v.appIndex().search("downloads").front().path : c.path;
        EXPECT_TRUE(logged(std::string("launch failed: ")
                               .append(c.name)
                               .append(" path=")
                               .append(path)
                               .append(" — ")
                               .append(reason)));
        EXPECT_EQ(desktopNotifications.shown,
                  (std::vector<fake::FakeNotifications::Shown>{{"Could not open " + c.name, reason}}));
        EXPECT_EQ(dismisses, dismissed + 1);
        EXPECT_EQ(v.query(), "");
    }
}

TEST_F(ContentViewTest, ClickingARowSelectsItAndOpensIt) {
    auto& v = makeView();
    v.setQuery("dl");
    const auto rows = v.rows();
    auto folder = std::find_if(rows.begin(), rows.end(),
                               [](const AppItem& r) { return r.kind == AppItem::Kind::folder; });
    ASSERT_NE(folder, rows.end());
    v.clickRow(static_cast<std::size_t>(folder - rows.begin()));
    EXPECT_EQ(navigation.selectedIndex(), 0) << "the query was cleared after opening";
    EXPECT_EQ(workspace.calls().back(), "open " + folder->path);
    EXPECT_EQ(dismisses, 1);
}

TEST_F(ContentViewTest, WindowCommandClearsTheQueryAndLeavesDismissingToThePanel) {
    auto& v = makeView();
    v.setQuery("left half");
    chooseFirst(AppItem::Kind::leftHalf);
    EXPECT_EQ(snaps, std::vector<WindowSnap::Command>{WindowSnap::Command::left});
    EXPECT_EQ(v.query(), "");
    EXPECT_EQ(dismisses, 0);

    v.setQuery("mtr");
    chooseFirst(AppItem::Kind::moveToRight);
    EXPECT_EQ(snaps.back(), WindowSnap::Command::moveToRight);
}

TEST_F(ContentViewTest, QuitEndsTheProgramWithoutDismissing) {
    auto& v = makeView();
    v.setQuery("quit");
    chooseFirst(AppItem::Kind::quit);
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(v.query(), "");
    EXPECT_EQ(dismisses, 0);
}

TEST_F(ContentViewTest, ChoosingWithoutRowsOrBeyondThemDoesNothing) {
    workspace.installed = {entry("maps", "Maps")};
    auto& v = makeView();
    v.setQuery("qqxzv");
    notifications.post(Notification::launchSelectedApp);
    v.setQuery("maps");
    navigation.setSelectedIndex(1);
    v.searchField().doCommand(SearchField::Command::insertNewline);
    EXPECT_TRUE(workspace.calls().empty());
    EXPECT_EQ(dismisses, 0);
    EXPECT_EQ(v.query(), "maps");
}

TEST_F(ContentViewTest, TypingAndTheClearButtonGoThroughTheQuery) {
    installTools(3);
    auto& v = makeView();
    int redraws = 0;
    Connection c = v.changed.connect([&] { ++redraws; });
    v.searchField().textDidChange("tool");
    EXPECT_EQ(v.query(), "tool");
    EXPECT_EQ(v.rows().size(), 3u);
    EXPECT_EQ(v.searchField().syncText("tool"), std::nullopt);
    navigation.setSelectedIndex(2);
    const int before = redraws;
    v.clearButtonPressed();
    EXPECT_GT(redraws, before);
    EXPECT_EQ(v.query(), "");
    EXPECT_EQ(navigation.selectedIndex(), 0);
    EXPECT_FALSE(v.presentation().showsClearButton);
    EXPECT_EQ(v.searchField().syncText("tool"), std::optional<std::string>("")) << "the field is emptied too";
    EXPECT_EQ(v.searchField().placeholder(), "Search apps, files, commands…");
}

}  // namespace
}  // namespace quenlit
