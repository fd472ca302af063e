#include "backends/linux/GnomeShellExtension.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace quenlit::linux_backend {
namespace {

TEST(GnomeShellExtensionTest, ReadsTheMajorVersionOfGnomeShell) {
    const struct {
        const char* line;
        std::optional<int> major;
    } cases[] = {
        {"GNOME Shell 43.9\n", 43},       {"GNOME Shell 45.rc\n", 45},
        {"GNOME Shell 50.0", 50},         {"gnome-shell: command not found", std::nullopt},
        {"GNOME Shell \n", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(gnomeShellMajorVersion(c.line), c.major) << c.line;
}

std::string read(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Each release family gets the entry file it loads, and ES modules a core that exports its class;
// a release older than the extension's is refused.
TEST(GnomeShellExtensionTest, WritesTheVariantTheReleaseLoads) {
    const std::filesystem::path shipped =
        std::filesystem::path(QUENLIT_SOURCE_DIR) / "data/gnome-shell" / kGnomeExtensionUuid;
    const struct {
        int major;
        bool written;
        bool modules;
    } cases[] = {
        {42, false, false}, {43, true, false}, {44, true, false}, {45, true, true}, {48, true, true}};
    for (const auto& c : cases) {
        testing::TempDir home;
        const auto written = writeGnomeExtension(shipped, home.path() / "extensions", c.major);
        ASSERT_EQ(written.has_value(), c.written) << c.major;
        if (!c.written) {
            EXPECT_EQ(written.error().kind, Failure::Kind::unsupported);
            continue;
        }
        const std::filesystem::path& folder = written.value();
        EXPECT_EQ(folder, home.path() / "extensions" / kGnomeExtensionUuid);
        const std::string entry = read(folder / "extension.js");
        EXPECT_EQ(entry.find("export default class") != std::string::npos, c.modules) << c.major;
        EXPECT_EQ(entry.find("imports.gi") != std::string::npos, !c.modules) << c.major;
        EXPECT_EQ(read(folder / "core.js").find("export {QuenlitService};") != std::string::npos, c.modules);
        EXPECT_NE(read(folder / "metadata.json").find("\"" + std::to_string(c.major) + "\""),
                  std::string::npos);
        EXPECT_TRUE(std::filesystem::exists(folder / "schemas" / "gschemas.compiled")) << c.major;
    }
}

}  // namespace
}  // namespace quenlit::linux_backend
