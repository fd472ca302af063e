#include "clipboard/ClipboardItem.h"
#include "clipboard/HistoryJson.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include <unicode/locid.h>
#include <unicode/timezone.h>

namespace quenlit::app {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string itemJson(int n, const std::string& rest, const std::string& date = "2024-05-01T09:30:00Z") {
    char id[40];
    std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012d", n);
    return "{\"createdAt\":\"" + date + "\",\"id\":\"" + id + "\"" + rest + "}";
}

// The installed program against a history of its own, in the C locale and UTC as on CI machines.
class HistoryCommandTest : public ::testing::Test {
  protected:
    // `outputs` picks what is read besides the status: both outputs by default.
    std::string run(const std::string& arguments, const std::string& outputs = "2>&1") {
        const std::string command =
            "env -i PATH=/usr/bin:/bin LANG=C.UTF-8 TZ=UTC HOME=" + (dir / "home").string() +
            " XDG_DATA_HOME=" + (dir / "share").string() + " XDG_STATE_HOME=" + (dir / "state").string() +
            " " + QUENLIT_BINARY + " history " + arguments + " " + outputs + "; echo \"status=$?\"";
        FILE* pipe = popen(command.c_str(), "r");
        std::string output;
        std::array<char, 4096> buffer{};
        while (pipe != nullptr && fgets(buffer.data(), buffer.size(), pipe) != nullptr)
            output += buffer.data();
        if (pipe != nullptr) pclose(pipe);
        return output;
    }
    void writeHistory(const std::vector<std::string>& objects) {
        std::string json = "[";
        for (const auto& o : objects)
            json += (json.size() > 1 ? "," : "") + o;
        testing::writeFile(historyPath, json + "]");
    }
    // What the program prints as the label of an item, computed here in the program's setting.
    static std::string labelOf(const std::string& date) {
        std::string label;
        std::thread([&] {
            UErrorCode status = U_ZERO_ERROR;
            const icu::Locale saved = icu::Locale::getDefault();
            icu::Locale::setDefault(icu::Locale("en_US_POSIX"), status);
            std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createDefault());
            icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("UTC"));
            label = ClipboardItem::makeText(Uuid{}, "x", *historyJson::parseDate(date)).timeLabel();
            icu::Locale::setDefault(saved, status);
            icu::TimeZone::adoptDefault(zone.release());
        }).join();
        return label;
    }

    testing::TempDir dir;
    fs::path data = dir / "share/quenlit";
    fs::path historyPath = data / "clipboard-history.json";
};

TEST_F(HistoryCommandTest, WithoutAHistoryFileItSaysSo) {
    EXPECT_EQ(run(""), "clipboard: no history file yet at " + historyPath.string() + "\nstatus=0\n");
    EXPECT_FALSE(fs::exists(data)) << "nothing is created";
    // JSON output stays JSON lines: the remark goes to standard error.
    EXPECT_EQ(run("--json", "2>/dev/null"), "status=0\n");
    // An empty history says so too, on standard error with --json.
    writeHistory({});
    EXPECT_EQ(run("--json", "2>&1 >/dev/null"),
              "clipboard: the history at " + historyPath.string() + " is empty\nstatus=0\n");
}

TEST_F(HistoryCommandTest, ListsNewestFirstWithLabelKindAndShortenedText) {
    std::string longText;
    for (int i = 0; i < 130; ++i)
        longText += (i % 2 == 0) ? "é" : "x";
    writeHistory({
        itemJson(1, ",\"kind\":\"text\",\"text\":\"  hello\\tworld\\nsecond line \"", "2024-05-03T10:00:00Z"),
        itemJson(2, ",\"imagePath\":\"\\/nowhere\\/A.png\",\"kind\":\"image\",\"text\":\"\""),
        itemJson(3, ",\"text\":\"" + longText + "\"", "2023-01-02T00:00:00Z"),
    });
    const std::string label = labelOf("2024-05-03T10:00:00Z");
    ASSERT_NE(label.find("2024"), std::string::npos) << label;
    EXPECT_EQ(run(""), label + "  text  hello world second line\n" + labelOf("2024-05-01T09:30:00Z") +
                           "  image  Image\n" + labelOf("2023-01-02T00:00:00Z") + "  text  " +
                           longText.substr(0, 60 * 3) + "…\nstatus=0\n");
}

