// The list of entries on its own: no clipboard, no disk, no scheduler.

#include "base/Text.h"
#include "clipboard/ClipboardHistory.h"

#include "FakeClipboardDesktop.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>

namespace quenlit {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

using testing::texts;

class ClipboardHistoryTest : public ::testing::Test {
  protected:
    ClipboardHistory make(ClipboardHistory::Limits limits = {},
                          std::optional<fs::path> folder = fs::path("/data/images")) {
        return ClipboardHistory(limits, std::move(folder), [this] { return clock; });
    }

    std::chrono::system_clock::time_point clock =
        std::chrono::sys_days{std::chrono::May / 1 / 2024} + 9h + 30min;
};

TEST_F(ClipboardHistoryTest, FilteringTrimsAndLowerCasesTheQuery) {
    auto history = make();
    history.insertText("FOO bar");
    history.insertText("École");
    history.insertImage(history.newImageFile(), 3);
    history.insertText("fo o");
    history.insertText("a foo\nb");
    history.insertText("Imagine");
    struct Case {
        std::string query;
        std::vector<std::string> found;
    } cases[] = {
        {"  Foo ", {"a foo\nb", "FOO bar"}},
        {"", {"Imagine", "a foo\nb", "fo o", "<image>", "École", "FOO bar"}},
        {" \n\t", {"Imagine", "a foo\nb", "fo o", "<image>", "École", "FOO bar"}},
        {"im", {"Imagine", "<image>"}},
        {"MAG", {"Imagine", "<image>"}},
        {"image", {"<image>"}},
        {"imagi", {"Imagine"}},
        {"picture", {}},
        {"ÉCOLE", {"École"}},
        {"o\nb", {"a foo\nb"}},
        {"zzz", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(texts(history.items(c.query)), c.found) << "query '" << c.query << "'";
}

// The filter searches long texts sixteen positions at a time; matches at block edges, at the very
// end, and near-misses where only some of the query's bytes line up must all come out as a plain
// substring search says.
TEST_F(ClipboardHistoryTest, FilteringLongTextsAgreesWithAPlainSubstringSearch) {
    std::mt19937 random(7);
    // Upper-case letters, ASCII and not, and the neighbours of letters that a careless case fold
    // would confuse ("@" and "`", "[" and "{").
    const std::string alphabet[] = {"a", "b", "e", "E", "B", "é", "É", "€", "\n", "@", "`", "[", "{"};
    std::vector<std::string> corpus;
    // Each length twice: with "É", which lowering changes, and without, where only A-Z change and
    // the text itself is searched with the case folded.
    for (std::size_t length : {0u, 1u, 5u, 15u, 16u, 17u, 31u, 33u, 200u, 5000u}) {
        for (bool withUpperAccent : {true, false}) {
            std::string t;
            while (t.size() < length) {
                const std::string& piece = alphabet[random() % std::size(alphabet)];
                if (withUpperAccent || piece != "É") t += piece;
            }
            corpus.push_back(t);
        }
    }
    std::string edges(64, 'a');
    edges.replace(14, 3, "bbe");  // across the first block boundary
    edges.replace(61, 3, "eeb");  // at the very end
    corpus.push_back(edges);
    auto history = make({.maxItems = 1000});
    for (const auto& t : corpus)
        history.insertText(t);
    std::vector<std::string> queries = {"bbe", "eeb", "aaaa", "eeee", "ab", "ba", "é€", "€é", "e\ne", "abeé"};
    for (int i = 0; i < 200; ++i) {
        std::string q;
        for (std::size_t n = 1 + random() % 5; n > 0; --n)
            q += alphabet[random() % std::size(alphabet)];
        queries.push_back(q);
    }
    for (const auto& q : queries) {
        const std::string lowered = text::lowercase(text::trim(q));
        if (lowered.empty()) continue;
        std::vector<std::string> expected;
        for (const auto& item : history.items()) {
            if (text::lowercase(item.text()).find(lowered) != std::string::npos)
                expected.push_back(item.text());
        }
        EXPECT_EQ(texts(history.items(q)), expected) << "query '" << q << "'";
    }
}

// A keystroke straight after loading searches texts that are not lowered yet, as they are; it must
// find exactly what the search over the lowered texts finds: characters whose lowering yields
// ASCII (the Kelvin sign, dotted capital I), a final sigma, upper-case letters that are not ASCII,
// and bytes that are not UTF-8.
TEST_F(ClipboardHistoryTest, FilteringTextsNotLoweredYetFindsWhatFilteringLoweredTextsFinds) {
    std::mt19937 random(11);
    const std::string alphabet[] = {"a",      "k",      "i",      "s",      "K",      "I",      "\u212A",
                                    "\u0130", "\u0307", "\u03A3", "\u03C3", "\u03C2", "\u00C9", "\u00E9",
                                    "\u1E9E", "\u00DF", "\u212B", "\u00E5", " ",      "\xC3",   "\xE2\x82"};
    std::vector<std::string> corpus;
    for (int n = 0; n < 60; ++n) {
        std::string t;
        for (std::size_t length = random() % 40; length > 0; --length)
            t += alphabet[random() % std::size(alphabet)];
        corpus.push_back(t);
    }
    std::vector<std::string> queries = {"k",      "i",      "\u0130", "i\u0307", "\u03C2",  "\u03C3",
                                        "\u00E9", "\u00DF", "\u00E5", "\uFFFD",  "\u00E9a", "sk"};
    for (int i = 0; i < 300; ++i) {
        std::string q;
        for (std::size_t n = 1 + random() % 3; n > 0; --n)
            q += alphabet[random() % std::size(alphabet)];
        queries.push_back(q);
    }
    auto fill = [&](ClipboardHistory& history) {
        for (const auto& t : corpus)
            history.insertText(t);
    };
    auto lowered = make({.maxItems = 1000});
    fill(lowered);
    for (const auto& item : lowered.items())
        (void)item.searchText();
    for (const auto& q : queries) {
        auto fresh = make({.maxItems = 1000});
        fill(fresh);
        EXPECT_EQ(texts(fresh.items(q)), texts(lowered.items(q))) << "query '" << q << "'";
    }
}

// Typing on narrows the last answer instead of searching everything again; whatever is typed,
// deleted or changed in the list between keystrokes, the answer is a fresh filter's.
TEST_F(ClipboardHistoryTest, FilteringKeystrokeByKeystrokeFindsWhatAFreshFilterFinds) {
    auto history = make();
    history.insertText("then again");
    history.insertText("The End");
    history.insertImage(history.newImageFile(), 3);
    history.insertText("thermal image");
    history.insertText("other");
    struct Step {
        std::string query;
        std::function<void(ClipboardHistory&)> change;  // before the keystroke
    } steps[] = {
        {"t", {}},
        {"th", {}},
        {"the", {}},
        {"then", {}},
        {"then", {}},
        {"the", {}},
        {" THE ", {}},
        {"the", [](ClipboardHistory& h) { h.insertText("Theatre"); }},
        {"thea", {}},
        {"thea", [](ClipboardHistory& h) { h.remove(h.items().front()); }},
        {"ima", {}},
        {"imag", {}},
        {"image", [](ClipboardHistory& h) { h.insertText("other"); }},
        {"x", {}},
        {"", {}},
        {"he", [](ClipboardHistory& h) { h.removeAll(); }},
    };
    for (const auto& step : steps) {
        if (step.change) step.change(history);
        EXPECT_EQ(texts(history.items(step.query)),
                  texts(ClipboardHistory::filter(history.items(), step.query)))
            << "query '" << step.query << "'";
    }
    EXPECT_THAT(texts(history.items("he")), IsEmpty());
}

TEST_F(ClipboardHistoryTest, OnlyFilesInsideTheImagesFolderAreOwned) {
    auto history = make();
    const std::string images = "/data/images";
    struct Case {
        std::string path;
        bool owned;
    } cases[] = {
        {images + "/A.png", true},
        {images + "/sub/A.png", true},
        {images + "/./A.png", true},
        {images + "//A.png", true},
        {images + "/../A.png", false},
        {images + "/sub/../../A.png", false},
        {images, false},
        {images + "/", false},
        {images + "-other/A.png", false},
        {"/data/imagesA.png", false},
        {"images/A.png", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(history.ownsImage(c.path), c.owned) << c.path;

    EXPECT_TRUE(make({}, fs::path("/data/images/")).ownsImage(images + "/A.png"))
        << "a trailing slash names the same folder";
    EXPECT_FALSE(make({}, std::nullopt).ownsImage(images + "/A.png")) << "no images folder";
}

// The list deletes nothing itself: the files of the images that leave it (through the item limit,
// the image limit, removal) are handed to whoever saves it, and only files of its images folder.
TEST_F(ClipboardHistoryTest, ImagesLeavingTheListReleaseOnlyTheirOwnFiles) {
    auto history = make({.maxItems = 3, .maxImages = 2});
    history.replace({ClipboardItem::makeImage(Uuid{}, "/elsewhere/picture.png", clock)}, false);
    std::map<std::string, ClipboardItem> images;
    auto image = [&](const std::string& name) {
        images.emplace(name, history.insertImage(history.newImageFile(), 1));
    };
    auto file = [&](const std::string& name) { return fs::path(*images.at(name).imagePath); };
    struct Step {
        std::string what;
        std::function<void()> act;
        std::vector<std::string> released;
        std::vector<std::string> after;
    } steps[] = {
        {"a second image", [&] { image("A"); }, {}, {"<image>", "<image>"}},
        {"a third image drops the foreign one", [&] { image("B"); }, {}, {"<image>", "<image>"}},
        {"a text", [&] { history.insertText("t1"); }, {}, {"t1", "<image>", "<image>"}},
        {"the item limit drops A", [&] { history.insertText("t2"); }, {"A"}, {"t2", "t1", "<image>"}},
        {"removing B", [&] { history.remove(images.at("B")); }, {"B"}, {"t2", "t1"}},
        {"C", [&] { image("C"); }, {}, {"<image>", "t2", "t1"}},
        {"D", [&] { image("D"); }, {}, {"<image>", "<image>", "t2"}},
        {"the image limit drops C", [&] { image("E"); }, {"C"}, {"<image>", "<image>", "t2"}},
        {"removing all", [&] { history.removeAll(); }, {"E", "D"}, {}},
    };
    for (const auto& step : steps) {
        step.act();
        std::vector<fs::path> expected;
        for (const auto& name : step.released)
            expected.push_back(file(name));
        EXPECT_EQ(history.takeReleasedImages(), expected) << step.what;
        EXPECT_EQ(texts(history.items()), step.after) << step.what;
    }
    EXPECT_THAT(history.takeReleasedImages(), IsEmpty()) << "each file is handed out once";
}

}  // namespace
}  // namespace quenlit
