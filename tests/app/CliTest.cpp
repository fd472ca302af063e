#include "app/Cli.h"

#include "support/Permissions.h"
#include "support/TempDir.h"

#include "QuenlitVersion.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace quenlit::app {
namespace {

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

CliRun cli(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    int status = runCli(args, out, err);
    return {status, out.str(), err.str()};
}

TEST(Cli, CalcPrintsTheDisplayOrJson) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        {{"calc", "1234", "*", "2"}, 0, "2,468\n", ""},
        {{"calc", "-5"}, 0, "-5\n", ""},
        {{"calc", "--", "-5"}, 0, "-5\n", ""},
        {{"calc", "--json", "-50%"},
         0,
         "{\"expression\":\"-50%\",\"display\":\"-0.5\",\"copyText\":\"-0.5\"}\n",
         ""},
        {{"calc", "--json", "--", "8/2"},
         0,
         "{\"expression\":\"8÷2\",\"display\":\"4\",\"copyText\":\"4\"}\n",
         ""},
        {{"calc", "hello"}, 1, "", "not a calculation\n"},
        {{"calc", "--json", "42"}, 1, "", "not a calculation\n"},
        {{"calc", "--", "--json"}, 1, "", "not a calculation\n"},
        {{"calc"}, 2, "", "usage: quenlit calc [--json] [--] TEXT...\n"},
        {{"calc", "--json", "--"}, 2, "", "usage: quenlit calc [--json] [--] TEXT...\n"},
        // An option after the text is still the option; an unknown one is refused, not calculated.
        {{"calc", "2+3*4", "--json"},
         0,
         "{\"expression\":\"2+3×4\",\"display\":\"14\",\"copyText\":\"14\"}\n",
         ""},
        {{"calc", "2", "--jsno"},
         2,
         "",
         "quenlit: unknown option '--jsno' for calc (text that begins with \"--\" goes after \"--\"; see "
         "'quenlit --help')\n"},
    };
    for (const auto& c : cases) {
        CliRun r = cli(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.back();
        EXPECT_EQ(r.out, c.out) << c.args.back();
        EXPECT_EQ(r.err, c.err) << c.args.back();
    }
}

TEST(Cli, VersionHelpAndUsageErrors) {
    EXPECT_EQ(cli({"--version"}).out, "quenlit " QUENLIT_VERSION "\n");
    CliRun help = cli({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("calc [--json]"), std::string::npos);
    EXPECT_NE(help.out.find("search [--json]"), std::string::npos);
    CliRun unknown = cli({"frobnicate"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.err, "quenlit: unknown command 'frobnicate' (see 'quenlit --help')\n");
    CliRun option = cli({"--frobnicate", "calc", "1+1"});
    EXPECT_EQ(option.status, 2);
    EXPECT_EQ(option.err, "quenlit: unknown option '--frobnicate' (see 'quenlit --help')\n");
    EXPECT_EQ(cli({"--backend", "mir"}).err, "quenlit: --backend takes x11, sway, kde or gnome\n");
    CliRun backendWithCommand = cli({"--backend", "x11", "calc", "1"});
    EXPECT_EQ(backendWithCommand.status, 2);
    EXPECT_EQ(backendWithCommand.err,
              "quenlit: --backend is for the desktop program: run 'quenlit --backend x11' alone\n");
}

// The installed program behaves the same, and writes nothing but its answer.
TEST(Cli, ProgramExitStatusAndOutput) {
    std::string command = std::string(QUENLIT_BINARY) + " calc 2^10 2>&1; echo \"status=$?\"";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    std::array<char, 256> buffer{};
    while (fgets(buffer.data(), buffer.size(), pipe) != nullptr)
        output += buffer.data();
    pclose(pipe);
    EXPECT_EQ(output, "1,024\nstatus=0\n");
}

}  // namespace
}  // namespace quenlit::app

