#include "launcher/Zoxide.h"

#include "backends/fake/FakeProcesses.h"
#include "backends/linux/PosixProcessRunner.h"
#include "base/Paths.h"
#include "launcher/AppItem.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include <unistd.h>

namespace quenlit {
namespace {

using Words = std::vector<std::string>;
using platform::ProcessOutcome;

struct KeywordsCase {
    const char* query;
    std::optional<Words> expected;
};

TEST(ZoxideKeywords, RecognisesOnlyZFollowedByWhiteSpaceAndWords) {
    const KeywordsCase cases[] = {
        {"z", std::nullopt},
        {"z   ", std::nullopt},
        {"  z \t ", std::nullopt},
        {"", std::nullopt},
        {"z foo", Words{"foo"}},
        {"Z  Foo  bar", Words{"Foo", "bar"}},
        {"zfoo", std::nullopt},
        {"zoom", std::nullopt},
        {"a foo", std::nullopt},
        {"  z foo  ", Words{"foo"}},
        {"z\tfoo\nbar\r\nbaz", Words{"foo", "bar", "baz"}},
        {"z\u3000foo\u00A0bar", Words{"foo", "bar"}},  // ideographic and no-break spaces are white space
        {"z\u2028foo", Words{"foo"}},
        {"z ~", Words{"~"}},
        {"z été Ünï", Words{"été", "Ünï"}},
        {"z\u0301 foo", std::nullopt},  // "ź" is another letter
        {"\uFF3A foo", std::nullopt},   // fullwidth Z
        {"z\u200Bfoo", std::nullopt},   // zero-width space is not white space
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        EXPECT_EQ(Zoxide::keywords(c.query), c.expected);
    }
}

TEST(ZoxideKeywords, SameWordsHaveTheSameKeyWhateverTheSpacing) {
    auto a = Zoxide::keywords("z foo  bar");
    auto b = Zoxide::keywords("z  foo bar ");
    ASSERT_TRUE(a && b);
    EXPECT_EQ(Zoxide::lookupKey(*a),
              "foo\x1F"
              "bar");
    EXPECT_EQ(Zoxide::lookupKey(*a), Zoxide::lookupKey(*b));
    EXPECT_NE(Zoxide::lookupKey(Words{"foo bar"}), Zoxide::lookupKey(Words{"foo", "bar"}));
}

TEST(ZoxideAbbreviate, OnlyTheHomeFolderAndPathsBelowIt) {
    const std::pair<const char*, const char*> cases[] = {
        {"/home/ann", "~"},
        {"/home/ann/src/quenlit", "~/src/quenlit"},
        {"/home/ann/", "~/"},
        {"/home/anne/src", "/home/anne/src"},  // a sibling whose name begins with the user's
        {"/home", "/home"},
        {"/var/tmp", "/var/tmp"},
        {"home/ann/x", "home/ann/x"},
    };
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(path);
        EXPECT_EQ(Zoxide::abbreviate(path, "/home/ann"), expected);
    }
}

TEST(ZoxideRow, HomeFolderIsNamedTildeWithoutSecondaryText) {
    AppItem row = AppItem::zoxide("/home/ann", "/home/ann");
    EXPECT_EQ(row.name, "~");
    EXPECT_EQ(row.secondaryText(), std::nullopt);
    EXPECT_TRUE(row.isZoxide());
    EXPECT_EQ(row.path, "/home/ann");
    EXPECT_EQ(row.id, nameBasedUUID("quenlit.zoxide:/home/ann"));
    EXPECT_EQ(row.icon, IconRef::file("/home/ann"));
    EXPECT_EQ(row.kind, AppItem::Kind::folder);
    EXPECT_FALSE(row.isRunning);
    EXPECT_TRUE(row.aliases.empty());
}

TEST(ZoxideRow, TrailingSeparatorOfTheHomeFolderIsIgnored) {
    EXPECT_EQ(AppItem::zoxide("/home/ann", "/home/ann/").name, "~");
    EXPECT_EQ(AppItem::zoxide("/home/ann/src", "/home/ann/").secondaryText(), "~/src");
    EXPECT_EQ(Zoxide::abbreviate("/home/ann/src", "/home/ann//"), "~/src");
    EXPECT_EQ(Zoxide::abbreviate("/", "/"), "~");
    EXPECT_EQ(Zoxide::abbreviate("/srv", "/"), "/srv");
}

TEST(ZoxideRow, OtherFoldersShowTheirNameAndAbbreviatedPath) {
    const struct {
        const char* path;
        const char* name;
        const char* profile;
    } cases[] = {
        {"/home/ann/src/quenlit", "quenlit", "~/src/quenlit"},
        {"/home/anne", "anne", "/home/anne"},
        {"/var/tmp", "tmp", "/var/tmp"},
        {"/", "/", "/"},
        {"/srv/data/", "data", "/srv/data/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        AppItem row = AppItem::zoxide(c.path, "/home/ann");
        EXPECT_EQ(row.name, c.name);
        EXPECT_EQ(row.secondaryText(), std::optional<std::string>(c.profile));
        EXPECT_EQ(row.id, nameBasedUUID(std::string("quenlit.zoxide:") + c.path));
        EXPECT_EQ(row.kind, AppItem::Kind::folder);
    }
}

TEST(ZoxideRow, DefaultHomeIsTheUsersHomeFolder) {
    std::string home = XdgDirs::current().home.string();
    while (home.size() > 1 && home.back() == '/')
        home.pop_back();
    EXPECT_EQ(Zoxide::homeDirectory(), home);
    EXPECT_EQ(AppItem::zoxide(home).name, "~");
    EXPECT_EQ(AppItem::zoxide(home + "/projects").secondaryText(), "~/projects");
}

TEST(ZoxideExecutable, CandidatesInOrder) {
    EXPECT_EQ(Zoxide::candidateExecutables("/home/ann"),
              (Words{"/opt/homebrew/bin/zoxide", "/usr/local/bin/zoxide", "/home/ann/.local/bin/zoxide"}));
}

TEST(ZoxideExecutable, FixedCandidatesComeBeforePathInOrder) {
    const struct {
        Words executables;
        std::optional<std::string> path;
        std::optional<std::string> expected;
    } cases[] = {
        {{"/usr/bin/zoxide"}, "/usr/local/sbin:/usr/bin", "/usr/bin/zoxide"},
        {{"/usr/bin/zoxide", "/usr/local/bin/zoxide", "/opt/homebrew/bin/zoxide"},
         "/usr/bin",
         "/opt/homebrew/bin/zoxide"},
        {{"/usr/bin/zoxide", "/home/ann/.local/bin/zoxide"}, "/usr/bin", "/home/ann/.local/bin/zoxide"},
        {{"/usr/local/bin/zoxide", "/home/ann/.local/bin/zoxide"}, std::nullopt, "/usr/local/bin/zoxide"},
        {{"/a/zoxide", "/b/zoxide"}, "::/b:/a", "/b/zoxide"},
        {{"/zoxide"}, "::", std::nullopt},  // empty entries are skipped, not read as "/"
        {{"/usr/bin/zoxide"}, std::nullopt, std::nullopt},
        {{}, "/usr/bin:/bin", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.value_or("(no PATH)"));
        fake::FakeProcessRunner runner;
        runner.executables.insert(c.executables.begin(), c.executables.end());
        EXPECT_EQ(Zoxide::resolveExecutable(runner, {"/home/ann", c.path}), c.expected);
        EXPECT_TRUE(runner.runs().empty());
    }
}

class ZoxideBestMatch : public ::testing::Test {
  protected:
    void SetUp() override { runner_.executables.insert("/usr/bin/zoxide"); }

    // An existing folder below the test's own temporary folder.
    std::string folder(const std::string& relative) {
        std::filesystem::create_directories(tmp_ / relative);
        return (tmp_ / relative).string();
    }

    std::optional<std::string> match(const Words& words, const ProcessOutcome& outcome) {
        runner_.respond = [outcome](const std::string&, const Words&) { return outcome; };
        return Zoxide::bestMatch(words, std::nullopt, runner_, environment_);
    }

    testing::TempDir tmp_;
    fake::FakeProcessRunner runner_;
    Zoxide::Environment environment_{"/home/ann", "/usr/bin"};
};

TEST_F(ZoxideBestMatch, RunsQueryWithTheKeywordsAndTakesTheFirstLine) {
    const std::string quenlit = folder("src/quenlit");
    EXPECT_EQ(match({"src", "Quen"}, {0, quenlit + "\n" + folder("src/other") + "\n", ""}), quenlit);
    EXPECT_EQ(runner_.runs(), Words{"/usr/bin/zoxide query -- src Quen"});
}

TEST_F(ZoxideBestMatch, SplitsAtEveryKindOfLineBreakAndSkipsBlankLines) {
    const std::string a = folder("a"), b = folder("b"), spaced = folder("a b"),
                      accented = folder("été\u00A0x");
    const std::pair<std::string, std::string> cases[] = {
        {a + "\n" + b, a},
        {"\n\n  " + spaced + "  \n", spaced},
        {a + "\r\n" + b, a},
        {a + "\r" + b, a},
        {a + "\v" + b, a},
        {a + "\f" + b, a},
        {a + "\u0085" + b, a},
        {a + "\u2028" + b, a},
        {a + "\u2029" + b, a},
        {accented + "\n", accented},  // a no-break space inside a name is not a line break
    };
    for (const auto& [output, expected] : cases) {
        SCOPED_TRACE(output);
        EXPECT_EQ(match({"a"}, {0, output, ""}), std::optional<std::string>(expected));
    }
}

TEST_F(ZoxideBestMatch, FailuresGiveNoMatch) {
    const std::string a = folder("a");
    EXPECT_EQ(match({"a"}, {1, a + "\n", ""}), std::nullopt);
    EXPECT_EQ(match({"a"}, {-1, "", "No such file or directory"}), std::nullopt);
    EXPECT_EQ(match({"a"}, {0, "", ""}), std::nullopt);
    EXPECT_EQ(match({"a"}, {0, " \n\t\u2028\r\n", ""}), std::nullopt);
}

// zoxide keeps ranking a folder deleted since it was visited; only a folder that is there now
// makes a row, and the first line alone decides.
TEST_F(ZoxideBestMatch, FirstLineMustBeAnExistingFolderGivenByItsAbsolutePath) {
    const std::string kept = folder("kept");
    const std::string deleted = folder("deleted");
    std::filesystem::remove(deleted);
    const std::string file = (tmp_ / "file").string();
    testing::writeFile(file, "not a folder");
    const std::string link = (tmp_ / "link").string();
    std::filesystem::create_directory_symlink(kept, link);
    const std::string dangling = (tmp_ / "dangling").string();
    std::filesystem::create_directory_symlink(deleted, dangling);
    // Relative to the working folder these exist, which must not matter.
    const std::string relative = std::filesystem::relative(kept, std::filesystem::current_path()).string();

    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {kept + "\n", kept},
        {link + "\n", link},
        {"/\n", "/"},
        {deleted + "\n", std::nullopt},
        {deleted + "\n" + kept + "\n", std::nullopt},
        {dangling + "\n", std::nullopt},
        {file + "\n", std::nullopt},
        {relative + "\n", std::nullopt},
        {".\n", std::nullopt},
        {kept + std::string("/\0x\n", 4), std::nullopt},  // no system call sees past the NUL
    };
    for (const auto& [output, expected] : cases) {
        SCOPED_TRACE(output);
        EXPECT_EQ(match({"k"}, {0, output, ""}), expected);
    }
}

TEST_F(ZoxideBestMatch, TildeAnswersTheHomeFolderWithoutRunningAnything) {
    runner_.executables.clear();
    EXPECT_EQ(match({"~"}, {0, "/elsewhere", ""}), "/home/ann");
    EXPECT_TRUE(runner_.runs().empty());

    runner_.executables.insert("/usr/bin/zoxide");
    const std::string src = folder("src");
    EXPECT_EQ(match({"~", "src"}, {0, src, ""}), src);
    EXPECT_EQ(runner_.runs(), Words{"/usr/bin/zoxide query -- ~ src"});
}

TEST_F(ZoxideBestMatch, NoKeywordsOrNoProgramRunsNothing) {
    const std::string a = folder("a");
    EXPECT_EQ(match({}, {0, a, ""}), std::nullopt);
    runner_.executables.clear();
    EXPECT_EQ(match({"a"}, {0, a, ""}), std::nullopt);
    EXPECT_TRUE(runner_.runs().empty());
}

TEST_F(ZoxideBestMatch, HomeFolderGivenAsAPath) {
    runner_.executables.clear();
    EXPECT_EQ(Zoxide::bestMatch({"~"}, std::nullopt, runner_, std::filesystem::path("/home/bo/")),
              "/home/bo");
    EXPECT_TRUE(runner_.runs().empty());
}

TEST_F(ZoxideBestMatch, GivenExecutableIsUsedAsIs) {
    runner_.executables.clear();
    const std::string x = folder("x");
    runner_.respond = [x](const std::string&, const Words&) { return ProcessOutcome{0, x + "\n", ""}; };
    EXPECT_EQ(Zoxide::bestMatch({"x"}, "/custom/zoxide", runner_, environment_), x);
    EXPECT_EQ(runner_.runs(), Words{"/custom/zoxide query -- x"});
}

TEST_F(ZoxideBestMatch, ExecutableIsResolvedAgainForEveryLookup) {
    const std::string a = folder("a");
    EXPECT_EQ(match({"a"}, {0, a, ""}), a);
    runner_.executables.insert("/usr/local/bin/zoxide");
    EXPECT_EQ(match({"a"}, {0, a, ""}), a);
    EXPECT_EQ(runner_.runs(), (Words{"/usr/bin/zoxide query -- a", "/usr/local/bin/zoxide query -- a"}));
}

TEST_F(ZoxideBestMatch, KeywordsAlwaysFollowTheEndOfOptions) {
    const std::string a = folder("a");
    EXPECT_EQ(match({"--help"}, {0, a, ""}), a);
    EXPECT_EQ(match({"src", "-i"}, {0, a, ""}), a);
    EXPECT_EQ(match({"--"}, {0, a, ""}), a);
    EXPECT_EQ(runner_.runs(), (Words{"/usr/bin/zoxide query -- --help", "/usr/bin/zoxide query -- src -i",
                                     "/usr/bin/zoxide query -- --"}));
}

TEST_F(ZoxideBestMatch, RunIsBoundedByTheLookupTimeoutAndTheCancelFunction) {
    const std::string a = folder("a");
    runner_.respond = [a](const std::string&, const Words&) { return ProcessOutcome{0, a, ""}; };
    bool wanted = true;
    const Zoxide::CancelFunction cancelled = [&wanted] { return !wanted; };

    EXPECT_EQ(Zoxide::bestMatch({"a"}, std::nullopt, runner_, environment_, cancelled), a);
    EXPECT_EQ(Zoxide::bestMatch({"a"}, std::nullopt, runner_, std::filesystem::path("/home/ann")), a);
    wanted = false;
    EXPECT_EQ(Zoxide::bestMatch({"a"}, std::nullopt, runner_, std::filesystem::path("/home/ann"), cancelled),
              std::nullopt);

    auto limits = runner_.runLimits();
    ASSERT_EQ(limits.size(), 3u);
    for (const auto& l : limits)
        EXPECT_EQ(l.timeout, std::chrono::seconds(5));
    ASSERT_TRUE(limits[0].cancelled && limits[2].cancelled);
    EXPECT_TRUE(limits[0].cancelled()) << "the caller's own cancel function";
    EXPECT_FALSE(limits[1].cancelled && limits[1].cancelled());
}

TEST(ZoxideRecordVisit, AddsAnExistingFolderThroughTheResolvedProgram) {
    testing::TempDir tmp;
    std::filesystem::create_directories(tmp.path() / "-dashed");
    const std::string folder = tmp.path().string();
    const std::string dashed = (tmp.path() / "-dashed").string();
    struct Case {
        const char* name;
        std::string directory;
        std::set<std::string> executables;
        int status;
        bool recorded;
        Words runs;
    };
    const std::vector<Case> cases{
        {"existing folder", folder, {"/usr/bin/zoxide"}, 0, true, {"/usr/bin/zoxide add -- " + folder}},
        {"a dash is no option", dashed, {"/usr/bin/zoxide"}, 0, true, {"/usr/bin/zoxide add -- " + dashed}},
        {"zoxide fails", folder, {"/usr/bin/zoxide"}, 1, false, {"/usr/bin/zoxide add -- " + folder}},
        {"no zoxide", folder, {}, 0, false, {}},
        {"missing folder", folder + "/gone", {"/usr/bin/zoxide"}, 0, false, {}},
        {"relative path", "work", {"/usr/bin/zoxide"}, 0, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake::FakeProcessRunner runner;
        runner.executables = c.executables;
        runner.respond = [&c](const std::string&, const Words&) { return ProcessOutcome{c.status, "", ""}; };
        EXPECT_EQ(Zoxide::recordVisit(c.directory, std::nullopt, runner, {"/home/ann", "/usr/bin"}),
                  c.recorded);
        EXPECT_EQ(runner.runs(), c.runs);
        for (const auto& limits : runner.runLimits())
            EXPECT_EQ(limits.timeout, Zoxide::kLookupTimeout) << "a stuck zoxide is killed";
    }
}

TEST(ZoxideBestMatchFunctions, StandAloneRunAndResolveFunctions) {
    testing::TempDir tmp;
    const std::string spaced = (tmp / "a b").string();
    std::filesystem::create_directory(spaced);
    std::vector<Words> calls;
    int resolutions = 0;
    auto run = [&](const std::string& program, const Words& arguments) {
        Words call{program};
        call.insert(call.end(), arguments.begin(), arguments.end());
        calls.push_back(call);
        return ProcessOutcome{0, spaced + "\n", ""};
    };
    auto resolve = [&]() -> std::optional<std::string> {
        ++resolutions;
        return "/bin/zoxide";
    };
    EXPECT_EQ(Zoxide::bestMatch({"a b"}, std::nullopt, run, resolve, "/home/ann"), spaced);
    EXPECT_EQ(Zoxide::bestMatch({"~"}, std::nullopt, run, resolve, "/home/ann"), "/home/ann");
    EXPECT_EQ(resolutions, 1);
    EXPECT_EQ(calls, std::vector<Words>{(Words{"/bin/zoxide", "query", "--", "a b"})});
}

// A zoxide that never answers (a locked database, a hung file system) must not outlive its lookup.
TEST(ZoxideHangingProgram, CancelledLookupKillsTheProgramAndGivesNoMatch) {
    testing::TempDir tmp;
    const auto program = tmp / "zoxide";
    const auto pidFile = tmp / "pid";
    testing::writeFile(program, "#!/bin/sh\necho $$ > '" + pidFile.string() + "'\nexec sleep 30\n");
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    auto started = [&pidFile] {
        std::error_code error;
        return std::filesystem::file_size(pidFile, error) > 0 && !error;
    };

    linux_backend::PosixProcessRunner runner;
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(Zoxide::bestMatch({"a"}, program.string(), runner, std::filesystem::path("/home/ann"), started),
              std::nullopt);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10)) << "well before sleep ends";

