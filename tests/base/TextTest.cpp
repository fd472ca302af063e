#include "base/Text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quenlit::text {
namespace {

TEST(Text, TrimRemovesWhiteSpaceAndNewlinesAtBothEnds) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"", ""},
        {"   ", ""},
        {" \t\n a b \r\n", "a b"},
        {"\u00A0x\u2003", "x"},        // no-break space and em space are White_Space
        {"\u2028line\u2029", "line"},  // line and paragraph separators
        {"\u200Bx", "\u200Bx"},        // zero-width space is not White_Space
    };
    for (const auto& c : cases)
        EXPECT_EQ(trim(c.in), c.out) << c.in;
}

TEST(Text, LowercaseIsFullAndLocaleIndependent) {
    EXPECT_EQ(lowercase("Safari"), "safari");
    EXPECT_EQ(lowercase("ÉCOLE"), "école");
    EXPECT_EQ(lowercase("İ"), "i\u0307");  // full mapping, not the Turkish dotless rule
    EXPECT_EQ(lowercase("ΣΑΣ"), "σας");    // final sigma
}

// The quick answer against lowering itself: never "only A-Z" where lowering changes anything
// else, over every code point and a table of mixed and ill-formed texts.
TEST(Text, LoweringChangesOnlyAsciiLettersAgreesWithLowering) {
    const auto foldAscii = [](std::string s) {
        for (char& c : s)
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c | 0x20);
            }
        return s;
    };
    const auto onlyAsciiChangeWhenLowered = [&](const std::string& s) {
        return lowercase(s) == foldAscii(s);
    };
    // Code points answered quickly are lowered many at a time (no context changes how they lower),
    // then one by one when a batch differs, to name the culprit.
    int quick = 0;
    std::string batch;
    std::vector<std::string> members;
    const auto check = [&] {
        if (lowercase(batch) != batch) {
            for (const auto& one : members)
                EXPECT_TRUE(onlyAsciiChangeWhenLowered(one)) << one;
        }
        batch.clear();
        members.clear();
    };
    for (char32_t c = 0x80; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        std::string s;
        if (c < 0x800) {
            s = {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
        } else if (c < 0x10000) {
            s = {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                 static_cast<char>(0x80 | (c & 0x3F))};
        } else {
            s = {static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
                 static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
        }
        if (!lowercaseChangesOnlyAsciiLetters(s)) continue;
        ++quick;
        batch += s;
        members.push_back(std::move(s));
        if (members.size() == 4096) check();
    }
    check();
    EXPECT_GT(quick, 1000000);  // nearly every code point is answered without lowering

    struct Case {
        std::string text;
        bool quick;
    } cases[] = {
        {"", true},
        {"Plain ASCII, Upper And lower", true},
        {"école, naïve, straße, 中文, あ, €", true},
        {"École", false},
        {"STRASSE ẞ", false},  // capital sharp s lowers to ß
        {"ΣΑΣ", false},        // final sigma, lowered by its context
        {"İstanbul", false},   // lowers to i and a combining dot
        {"ǅ titlecase", false},
        {"ＡＢＣ fullwidth", false},
        {"Ꭰ Cherokee", false},
        {std::string("bad \xC3 byte"), false},      // cut short
        {std::string("over\xC0\xAF long"), false},  // an overlong "/"
        {std::string("\xED\xA0\x80 surrogate"), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lowercaseChangesOnlyAsciiLetters(c.text), c.quick) << c.text;
        if (c.quick) {
            EXPECT_TRUE(onlyAsciiChangeWhenLowered(c.text)) << c.text;
        }
    }
}

TEST(Text, GraphemeCountCountsUserPerceivedCharacters) {
    EXPECT_EQ(graphemeCount(""), 0u);
    EXPECT_EQ(graphemeCount("abc"), 3u);
    EXPECT_EQ(graphemeCount("a\r\nb"), 3u);
    EXPECT_EQ(graphemeCount("e\u0301"), 1u);
    EXPECT_EQ(graphemeCount("👍🏽🇫🇷"), 2u);
}

TEST(Text, CanonicalEquivalenceInEqualityPrefixAndContains) {
    const char* composed = "caf\u00E9";
    const char* decomposed = "cafe\u0301";
    EXPECT_TRUE(canonicallyEqual(composed, decomposed));
    EXPECT_TRUE(hasPrefix(decomposed, "caf\u00E9"));
    EXPECT_TRUE(contains("le cafe\u0301 noir", "caf\u00E9 "));
    // Half a character never matches.
    EXPECT_FALSE(hasPrefix(composed, "cafe"));
    EXPECT_FALSE(contains("q\u0307x", "q"));
    EXPECT_TRUE(contains("aq\u0307x", "q\u0307"));
}

TEST(Text, FoldedMatchingUsesClusterPositions) {
    FoldedText hay("Émile Zola");
    EXPECT_EQ(hay.bytes(), "\u00E9mile zola");
    EXPECT_EQ(hay.length(), 10u);
    EXPECT_EQ(find(hay, FoldedText("ZOLA")), 6u);
    EXPECT_TRUE(startsWith(hay, FoldedText("E\u0301m")));
    EXPECT_FALSE(startsWith(hay, FoldedText("e")));
    FoldedText flags("🇫🇷🇩🇪x");
    EXPECT_EQ(find(flags, FoldedText("x")), 2u);
    // The regional indicator pair must not be split: DE is not inside "🇫🇷🇩🇪" at a boundary
    // other than its own.
    EXPECT_EQ(find(flags, FoldedText("🇷🇩")), std::nullopt);
}

TEST(Text, WordsAreRunsOfLettersAndNumbers) {
    FoldedText s("Visual Studio-Code 2022 (x64) Café");
    std::vector<std::string> words;
    for (const auto& w : s.words())
        words.push_back(s.bytes().substr(w.begin, w.end - w.begin));
    EXPECT_EQ(words, (std::vector<std::string>{"visual", "studio", "code", "2022", "x64", "café"}));
    EXPECT_EQ(s.words().back().length, 4u);
}

TEST(Text, NameComparisonIgnoresCaseNotAccents) {
    EXPECT_LT(compareNames("alpha", "Beta"), 0);
    EXPECT_GT(compareNames("beta", "Alpha"), 0);
    EXPECT_EQ(compareNames("Safari", "safari"), 0);
    EXPECT_NE(compareNames("resume", "résumé"), 0);
    EXPECT_LT(nameSortKey("alpha"), nameSortKey("Beta"));
    EXPECT_EQ(nameSortKey("MAIL"), nameSortKey("mail"));
}

TEST(Text, InvalidUtf8BecomesReplacementCharacter) {
    EXPECT_EQ(decodeUtf8("a\xFF"
                         "b"),
              U"a\uFFFDb");
    EXPECT_EQ(trim("\xC3"), "\xC3");
    std::string out;
    appendUtf8(out, U'€');
    appendUtf8(out, 0xD800);
    EXPECT_EQ(out, "€\uFFFD");
    // From UTF-16: pairs join into one code point, a lone half stands for nothing.
    EXPECT_EQ(codePoints(u"a\U0001F600b"), U"a\U0001F600b");
    const char16_t lone[] = {u'x', 0xD83D, u'y', 0xDE00, 0};
    EXPECT_EQ(codePoints(lone), U"xy");
}

}  // namespace
}  // namespace quenlit::text
