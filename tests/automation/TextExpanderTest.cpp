#include "automation/TextExpander.h"

#include "automation/TextExpanderPolicy.h"
#include "backends/fake/FakeInput.h"
#include "backends/fake/FakeWindowControl.h"
#include "backends/fake/FakeWorkspace.h"
#include "backends/fake/VirtualScheduler.h"
#include "base/Log.h"
#include "panel/FocusRestorer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unicode/timezone.h>

namespace quenlit {
namespace {

using namespace std::chrono_literals;
using Date = TextExpanderPolicy::Date;
using Input = TextExpanderPolicy::Input;
using platform::EventType;
using Lines = std::vector<std::string>;

// 6 December 2026, 20:05 UTC: 21:05 in Berlin.
const Date kEvening = std::chrono::sys_days{std::chrono::year{2026} / 12 / 6} + 20h + 5min;

// Makes an ICU zone the user's zone for the life of the guard.
class ZoneGuard {
  public:
    explicit ZoneGuard(const char* zone) : previous_(icu::TimeZone::createDefault()) {
        icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone(zone));
    }
    ~ZoneGuard() { icu::TimeZone::adoptDefault(previous_.release()); }
    ZoneGuard(const ZoneGuard&) = delete;
    ZoneGuard& operator=(const ZoneGuard&) = delete;

  private:
    std::unique_ptr<icu::TimeZone> previous_;
};

std::unique_ptr<icu::Calendar> calendarFor(const char* zone, const char* locale) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Calendar> calendar(
        icu::Calendar::createInstance(icu::TimeZone::createTimeZone(zone), icu::Locale(locale), status));
    EXPECT_TRUE(U_SUCCESS(status));
    return calendar;
}

// ---- The policy ----

class TextExpanderPolicyTest : public ::testing::Test {
  protected:
    ZoneGuard zone{"Europe/Berlin"};
    Date clock = kEvening;
    TextExpanderPolicy policy{"$time", [this] { return clock; }};

    std::optional<TextExpanderPolicy::Match> typeEach(const std::vector<std::string>& keys) {
        std::optional<TextExpanderPolicy::Match> last;
        for (const auto& k : keys)
            last = policy.process(Input::typed(k));
        return last;
    }
};

TEST_F(TextExpanderPolicyTest, KeywordTypedKeyByKeyMatchesOnTheLastKeyAndEmptiesTheBuffer) {
    for (const char* k : {"$", "t", "i", "m"}) {
        EXPECT_FALSE(policy.process(Input::typed(k)));
        clock += 1s;
    }
    auto match = policy.process(Input::typed("e"));
    ASSERT_TRUE(match);
    EXPECT_EQ(*match, (TextExpanderPolicy::Match{"$time", 5, "2026-12-06 21:05"}));
    EXPECT_EQ(policy.buffer(), "");
    EXPECT_FALSE(policy.lastInputAt());
}

TEST_F(TextExpanderPolicyTest, ExpansionIsTheTimeOfTheInputNotOfTheProvider) {
    typeEach({"$", "t", "i", "m"});
    auto match = policy.process(Input::typed("e"), kEvening - 12h);
    ASSERT_TRUE(match);
    EXPECT_EQ(match->expansion, "2026-12-06 09:05");
}

TEST_F(TextExpanderPolicyTest, MatchIsCaseInsensitiveAndASuffix) {
    struct Case {
        std::vector<std::string> keys;
        bool matches;
    };
    const Case cases[] = {
        {{"$", "T", "I", "M", "E"}, true},
        {{"$", "t", "i", "m", "E"}, true},
        {{"a", "b", "c", "$", "t", "i", "m", "e"}, true},
        {{"$time"}, true},  // several characters at once, from an input method
        {{"$t", "ime"}, true},
        {{"$", "t", "i", "m", "e", "s"}, true},  // matched on "e"; "s" comes after
        {{"$", "t", "i", "m"}, false},
        {{"t", "i", "m", "e"}, false},
        {{"$", "t", "i", "m", "e\u0301"}, false},  // the last character is "é"
        {{"$", "t", "ı", "m", "e"}, false},        // dotless i
    };
    for (const auto& c : cases) {
        policy.clear();
        std::optional<TextExpanderPolicy::Match> first;
        for (const auto& k : c.keys) {
            auto m = policy.process(Input::typed(k));
            if (m && !first) first = m;
        }
        EXPECT_EQ(first.has_value(), c.matches) << ::testing::PrintToString(c.keys);
        if (first) {
            EXPECT_EQ(first->deletionCount, 5);
        }
    }
}