namespace quenlit::app {
namespace {

// Runs the installed program in a fixture home with its own desktop entries and Firefox folder.
class CliFixtureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto apps = dir / "share/applications";
        entry(apps / "firefox-esr.desktop", "Firefox ESR", "");
        entry(apps / "org.gnome.TextEditor.desktop", "Text Editor", "Name[de]=Texteditor\n");
        entry(apps / "hidden.desktop", "Hidden Editor", "NoDisplay=true\n");
        entry(apps / "quenlit.desktop", "Quenlit Editor", "");
        auto firefox = dir / "home/.mozilla/firefox";
        testing::writeFile(firefox / "ab.default-release/prefs.js", "");
        testing::writeFile(firefox / "cd.work/prefs.js", "");
        std::filesystem::create_directories(firefox / "ef.empty");
        testing::writeFile(
            firefox / "profiles.ini",
            "[Profile0]\nName=default-release\nIsRelative=1\nPath=ab.default-release\nDefault=1\n");
    }
    static void entry(const std::filesystem::path& file, const std::string& name, const std::string& extra) {
        testing::writeFile(file,
                           "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=/bin/true\n" + extra);
    }
    CliRun program(const std::string& arguments) {
        std::string command =
            "env -i PATH=/usr/bin:/bin HOME=" + (dir / "home").string() +
            " XDG_DATA_HOME=" + (dir / "share").string() + " XDG_DATA_DIRS=" + (dir / "none").string() +
            " _ZO_DATA_DIR=" + (dir / "zoxide").string() + " " + testing::honouringPermissions() +
            QUENLIT_BINARY + " " + arguments + " 2>&1; echo \"status=$?\"";
        FILE* pipe = popen(command.c_str(), "r");
        std::string output;
        std::array<char, 512> buffer{};
        while (pipe != nullptr && fgets(buffer.data(), buffer.size(), pipe) != nullptr)
            output += buffer.data();
        if (pipe != nullptr) pclose(pipe);
        return {0, output, ""};
    }
    testing::TempDir dir;
};

TEST_F(CliFixtureTest, SearchShowsApplicationsAndProfilesButNotItself) {
    EXPECT_EQ(program("search editor").out, "Text Editor\nstatus=0\n");
    EXPECT_EQ(program("search fire").out, "Firefox ESR  default-release\nFirefox ESR  work\nstatus=0\n");
    const std::string json = program("search --json work").out;
    EXPECT_NE(json.find("\"name\":\"Firefox ESR\",\"kind\":\"app\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"secondary\":\"work\",\"running\":false"), std::string::npos) << json;
}

TEST_F(CliFixtureTest, SearchFindsEveryEntryPastUnreadableFoldersAndLinkLoops) {
    auto apps = dir / "share/applications";
    for (int i = 10; i < 40; ++i)
        entry(apps / ("tool" + std::to_string(i) + ".desktop"), "Tool " + std::to_string(i), "");
    entry(apps / "locked/hidden-tool.desktop", "Locked Tool", "");
    std::filesystem::permissions(apps / "locked", std::filesystem::perms::none);
    std::filesystem::create_directory_symlink(".", apps / "loop");
    std::filesystem::create_directory_symlink(".", apps / "loop2");
    std::filesystem::create_directory_symlink("..", apps / "share");
    const std::string out = program("search tool").out;
    std::filesystem::permissions(apps / "locked", std::filesystem::perms::owner_all);
    std::string expected;
    for (int i = 10; i < 40; ++i)
        expected += "Tool " + std::to_string(i) + "\n";
    EXPECT_EQ(out, expected + "status=0\n");
}

// The desktop-entry rules decide which entries are listed (no desktop is current here).
TEST_F(CliFixtureTest, SearchListsOnlyUsableApplicationEntries) {
    struct Case {
        std::string file;
        std::string text;
        bool listed;
    } cases[] = {
        {"plain", "Exec=/bin/true\n", true},
        {"program-on-path", "Exec=true --flag\n", true},
        {"no-exec", "", true},
        {"hidden", "Exec=/bin/true\nHidden=true\n", false},
        {"nodisplay", "Exec=/bin/true\nNoDisplay=true\n", false},
        {"missing-program", "Exec=/nowhere/prog\n", false},
        {"missing-tryexec", "Exec=/bin/true\nTryExec=no-such-program-here\n", false},
        {"bad-quoting", "Exec=\"/bin/true\n", false},
        {"only-elsewhere", "Exec=/bin/true\nOnlyShowIn=KDE;\n", false},
        {"not-elsewhere", "Exec=/bin/true\nNotShowIn=KDE;\n", true},
        {"link", "Type=Link\nURL=https://example.org\n", false},
    };
    std::string expected;
    for (const auto& c : cases) {
        const bool hasType = c.text.rfind("Type=", 0) == 0;
        testing::writeFile(dir / ("share/applications/" + c.file + ".desktop"),
                           "[Desktop Entry]\n" + std::string(hasType ? "" : "Type=Application\n") +
                               "Name=Entry " + c.file + "\n" + c.text);
    }
    testing::writeFile(
        dir / "share/applications/other-group.desktop",
        "[Other]\nX=1\n[Desktop Entry]\nType=Application\nName=Entry other-group\nExec=/bin/true\n");
    const std::string out = program("search entry").out;
    for (const auto& c : cases)
        EXPECT_EQ(out.find("Entry " + c.file + "\n") != std::string::npos, c.listed) << c.file << "\n" << out;
    EXPECT_EQ(out.find("other-group"), std::string::npos) << out;
}

