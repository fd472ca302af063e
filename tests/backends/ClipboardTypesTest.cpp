// The clipboard's targets and MIME types as the core names them, shared by the X11 and Wayland
// pasteboards.

#include "backends/linux/ClipboardTypes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quenlit::linux_backend {
namespace {

TEST(ClipboardTypes, OwnerTargetsAsTheCoreNamesThem) {
    struct Case {
        std::vector<std::string> targets;
        std::vector<std::string> types;
        std::string imageTarget;  // what the TIFF slot reads, "" for none
        std::string textTarget;   // what plain text reads
    };
    const std::vector<Case> cases{
        {{"TARGETS", "TIMESTAMP", "UTF8_STRING", "STRING", "TEXT"},
         {"text/plain;charset=utf-8"},
         "",
         "UTF8_STRING"},
        {{"STRING"}, {"text/plain;charset=utf-8"}, "", "STRING"},
        {{"image/png", "image/jpeg", "image/bmp"}, {"image/png", "image/tiff"}, "image/jpeg", ""},
        {{"image/bmp", "x-kde-passwordManagerHint", "UTF8_STRING"},
         {"image/tiff", "x-kde-passwordManagerHint", "text/plain;charset=utf-8"},
         "image/bmp",
         "UTF8_STRING"},
        {{"text/uri-list", "x-special/gnome-copied-files", "SAVE_TARGETS", "MULTIPLE"},
         {"text/uri-list", "x-special/gnome-copied-files"},
         "",
         ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(pasteboardTypesForTargets(c.targets), c.types);
        EXPECT_EQ(targetForType("image/tiff", c.targets).value_or(""), c.imageTarget);
        EXPECT_EQ(targetForType("text/plain;charset=utf-8", c.targets).value_or(""), c.textTarget);
    }
    EXPECT_EQ(parseUriList("# comment\r\nfile:///a%20b\r\n\r\nfile:///c\n"),
              (std::vector<std::string>{"file:///a%20b", "file:///c"}));
    EXPECT_EQ(parseGnomeCopiedFiles("copy\nfile:///tmp/a%20b\nfile:///c"),
              (std::vector<std::string>{"/tmp/a b", "/c"}));
}

TEST(ClipboardTypes, ALongTargetListIsTakenOnceEachInOrder) {
    // 16,382 made-up targets, each offered twice, around the text.
    std::vector<std::string> targets{"UTF8_STRING"};
    for (int round = 0; round < 2; ++round) {
        for (int k = 0; k < 16382; ++k)
            targets.push_back("x-junk-target-" + std::to_string(k));
    }
    targets.push_back("image/png");
    const std::vector<std::string> types = pasteboardTypesForTargets(targets);
    const std::optional<std::string> image = targetForType("image/tiff", targets);

    ASSERT_EQ(types.size(), 16384u);
    EXPECT_EQ(types.front(), "text/plain;charset=utf-8");
    EXPECT_EQ(types[1], "x-junk-target-0");
    EXPECT_EQ(types.back(), "image/png");
    EXPECT_EQ(image, std::nullopt);
}

TEST(ClipboardTypes, Latin1BothWays) {
    EXPECT_EQ(latin1ToUtf8("caf\xe9"), "café");
    EXPECT_EQ(utf8ToLatin1("café ✓"), "caf\xe9 ?");
    EXPECT_EQ(utf8ToLatin1(latin1ToUtf8("\xa0\xff")), "\xa0\xff");
}

}  // namespace
}  // namespace quenlit::linux_backend
