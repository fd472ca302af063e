#include "base/Paths.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

namespace quenlit {
namespace {

XdgDirs dirsFor(const std::map<std::string, std::string>& env) {
    return XdgDirs::fromEnvironment([env](const char* name) -> const char* {
        auto it = env.find(name);
        return it == env.end() ? nullptr : it->second.c_str();
    });
}

TEST(Paths, DefaultsAndRelativeValuesFollowTheBaseDirectoryRules) {
    XdgDirs d =
        dirsFor({{"HOME", "/home/ann"}, {"XDG_CONFIG_HOME", "relative/config"}, {"XDG_DATA_HOME", ""}});
    EXPECT_EQ(d.dataHome, "/home/ann/.local/share");
    EXPECT_EQ(d.configHome, "/home/ann/.config");
    EXPECT_EQ(d.logFile(), "/home/ann/.local/state/quenlit/focus.log");
    EXPECT_EQ(d.bindingsFile(), "/home/ann/.config/quenlit/bindings.toml");
    EXPECT_FALSE(d.runtimeDir);
    XdgDirs e = dirsFor({{"HOME", "/h"}, {"XDG_STATE_HOME", "/s"}, {"XDG_RUNTIME_DIR", "/run/user/7"}});
    EXPECT_EQ(e.logFile(), "/s/quenlit/focus.log");
    EXPECT_EQ(e.runtimeDir, std::filesystem::path("/run/user/7"));
}

TEST(Paths, UserDirsEntries) {
    const std::string text =
        "# written by xdg-user-dirs-update\n"
        "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
        "XDG_DOWNLOAD_DIR=\"$HOME/Téléchargements\"\n"
        "XDG_MUSIC_DIR=\"/srv/music\"\n"
        "XDG_VIDEOS_DIR=\"$HOME/\"\n";
    EXPECT_EQ(parseUserDirsEntry(text, "XDG_DOWNLOAD_DIR", "/home/ann"),
              std::filesystem::path("/home/ann/Téléchargements"));
    EXPECT_EQ(parseUserDirsEntry(text, "XDG_MUSIC_DIR", "/home/ann"), std::filesystem::path("/srv/music"));
    EXPECT_EQ(parseUserDirsEntry(text, "XDG_VIDEOS_DIR", "/home/ann"), std::filesystem::path("/home/ann"));
    EXPECT_FALSE(parseUserDirsEntry(text, "XDG_PICTURES_DIR", "/home/ann"));
}

TEST(Paths, DownloadsFolderFromUserDirsFileElseDefault) {
    auto root = std::filesystem::temp_directory_path() /
                ("quenlit-paths-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root / "config");
    XdgDirs d = dirsFor({{"HOME", root.string()}, {"XDG_CONFIG_HOME", (root / "config").string()}});
    EXPECT_EQ(d.downloadsDir(), root / "Downloads");
    std::ofstream(root / "config" / "user-dirs.dirs") << "XDG_DOWNLOAD_DIR=\"$HOME/Descargas/\"\n";
    EXPECT_EQ(d.downloadsDir(), root / "Descargas");
    std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace quenlit