    int pid = 0;
    std::ifstream(pidFile) >> pid;
    ASSERT_GT(pid, 0);
    errno = 0;
    EXPECT_EQ(::kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH) << "killed and reaped";
}

// The lookups against the zoxide program itself, each with a database of its own.
class RealZoxide : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(kProgram)) GTEST_SKIP() << kProgram << " is not installed";
        root_ = std::filesystem::canonical(std::filesystem::temp_directory_path()) /
                ("quenlit-zoxide-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_ / "db");
        if (const char* previous = std::getenv("_ZO_DATA_DIR")) previousDataDir_ = previous;
        ::setenv("_ZO_DATA_DIR", (root_ / "db").c_str(), 1);
    }
    void TearDown() override {
        if (root_.empty()) return;
        if (previousDataDir_) {
            ::setenv("_ZO_DATA_DIR", previousDataDir_->c_str(), 1);
        } else {
            ::unsetenv("_ZO_DATA_DIR");
        }
        std::filesystem::remove_all(root_);
    }

    std::string visit(const std::string& relative) {
        auto dir = root_ / relative;
        std::filesystem::create_directories(dir);
        auto outcome = runner_.run(kProgram, {"add", dir.string()});
        EXPECT_EQ(outcome.status, 0) << outcome.standardError;
        return dir.string();
    }

    std::optional<std::string> lookup(const Words& words) {
        return Zoxide::bestMatch(words, std::nullopt, runner_,
                                 Zoxide::Environment{"/nonexistent-home", "/usr/bin"});
    }

    static constexpr const char* kProgram = "/usr/bin/zoxide";
    linux_backend::PosixProcessRunner runner_;
    std::filesystem::path root_;
    std::optional<std::string> previousDataDir_;
};

