// The KDE backend's translations: KWin's window list as its scripts report it, the hotkeys' keys in
// kglobalaccel's terms, and the texts put into the scripts KWin runs.

#include "backends/kde/KGlobalAccelHotKeys.h"
#include "backends/kde/KWinScripting.h"
#include "backends/kde/KWinWindows.h"

#include <gtest/gtest.h>

#include <QKeySequence>

#include "platform/InputEvents.h"

namespace quenlit::kde {
namespace {

namespace keys = platform::keysym;

TEST(KWinWindows, ReadsTheScriptsListWithEachWindowKeepingItsNumber) {
    KWinWindowNumbers numbers;
    const std::string gtk =
        R"({"id":"{8c38}","pid":41,"resourceClass":"gtk3-demo-application","resourceName":"gtk3-demo-application",)"
        R"("desktopFile":"org.gtk.Demo","caption":"Application Class","x":515,"y":311,"width":249,"height":178,)"
        R"("normal":true,"minimized":false,"fullScreen":false,"resizeable":true,"skipTaskbar":false,)"
        R"("stacking":3,"active":true})";
    const std::string dock =
        R"({"id":"{77aa}","pid":7,"resourceClass":"plasmashell","caption":"","x":0,"y":760,"width":1280,)"
        R"("height":40,"normal":false,"minimized":true,"fullScreen":false,"resizeable":false,"skipTaskbar":true,)"
        R"("stacking":9,"active":false})";
    auto first = parseKWinWindows("[" + gtk + "," + dock + "]", numbers);
    ASSERT_TRUE(first) << first.error().reason;
    ASSERT_EQ(first->size(), 2u);
    const KWinWindow& w = first->front();
    EXPECT_EQ(w.processIdentifier, 41);
    EXPECT_EQ(w.resourceClass, "gtk3-demo-application");
    EXPECT_EQ(w.desktopFile, "org.gtk.Demo");
    EXPECT_EQ(w.caption, "Application Class");
    EXPECT_EQ(w.frame, (platform::Rect{515, 311, 249, 178}));
    EXPECT_TRUE(w.normal && w.active && w.resizeable);
    EXPECT_FALSE(w.minimized || w.fullScreen || w.skipTaskbar);
    EXPECT_EQ(w.stacking, 3);
    const KWinWindow& d = first->back();
    EXPECT_TRUE(!d.normal && d.minimized && d.skipTaskbar && !d.resizeable);
    EXPECT_NE(w.id, d.id);

    // Read again, alone and after the other: the same window, the same number.
    auto again = parseKWinWindows(dock, numbers);
    ASSERT_TRUE(again);
    ASSERT_EQ(again->size(), 1u);
    EXPECT_EQ(again->front().id, d.id);
}

TEST(KWinWindows, TellsAClosedWindowAndAFailedScriptApart) {
    KWinWindowNumbers numbers;
    struct Case {
        const char* answer;
        bool gone;
        std::string reasonStart;
    };
    const Case cases[] = {
        {R"({"gone":true})", true, "the window is gone"},
        {R"({"error":"TypeError: w.setMaximize is not a function"})", false,
         "KWin's script failed: TypeError: w.setMaximize"},
        {"not json", false, "KWin's script answered no JSON"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        auto parsed = parseKWinWindows(c.answer, numbers);
        ASSERT_FALSE(parsed);
        EXPECT_EQ(parsed.error().kind == Failure::Kind::gone, c.gone);
        EXPECT_EQ(parsed.error().reason.substr(0, c.reasonStart.size()), c.reasonStart);
    }
}

TEST(KGlobalAccelHotKeys, KeysAreQtKeySequencesWithMetaForSuper) {
    struct Case {
        std::uint32_t keysym;
        platform::Modifiers modifiers;
        std::optional<std::string> sequence;
    };
    const Case cases[] = {
        {keys::space, {.super = true}, "Meta+Space"},
        {keys::escape, {.super = true}, "Meta+Esc"},
        {'k', {.shift = true, .super = true}, "Meta+Shift+K"},
        {'v', {.control = true, .alt = true}, "Ctrl+Alt+V"},
        {keys::returnKey, {}, "Return"},
        {keys::up, {.super = true}, "Meta+Up"},
        {keys::pageDown, {.super = true}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keysym);
        const auto key = qtKeyFor(c.keysym, c.modifiers);
        ASSERT_EQ(key.has_value(), c.sequence.has_value());
        if (key) {
            EXPECT_EQ(QKeySequence(*key).toString(QKeySequence::PortableText).toStdString(), *c.sequence);
        }
    }
}

TEST(KWinScripting, TextsReachTheScriptAsStringLiterals) {
    const std::pair<std::string, std::string> cases[] = {
        {"Quenlit launcher", R"("Quenlit launcher")"},
        {R"(say "hi")", R"("say \"hi\"")"},
        {R"(C:\path)", R"("C:\\path")"},
        {"two\nlines\t", R"("two\nlines\t")"},
        {std::string("bell\x07", 5), R"("bell\u0007")"},
        {"naïve", "\"naïve\""},
    };
    for (const auto& [text, literal] : cases)
        EXPECT_EQ(javaScriptString(text), literal) << text;
}

TEST(KWinScripting, EveryScriptAnswersOurObjectWithItsTokenAndTakesPlasma6sNamesWhenThere) {
    const std::string script = KWinScripting::script("kwin.answer(1);", ":1.42", "7-3");
    EXPECT_NE(script.find(R"(SERVICE = ":1.42")"), std::string::npos);
    EXPECT_NE(script.find(R"(TOKEN = "7-3")"), std::string::npos);
    EXPECT_NE(script.find("typeof workspace.windowList === \"function\""), std::string::npos);
    EXPECT_NE(script.find("workspace.activeWindow = w; else workspace.activeClient = w;"), std::string::npos);
    // A failing body still answers, so the caller does not wait out its bound.
    EXPECT_NE(script.find("catch (e) { kwin.fail(e); }"), std::string::npos);
}

}  // namespace
}  // namespace quenlit::kde