TEST_F(TextExpanderPolicyTest, PauseOfMoreThanFifteenSecondsForgetsWhatWasTyped) {
    typeEach({"$", "t", "i"});
    clock += 15s + 1ms;
    EXPECT_FALSE(typeEach({"m", "e"}));
    EXPECT_EQ(policy.buffer(), "me");

    policy.clear();
    typeEach({"$", "t", "i"});
    clock += 15s;
    EXPECT_TRUE(typeEach({"m", "e"}));
}

TEST_F(TextExpanderPolicyTest, BackspaceRemovesOneCharacterAndCountsForTheIdleRule) {
    typeEach({"$", "t", "i", "m"});
    clock += 10s;
    EXPECT_FALSE(policy.process(Input::backspace()));
    EXPECT_EQ(policy.buffer(), "$ti");
    clock += 10s;  // 20 s after "m", 10 s after the backspace
    EXPECT_TRUE(typeEach({"m", "e"}));

    policy.clear();
    EXPECT_FALSE(policy.process(Input::backspace()));
    EXPECT_EQ(policy.buffer(), "");
    EXPECT_EQ(policy.lastInputAt(), clock);
}

TEST_F(TextExpanderPolicyTest, BackspaceRemovesAWholeComposedCharacter) {
    typeEach({"$", "t", "i", "m", "e\u0301"});
    policy.process(Input::backspace());
    EXPECT_EQ(policy.buffer(), "$tim");
    EXPECT_TRUE(policy.process(Input::typed("e")));

    typeEach({"x", "👍🏽"});
    policy.process(Input::backspace());
    EXPECT_EQ(policy.buffer(), "x");
}

TEST_F(TextExpanderPolicyTest, BufferKeepsTheLastSixtyFourCharacters) {
    struct Case {
        std::string unit;  // one character
        std::string name;
    };
    const Case cases[] = {{"a", "ascii"}, {"é", "two bytes"}, {"e\u0301", "combining"}, {"😀", "astral"}};
    for (const auto& c : cases) {
        policy.clear();
        std::string expected;
        for (int i = 0; i < 70; ++i) {
            // Each sixth character is a digit, so the kept part is recognisable.
            const std::string k = i % 6 == 0 ? std::to_string(i % 10) : c.unit;
            policy.process(Input::typed(k));
            if (i >= 6) expected += k;
        }
        EXPECT_EQ(policy.buffer(), expected) << c.name;
        EXPECT_EQ(text::graphemeCount(policy.buffer()), 64u) << c.name;
    }
}

// The buffer is kept character by character; compared here with a plain model that segments the
// whole text after every input.
TEST_F(TextExpanderPolicyTest, AgreesWithWholeTextSegmentationOnRandomTyping) {
    const char* const keys[] = {"$",      "t", "i", "m", "e",      "T",  "E",  "x", " ",      "é", "e\u0301",
                                "\u0301", "🇫", "🇷", "👩", "\u200D", "\r", "\n", "İ", "\u212A", "Σ", "$time"};
    std::mt19937 rng(77);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(keys));  // the last one is a backspace
    const text::FoldedText keyword("$time");
    std::string model;
    for (int step = 0; step < 4000; ++step) {
        const std::size_t k = pick(rng);
        std::optional<TextExpanderPolicy::Match> match;
        bool expected = false;
        if (k == std::size(keys)) {
            match = policy.process(Input::backspace());
            const std::size_t before = text::graphemeCount(model);
            while (!model.empty() && text::graphemeCount(model) + 1 > before) {
                while ((static_cast<unsigned char>(model.back()) & 0xC0) == 0x80)
                    model.pop_back();
                model.pop_back();  // the scalar's first byte
            }
        } else {
            match = policy.process(Input::typed(keys[k]));
            model += keys[k];
            while (text::graphemeCount(model) > 64) {
                std::size_t cut = 1;
                while (cut < model.size() && (static_cast<unsigned char>(model[cut]) & 0xC0) == 0x80)
                    ++cut;
                model.erase(0, cut);
            }
            const text::FoldedText folded(model);
            const std::string& b = folded.bytes();
            const std::size_t n = keyword.bytes().size();
            expected = b.size() >= n && b.compare(b.size() - n, n, keyword.bytes()) == 0 &&
                       folded.isBoundary(b.size() - n);
            if (expected) model.clear();
        }
        ASSERT_EQ(match.has_value(), expected) << "step " << step;
        ASSERT_EQ(policy.buffer(), model) << "step " << step;
    }
}