TEST_F(HistoryCommandTest, ControlCharactersAreNotSentToTheTerminal) {
    // A title-setting escape sequence, a lone carriage return and a C1 control sequence introducer.
    writeHistory({itemJson(1, ",\"text\":\"\\u001b]0;x\\u0007a\\rb\\u009b31m\"")});
    EXPECT_EQ(run(""), labelOf("2024-05-01T09:30:00Z") + "  text   ]0;x a b 31m\nstatus=0\n");
}

TEST_F(HistoryCommandTest, FiltersLimitsAndPrintsJson) {
    writeHistory({
        itemJson(1, ",\"kind\":\"text\",\"text\":\"Hello there\""),
        itemJson(2, ",\"imagePath\":\"\\/nowhere\\/A.png\",\"kind\":\"image\",\"text\":\"\""),
        itemJson(3, ",\"text\":\"say hello\"", "2024-05-01T09:29:59Z"),
    });
    const std::string jsonFirst =
        "{\"createdAt\":\"2024-05-01T09:30:00Z\",\"id\":\"00000000-0000-4000-8000-000000000001\",\"kind\":"
        "\"text\","
        "\"text\":\"Hello there\"}\n";
    const std::string jsonThird =
        "{\"createdAt\":\"2024-05-01T09:29:59Z\",\"id\":\"00000000-0000-4000-8000-000000000003\",\"kind\":"
        "\"text\","
        "\"text\":\"say hello\"}\n";
    EXPECT_EQ(run("--json HELLO"), jsonFirst + jsonThird + "status=0\n");
    EXPECT_EQ(run("--json --limit 1 hello"), jsonFirst + "status=0\n");
    EXPECT_EQ(run("--limit 1 --json -- hello"), jsonFirst + "status=0\n");
    EXPECT_EQ(run("--json mag"),
              "{\"createdAt\":\"2024-05-01T09:30:00Z\",\"id\":\"00000000-0000-4000-8000-000000000002\","
              "\"imagePath\":\"/nowhere/A.png\",\"kind\":\"image\",\"text\":\"\"}\nstatus=0\n");
    EXPECT_EQ(run("say hello"), labelOf("2024-05-01T09:29:59Z") + "  text  say hello\nstatus=0\n");
    EXPECT_EQ(run("nothing like it"), "clipboard: no entry of 3 matches \"nothing like it\"\nstatus=0\n");
    EXPECT_EQ(run("-- --json"), "clipboard: no entry of 3 matches \"--json\"\nstatus=0\n")
        << "after --, options are query words";
    EXPECT_EQ(run("--json nothing", "2>/dev/null"), "status=0\n") << "the remark is no JSON line";
}

TEST_F(HistoryCommandTest, BadArgumentsAreUsageErrors) {
    writeHistory({itemJson(1, ",\"text\":\"x\"")});
    for (const std::string args :
         {"--limit", "--limit 0", "--limit -2", "--limit abc", "--limit 1.5", "--limit +3",
          "--limit 99999999999999999999999", "--yaml", "--stats x", "--stats --json"}) {
        const std::string out = run(args);
        EXPECT_TRUE(out.ends_with("status=2\n")) << args << ": " << out;
        EXPECT_EQ(out.find("Quenlit focus"), std::string::npos) << args;
    }
}

TEST_F(HistoryCommandTest, StatsCountItemsImagesAndBytes) {
    const fs::path image = data / "images/A.png";
    testing::writeFile(image, std::string(1000, 'p'));
    writeHistory({
        itemJson(1, ",\"text\":\"x\""),
        itemJson(2, ",\"imagePath\":\"" + image.string() + "\",\"kind\":\"image\",\"text\":\"\""),
        itemJson(3, ",\"imagePath\":\"" + (data / "images/gone.png").string() +
                        "\",\"kind\":\"image\",\"text\":\"\""),
    });
    const auto bytes = fs::file_size(historyPath) + 1000;
    EXPECT_EQ(run("--stats"), "items: 3\nimages: 2\nbytes: " + std::to_string(bytes) + "\nstatus=0\n");
}

