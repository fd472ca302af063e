#include "automation/AppToggleBindings.h"

#include <gtest/gtest.h>

namespace quenlit {
namespace {

using AppToggleBindings::parse;

AppToggleBinding binding(std::string key, std::uint16_t code, std::optional<std::string> app,
                         std::optional<std::string> bundle) {
    return {std::move(key), code, {AppToggleModifier::leftControl}, std::move(app), std::move(bundle)};
}

TEST(AppToggleBindings, ValidFilesGiveTheirBindingsInFileOrder) {
    struct Case {
        std::string name;
        std::string text;
        std::vector<AppToggleBinding> bindings;
    } cases[] = {
        {"empty text", "", {}},
        {"only comments and blank lines", "# my bindings\n\n   \t\n# [[toggle]]\n", {}},
        {"keys without a toggle", "key = \"k\"\napp = \"Notes\"\nmodifiers = [\"leftControl\"]\n", {}},
        {"one toggle",
         "[[toggle]]\nkey = \"k\"\nbundle_id = \"org.gnome.Nautilus\"\nmodifiers = [\"leftControl\"]\n",
         {binding("k", 40, std::nullopt, "org.gnome.Nautilus")}},
        {"two toggles, no final line feed",
         "[[toggle]]\nkey = \"space\"\napp = \"Terminal\"\nmodifiers = [\"leftControl\"]\n"
         "[[toggle]]\nkey = \"1\"\napp = \"Files\"\nbundle_id = \"org.gnome.Nautilus\"\nmodifiers = "
         "[\"leftControl\"]",
         {binding("space", 49, "Terminal", std::nullopt), binding("1", 18, "Files", "org.gnome.Nautilus")}},
        {"upper-case key is stored lower-cased",
         "[[toggle]]\nkey = \"K\"\napp = \"Notes\"\nmodifiers = [\"leftControl\"]\n",
         {binding("k", 40, "Notes", std::nullopt)}},
        {"blanks inside the quotes stay in the key",
         "[[toggle]]\nkey = \" K \"\napp = \"Notes\"\nmodifiers = [\"leftControl\"]\n",
         {binding(" k ", 40, "Notes", std::nullopt)}},
        {"a quoted # is kept",
         "[[toggle]]\nkey = \"e\"\napp = \"C# Editor\" # the editor\nmodifiers = [\"leftControl\"]\n",
         {binding("e", 14, "C# Editor", std::nullopt)}},
        {"an unquoted # starts a comment",
         "[[toggle]]\nkey = e\napp = C# Editor\nmodifiers = [leftControl]\n",
         {binding("e", 14, "C", std::nullopt)}},
        {"trailing comma and unquoted modifier",
         "[[toggle]]\nkey=\"t\"\napp=\"Term\"\nmodifiers=[\"leftControl\",]\n",
         {binding("t", 17, "Term", std::nullopt)}},
        {"repeated modifier makes one",
         "[[toggle]]\nkey=\"t\"\napp=\"Term\"\nmodifiers=[leftControl, \"leftControl\"]\n",
         {binding("t", 17, "Term", std::nullopt)}},
        {"later assignment wins, unknown names and other headers ignored",
         "[[toggle]]\nkey = \"a\"\nkey = \"b\"\nshortcut = \"x\"\n[toggle]\n[[ toggle ]]\n[other]\nnot an "
         "assignment\n"
         "app = \"Old\"\napp = \"New\"\nmodifiers = [\"shift\"]\nmodifiers = [\"leftControl\"]\n",
         {binding("b", 11, "New", std::nullopt)}},
        {"names are case-sensitive",
         "[[toggle]]\nkey = \"a\"\nKey = \"zz\"\napp = \"A\"\nMODIFIERS = [\"x\"]\nmodifiers = "
         "[\"leftControl\"]\n",
         {binding("a", 0, "A", std::nullopt)}},
        {"targets are trimmed, a blank bundle identifier is absent",
         "[[toggle]]\nkey = \"q\"\napp = \"  Notes\t \"\nbundle_id = \"   \"\nmodifiers = "
         "[\"leftControl\"]\n",
         {binding("q", 12, "Notes", std::nullopt)}},
        {"tabs around names and values",
         "\t[[toggle]]\t\n\tkey\t=\t\"esc\"\t\n\tapp\t=\t\"Notes\"\n\tmodifiers\t=\t[\"leftControl\"]\n",
         {binding("esc", 53, "Notes", std::nullopt)}},
        {"CR LF line ends make no toggle line",
         "[[toggle]]\r\nkey = \"k\"\r\napp = \"Notes\"\r\nmodifiers = [\"leftControl\"]\r\n",
         {}},
    };
    for (const auto& c : cases) {
        const auto result = parse(c.text);
        EXPECT_FALSE(result.error) << c.name << ": " << result.error->description();
        EXPECT_EQ(result.bindings, c.bindings) << c.name;
    }
}

TEST(AppToggleBindings, TheFirstFailingToggleDecidesAndNoBindingIsUsed) {
    const std::string valid = "[[toggle]]\nkey = \"k\"\napp = \"Notes\"\nmodifiers = [\"leftControl\"]\n";
    struct Case {
        std::string name;
        std::string text;
        AppToggleBindingsError::Kind kind;
        std::string description;
    } cases[] = {
        {"empty toggle at the end", valid + "[[toggle]]\n", AppToggleBindingsError::Kind::emptyKey,
         "toggle is missing key"},
        {"empty toggle followed by another", "[[toggle]]\n" + valid, AppToggleBindingsError::Kind::emptyKey,
         "toggle is missing key"},
        {"empty key text", "[[toggle]]\nkey = \"\"\napp = \"Notes\"\nmodifiers = [\"leftControl\"]\n",
         AppToggleBindingsError::Kind::emptyKey, "toggle is missing key"},
        {"key comes first even without target or modifiers", "[[toggle]]\nmodifiers = [\"shift\"]\n",
         AppToggleBindingsError::Kind::emptyKey, "toggle is missing key"},
        {"function key, as written",
         "[[toggle]]\nkey = \"F1\"\napp = \"Notes\"\nmodifiers = [\"leftControl\"]\n",
         AppToggleBindingsError::Kind::unknownKey, "unknown key \"F1\""},
        {"value after the first equals sign",
         "[[toggle]]\nkey = a = b\napp = \"Notes\"\nmodifiers = [\"leftControl\"]\n",
         AppToggleBindingsError::Kind::unknownKey, "unknown key \"a = b\""},
        {"blank key", "[[toggle]]\nkey = \" \"\napp = \"Notes\"\n", AppToggleBindingsError::Kind::unknownKey,
         "unknown key \" \""},
        {"target before modifiers", "[[toggle]]\nkey = \"k\"\nmodifiers = [\"shift\"]\n",
         AppToggleBindingsError::Kind::missingTarget, "toggle needs app or bundle_id"},
        {"blank targets",
         "[[toggle]]\nkey = \"k\"\napp = \" \"\nbundle_id = \"\t\"\nmodifiers = [\"leftControl\"]\n",
         AppToggleBindingsError::Kind::missingTarget, "toggle needs app or bundle_id"},
        {"unknown modifier after a good one",
         "[[toggle]]\nkey = \"k\"\napp = \"Notes\"\nmodifiers = [\"leftControl\", \"shift\"]\n",
         AppToggleBindingsError::Kind::unknownModifier, "unknown modifier \"shift\""},
        {"modifier spelling is case-sensitive",
         "[[toggle]]\nkey = \"k\"\napp = \"Notes\"\nmodifiers = [\"LeftControl\"]\n",
         AppToggleBindingsError::Kind::unknownModifier, "unknown modifier \"LeftControl\""},
        {"modifiers without brackets",
         "[[toggle]]\nkey = \"k\"\napp = \"Notes\"\nmodifiers = \"leftControl\"\n",
         AppToggleBindingsError::Kind::noModifiers, "toggle needs at least one modifier"},
        {"no modifiers line", "[[toggle]]\nkey = \"k\"\napp = \"Notes\"\n",
         AppToggleBindingsError::Kind::noModifiers, "toggle needs at least one modifier"},
        {"array over several lines",
         "[[toggle]]\nkey = \"k\"\napp = \"Notes\"\nmodifiers = [\n  \"leftControl\",\n]\n",
         AppToggleBindingsError::Kind::noModifiers, "toggle needs at least one modifier"},
        {"second toggle broken, first not used", valid + "[[toggle]]\nkey = \"k\"\napp = \"Notes\"\n",
         AppToggleBindingsError::Kind::noModifiers, "toggle needs at least one modifier"},
        {"first error of several", "[[toggle]]\nkey = \"F2\"\n[[toggle]]\n",
         AppToggleBindingsError::Kind::unknownKey, "unknown key \"F2\""},
    };
    for (const auto& c : cases) {
        const auto result = parse(c.text);
        ASSERT_TRUE(result.error) << c.name;
        EXPECT_EQ(result.error->kind(), c.kind) << c.name;
        EXPECT_EQ(result.error->description(), c.description) << c.name;
        EXPECT_TRUE(result.bindings.empty()) << c.name;
    }
}

TEST(AppToggleBindings, UnreadableFileDescription) {
    EXPECT_EQ(AppToggleBindingsError::fileUnreadable("/home/me/.config/quenlit/bindings.toml").description(),
              "cannot read /home/me/.config/quenlit/bindings.toml");
}

TEST(AppToggleBindings, KeyNamesGiveAnsiKeyCodes) {
    const std::string letters = "abcdefghijklmnopqrstuvwxyz";
    const std::uint16_t letterCodes[] = {0,  11, 8,  2,  14, 3, 5,  4,  34, 38, 40, 37, 46,
                                         45, 31, 35, 12, 15, 1, 17, 32, 9,  13, 7,  16, 6};
    for (std::size_t i = 0; i < letters.size(); ++i) {
        EXPECT_EQ(AppToggleBindings::keyCode(std::string(1, letters[i])), letterCodes[i]) << letters[i];
    }
    const std::uint16_t digitCodes[] = {29, 18, 19, 20, 21, 23, 22, 26, 28, 25};
    for (int d = 0; d < 10; ++d) {
        EXPECT_EQ(AppToggleBindings::keyCode(std::to_string(d)), digitCodes[d]) << d;
    }
    struct Case {
        std::string name;
        std::optional<std::uint16_t> code;
    } cases[] = {
        {"space", 49},           {"tab", 48},
        {"return", 36},          {"enter", 36},
        {"escape", 53},          {"esc", 53},
        {"SPACE", 49},           {" Esc\t", 53},
        {"\nk\r\n", 40},         {"Q", 12},
        {"", std::nullopt},      {"f1", std::nullopt},
        {"left", std::nullopt},  {"-", std::nullopt},
        {",", std::nullopt},     {"é", std::nullopt},
        {"kk", std::nullopt},    {"spa ce", std::nullopt},
        {"\"k\"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AppToggleBindings::keyCode(c.name), c.code) << c.name;
}

TEST(AppToggleBindings, DialectPieces) {
    using namespace AppToggleBindings;
    EXPECT_EQ(stripComment("app = \"C# Editor\" # note"), "app = \"C# Editor\" ");
    EXPECT_EQ(stripComment("app = C# Editor"), "app = C");
    EXPECT_EQ(stripComment("app = \"a\\\"#b\""), "app = \"a\\\"") << "a backslash does not protect a quote";
    EXPECT_EQ(stripComment("# all comment"), "");
    EXPECT_EQ(unquote(" \"Notes\"\t"), "Notes");
    EXPECT_EQ(unquote("\""), "\"");
    EXPECT_EQ(unquote("\"\""), "");
    EXPECT_EQ(unquote("'Notes'"), "'Notes'");
    EXPECT_EQ(unquote("\"a\\n\""), "a\\n");
    EXPECT_EQ(parseStringArray("[\"leftControl\",]"), std::vector<std::string>{"leftControl"});
    EXPECT_EQ(parseStringArray("[leftControl]"), std::vector<std::string>{"leftControl"});
    EXPECT_EQ(parseStringArray(" [ \"a\" , , \"\" , b ] "), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(parseStringArray("\"leftControl\"").empty());
    EXPECT_TRUE(parseStringArray("[").empty());
    EXPECT_TRUE(parseStringArray("[]").empty());
}

TEST(AppToggleBindings, LabelPrefersTheBundleIdentifier) {
    EXPECT_EQ(binding("k", 40, "Files", "org.gnome.Nautilus").label(), "org.gnome.Nautilus");
    EXPECT_EQ(binding("k", 40, "Files", std::nullopt).label(), "Files");
    EXPECT_EQ(binding("k", 40, "Files", "").label(), "Files");
    EXPECT_EQ(binding("k", 40, std::nullopt, std::nullopt).label(), "?");
    EXPECT_EQ(caseName(AppToggleModifier::leftControl), "leftControl");
}

}  // namespace
}  // namespace quenlit
