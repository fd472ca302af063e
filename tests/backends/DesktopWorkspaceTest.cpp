#include "backends/linux/DesktopWorkspace.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace quenlit::linux_backend {
namespace {

namespace fs = std::filesystem;
using quenlit::testing::TempDir;
using quenlit::testing::writeFile;

// Each case builds a tree under "root": "root/apps" is the walked applications folder and
// "root/system" a second one; everything else under "root" lies outside the applications folders.
// The paste key of a terminal started under a name of its own comes from its desktop entry.
TEST(TerminalEmulatorEntry, IsToldByItsCategoriesAlone) {
    const TempDir dir;
    const struct {
        const char* contents;
        bool terminal;
    } cases[] = {
        {"[Desktop Entry]\nType=Application\nName=Foot\nExec=foot\nCategories=System;TerminalEmulator;\n",
         true},
        {"[Desktop Entry]\nType=Application\nName=Term\nExec=myterm\nCategories=TerminalEmulator\n", true},
        {"[Desktop Entry]\nType=Application\nName=Terminal Notes\nCategories=Utility;TextEditor;\n", false},
        {"[Desktop Entry]\nType=Application\nName=Plain\n", false},
        {"[Other Group]\nCategories=TerminalEmulator;\n", false},
        {"not a key file at all", false},
    };
    int n = 0;
    for (const auto& c : cases) {
        const auto path = dir / ("entry" + std::to_string(n++) + ".desktop");
        writeFile(path, c.contents);
        EXPECT_EQ(isTerminalEmulatorEntry(path.string()), c.terminal) << c.contents;
    }
    EXPECT_FALSE(isTerminalEmulatorEntry((dir / "missing.desktop").string()));
}

TEST(WalkApplicationFolder, FindsEachDesktopFileOnceAndStaysInsideTheApplicationsFolders) {
    struct Case {
        std::string name;
        std::function<void(const fs::path& root)> build;
        std::vector<std::string> expected;
    } cases[] = {
        {"plain tree",
         [](const fs::path& root) {
             writeFile(root / "apps/a.desktop", "");
             writeFile(root / "apps/kde/b.desktop", "");
             writeFile(root / "apps/notes.txt", "");
         },
         {"a.desktop", "kde/b.desktop"}},
        {"two links to the folder itself",
         [](const fs::path& root) {
             writeFile(root / "apps/a.desktop", "");
             fs::create_directory_symlink(".", root / "apps/loop");
             fs::create_directory_symlink(".", root / "apps/loop2");
         },
         {"a.desktop"}},
        {"a link to the parent folder",
         [](const fs::path& root) {
             writeFile(root / "apps/a.desktop", "");
             writeFile(root / "other/x.desktop", "");
             fs::create_directory_symlink("..", root / "apps/share");
         },
         {"a.desktop"}},
        {"a link out of every applications folder",
         [](const fs::path& root) {
             writeFile(root / "apps/a.desktop", "");
             writeFile(root / "outside/x.desktop", "");
             fs::create_directory_symlink(root / "outside", root / "apps/ext");
         },
         {"a.desktop"}},
        {"a link into another applications folder",
         [](const fs::path& root) {
             writeFile(root / "apps/a.desktop", "");
             writeFile(root / "system/kde/s.desktop", "");
             fs::create_directory_symlink("../system/kde", root / "apps/kde");
         },
         {"a.desktop", "kde/s.desktop"}},
        {"a link cycle between two subfolders",
         [](const fs::path& root) {
             writeFile(root / "apps/one/a.desktop", "");
             fs::create_directory_symlink("../one", root / "apps/one/back");
         },
         {"one/a.desktop"}},
        {"folders nested deeper than the bound",
         [](const fs::path& root) {
             fs::path deep = root / "apps";
             for (int i = 0; i < kMaxApplicationFolderDepth; ++i)
                 deep /= "d";
             writeFile(deep / "deepest.desktop", "");
             writeFile(deep / "d/too-deep.desktop", "");
         },
         {"d/d/d/d/d/d/d/d/deepest.desktop"}},
        {"a desktop file that is a link",
         [](const fs::path& root) {
             writeFile(root / "apps/a.desktop", "");
             writeFile(root / "other/x.desktop", "");
             fs::create_symlink("../other/x.desktop", root / "apps/linked.desktop");
         },
         {"a.desktop", "linked.desktop"}},
        {"a folder that does not exist", [](const fs::path&) {}, {}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        c.build(dir.path());
        const ApplicationFolderWalk walk =
            walkApplicationFolder(dir / "apps", {dir / "apps", dir / "system", dir / "missing"});
        EXPECT_EQ(walk.desktopFiles, c.expected) << c.name;
        EXPECT_TRUE(walk.unreadable.empty()) << c.name;
        // What lets the catalogue skip resolving each file: the resolved folder, and which files
        // are links. A file directly in the folder that is none resolves to its place in the
        // resolved folder (one in a subfolder may lie behind a linked folder).
        std::error_code ec;
        EXPECT_EQ(walk.realFolder, fs::exists(dir / "apps") ? fs::canonical(dir / "apps").string() : "")
            << c.name;
        std::vector<std::string> links;
        for (const auto& file : walk.desktopFiles) {
            if (fs::is_symlink(dir / "apps" / file)) {
                links.push_back(file);
            } else if (file.find('/') == std::string::npos) {
                EXPECT_EQ(walk.realFolder + "/" + file, fs::canonical(dir / "apps" / file, ec).string())
                    << file;
            }
        }
        EXPECT_EQ(walk.linkedFiles, links) << c.name;
    }
}

}  // namespace
}  // namespace quenlit::linux_backend