TEST_F(HistoryCommandTest, StatsCountOnlyFilesOfTheImagesFolder) {
    const fs::path outside = dir / "secret.txt";
    testing::writeFile(outside, std::string(500, 's'));
    writeHistory({
        itemJson(1, ",\"imagePath\":\"" + outside.string() + "\",\"kind\":\"image\",\"text\":\"\""),
        itemJson(2, ",\"imagePath\":\"" + (data / "images/../../../secret.txt").string() +
                        "\",\"kind\":\"image\",\"text\":\"\""),
        itemJson(3, ",\"imagePath\":\"../../secret.txt\",\"kind\":\"image\",\"text\":\"\""),
    });
    const auto bytes = fs::file_size(historyPath);
    EXPECT_EQ(run("--stats"), "items: 3\nimages: 3\nbytes: " + std::to_string(bytes) + "\nstatus=0\n");
}

TEST_F(HistoryCommandTest, AHistoryLargerThanAnyHistoryCanBeIsRefusedUnread) {
    fs::create_directories(data);
    std::ofstream(historyPath).put('[');
    const std::uintmax_t size = 4ull << 30;  // sparse: nothing is written
    fs::resize_file(historyPath, size);
    const std::string out = run("");
    EXPECT_EQ(out.rfind("clipboard: failed to load history — " + historyPath.string() + " is " +
                            std::to_string(size) + " bytes, larger than any history can be (",
                        0),
              0u)
        << out;
    EXPECT_TRUE(out.ends_with("\nstatus=1\n")) << out;
    EXPECT_EQ(fs::file_size(historyPath), size);
}

TEST_F(HistoryCommandTest, AnUnreadableHistoryIsReportedAndLeftAlone) {
    testing::writeFile(historyPath,
                       "[{\"createdAt\":\"2024-05-01T09:30:00.5Z\",\"id\":\"x\",\"text\":\"\"}]");
    const std::string before = readAll(historyPath);
    const std::string out = run("");
    EXPECT_EQ(out.rfind("clipboard: failed to load history — item 1: malformed date", 0), 0u) << out;
    EXPECT_TRUE(out.ends_with("\nstatus=1\n")) << out;
    EXPECT_EQ(run("", "2>/dev/null"), "status=1\n") << "the error goes to standard error alone";
    EXPECT_EQ(readAll(historyPath), before);
    EXPECT_FALSE(fs::exists(historyPath.string() + ".unreadable"));
}

// Listing reads the history as the program loads it, but changes nothing on disk: no image beyond
// the limit is deleted, no legacy file is migrated, nothing is logged.
TEST_F(HistoryCommandTest, ListingChangesNothing) {
    std::vector<std::string> objects;
    std::vector<fs::path> images;
    for (int i = 0; i < 250; ++i) {
        if (i < 35) {
            images.push_back(data / "images" / ("I" + std::to_string(i) + ".png"));
            testing::writeFile(images.back(), "png");
            objects.push_back(itemJson(
                i, ",\"imagePath\":\"" + images.back().string() + "\",\"kind\":\"image\",\"text\":\"\""));
        } else {
            objects.push_back(itemJson(i, ",\"text\":\"text " + std::to_string(i) + "\""));
        }
    }
    writeHistory(objects);
    testing::writeFile(data / "clipboard-history.enc", "QUENLT01 legacy");
    const std::string before = readAll(historyPath);
    const std::string out = run("--stats");
    EXPECT_EQ(out.substr(0, out.find("bytes")), "items: 195\nimages: 30\n")
        << "200 loaded, 5 images over the limit";
    const std::string listing = run("");
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 196) << "195 rows and the status";
    EXPECT_EQ(readAll(historyPath), before);
    for (const auto& image : images)
        EXPECT_TRUE(fs::exists(image)) << image;
    EXPECT_TRUE(fs::exists(data / "clipboard-history.enc"));
    EXPECT_FALSE(fs::exists(historyPath.string() + ".tmp"));
    EXPECT_FALSE(fs::exists(dir / "state")) << "no log file";
}

}  // namespace
}  // namespace quenlit::app
