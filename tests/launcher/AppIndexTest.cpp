#include "launcher/AppIndex.h"

#include "backends/fake/FakeProcesses.h"
#include "backends/fake/FakeWorkspace.h"
#include "backends/fake/VirtualScheduler.h"
#include "base/Log.h"
#include "launcher/Zoxide.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace quenlit {
namespace {

using platform::InstalledApplication;
using platform::Seconds;
using testing::TempDir;
using testing::writeFile;

std::vector<std::string> rowNames(const std::vector<AppItem>& items) {
    std::vector<std::string> out;
    for (const auto& i : items) {
        out.push_back(i.name + (i.secondaryText() ? "#" + *i.secondaryText() : "") +
                      (i.isRunning ? " (running)" : ""));
    }
    return out;
}

class AppIndexTest : public ::testing::Test {
  protected:
    void SetUp() override { log::installSinks({logSink}); }
    void TearDown() override { log::installSinks({}); }

    InstalledApplication entry(const std::string& id, const std::string& name) {
        auto path = dir / ("applications/" + id + ".desktop");
        if (!std::filesystem::exists(path)) writeFile(path, "[Desktop Entry]\n");
        return {id, path.string(), name, id};
    }
    FirefoxProfile profile(const std::string& name, bool withPrefs) {
        auto folder = dir / ("firefox/" + name);
        std::filesystem::create_directories(folder);
        if (withPrefs) writeFile(folder / "prefs.js", "");
        return {name, folder, false};
    }
    AppIndex::Sources sources() {
        return {workspace,
                [this] {
                    ++profileScans;
                    return profiles;
                },
                [this](const std::vector<FirefoxProfile>&) { return runningProfiles; }};
    }
    std::unique_ptr<AppIndex> makeIndex() {
        return std::make_unique<AppIndex>(scheduler, sources(), AppIndex::ZoxideContext{runner, "/home/ann"});
    }

    TempDir dir;
    fake::VirtualScheduler scheduler;
    fake::FakeWorkspace workspace;
    fake::FakeProcessRunner runner;
    std::vector<FirefoxProfile> profiles;
    std::map<std::string, FirefoxProfile> runningProfiles;
    int profileScans = 0;
    std::shared_ptr<log::MemorySink> logSink = std::make_shared<log::MemorySink>();
};

TEST_F(AppIndexTest, ScanListsEachEntryOnceSortedByNameAndMarksRunningOnes) {
    auto files = entry("org.gnome.Nautilus", "Files");
    auto link = dir / "applications/files-link.desktop";
    std::filesystem::create_symlink(files.path, link);
    auto hidden = entry(".hidden", "Hidden");
    workspace.installed = {entry("zed", "zed"),
                           files,
                           {"files-link", link.string(), "Files again", ""},
                           hidden,
                           entry("abiword", "AbiWord")};
    workspace.running = {{7, "org.gnome.Nautilus", link.string(), "Files"}};
    auto items = AppIndex::scanApps(sources());
    EXPECT_EQ(rowNames(items), (std::vector<std::string>{"AbiWord", "Files (running)", "zed"}));
    EXPECT_EQ(items[1].id, nameBasedUUID("quenlit.app:" + files.path));
    EXPECT_EQ(items[1].icon, IconRef::theme("org.gnome.Nautilus"));
}

TEST_F(AppIndexTest, FirefoxBecomesOneRowPerUsableProfile) {
    profiles = {profile("default-release", true), profile("work", false), profile("old", false)};
    runningProfiles = {{"work", profiles[1]}};
    auto firefox = entry("firefox-esr", "Firefox ESR");
    workspace.installed = {firefox, entry("org.mozilla.firefox", "Firefox")};
    auto items = AppIndex::scanApps(sources());
    EXPECT_EQ(rowNames(items),
              (std::vector<std::string>{"Firefox ESR#default-release", "Firefox ESR#work (running)"}));
    EXPECT_EQ(items[1].id, nameBasedUUID("quenlit.app:" + firefox.path + "#work"));

    profiles.clear();
    EXPECT_EQ(rowNames(AppIndex::scanApps(sources())), (std::vector<std::string>{"Firefox", "Firefox ESR"}));

    profiles = {profile("old", false)};
    runningProfiles.clear();
    EXPECT_TRUE(AppIndex::scanApps(sources()).empty()) << "all profiles unusable: no Firefox row at all";
}

TEST_F(AppIndexTest, PublishLeavesAnUnchangedCatalogueAlone) {
    auto index = makeIndex();
    int changes = 0;
    Connection c = index->appsChanged.connect([&] { ++changes; });
    auto a =
        AppItem::make(nameBasedUUID("a"), "A", "/a", IconRef::theme("a"), false, {}, {}, AppItem::Kind::app);
    index->publishApps({a});
    auto iconOnly = a;
    iconOnly.icon = IconRef::theme("other");
    index->publishApps({iconOnly});
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(index->apps()[0].icon, IconRef::theme("a"));
    auto started = a;
    started.isRunning = true;
    index->publishApps({started});
    EXPECT_EQ(changes, 2);
}

TEST_F(AppIndexTest, RequestsDuringAScanCauseOneMorePassAndWaitForIt) {
    workspace.installed = {entry("mail", "Mail")};
    auto index = makeIndex();
    scheduler.runPending();  // the first scan, started by the index itself
    ASSERT_EQ(rowNames(index->apps()), std::vector<std::string>{"Mail"});
    profileScans = 0;

    std::vector<std::string> order;
    index->indexApps([&] { order.push_back("first"); });
    workspace.installed.push_back(entry("term", "Terminal"));
    index->indexApps([&] { order.push_back("second saw " + std::to_string(index->apps().size())); });
    index->indexApps([&] { order.push_back("third"); });
    EXPECT_TRUE(index->isIndexing());
    EXPECT_TRUE(index->needsReindex());
    scheduler.advance(Seconds(0.1));
    EXPECT_EQ(profileScans, 2) << "the scan in progress and one repeat";
    EXPECT_EQ(order, (std::vector<std::string>{"first", "second saw 2", "third"}));
    EXPECT_FALSE(index->isIndexing());
}

TEST_F(AppIndexTest, ZoxideRowAppearsOnlyForTheKeywordsItWasLookedUpFor) {
    runner.executables = {"/usr/local/bin/zoxide"};
    const std::filesystem::path home = dir.path();
    std::filesystem::create_directories(home / "src/pro");
    std::filesystem::create_directories(home / "src/proj");
    runner.respond = [home](const std::string&, const std::vector<std::string>& args) {
        return platform::ProcessOutcome{0, (home / "src" / args.back()).string() + "\n", ""};
    };
    workspace.installed = {entry("mail", "Mail")};
    auto index = std::make_unique<AppIndex>(scheduler, sources(), AppIndex::ZoxideContext{runner, home});
    scheduler.runPending();

    index->scheduleZoxide("z pro");
    index->scheduleZoxide("z proj");  // the first lookup is cancelled and its answer never shown
    EXPECT_TRUE(index->search("z proj").empty()) << "nothing while the lookup is pending";
    scheduler.runPending();
    auto rows = index->search("z  proj ");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].name, "proj");
    EXPECT_EQ(rows[0].secondaryText(), "~/src/proj");
    EXPECT_TRUE(index->search("z other").empty());

    index->scheduleZoxide("z proj ");  // same keywords, already answered: no new lookup
    index->scheduleZoxide("mail");
    EXPECT_FALSE(index->zoxideItem());
    EXPECT_EQ(rowNames(index->search("mail")), std::vector<std::string>{"Mail"});

    runner.respond = [](const std::string&, const std::vector<std::string>&) {
        return platform::ProcessOutcome{1, "", ""};
    };
    index->scheduleZoxide("z nothing");
    scheduler.runPending();
    EXPECT_TRUE(index->search("z nothing").empty());
    EXPECT_EQ(logSink->lines(), (std::vector<std::string>{
                                    "Quenlit focus: zoxide: query gen=1 pro",
                                    "Quenlit focus: zoxide: query gen=2 proj",
                                    "Quenlit focus: zoxide: match gen=2 " + (home / "src/proj").string(),
                                    "Quenlit focus: zoxide: query gen=4 nothing",
                                    "Quenlit focus: zoxide: no match gen=4",
                                }));
}