TEST_F(TextExpanderPolicyTest, ResetBreaksTheSequenceButOtherDoesNot) {
    typeEach({"$", "t", "i"});
    EXPECT_FALSE(policy.process(Input::other()));
    EXPECT_EQ(policy.buffer(), "$ti");
    EXPECT_TRUE(typeEach({"m", "e"}));

    typeEach({"$", "t", "i"});
    EXPECT_FALSE(policy.process(Input::reset()));
    EXPECT_EQ(policy.buffer(), "");
    EXPECT_FALSE(policy.lastInputAt());
    EXPECT_FALSE(typeEach({"m", "e"}));
}

TEST(TextExpanderPolicyKeyword, AnotherKeywordOnlyClearsTheBuffer) {
    TextExpanderPolicy policy("@Sig", [] { return kEvening; });
    EXPECT_EQ(policy.keyword(), "@sig");
    for (const char* k : {"a", "@", "S", "i"})
        EXPECT_FALSE(policy.process(Input::typed(k)));
    EXPECT_EQ(policy.buffer(), "a@Si");
    EXPECT_FALSE(policy.process(Input::typed("G")));
    EXPECT_EQ(policy.buffer(), "");
    EXPECT_FALSE(policy.lastInputAt());
}

TEST(TextExpanderSnippets, FormatsInTheCalendarsKindAndZone) {
    struct Case {
        const char* zone;
        const char* locale;
        Date date;
        const char* expected;
    };
    const Case cases[] = {
        {"Europe/Berlin", "en_US", kEvening, "2026-12-06 21:05"},
        {"Europe/Berlin", "en_US", kEvening - 12h, "2026-12-06 09:05"},
        {"Europe/Berlin", "en_US", kEvening - std::chrono::days{180}, "2026-06-09 22:05"},  // summer time
        {"America/New_York", "en_US", kEvening, "2026-12-06 15:05"},
        {"Asia/Tokyo", "en_US", kEvening, "2026-12-07 05:05"},
        {"UTC", "en_US", kEvening + 3h + 55min, "2026-12-07 00:00"},
        {"Europe/Berlin", "th_TH@calendar=buddhist", kEvening, "2569-12-06 21:05"},
        {"Africa/Cairo", "ar_EG", kEvening, "2026-12-06 22:05"},  // ASCII digits all the same
        {"Asia/Kolkata", "hi_IN@numbers=deva", kEvening, "2026-12-07 01:35"},
    };
    for (const auto& c : cases) {
        auto calendar = calendarFor(c.zone, c.locale);
        ASSERT_TRUE(calendar);
        EXPECT_EQ(TextExpanderSnippets::formattedTime(c.date, *calendar), c.expected)
            << c.zone << " " << c.locale;
    }
}

// ---- The expander ----

namespace key = platform::keysym;
using M = platform::Modifiers;

struct Key {
    std::uint32_t keysym;
    std::u16string text;
    M modifiers = {};
};

// The keyword's keys on a US layout; "$" is Shift-4.
Key keyFor(char16_t c) {
    if (c == u'$') return {'$', u"$", {.shift = true}};
    return {c, std::u16string(1, c)};
}

const std::string kMarked = "marker=1364542808";

class TextExpanderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        FocusRestorer::resetFlagsForTesting();
        log::installSinks({sink});
        platform::RunningApplication editor;
        editor.processIdentifier = 7;
        editor.localizedName = "Editor";
        workspace.running.push_back(editor);
    }
    void TearDown() override { log::installSinks({}); }

    std::unique_ptr<TextExpander> makeExpander() {
        return std::make_unique<TextExpander>(TextExpander::Services{
            keyboard, input, workspace, windowControl, scheduler, [this] { return wall; }});
    }

    void deliver(const platform::InputEvent& event) {
        EXPECT_TRUE(keyboard.deliver(event));  // a listen-only tap never swallows
        scheduler.runPending();
    }
    void press(const Key& key, EventType type = EventType::keyDown) {
        platform::InputEvent e;
        e.type = type;
        e.keysym = key.keysym;
        e.text = key.text;
        e.modifiers = key.modifiers;
        deliver(e);
    }
    void type(std::u16string_view text) {
        for (char16_t c : text)
            press(keyFor(c));
    }
    // Keys that arrive before the main queue runs again: while the expansion they start, or one
    // already started, waits there.
    void typeBeforeTheQueueRuns(std::u16string_view text) {
        for (char16_t c : text) {
            platform::InputEvent e;
            e.keysym = keyFor(c).keysym;
            e.text = keyFor(c).text;
            e.modifiers = keyFor(c).modifiers;
            EXPECT_TRUE(keyboard.deliver(e));
        }
    }
    void click(EventType type) {
        platform::InputEvent e;
        e.type = type;
        deliver(e);
    }
    // Lets time pass on both clocks.
    void pass(platform::Seconds s) {
        wall += std::chrono::duration_cast<std::chrono::system_clock::duration>(s);
        scheduler.advance(s);
    }
    Lines expanderLines() const {
        Lines out;
        for (auto& l : sink->lines()) {
            if (l.find("textexpander: ") != std::string::npos) out.push_back(l.substr(log::kPrefix.size()));
        }
        return out;
    }
    bool expanded() const { return !input.posted.empty(); }

    ZoneGuard zone{"Europe/Berlin"};
    std::shared_ptr<log::MemorySink> sink = std::make_shared<log::MemorySink>();
    fake::FakeKeyboardEvents keyboard;
    fake::FakeInputSynthesizer input;
    fake::FakeWorkspace workspace;
    fake::FakeWindowControl windowControl;
    fake::VirtualScheduler scheduler;
    Date wall = kEvening;
};

TEST_F(TextExpanderTest, TypingTheKeywordDeletesItThenTypesTheTime) {
    auto expander = makeExpander();
    expander->start();
    type(u"$tim");
    // The keyword's last key: the user's further keys are held back as it arrives, before the main
    // queue runs anything.
    platform::InputEvent e;
    e.keysym = keyFor(u'e').keysym;
    e.text = u"e";
    EXPECT_TRUE(keyboard.deliver(e));
    EXPECT_EQ(input.holds, (std::vector<std::size_t>{0}));
    EXPECT_TRUE(expander->isExpanding());
    EXPECT_TRUE(input.posted.empty());

    // Then at once, with no time passing: the deletions, then the text.
    scheduler.runPending();
    Lines deletes;
    for (int i = 0; i < 5; ++i) {
        deletes.push_back("keyDown BackSpace " + kMarked);
        deletes.push_back("keyUp BackSpace " + kMarked);
    }
    Lines expected = deletes;
    for (const char* units :
         {"U+0032", "U+0030", "U+0032", "U+0036", "U+002D", "U+0031", "U+0032", "U+002D", "U+0030", "U+0036",
          "U+0020", "U+0032", "U+0031", "U+003A", "U+0030", "U+0035"}) {
        expected.push_back("keyDown a " + kMarked + " text=" + units);
        expected.push_back("keyUp a " + kMarked + " text=" + units);
    }
    EXPECT_EQ(input.posted, expected);
    EXPECT_EQ(input.holds, (std::vector<std::size_t>{0}));
    EXPECT_EQ(input.sourceCount, 2);
    EXPECT_FALSE(expander->isExpanding());
    EXPECT_EQ(expanderLines(), (Lines{"textexpander: event tap active", "textexpander: start (ax=1, tap=1)",
                                      "textexpander: match keyword=$time → 2026-12-06 21:05",
                                      "textexpander: expanded 2026-12-06 21:05"}));
}

