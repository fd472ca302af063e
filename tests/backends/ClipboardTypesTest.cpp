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

}  // namespace
}  // namespace quenlit::linux_backend
