#include "app/Cli.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <sstream>

namespace quenlit::app {
namespace {

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

CliRun cli(std::vector<std::string> args) {
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
        {{"calc", "--json", "-50%"}, 0, "{\"expression\":\"-50%\",\"display\":\"-0.5\",\"copyText\":\"-0.5\"}\n", ""},
        {{"calc", "--json", "--", "8/2"}, 0, "{\"expression\":\"8÷2\",\"display\":\"4\",\"copyText\":\"4\"}\n", ""},
        {{"calc", "hello"}, 1, "", "not a calculation\n"},
        {{"calc", "--json", "42"}, 1, "", "not a calculation\n"},
        {{"calc", "--", "--json"}, 1, "", "not a calculation\n"},
        {{"calc"}, 2, "", "usage: quenlit calc [--json] [--] TEXT...\n"},
        {{"calc", "--json", "--"}, 2, "", "usage: quenlit calc [--json] [--] TEXT...\n"},
    };
    for (const auto& c : cases) {
        CliRun r = cli(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.back();
        EXPECT_EQ(r.out, c.out) << c.args.back();
        EXPECT_EQ(r.err, c.err) << c.args.back();
    }
}

TEST(Cli, SearchPrintsRowsInOrder) {
    CliRun text = cli({"search", "2+3"});
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(text.out, "5  2+3\n");
    CliRun t = cli({"search", "t"});
    EXPECT_EQ(t.out, "Top Half\nFirst Third\nLast Two Thirds\n");
    CliRun json = cli({"search", "--json", "lh"});
    EXPECT_EQ(json.out,
              "{\"id\":\"B2C3D4E5-F6A7-8901-BCDE-F12345678901\",\"name\":\"Left Half\",\"kind\":\"leftHalf\","
              "\"path\":\"Command\",\"secondary\":null,\"running\":false}\n");
    CliRun none = cli({"search", "no", "such", "thing"});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "");
    CliRun quoted = cli({"search", "--json", "\"quote\\"});
    EXPECT_EQ(quoted.status, 0);
}

TEST(Cli, VersionHelpAndUsageErrors) {
    EXPECT_EQ(cli({"--version"}).out, "quenlit 0.11.0\n");
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
}

// The installed program behaves the same, and writes nothing but its answer.
TEST(Cli, ProgramExitStatusAndOutput) {
    std::string command = std::string(QUENLIT_BINARY) + " calc 2^10 2>&1; echo \"status=$?\"";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    std::array<char, 256> buffer{};
    while (fgets(buffer.data(), buffer.size(), pipe) != nullptr) output += buffer.data();
    pclose(pipe);
    EXPECT_EQ(output, "1,024\nstatus=0\n");
}

}  // namespace
}  // namespace quenlit::app