// The lookup's program is stopped as soon as its answer can no longer be shown.
TEST_F(AppIndexTest, ZoxideLookupThatIsSupersededOrClearedCancelsItsProgram) {
    runner.executables = {"/usr/local/bin/zoxide"};
    const std::filesystem::path found = dir / "found";
    std::filesystem::create_directories(found);
    auto index = makeIndex();
    scheduler.runPending();

    for (const char* next : {"z other", "mail"}) {
        SCOPED_TRACE(next);
        std::vector<bool> cancelledWhileRunning;
        runner.respond = [&, next](const std::string&, const std::vector<std::string>& args) {
            if (args.back() != "slow") return platform::ProcessOutcome{0, found.string() + "\n", ""};
            auto cancelled = runner.runLimits().back().cancelled;
            cancelledWhileRunning.push_back(cancelled && cancelled());
            index->scheduleZoxide(next);  // the user types on while the program runs
            cancelledWhileRunning.push_back(cancelled && cancelled());
            return platform::ProcessOutcome{0, found.string() + "\n", ""};
        };
        index->scheduleZoxide("z slow");
        scheduler.runPending();
        EXPECT_EQ(cancelledWhileRunning, (std::vector<bool>{false, true}));
        EXPECT_EQ(runner.runLimits().back().timeout, Zoxide::kLookupTimeout);
        EXPECT_TRUE(index->search("z slow").empty());
        index->clearZoxide();
    }
}

TEST_F(AppIndexTest, SearchLeavesOutQuenlitAndTheFrontApplicationWhenBlank) {
    auto self = entry("quenlit", "Quenlit");
    auto term = entry("term", "Terminal");
    auto mail = entry("mail", "Mail");
    workspace.installed = {self, term, mail};
    workspace.running = {{1, "quenlit", self.path, "Quenlit"},
                         {2, "term", term.path, "Terminal"},
                         {3, "mail", mail.path, "Mail"}};
    workspace.frontmostProcess = 2;
    workspace.selfPath = self.path;
    auto index = makeIndex();
    scheduler.runPending();
    EXPECT_EQ(rowNames(index->search("")), std::vector<std::string>{"Mail (running)"});
    EXPECT_EQ(rowNames(index->search("quen")), std::vector<std::string>{});
}

TEST_F(AppIndexTest, LateResultsFindNoIndex) {
    runner.executables = {"/usr/local/bin/zoxide"};
    runner.respond = [](const std::string&, const std::vector<std::string>&) {
        return platform::ProcessOutcome{0, "/x\n", ""};
    };
    auto index = makeIndex();
    index->scheduleZoxide("z x");
    index->indexApps();
    index.reset();
    scheduler.advance(Seconds(1));  // must not touch the destroyed index
    EXPECT_EQ(scheduler.pendingMainCount(), 0u);
}

}  // namespace
}  // namespace quenlit