TEST_F(TextExpanderTest, OwnEventsNeitherTypeNorReset) {
    auto expander = makeExpander();
    expander->start();
    type(u"$ti");
    platform::InputEvent own;
    own.keysym = 'a';
    own.text = u"x";
    own.userData = TextExpander::kSyntheticMarker;
    deliver(own);
    own.keysym = key::backSpace;
    own.text.clear();
    deliver(own);
    EXPECT_EQ(expander->policy().buffer(), "$ti");
    type(u"me");
    pass(0.05s);
    ASSERT_EQ(input.postedEvents.size(), 42u);

    // What was typed comes back through the tap, after the expansion has ended.
    type(u"$ti");
    for (const auto& e : input.postedEvents)
        deliver(e);
    EXPECT_EQ(expander->policy().buffer(), "$ti");
}

TEST_F(TextExpanderTest, ResetKeysAndKeysWithoutTextBreakTheSequence) {
    const Key resets[] = {{key::returnKey, u"\r"},
                          {key::keypadEnter, u"\x03"},
                          {key::escape, u"\x1b"},
                          {key::tab, u"\t"},
                          {key::isoLeftTab, u""},
                          {key::left, u""},
                          {key::right, u""},
                          {key::up, u""},
                          {key::down, u""},
                          {key::home, u""},
                          {key::end, u""},
                          {key::pageUp, u""},
                          {key::pageDown, u""},
                          {key::deleteKey, u"\x7f"},
                          {0xfe51, u""}};  // the last one: a dead key (acute), which gives no text
    auto expander = makeExpander();
    expander->start();
    for (const auto& k : resets) {
        type(u"$ti");
        press(k);
        type(u"me");
        EXPECT_EQ(expander->policy().buffer(), "me") << k.keysym;
    }
    pass(1s);
    EXPECT_FALSE(expanded());
}

TEST_F(TextExpanderTest, ShortcutsAndTheirModifiersBreakTheSequence) {
    struct Case {
        const char* name;
        Key key;
        EventType type;
        bool expands;
    };
    const Case cases[] = {
        {"Super pressed", {key::superL, u"", {.super = true}}, EventType::flagsChanged, false},
        {"Control pressed", {key::controlL, u"", {.control = true}}, EventType::flagsChanged, false},
        {"Super-C", {'c', u"c", {.super = true}}, EventType::keyDown, false},
        {"Control-A", {'a', u"\x01", {.control = true}}, EventType::keyDown, false},
        {"Super-Backspace", {key::backSpace, u"", {.super = true}}, EventType::keyDown, false},
        {"Shift pressed", {key::shiftL, u"", {.shift = true}}, EventType::flagsChanged, true},
        {"Alt pressed", {key::altL, u"", {.alt = true}}, EventType::flagsChanged, true},
        {"modifiers released", {key::shiftL, u""}, EventType::flagsChanged, true},
    };
    for (const auto& c : cases) {
        auto expander = makeExpander();
        expander->start();
        input.posted.clear();
        type(u"$ti");
        press(c.key, c.type);
        type(u"me");
        pass(0.05s);
        EXPECT_EQ(expanded(), c.expands) << c.name;
    }
}

TEST_F(TextExpanderTest, SecureInputResetsEveryKey) {
    auto expander = makeExpander();
    expander->start();
    keyboard.secureInput = true;
    type(u"$tim");
    EXPECT_EQ(expander->policy().buffer(), "");
    type(u"e");
    keyboard.secureInput = false;
    pass(1s);
    EXPECT_FALSE(expanded());

    // Secure input only for the start of the keyword is enough to stop it.
    keyboard.secureInput = true;
    type(u"$ti");
    keyboard.secureInput = false;
    type(u"me");
    pass(1s);
    EXPECT_FALSE(expanded());
}

TEST_F(TextExpanderTest, MouseButtonsClearTheBuffer) {
    auto expander = makeExpander();
    expander->start();
    for (EventType button :
         {EventType::leftMouseDown, EventType::rightMouseDown, EventType::otherMouseDown}) {
        type(u"$ti");
        click(button);
        EXPECT_EQ(expander->policy().buffer(), "");
        EXPECT_FALSE(expander->policy().lastInputAt());
        type(u"me");
    }
    pass(1s);
    EXPECT_FALSE(expanded());
}

TEST_F(TextExpanderTest, SwitchingApplicationsClearsTheBuffer) {
    auto expander = makeExpander();
    expander->start();
    type(u"$ti");
    workspace.activateFromOutside(7);
    EXPECT_EQ(expander->policy().buffer(), "");
    type(u"me");
    pass(1s);
    EXPECT_FALSE(expanded());
}

