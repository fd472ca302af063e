#include "launcher/AppSearch.h"
#include "launcher/IntentionScore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace quenlit {
namespace {

AppItem app(const std::string& name, const std::string& path, bool running = false,
            std::optional<std::string> profile = std::nullopt) {
    std::string key = "quenlit.app:" + path + (profile ? "#" + *profile : "");
    AppItemDetail detail;
    if (profile) detail = FirefoxProfileDetail{*profile};
    return AppItem::make(nameBasedUUID(key), name, path, std::nullopt, running, std::move(detail), {},
                         AppItem::Kind::app);
}

std::vector<std::string> names(const std::vector<AppItem>& items) {
    std::vector<std::string> out;
    for (const auto& i : items)
        out.push_back(i.name + (i.secondaryText() ? "#" + *i.secondaryText() : ""));
    return out;
}

const std::vector<AppItem> kNoFolders;

std::vector<std::string> rows(const std::string& query, const std::vector<AppItem>& apps = {}) {
    return names(AppSearch::results(query, apps, &kNoFolders, std::nullopt, std::nullopt));
}

TEST(IntentionScore, RulesInOrder) {
    struct Case {
        const char* query;
        const char* name;
        const char* searchText;
        std::int64_t score;
    } cases[] = {
        {"", "Safari", "Safari", 0},
        {"  Safari ", "Safari", "Safari", 100000},
        {"work", "Firefox", "work", 99000},
        {"Saf", "Safari", "Safari", 79994},
        {"stu", "Visual Studio Code", "Visual Studio Code", 69994},
        {"udio", "Visual Studio Code", "Visual Studio Code", 30000 - 9000 - 18},
        {"kmail", "Mail", "Mail xkmail", 20000 - 6000},
        {"kmail", "Mail", "Mail kmail", 69995},
        {"xyz", "Safari", "Safari", 0},
        // Found in the name far along: nothing is left of the score, and the search text is not consulted.
        {"q", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaq", "zq", -31},
        {"cafe\u0301", "Café Bar", "Café Bar", 80000 - 8},
        {"e", "\u00C9cole", "\u00C9cole", 30000 - 4000 - 5},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IntentionScore::score(c.query, c.name, c.searchText), c.score)
            << c.query << " / " << c.name;
    }
}

TEST(AppSearch, BlankQueryShowsSwitchSuggestionsOnly) {
    std::vector<AppItem> apps{app("Terminal", "/apps/term.desktop", true),
                              app("Mail", "/apps/mail.desktop", false),
                              app("Files", "/apps/files.desktop", true)};
    EXPECT_EQ(names(AppSearch::results("   ", apps, nullptr, "/apps/term.desktop", std::nullopt)),
              std::vector<std::string>{"Files"});
    EXPECT_EQ(rows(" \n"), std::vector<std::string>{});
}

TEST(AppSearch, QuitAndWindowCommandsByTheirWords) {
    struct Case {
        const char* query;
        std::vector<std::string> rows;
    } cases[] = {
        {"q", {"Quit Quenlit"}},
        {"QUIT QUENLIT", {"Quit Quenlit"}},
        {"quix", {}},
        {"t", {"Top Half", "First Third", "Last Two Thirds"}},
        {"m", {"Maximize", "Move to Top", "Move to Bottom", "Move to Left", "Move to Right"}},
        {"max", {"Maximize"}},
        {"lh", {"Left Half"}},
        {"l", {"Left Half", "Last Two Thirds"}},
        {"move l", {"Move to Left"}},
        {"two", {"Last Two Thirds"}},
        {"left h", {"Left Half"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(rows(c.query), c.rows) << c.query;
}

TEST(AppSearch, RankingAddsRunningAndProfileBonuses) {
    std::vector<AppItem> apps{
        app("Firefox", "/apps/firefox.desktop", false, "default-release"),
        app("Firefox", "/apps/firefox.desktop", true, "work"),
        app("Safari", "/apps/safari.desktop", true),
        app("Workbench", "/apps/wb.desktop"),
    };
    // Workbench: name prefix 80000 - 9; the running work profile: word prefix 69996 + 1000 + 5000.
    EXPECT_EQ(rows("work", apps), (std::vector<std::string>{"Workbench", "Firefox#work"}));
    EXPECT_TRUE(AppSearch::rank("q", {app("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaq", "/late")}).empty());
    auto ranked = AppSearch::rank("saf", apps);
    ASSERT_EQ(ranked.size(), 1u);
    EXPECT_EQ(IntentionScore::score("saf", "Safari", "Safari") + 5000, 84994);
}

TEST(AppSearch, EqualScoresSortByNameIgnoringCaseThenInputOrder) {
    std::vector<AppItem> apps{app("Beta", "/b1"), app("alpha", "/a"), app("beta", "/b2")};
    // "a" occurs in each at the end or the start; give them equal scores with the search-text rule.
    auto ranked = AppSearch::rank("zz", {app("x Beta", "/1"), app("x alpha", "/2")});
    EXPECT_TRUE(ranked.empty());
    std::vector<AppItem> tie{app("Beta zz", "/1"), app("alpha zz", "/2"), app("beta zz", "/3")};
    auto r = AppSearch::rank("zz", tie);
    // Word prefix for each: 70000 - 2; ties by name: alpha, then Beta and beta in input order.
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].path, "/2");
    EXPECT_EQ(r[1].path, "/1");
    EXPECT_EQ(r[2].path, "/3");
}

TEST(AppSearch, CalculatorAnswerIsTheFirstRow) {
    std::vector<AppItem> apps{app("2048 Game", "/apps/2048.desktop", true)};
    auto r = AppSearch::results("2+3", apps, &kNoFolders, std::nullopt, std::nullopt);
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(r[0].kind, AppItem::Kind::calculator);
    EXPECT_EQ(r[0].name, "5");
    EXPECT_EQ(r[0].secondaryText(), "2+3");
    EXPECT_EQ(rows("42"), std::vector<std::string>{});
}

TEST(AppSearch, BuiltInDownloadsFolderWhenNoFoldersAreGiven) {
    auto r = AppSearch::results("dl", {}, nullptr, std::nullopt, std::nullopt);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].name, "Downloads");
    EXPECT_EQ(r[0].kind, AppItem::Kind::folder);
}

