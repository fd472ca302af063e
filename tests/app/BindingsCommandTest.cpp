#include "support/Permissions.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include <sys/stat.h>

namespace quenlit::app {
namespace {

// Runs the installed program with a fixture home; the output is stdout and stderr together, then
// the exit status.
class BindingsCommandTest : public ::testing::Test {
  protected:
    std::string program(const std::string& arguments, const std::string& configHome = "") {
        std::string command = "env -i PATH=/usr/bin:/bin HOME=" + (dir / "home").string() +
                              (configHome.empty() ? "" : " XDG_CONFIG_HOME=" + configHome) + " " +
                              testing::honouringPermissions() + QUENLIT_BINARY + " " + arguments +
                              " 2>&1; echo \"status=$?\"";
        FILE* pipe = popen(command.c_str(), "r");
        std::string output;
        std::array<char, 512> buffer{};
        while (pipe != nullptr && fgets(buffer.data(), buffer.size(), pipe) != nullptr)
            output += buffer.data();
        if (pipe != nullptr) pclose(pipe);
        return output;
    }
    std::string file(const std::string& name, const std::string& text) {
        testing::writeFile(dir / name, text);
        return (dir / name).string();
    }
    testing::TempDir dir;
};

TEST_F(BindingsCommandTest, PrintsEachBindingAsTheMonitorLogsIt) {
    const std::string path =
        file("mine.toml",
             "# toggles\n"
             "[[toggle]]\nkey = \"K\"\nbundle_id = \"com.example.App\"\nmodifiers = [\"leftControl\"]\n"
             "[[toggle]]\nkey = \"space\"\napp = \"C# Editor\"\nmodifiers = [leftControl,]\n");
    EXPECT_EQ(program("bindings check " + path),
              "apptoggle: binding leftControl+k → com.example.App\n"
              "apptoggle: binding leftControl+space → C# Editor\n"
              "status=0\n");
}

TEST_F(BindingsCommandTest, InvalidOrUnreadableFilesFailWithTheLoadLine) {
    struct Case {
        std::string name;
        std::string text;
        std::string description;
    } cases[] = {
        {"bad key", "[[toggle]]\nkey = \"F1\"\napp = \"Notes\"\nmodifiers = [\"leftControl\"]\n",
         "unknown key \"F1\""},
        {"bad modifier",
         "[[toggle]]\nkey = \"n\"\napp = \"Notes\"\nmodifiers = [\"leftControl\", \"shift\"]\n",
         "unknown modifier \"shift\""},
        {"empty toggle", "[[toggle]]\n", "toggle is missing key"},
        {"no target", "[[toggle]]\nkey = \"n\"\nmodifiers = [\"leftControl\"]\n",
         "toggle needs app or bundle_id"},
        {"no modifiers", "[[toggle]]\nkey = \"n\"\napp = \"Notes\"\n", "toggle needs at least one modifier"},
    };
    for (const auto& c : cases) {
        const std::string path = file("bad.toml", c.text);
        EXPECT_EQ(program("bindings check " + path),
                  "apptoggle: load failed — " + c.description + "\nstatus=1\n")
            << c.name;
    }
    const std::string binary = file("binary.toml", "[[toggle]]\nkey = \"\xff\"\n");
    EXPECT_EQ(program("bindings check " + binary),
              "apptoggle: load failed — cannot read " + binary + "\nstatus=1\n");
    std::filesystem::create_directories(dir / "folder.toml");
    EXPECT_EQ(program("bindings check " + (dir / "folder.toml").string()),
              "apptoggle: load failed — cannot read " + (dir / "folder.toml").string() + "\nstatus=1\n");
}

// Anything but a readable regular file within the size limit fails at once, naming the file: no
// wait on a pipe, no endless read of a device, no "create it" for a file that is only hidden.
TEST_F(BindingsCommandTest, FilesThatCannotBeReadFailAtOnce) {
    const std::string path = (dir / "bindings.toml").string();
    struct Case {
        std::string name;
        std::function<void()> make;
        std::string description;
    } cases[] = {
        {"larger than the limit",
         [&] {
             file("bindings.toml", "# big\n");
             std::filesystem::resize_file(path, 4 * 1024 * 1024 + 1);
         },
         path + " is too large (4194305 bytes, at most 4194304)"},
        {"a link to an endless device", [&] { std::filesystem::create_symlink("/dev/zero", path); },
         "cannot read " + path},
        {"a named pipe", [&] { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }, "cannot read " + path},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(path);
        c.make();
        EXPECT_EQ(program("bindings check " + path),
                  "apptoggle: load failed — " + c.description + "\nstatus=1\n")
            << c.name;
    }
}

TEST_F(BindingsCommandTest, AFileBehindAFolderThatDeniesAccessIsUnreadableNotMissing) {
    const std::string path = file("locked/bindings.toml", "[[toggle]]\n");
    std::filesystem::permissions(dir / "locked", std::filesystem::perms::none);
    const std::string out = program("bindings check " + path);
    std::filesystem::permissions(dir / "locked", std::filesystem::perms::owner_all);
    EXPECT_EQ(out, "apptoggle: load failed — cannot read " + path + "\nstatus=1\n");
}

TEST_F(BindingsCommandTest, NoBindingsNamesTheFileToCreate) {
    const std::string missing = (dir / "missing.toml").string();
    EXPECT_EQ(program("bindings check " + missing),
              "apptoggle: no bindings (create " + missing + ")\nstatus=0\n");
    const std::string comments = file("comments.toml", "# nothing yet\nkey = \"k\"\n");
    EXPECT_EQ(program("bindings check " + comments),
              "apptoggle: no bindings (create " + comments + ")\nstatus=0\n");
}

TEST_F(BindingsCommandTest, WithoutAFileChecksTheUsersBindingsFile) {
    const std::string standard = (dir / "home/.config/quenlit/bindings.toml").string();
    EXPECT_EQ(program("bindings check"), "apptoggle: no bindings (create " + standard + ")\nstatus=0\n");
    file("home/.config/quenlit/bindings.toml",
         "[[toggle]]\nkey = \"t\"\napp = \"Terminal\"\nmodifiers = [\"leftControl\"]\n");
    EXPECT_EQ(program("bindings check"), "apptoggle: binding leftControl+t → Terminal\nstatus=0\n");
    const std::string configured = (dir / "cfg/quenlit/bindings.toml").string();
    EXPECT_EQ(program("bindings check", (dir / "cfg").string()),
              "apptoggle: no bindings (create " + configured + ")\nstatus=0\n");
}

TEST_F(BindingsCommandTest, UsageErrors) {
    const std::string usage = "usage: quenlit bindings check [FILE]\nstatus=2\n";
    EXPECT_EQ(program("bindings"), usage);
    EXPECT_EQ(program("bindings list"), usage);
    EXPECT_EQ(program("bindings check a.toml b.toml"), usage);
    EXPECT_EQ(program("bindings check ''"), usage);
}

}  // namespace
}  // namespace quenlit::app