TEST_F(TextExpanderTest, PauseBetweenKeysFollowsTheWallClock) {
    auto expander = makeExpander();
    expander->start();
    type(u"$ti");
    pass(15.5s);
    type(u"me");
    pass(1s);
    EXPECT_FALSE(expanded());

    type(u"$ti");
    wall += 15s;  // exactly the limit
    type(u"me");
    pass(1s);
    EXPECT_TRUE(expanded());
}

TEST_F(TextExpanderTest, DeleteKeyIsABackspaceOnlyWhenPressed) {
    auto expander = makeExpander();
    expander->start();
    type(u"$tim");
    press({key::backSpace, u"\x7f"});
    EXPECT_EQ(expander->policy().buffer(), "$ti");
    press({key::backSpace, u""}, EventType::flagsChanged);  // ignored, not a reset
    EXPECT_EQ(expander->policy().buffer(), "$ti");
    type(u"me");
    pass(1s);
    EXPECT_TRUE(expanded());
}

TEST_F(TextExpanderTest, TextOfAnEventIsReadUpToSixteenUnits) {
    auto expander = makeExpander();
    expander->start();
    press({'x', std::u16string(11, u'x') + u"$time"});  // 16 units
    pass(1s);
    EXPECT_TRUE(expanded());

    input.posted.clear();
    press({'x', std::u16string(12, u'x') + u"$time"});  // the "e" is the 17th
    EXPECT_EQ(expander->policy().buffer(), std::string(12, 'x') + "$tim");
    pass(1s);
    EXPECT_FALSE(expanded());

    // A pair of UTF-16 units is one character; a pair cut at the limit leaves U+FFFD.
    press({'x', u"😀"});
    EXPECT_EQ(expander->policy().buffer(), std::string(12, 'x') + "$tim😀");
    press({'y', std::u16string(15, u'y') + u"😀"});
    EXPECT_EQ(expander->policy().buffer().substr(expander->policy().buffer().size() - 4), "y\uFFFD");
}

TEST_F(TextExpanderTest, KeysTypedDuringAnExpansionAreNotRecorded) {
    auto expander = makeExpander();
    expander->start();
    typeBeforeTheQueueRuns(u"$time");
    typeBeforeTheQueueRuns(u"$tim");
    EXPECT_EQ(expander->policy().buffer(), "");
    pass(0.05s);
    EXPECT_FALSE(expander->isExpanding());
    input.posted.clear();
    type(u"e");
    pass(1s);
    EXPECT_FALSE(expanded());
}

TEST_F(TextExpanderTest, DisabledTapIsEnabledAgainAndForgetsTheBuffer) {
    auto expander = makeExpander();
    expander->start();
    type(u"$ti");
    keyboard.disableTaps(EventType::tapDisabledByUserInput);
    EXPECT_EQ(keyboard.enabledTapCount(), 0u);
    scheduler.runPending();
    EXPECT_EQ(keyboard.enabledTapCount(), 1u);
    EXPECT_EQ(expander->policy().buffer(), "");
    EXPECT_EQ(expanderLines().back(), "textexpander: re-enabled tap after disable");
    type(u"me");
    pass(1s);
    EXPECT_FALSE(expanded());
}

TEST_F(TextExpanderTest, UntrustedStartDefersTheTapAndPromptsOnce) {
    windowControl.trusted = false;
    auto expander = makeExpander();
    expander->start();
    EXPECT_EQ(windowControl.promptCount, 1);
    EXPECT_EQ(keyboard.tapCount(), 0u);
    EXPECT_EQ(expanderLines(), (Lines{"textexpander: tap deferred — Accessibility not trusted",
                                      "textexpander: start (ax=0, tap=0)"}));
    expander->stop();
    expander->start();
    EXPECT_EQ(windowControl.promptCount, 1);
}