TEST_F(RealZoxide, FindsAVisitedDirectory) {
    std::string alpha = visit("work/alpha");
    visit("work/beta");
    EXPECT_EQ(lookup({"alpha"}), alpha);
    AppItem row = AppItem::zoxide(*lookup({"alpha"}), root_.string());
    EXPECT_EQ(row.name, "alpha");
    EXPECT_EQ(row.secondaryText(), "~/work/alpha");
}

TEST_F(RealZoxide, SeveralKeywordsNarrowTheMatch) {
    visit("work/alpha");
    std::string play = visit("play/alpha");
    visit("work/alpha");
    EXPECT_EQ(lookup({"play", "alpha"}), play);
}

TEST_F(RealZoxide, NamesWithSpacesAndAccentsRoundTrip) {
    std::string folder = visit("Projets d'été/Ünïcode");
    EXPECT_EQ(lookup(*Zoxide::keywords("z été ünï")), folder);
}

TEST_F(RealZoxide, UnknownKeywordGivesNoMatch) {
    visit("work/alpha");
    EXPECT_EQ(lookup({"quenlit-no-such-folder"}), std::nullopt);
}

TEST_F(RealZoxide, ARecordedVisitRanksTheFolderHigher) {
    const std::string once = visit("work/proj");
    const std::string twice = visit("play/proj");
    visit("play/proj");
    ASSERT_EQ(lookup({"proj"}), twice);
    const Zoxide::Environment environment{"/nonexistent-home", "/usr/bin"};
    EXPECT_TRUE(Zoxide::recordVisit(once, std::nullopt, runner_, environment));
    EXPECT_TRUE(Zoxide::recordVisit(once, std::nullopt, runner_, environment));
    EXPECT_EQ(lookup({"proj"}), once);
}

TEST_F(RealZoxide, KeywordWithALeadingDashIsSearchedNotTakenAsAnOption) {
    std::string dashed = visit("-dashed");
    EXPECT_EQ(lookup({"-dashed"}), dashed);
    EXPECT_EQ(lookup({"--help"}), std::nullopt);
}

}  // namespace
}  // namespace quenlit
