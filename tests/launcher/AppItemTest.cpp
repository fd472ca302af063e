#include "calculator/Calculator.h"
#include "launcher/AppItem.h"
#include "launcher/AppSearch.h"
#include "launcher/FolderShortcut.h"
#include "launcher/WindowCommandRows.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

namespace quenlit {
namespace {

TEST(AppItem, CommandItemsAreFixed) {
    const auto& items = AppItem::commandItems();
    ASSERT_EQ(items.size(), 13u);
    EXPECT_EQ(AppItem::quitQuenlit().name, "Quit Quenlit");
    EXPECT_EQ(AppItem::quitQuenlit().id.toString(), "A1B2C3D4-E5F6-7890-ABCD-EF1234567890");
    EXPECT_EQ(AppItem::moveToRight().id.toString(), "A3B4C5D6-E7F8-9012-6789-123456789012");
    EXPECT_EQ(AppItem::lastTwoThirds().kind, AppItem::Kind::lastTwoThirds);
    EXPECT_EQ(AppItem::leftHalf().aliases, (std::vector<std::string>{"lh", "left"}));
    std::set<Uuid> ids;
    for (const auto& item : items) {
        EXPECT_EQ(item.path, "Command");
        EXPECT_FALSE(item.isRunning);
        EXPECT_FALSE(item.secondaryText());
        ASSERT_TRUE(item.icon);
        EXPECT_EQ(item.icon->source, IconRef::Source::symbol);
        EXPECT_EQ(item.icon->description, item.name);
        ids.insert(item.id);
    }
    ids.insert(FolderShortcut::downloads().id);
    EXPECT_EQ(ids.size(), 14u) << "the Downloads shortcut and every command have distinct identifiers";
}

TEST(AppItem, KindCaseNamesFollowDeclarationOrder) {
    EXPECT_EQ(AppItem::Kind(AppItem::Kind::calculator).caseName(), "calculator");
    EXPECT_EQ(AppItem::Kind(AppItem::Kind::reasonableSize).caseName(), "reasonableSize");
    EXPECT_EQ(AppItem::Kind(AppItem::Kind::moveToLeft).caseName(), "moveToLeft");
    EXPECT_TRUE(AppItem::Kind(AppItem::Kind::leftHalf).isWindowCommand());
    EXPECT_FALSE(AppItem::Kind(AppItem::Kind::folder).isWindowCommand());
    EXPECT_NE(AppItem::Kind::makeCalculator("1"), AppItem::Kind::makeCalculator("2"));
}

TEST(AppItem, CalculatorRowIdentityIgnoresTheFormattedValue) {
    Calculator::Result a{"1234 × 2", "2,468", "2468"};
    Calculator::Result b{"1234 × 2", "2468", "2468"};
    AppItem row = AppItem::calculator(a);
    EXPECT_EQ(row.id, AppItem::calculator(b).id);
    EXPECT_EQ(row.id, nameBasedUUID("quenlit.calc:1234 × 2=2468"));
    EXPECT_EQ(row.name, "2,468");
    EXPECT_EQ(row.path, "Calculator");
    EXPECT_EQ(row.secondaryText(), "1234 × 2");
    EXPECT_EQ(row.kind.copyText(), "2468");
    EXPECT_EQ(row.icon, IconRef::symbol("plus.forwardslash.minus", "Calculator"));
}

TEST(AppItem, DownloadsFolderItem) {
    const auto& folders = AppSearch::builtInFolderItems();
    ASSERT_EQ(folders.size(), 1u);
    const AppItem& dl = folders[0];
    EXPECT_EQ(dl.name, "Downloads");
    EXPECT_EQ(dl.kind, AppItem::Kind::folder);
    EXPECT_EQ(dl.aliases, std::vector<std::string>{"dl"});
    EXPECT_EQ(dl.id, FolderShortcut::downloads().id);
    EXPECT_FALSE(dl.path.empty());
    EXPECT_NE(dl.path.back(), '/');
}

TEST(WindowCommandRows, NamesKindsAndLauncherRowsCorrespond) {
    const std::vector<std::pair<AppItemKind::Case, std::string_view>> rows = {
        {AppItemKind::leftHalf, "left"},         {AppItemKind::rightHalf, "right"},
        {AppItemKind::topHalf, "top"},           {AppItemKind::bottomHalf, "bottom"},
        {AppItemKind::firstThird, "firstThird"}, {AppItemKind::lastTwoThirds, "lastTwoThirds"},
        {AppItemKind::moveToTop, "moveToTop"},   {AppItemKind::moveToBottom, "moveToBottom"},
        {AppItemKind::moveToLeft, "moveToLeft"}, {AppItemKind::moveToRight, "moveToRight"},
        {AppItemKind::maximize, "maximize"},     {AppItemKind::reasonableSize, "reasonableSize"},
    };
    ASSERT_EQ(rows.size(), WindowSnap::kAllCommands.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto command = windowCommandFor(AppItemKind(rows[i].first));
        ASSERT_TRUE(command.has_value()) << rows[i].second;
        EXPECT_EQ(*command, WindowSnap::kAllCommands[i]);
        EXPECT_EQ(WindowSnap::caseName(*command), rows[i].second);
        EXPECT_EQ(WindowSnap::isMoveCommand(*command), rows[i].second.starts_with("moveTo"));
    }
    for (auto other : {AppItemKind::calculator, AppItemKind::app, AppItemKind::quit, AppItemKind::folder}) {
        EXPECT_FALSE(windowCommandFor(AppItemKind(other)).has_value());
    }
}

// The scan resolves each folder once and then looks at the file alone; it must agree with resolving
// the whole path, for plain files, links to files and folders, missing ones and odd names.
TEST(SymlinkResolver, AgreesWithResolvingTheWholePath) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / "quenlit-symlink-resolver";
    fs::remove_all(root);
    fs::create_directories(root / "real/sub");
    std::ofstream(root / "real/a.desktop").put('\n');
    std::ofstream(root / "real/sub/b.desktop").put('\n');
    fs::create_symlink("a.desktop", root / "real/link.desktop");
    fs::create_directory_symlink("real", root / "via");
    fs::create_symlink("missing.desktop", root / "real/dangling.desktop");
    const std::string r = root.string();
    const std::vector<std::string> paths{
        r + "/real/a.desktop",
        r + "/via/a.desktop",
        r + "/real/link.desktop",
        r + "/via/link.desktop",
        r + "/via/sub/b.desktop",
        r + "/real/sub/../a.desktop",
        r + "/real/missing.desktop",
        r + "/gone/x.desktop",
        r + "/real/dangling.desktop",
        r + "/via/.",
        r + "/via/..",
        r + "/via/",
        r + "//via//a.desktop",
        "relative/a.desktop",
        "/",
        "/tmp",
        "",
    };
    SymlinkResolver resolver;
    for (int pass = 0; pass < 2; ++pass) {  // the second pass answers from the folders it resolved
        for (const auto& path : paths)
            EXPECT_EQ(resolver.resolve(path), resolveSymlinks(path)) << path;
    }
    EXPECT_EQ(resolver.resolve(r + "/via/link.desktop"), fs::canonical(root / "real/a.desktop").string());
    fs::remove_all(root);
}

}  // namespace
}  // namespace quenlit