TEST_F(TextExpanderTest, StartTwiceInstallsOneTapAndStopRemovesEverything) {
    auto expander = makeExpander();
    expander->start();
    expander->start();
    EXPECT_EQ(keyboard.tapCount(), 1u);
    EXPECT_EQ(workspace.didActivateApplication.connectionCount(), 1u);
    type(u"$ti");
    expander->stop();
    EXPECT_EQ(keyboard.tapCount(), 0u);
    EXPECT_EQ(workspace.didActivateApplication.connectionCount(), 0u);
    EXPECT_EQ(expander->policy().buffer(), "");
    expander->start();
    EXPECT_EQ(keyboard.tapCount(), 1u);
    EXPECT_EQ(expanderLines(), (Lines{"textexpander: event tap active", "textexpander: start (ax=1, tap=1)",
                                      "textexpander: stop", "textexpander: event tap active",
                                      "textexpander: start (ax=1, tap=1)"}));
}

TEST_F(TextExpanderTest, TapCreationFailureIsLoggedOnceUntilATapIsMade) {
    auto expander = makeExpander();
    keyboard.failure = Failure::unsupported("no tap");
    expander->start();
    expander->start();
    keyboard.failure = Failure{"no run-loop source"};
    expander->start();
    keyboard.failure.reset();
    expander->start();
    expander->stop();
    keyboard.failure = Failure::unsupported("no tap");
    expander->start();
    EXPECT_EQ(expanderLines(),
              (Lines{"textexpander: failed to create event tap", "textexpander: start (ax=1, tap=0)",
                     "textexpander: start (ax=1, tap=0)", "textexpander: failed to create run-loop source",
                     "textexpander: start (ax=1, tap=0)", "textexpander: event tap active",
                     "textexpander: start (ax=1, tap=1)", "textexpander: stop",
                     "textexpander: failed to create event tap", "textexpander: start (ax=1, tap=0)"}));
}

TEST_F(TextExpanderTest, FailedDeletionTypesNothing) {
    for (bool sourceFails : {true, false}) {
        sink->clear();
        auto expander = makeExpander();
        expander->start();
        input.sourceFails = sourceFails;
        input.eventsFail = !sourceFails;
        type(u"$time");
        pass(1s);
        EXPECT_TRUE(input.posted.empty());
        EXPECT_FALSE(expander->isExpanding());
        EXPECT_EQ(expanderLines().back(), "textexpander: delete failed");

        // The expander is usable again.
        input.sourceFails = input.eventsFail = false;
        type(u"$time");
        pass(1s);
        EXPECT_EQ(input.posted.size(), 42u);
        input.posted.clear();
    }
}

TEST_F(TextExpanderTest, FailedTypingIsLoggedAfterTheDeletion) {
    auto expander = makeExpander();
    expander->start();
    input.textFails = true;  // the deletions go through, the text does not
    type(u"$time");
    EXPECT_EQ(input.posted.size(), 10u);
    EXPECT_FALSE(expander->isExpanding());
    EXPECT_EQ(expanderLines().back(), "textexpander: type failed");
}

TEST_F(TextExpanderTest, ExpansionStepsDoNothingOnceTheExpanderIsGone) {
    auto expander = makeExpander();
    expander->start();
    typeBeforeTheQueueRuns(u"$time");
    expander.reset();
    EXPECT_EQ(keyboard.tapCount(), 0u);
    pass(1s);
    EXPECT_FALSE(expanded());
}

TEST(TextExpanderTyping, EachScalarIsOneKeyPressWithItsUtf16Units) {
    fake::FakeInputSynthesizer input;
    EXPECT_TRUE(TextExpander::typeUnicode("a😀é", input));
    EXPECT_EQ(
        input.posted,
        (Lines{"keyDown a " + kMarked + " text=U+0061", "keyUp a " + kMarked + " text=U+0061",
               "keyDown a " + kMarked + " text=U+D83DU+DE00", "keyUp a " + kMarked + " text=U+D83DU+DE00",
               "keyDown a " + kMarked + " text=U+00E9", "keyUp a " + kMarked + " text=U+00E9"}));
}

TEST(TextExpanderTyping, EmptyTextSucceedsWithoutASourceAndFailuresAreReported) {
    fake::FakeInputSynthesizer input;
    input.sourceFails = true;
    EXPECT_TRUE(TextExpander::typeUnicode("", input));
    EXPECT_FALSE(TextExpander::typeUnicode("a", input));
    input.sourceFails = false;
    input.eventsFail = true;
    EXPECT_FALSE(TextExpander::typeUnicode("a", input));
    EXPECT_TRUE(input.posted.empty());
}

}  // namespace
}  // namespace quenlit
