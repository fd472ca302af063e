#include "ui/IconTheme.h"

#include "support/TempDir.h"
#include "ui/QtTestApplication.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QStandardPaths>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace quenlit::ui {
namespace {

using quenlit::testing::TempDir;
using quenlit::testing::writeFile;

void ensureApplication() {
    quenlit::testing::ensureQtApplication();
}

void writeIcon(const std::filesystem::path& file, QColor colour, int size, const char* format) {
    std::filesystem::create_directories(file.parent_path());
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(colour);
    ASSERT_TRUE(image.save(QString::fromStdString(file.string()), format)) << file;
}

void writeTheme(const std::filesystem::path& folder, const std::string& inherits) {
    std::string text = "[Icon Theme]\nName=" + folder.filename().string() + "\n";
    if (!inherits.empty()) text += "Inherits=" + inherits + "\n";
    text +=
        "Directories=24x24/apps,24x24/places\n\n[24x24/apps]\nSize=24\nType=Fixed\n\n"
        "[24x24/places]\nSize=24\nType=Fixed\n";
    writeFile(folder / "index.theme", text);
}

// The colour in the middle of the icon ("#rrggbb"), or "none" when there is no icon.
std::string colourOf(const QIcon& icon) {
    if (icon.isNull()) return "none";
    const QImage image = icon.pixmap(QSize(24, 24)).toImage();
    if (image.isNull()) return "none";
    return image.pixelColor(image.width() / 2, image.height() / 2).name().toStdString();
}
std::string readAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
std::string nameOf(const QColor& colour) {
    return colour.isValid() ? colour.name().toStdString() : "none";
}

// A theme "child" inheriting "parent", hicolor, a pixmap folder and a file elsewhere, each
// drawing its icons in its own colour, so the colour tells where an icon was found.
class IconLookup : public ::testing::Test {
  protected:
    void SetUp() override {
        ensureApplication();
        const auto icons = dir / "icons";
        writeTheme(icons / "child", "parent");
        writeTheme(icons / "parent", "");
        writeTheme(icons / "hicolor", "");
        writeIcon(icons / "child/24x24/apps/everywhere.png", Qt::red, 24, "PNG");
        writeIcon(icons / "child/24x24/places/folder.png", Qt::darkGray, 24, "PNG");
        writeIcon(icons / "child/24x24/places/folder-download.png", QColor(255, 128, 0), 24, "PNG");
        writeIcon(icons / "parent/24x24/apps/everywhere.png", Qt::green, 24, "PNG");
        writeIcon(icons / "parent/24x24/apps/inherited.png", Qt::green, 24, "PNG");
        writeIcon(icons / "hicolor/24x24/apps/everywhere.png", Qt::blue, 24, "PNG");
        writeIcon(icons / "hicolor/24x24/apps/inherited.png", Qt::blue, 24, "PNG");
        writeIcon(icons / "hicolor/24x24/apps/hicolor-only.png", Qt::blue, 24, "PNG");
        writeIcon(dir / "pixmaps/everywhere.png", Qt::yellow, 24, "PNG");
        writeIcon(dir / "pixmaps/hicolor-only.xpm", Qt::yellow, 24, "XPM");
        writeIcon(dir / "pixmaps/plain.xpm", Qt::magenta, 24, "XPM");
        writeIcon(dir / "pixmaps/mini.term_32x32.xpm", Qt::cyan, 32, "XPM");
        writeIcon(dir / "pixmaps/mini.term_16x16.xpm", Qt::black, 16, "XPM");
        writeIcon(dir / "elsewhere/own.png", Qt::white, 24, "PNG");
        useIconTheme("child", {QString::fromStdString(icons.string())},
                     {QString::fromStdString((dir / "pixmaps").string())});
    }
    TempDir dir;
};

TEST_F(IconLookup, FindsIconsInTheFreedesktopOrder) {
    struct Case {
        std::string name;
        QColor expected;  // invalid: no icon
    };
    const std::string own = (dir / "elsewhere/own.png").string();
    const Case cases[] = {
        {"everywhere", Qt::red},          // the user's theme before anything else
        {"inherited", Qt::green},         // then the theme it inherits, before hicolor
        {"hicolor-only", Qt::blue},       // then hicolor, before the pixmap folders
        {"plain", Qt::magenta},           // then the pixmap folders: name.xpm
        {"plain.xpm", Qt::magenta},       // named with its extension
        {"mini.term", Qt::cyan},          // with a size suffix, the size nearest the one drawn
        {own, Qt::white},                 // an absolute path as it is
        {"everywhere-special", Qt::red},  // no such variant: the generic icon
        {"nowhere", QColor()},            // none anywhere
        {(dir / "missing.png").string(), QColor()},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(colourOf(findIcon(QString::fromStdString(c.name))), nameOf(c.expected)) << c.name;
    }
}

TEST_F(IconLookup, WellKnownFoldersHaveTheirOwnIcons) {
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    EXPECT_EQ(colourOf(folderIcon(downloads)), "#ff8000");
    EXPECT_EQ(colourOf(folderIcon(downloads + "/")), "#ff8000");
    EXPECT_EQ(colourOf(folderIcon(QString::fromStdString((dir / "elsewhere").string()))),
              nameOf(Qt::darkGray));
}

// A theme may inherit several themes, which may inherit each other; hicolor comes after all of
// them, and a theme that is not installed leaves hicolor alone.
TEST(IconThemeChain, LooksThroughEveryInheritedThemeBeforeHicolor) {
    ensureApplication();
    TempDir dir;
    const auto icons = dir / "icons";
    writeTheme(icons / "child", "first,second");
    writeTheme(icons / "first", "child");  // a loop
    writeTheme(icons / "second", "");
    writeTheme(icons / "hicolor", "");
    writeIcon(icons / "first/24x24/apps/both.png", Qt::red, 24, "PNG");
    writeIcon(icons / "second/24x24/apps/both.png", Qt::green, 24, "PNG");
    writeIcon(icons / "second/24x24/apps/second.png", Qt::green, 24, "PNG");
    writeIcon(icons / "hicolor/24x24/apps/second.png", Qt::blue, 24, "PNG");
    writeIcon(icons / "hicolor/24x24/apps/hicolor-only.png", Qt::blue, 24, "PNG");
    const QStringList paths{QString::fromStdString(icons.string())};
    struct Case {
        QString theme;
        std::string name;
        QColor expected;
    };
    const Case cases[] = {
        {"child", "both", Qt::red},           // the first inherited theme first
        {"child", "second", Qt::green},       // the second before hicolor
        {"child", "hicolor-only", Qt::blue},  // hicolor last
        {"child", "nowhere", QColor()},       // the loop ends
        {"NotInstalled", "second", Qt::blue}, {"NotInstalled", "hicolor-only", Qt::blue},
    };
    for (const Case& c : cases) {
        useIconTheme(c.theme, paths, {});
        EXPECT_EQ(colourOf(findIcon(QString::fromStdString(c.name))), nameOf(c.expected))
            << c.theme.toStdString() << " " << c.name;
    }
}

// The picture drawn is the one whose folder is meant for the size asked for, else the nearest
// in size (the larger of two as near), never drawn larger than asked.
TEST(IconThemeSizes, DrawsTheFolderMeantForTheSize) {
    ensureApplication();
    TempDir dir;
    const auto theme = dir / "icons/sized";
    writeFile(theme / "index.theme",
              "[Icon Theme]\nName=sized\nDirectories=16x16/apps,48x48/apps,64x64/apps\n\n"
              "[16x16/apps]\nSize=16\nType=Fixed\n\n[48x48/apps]\nSize=48\nType=Fixed\n\n"
              "[64x64/apps]\nSize=64\nType=Threshold\nThreshold=8\n");
    writeIcon(theme / "16x16/apps/app.png", Qt::red, 16, "PNG");
    writeIcon(theme / "48x48/apps/app.png", Qt::green, 48, "PNG");
    writeIcon(theme / "64x64/apps/app.png", Qt::blue, 64, "PNG");
    useIconTheme("sized", {QString::fromStdString((dir / "icons").string())}, {});
    const QIcon icon = findIcon("app");
    struct Case {
        int size;
        QColor expected;
        int drawn;  // device pixels
        qreal dpr = 1.0;
    };
    const Case cases[] = {
        {16, Qt::red, 16},        {48, Qt::green, 48}, {20, Qt::red, 16},    // smaller is not drawn larger
        {32, Qt::green, 32},                                                 // as near as 16: the larger
        {58, Qt::blue, 58},       {70, Qt::blue, 64},  {128, Qt::blue, 64},  // within the threshold
        {24, Qt::green, 48, 2.0},  // 24 on a screen of twice the pixels
    };
    for (const Case& c : cases) {
        const QImage image = icon.pixmap(QSize(c.size, c.size), c.dpr).toImage();
        ASSERT_FALSE(image.isNull()) << c.size;
        EXPECT_EQ(image.pixelColor(image.width() / 2, image.height() / 2).name().toStdString(),
                  nameOf(c.expected))
            << c.size;
        EXPECT_EQ(image.width(), c.drawn) << c.size;
    }
}

// A theme's icon-theme.cache (as gtk-update-icon-cache writes it) tells which folders hold an
// icon; one that is outdated or damaged is passed over, and the folders are looked in instead.
TEST(IconThemeCacheFile, IsUsedWhileUpToDateAndPassedOverOtherwise) {
    if (std::system("command -v gtk-update-icon-cache >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "gtk-update-icon-cache is not installed";
    ensureApplication();
    TempDir dir;
    const auto theme = dir / "icons/cached";
    writeFile(theme / "index.theme",
              "[Icon Theme]\nName=cached\nDirectories=24x24/apps,48x48/apps\n\n"
              "[24x24/apps]\nSize=24\nType=Fixed\n\n[48x48/apps]\nSize=48\nType=Fixed\n");
    writeIcon(theme / "24x24/apps/app.png", Qt::red, 24, "PNG");
    writeIcon(theme / "48x48/apps/app.png", Qt::green, 48, "PNG");
    writeIcon(theme / "48x48/apps/large-only.png", Qt::blue, 48, "PNG");
    const auto hourAgo = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    for (const auto& folder :
         {theme, theme / "24x24", theme / "24x24/apps", theme / "48x48", theme / "48x48/apps"})
        std::filesystem::last_write_time(folder, hourAgo);
    const std::string update = "gtk-update-icon-cache -q -f '" + theme.string() + "'";
    ASSERT_EQ(std::system(update.c_str()), 0);
    const auto cache = theme / "icon-theme.cache";
    const std::string written = readAll(cache);
    ASSERT_GT(written.size(), 40u);

    const auto colourAt = [](const QIcon& icon, int size) {
        const QImage image = icon.pixmap(QSize(size, size)).toImage();
        return image.isNull() ? std::string("none")
                              : image.pixelColor(image.width() / 2, image.height() / 2).name().toStdString();
    };
    const auto check = [&](const std::string& state) {
        useIconTheme("cached", {QString::fromStdString((dir / "icons").string())}, {});
        EXPECT_EQ(colourAt(findIcon("app"), 24), "#ff0000") << state;
        EXPECT_EQ(colourAt(findIcon("app"), 48), "#00ff00") << state;
        EXPECT_EQ(colourAt(findIcon("large-only"), 24), "#0000ff") << state;
        EXPECT_EQ(colourAt(findIcon("nowhere"), 24), "none") << state;
    };
    check("up to date");

    // A package installs an icon while the program runs, and writes the cache again.
    writeIcon(theme / "24x24/apps/installed.png", Qt::magenta, 24, "PNG");
    ASSERT_EQ(std::system(update.c_str()), 0);
    EXPECT_EQ(colourAt(findIcon("installed"), 24), "#ff00ff");
    std::filesystem::remove(theme / "24x24/apps/installed.png");

    // An icon installed after the cache was written.
    writeIcon(theme / "24x24/apps/late.png", Qt::cyan, 24, "PNG");
    std::filesystem::last_write_time(cache, hourAgo + std::chrono::minutes(30));
    useIconTheme("cached", {QString::fromStdString((dir / "icons").string())}, {});
    EXPECT_EQ(colourAt(findIcon("late"), 24), "#00ffff");
    std::filesystem::remove(theme / "24x24/apps/late.png");
    std::filesystem::last_write_time(theme / "24x24/apps", hourAgo);

    const std::string damaged[] = {
        "",
        written.substr(0, 11),
        written.substr(0, 12),
        written.substr(0, 40),
        written.substr(0, written.size() / 2),
        written.substr(0, written.size() - 1),
        written.substr(0, 12) + std::string(written.size() - 12, '\xff'),
        written.substr(0, 12) + std::string(written.size() - 12, '\0'),
    };
    for (std::size_t i = 0; i < std::size(damaged); ++i) {
        writeFile(cache, damaged[i]);
        std::filesystem::last_write_time(cache, std::filesystem::file_time_type::clock::now());
        check("damaged cache " + std::to_string(i));
    }
}

TEST(IconThemeChoice, TakesTheFirstInstalledThemeNamedThenTheCommonOnes) {
    ensureApplication();
    TempDir dir;
    const auto icons = dir / "icons";
    for (const char* theme : {"Mine", "breeze", "Papirus", "hicolor"})
        writeTheme(icons / theme, "");
    writeFile(dir / "kdeglobals", "[General]\nColorScheme=BreezeLight\n\n[Icons]\nTheme=Papirus\n");
    const QStringList paths{QString::fromStdString((dir / "elsewhere").string()),
                            QString::fromStdString(icons.string())};
    const std::string kde = kdeIconTheme(QString::fromStdString((dir / "kdeglobals").string()));
    EXPECT_EQ(kde, "Papirus");
    EXPECT_EQ(kdeIconTheme(QString::fromStdString((dir / "none").string())), "");

    struct Case {
        std::string xsettings, gnome, kde;
        QString theme;
        std::string source;
    };
    const Case cases[] = {
        {"Mine", "breeze", kde, "Mine", "XSETTINGS"},
        {"NotInstalled", "Mine", kde, "Mine", "GNOME"},
        {"", "", kde, "Papirus", "KDE"},
        {"../icons/Mine", "", "", "breeze", "default"},  // a path is no theme name
        {"", "", "", "breeze", "default"},               // Adwaita is not installed here
    };
    for (const Case& c : cases) {
        const IconThemeChoice choice = chooseIconTheme({{"XSETTINGS", [&] { return c.xsettings; }},
                                                        {"GNOME", [&] { return c.gnome; }},
                                                        {"KDE", [&] { return c.kde; }}},
                                                       paths);
        EXPECT_EQ(choice.name, c.theme) << c.xsettings << "|" << c.gnome << "|" << c.kde;
        EXPECT_EQ(choice.source, c.source) << c.xsettings << "|" << c.gnome << "|" << c.kde;
    }
    EXPECT_EQ(chooseIconTheme({}, {QString::fromStdString((dir / "elsewhere").string())}).name, "hicolor");
}

}  // namespace
}  // namespace quenlit::ui