TEST_F(CliFixtureTest, SearchCutsOverlongNamesAndSkipsOversizedEntries) {
    entry(dir / "share/applications/huge.desktop", "Huge" + std::string(200000, 'x'), "");
    // A file over 4 MiB is not read at all.
    entry(dir / "share/applications/giant.desktop", "Huge giant" + std::string(5 * 1024 * 1024, 'x'), "");
    EXPECT_EQ(program("search huge").out, "Huge" + std::string(1020, 'x') + "\nstatus=0\n");
}

TEST_F(CliFixtureTest, SearchPrintsBuiltInRowsInOrder) {
    EXPECT_EQ(program("search 2+3").out, "5  2+3\nstatus=0\n");
    // The profile row matches by the "t" inside its profile name, far down its search text.
    EXPECT_EQ(
        program("search t").out,
        "Top Half\nFirst Third\nLast Two Thirds\nText Editor\nFirefox ESR  default-release\nstatus=0\n");
    EXPECT_EQ(program("search lh --json").out, program("search --json lh").out);
    const std::string unknown = program("search lh --limit 2").out;
    EXPECT_TRUE(unknown.starts_with("quenlit: unknown option '--limit' for search") &&
                unknown.ends_with("status=2\n"))
        << unknown;
    EXPECT_EQ(program("search --json lh").out,
              "{\"id\":\"B2C3D4E5-F6A7-8901-BCDE-F12345678901\",\"name\":\"Left Half\",\"kind\":\"leftHalf\","
              "\"path\":\"Command\",\"secondary\":null,\"running\":false}\nstatus=0\n");
    EXPECT_EQ(program("search no such thing").out, "status=0\n");
    EXPECT_EQ(program("search").out, "status=0\n") << "nothing runs, so there is nothing to switch to";
}

TEST_F(CliFixtureTest, ProfilesListsDefaultFirst) {
    const auto firefox = (dir / "home/.mozilla/firefox").string();
    EXPECT_EQ(program("profiles").out, "default-release  " + firefox +
                                           "/ab.default-release  default\nwork  " + firefox +
                                           "/cd.work\nstatus=0\n");
    EXPECT_EQ(program("profiles --json").out.substr(0, 24), "{\"name\":\"default-release");
    EXPECT_EQ(program("profiles --yaml").out,
              "quenlit: unknown option '--yaml' for profiles (see 'quenlit --help')\nstatus=2\n");
}

TEST_F(CliFixtureTest, JsonReplacesInvalidUtf8FromFileNames) {
    entry(dir / "share/applications/bad\xff.desktop", "Bad\xff", "");
    testing::writeFile(dir / "home/.mozilla/firefox/zz.caf\xe9/prefs.js", "");
    const std::string replacement = "\xEF\xBF\xBD";
    const std::string search = program("search --json bad").out;
    EXPECT_NE(search.find("\"name\":\"bad" + replacement + "\""), std::string::npos) << search;
    EXPECT_NE(search.find("/bad" + replacement + ".desktop\""), std::string::npos) << search;
    const std::string profiles = program("profiles --json").out;
    EXPECT_NE(profiles.find("\"name\":\"caf" + replacement + "\""), std::string::npos) << profiles;
    EXPECT_NE(profiles.find("/zz.caf" + replacement + "\""), std::string::npos) << profiles;
    EXPECT_EQ(search.find('\xff'), std::string::npos);
    EXPECT_EQ(profiles.find('\xe9'), std::string::npos);
}

