#include "launcher/AppSearch.h"
#include "launcher/IntentionScore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

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

// The ranking passes over items that cannot match before scoring them and sorts on a prefix of the
// collation keys; it must give exactly the rows and scores of scoring every item. A generated
// catalogue with accents (composed and decomposed), mixed case, multi-word names, Firefox profiles,
// aliases, running applications, unprepared items and many ties, against queries cut from the
// names, case-changed, single characters and random strings.
TEST(AppSearch, FastRankingEqualsScoringEveryItem) {
    const char* const words[] = {"Visual",   "Studio",  "Code",      "café",   "Cafe\u0301", "CAFÉ",
                                 "Éditeur",  "editor",  "Übersicht", "Straße", "STRASSE",    "ΟΔΟΣ",
                                 "İstanbul", "Ñandú",   "Ångström",  "Vim",    "vi",         "v",
                                 "2048",     "Foo-Bar", "x11",       "日本語", "Mail",       "mail",
                                 "Notes",    "Player",  "Q",         "quit",   "Left"};
    std::mt19937 rng(7);
    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
    std::vector<AppItem> apps;
    for (int i = 0; i < 400; ++i) {
        std::string name;
        for (std::size_t w = 1 + pick(3); w > 0; --w)
            name += (name.empty()   ? ""
                     : pick(8) == 0 ? "  "
                                    : " ") +
                    std::string(words[pick(std::size(words))]);
        // Every fifth name repeats an earlier one at another path: equal scores that tie on the name.
        if (i % 5 == 4) name = apps[pick(apps.size())].name;
        const std::string path = "/apps/" + std::to_string(i) + ".desktop";
        const bool running = pick(4) == 0;
        AppItemDetail detail;
        if (pick(10) == 0) detail = FirefoxProfileDetail{words[pick(std::size(words))]};
        std::vector<std::string> aliases;
        if (pick(10) == 0) aliases.push_back(words[pick(std::size(words))]);
        if (i % 50 == 7) {
            AppItem raw;  // not prepared: ranked on keys made on the fly
            raw.id = nameBasedUUID("quenlit.app:" + path);
            raw.name = name;
            raw.path = path;
            raw.isRunning = running;
            raw.detail = detail;
            raw.aliases = aliases;
            apps.push_back(raw);
        } else {
            apps.push_back(AppItem::make(nameBasedUUID("quenlit.app:" + path), name, path, std::nullopt,
                                         running, std::move(detail), std::move(aliases), AppItem::Kind::app));
        }
    }

    std::vector<std::string> queries{"",        "   ", " v ", "quit", "l",       "max",  "2+3",
                                     "ß",       "ss",  "σ",   "ς",    "e\u0301", "é",    "É",
                                     "i\u0307", "日",  "-",   "x1",   "CAFÉ ",   "\tvis"};
    for (char c = 'a'; c <= 'z'; ++c)
        queries.emplace_back(1, c);
    for (char c = '0'; c <= '9'; ++c)
        queries.emplace_back(1, c);
    for (int i = 0; i < 300; ++i) {
        const std::u32string name = text::decodeUtf8(apps[pick(apps.size())].name);
        const std::size_t from = pick(name.size());
        const std::size_t length = 1 + pick(std::min<std::size_t>(name.size() - from, 12));
        std::string query;
        for (char32_t c : name.substr(from, length))
            text::appendUtf8(query, c);
        queries.push_back(pick(3) == 0 ? text::lowercase(query) : query);
    }
    for (int i = 0; i < 100; ++i) {
        std::string query;
        for (std::size_t n = 1 + pick(3); n > 0; --n)
            query += "aeiouvstlnc é"[pick(13)];
        queries.push_back(text::validUtf8(query));
    }

    const std::optional<std::string> self = "/apps/3.desktop";
    const std::optional<std::string> front = "/apps/5.desktop";
    auto described = [](const std::vector<AppSearch::Ranked>& ranked) {
        std::vector<std::string> out;
        for (const auto& r : ranked)
            out.push_back(r.item->path + " " + std::to_string(r.score));
        return out;
    };
    auto ids = [](const std::vector<AppItem>& items) {
        std::vector<std::string> out;
        for (const auto& i : items)
            out.push_back(i.path + " " + i.name);
        return out;
    };
    std::size_t queriesWithRows = 0;
    for (const auto& query : queries) {
        const auto fast = AppSearch::ranked(query, apps);
        EXPECT_EQ(described(fast), described(AppSearch::rankedByScoringAll(query, apps))) << query;
        if (!fast.empty()) ++queriesWithRows;
        const auto rows = AppSearch::results(query, apps, nullptr, front, self);
        const auto expected = AppSearch::resultsByScoringAll(query, apps, nullptr, front, self);
        EXPECT_EQ(ids(rows), ids(expected)) << query;
        EXPECT_EQ(rows, expected) << query;
    }
    // The comparison means something only when most queries find rows.
    EXPECT_GT(queriesWithRows, queries.size() * 3 / 4);
}

}  // namespace
}  // namespace quenlit