TEST(AppSearch, SelfAndFrontmostExclusionResolveSymbolicLinks) {
    auto dir = std::filesystem::temp_directory_path() / "quenlit-appsearch-links";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "quenlit.desktop").put('\n');
    std::ofstream(dir / "term.desktop").put('\n');
    std::filesystem::create_symlink(dir / "quenlit.desktop", dir / "self-link.desktop");
    std::filesystem::create_symlink(dir / "term.desktop", dir / "term-link.desktop");
    std::vector<AppItem> apps{
        app("Quenlit", (dir / "self-link.desktop").string(), true),
        app("Terminal", (dir / "term-link.desktop").string(), true),
        app("Firefox", (dir / "term.desktop").string(), true, "work"),
        app("Mail", "/nonexistent/mail.desktop", true),
    };
    const std::string self = (dir / "quenlit.desktop").string();
    const std::string front = (dir / "term.desktop").string();
    EXPECT_EQ(names(AppSearch::switchSuggestions(apps, front, self)),
              (std::vector<std::string>{"Firefox#work", "Mail"}));
    EXPECT_EQ(names(AppSearch::excludingSelf(apps, self)),
              (std::vector<std::string>{"Terminal", "Firefox#work", "Mail"}));
    EXPECT_EQ(names(AppSearch::results("quenlit", apps, &kNoFolders, front, self)),
              std::vector<std::string>{});
    std::filesystem::remove_all(dir);
}

TEST(AppSearch, UnpreparedItemsRankLikePreparedOnes) {
    AppItem item;
    item.id = nameBasedUUID("quenlit.app:/x");
    item.name = "Thunderbird";
    item.path = "/x";
    item.kind = AppItem::Kind::app;
    auto r = AppSearch::rank("bird", {item});
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0], item);
}

}  // namespace
}  // namespace quenlit