TEST_F(CliFixtureTest, ProfilesReportsARegistryTooLargeToRead) {
    const auto firefox = dir / "home/.mozilla/firefox";
    std::filesystem::resize_file(firefox / "profiles.ini", 4 * 1024 * 1024 + 1);
    const std::string out = program("profiles").out;
    EXPECT_NE(out.find("quenlit: " + (firefox / "profiles.ini").string() +
                       " is too large (4194305 bytes, at most 4194304)\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("default-release  " + (firefox / "ab.default-release").string() + "\n"),
              std::string::npos)
        << "the folders on disk are still listed: " << out;
    EXPECT_TRUE(out.ends_with("status=1\n")) << out;
}

TEST_F(CliFixtureTest, ZoxideQueryWaitsForTheLookup) {
    if (!std::filesystem::exists("/usr/bin/zoxide")) GTEST_SKIP() << "zoxide is not installed";
    auto project = dir / "home/src/quenlit-project";
    std::filesystem::create_directories(project);
    std::string add =
        "env _ZO_DATA_DIR=" + (dir / "zoxide").string() + " /usr/bin/zoxide add " + project.string();
    ASSERT_EQ(std::system(add.c_str()), 0);
    EXPECT_EQ(program("search z quenlit-pro").out, "quenlit-project  ~/src/quenlit-project\nstatus=0\n");
    EXPECT_EQ(program("search z nowhere-at-all").out, "status=0\n");
    EXPECT_EQ(program("search z '~'").out, "~\nstatus=0\n");
}

// The autostart entry starts the executable that wrote it, wherever it lies: a folder with blanks
// or shell characters is quoted as the desktop-entry rules ask, so the session starts that file.
TEST_F(CliFixtureTest, InstallAutostartNamesTheRunningProgram) {
    const struct {
        std::string folder;
        std::string exec;
    } cases[] = {
        {"bin", (dir / "bin/quenlit").string()},
        {"my apps", "\"" + (dir / "my apps/quenlit").string() + "\""},
        {"100% $cash", "\"" + (dir / "100%% \\\\$cash/quenlit").string() + "\""},
    };
    for (const auto& c : cases) {
        const auto copy = dir / c.folder / "quenlit";
        std::filesystem::create_directories(copy.parent_path());
        std::filesystem::copy_file(QUENLIT_BINARY, copy, std::filesystem::copy_options::overwrite_existing);
        const std::string command = "env -i PATH=/usr/bin:/bin HOME='" + (dir / "home").string() + "' '" +
                                    copy.string() + "' --install-autostart 2>&1; echo \"status=$?\"";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string output;
        std::array<char, 512> buffer{};
        while (fgets(buffer.data(), buffer.size(), pipe) != nullptr)
            output += buffer.data();
        pclose(pipe);
        const auto entry = dir / "home/.config/autostart/quenlit.desktop";
        EXPECT_EQ(output,
                  "wrote " + entry.string() + ": Quenlit starts with your next desktop session\nstatus=0\n");
        std::ifstream in(entry);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_TRUE(text.starts_with("[Desktop Entry]\nType=Application\n")) << text;
        EXPECT_NE(text.find("\nExec=" + c.exec + "\n"), std::string::npos) << c.folder << ":\n" << text;
    }
}

// A desktop entry must be UTF-8 (GLib refuses the whole file otherwise): a program in a folder
// whose name is not says so and writes nothing.
TEST_F(CliFixtureTest, InstallAutostartRefusesAPathThatIsNotUtf8) {
    const auto copy = dir / "caf\xe9" / "quenlit";
    std::filesystem::create_directories(copy.parent_path());
    std::filesystem::copy_file(QUENLIT_BINARY, copy, std::filesystem::copy_options::overwrite_existing);
    const std::string command = "env -i PATH=/usr/bin:/bin HOME='" + (dir / "home").string() + "' '" +
                                copy.string() + "' --install-autostart 2>&1; echo \"status=$?\"";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    std::array<char, 512> buffer{};
    while (fgets(buffer.data(), buffer.size(), pipe) != nullptr)
        output += buffer.data();
    pclose(pipe);
    EXPECT_EQ(output,
              "quenlit: this program's path " + (dir / "caf\xef\xbf\xbd/quenlit").string() +
                  " is not valid UTF-8, which a desktop entry cannot name; move the program to a folder "
                  "whose name is UTF-8 and run this again\nstatus=1\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "home/.config/autostart/quenlit.desktop"));
}

}  // namespace
}  // namespace quenlit::app
