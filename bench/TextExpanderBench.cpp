// The text expander's work per key press, over a realistic stream of typing: prose with capitals
// (Shift pressed and released around them), punctuation, about one backspace in twenty, arrow
// keys and Command shortcuts now and then, accented letters and the odd emoji, and near misses
// of the keyword ("$tim" and a typo) that never complete it.
//
// "tap" measures the whole path of one event: the tap callback, the hand-over to the main queue
// (the virtual scheduler's post and run, so the queue cost is included) and the key handling with
// the policy. "policy" measures the policy's decision alone on the same inputs.

#include "Budget.h"

#include "automation/TextExpander.h"
#include "automation/TextExpanderPolicy.h"
#include "backends/fake/FakeInput.h"
#include "backends/fake/FakeWindowControl.h"
#include "backends/fake/FakeWorkspace.h"
#include "backends/fake/VirtualScheduler.h"
#include "base/Text.h"

#include <chrono>
#include <random>
#include <string>
#include <vector>

namespace {

using quenlit::platform::EventType;
using quenlit::platform::InputEvent;
using quenlit::platform::Modifiers;
namespace keysym = quenlit::platform::keysym;

const char* const kWords[] = {"the",     "quick", "brown", "fox",   "jumps",  "over",  "lazy",    "dog",
                              "Meeting", "notes", "from",  "today", "café",   "naïve", "résumé",  "price",
                              "$tim",    "$tiem", "email", "Linux", "window", "build", "release", "👍"};

InputEvent key(std::uint32_t sym, std::u16string text, Modifiers modifiers = {}) {
    InputEvent e;
    e.type = EventType::keyDown;
    e.keysym = sym;
    e.text = std::move(text);
    e.modifiers = modifiers;
    return e;
}

InputEvent flagsChanged(std::uint32_t sym, Modifiers modifiers) {
    InputEvent e;
    e.type = EventType::flagsChanged;
    e.keysym = sym;
    e.modifiers = modifiers;
    return e;
}

std::u16string utf16(const std::string& utf8) {
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        char32_t c;
        int extra;
        if (b < 0x80) {
            c = b, extra = 0;
        } else if (b < 0xE0) {
            c = b & 0x1F, extra = 1;
        } else if (b < 0xF0) {
            c = b & 0x0F, extra = 2;
        } else {
            c = b & 0x07, extra = 3;
        }
        for (int k = 1; k <= extra; ++k)
            c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += static_cast<std::size_t>(extra) + 1;
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

// One character of a word per key; the emoji is one key as well.
std::vector<std::u16string> keysOf(const std::string& word) {
    std::vector<std::u16string> keys;
    const std::u16string units = utf16(word);
    for (std::size_t i = 0; i < units.size(); ++i) {
        const bool pair = units[i] >= 0xD800 && units[i] <= 0xDBFF && i + 1 < units.size();
        keys.push_back(units.substr(i, pair ? 2 : 1));
        if (pair) ++i;
    }
    return keys;
}

std::vector<InputEvent> typingStream(std::size_t count) {
    std::mt19937 rng(5040);
    std::uniform_int_distribution<std::size_t> word(0, std::size(kWords) - 1);
    std::uniform_int_distribution<int> percent(0, 99);
    std::vector<InputEvent> events;
    while (events.size() < count) {
        for (const auto& k : keysOf(kWords[word(rng)])) {
            const bool capital = k.size() == 1 && ((k[0] >= u'A' && k[0] <= u'Z') || k[0] == u'$');
            if (capital) events.push_back(flagsChanged(keysym::shiftL, {.shift = true}));
            // Characters beyond ASCII come from a dead key and a letter: the event has the letter's.
            events.push_back(key(k[0] < 0x80 ? k[0] : 'e', k, {.shift = capital}));
            if (capital) events.push_back(flagsChanged(keysym::shiftL, {}));
            if (percent(rng) < 5) events.push_back(key(keysym::backSpace, u"\x7f"));
        }
        const int roll = percent(rng);
        if (roll < 2) {
            events.push_back(key(keysym::left, u""));
        } else if (roll < 3) {
            events.push_back(flagsChanged(keysym::controlL, {.control = true}));
            events.push_back(key('s', u"s", {.control = true}));
            events.push_back(flagsChanged(keysym::controlL, {}));
        } else if (roll < 8) {
            events.push_back(key(',', u","));
        }
        events.push_back(key(keysym::space, u" "));
    }
    events.resize(count);
    return events;
}

quenlit::TextExpanderPolicy::Input inputFor(const InputEvent& e) {
    using Input = quenlit::TextExpanderPolicy::Input;
    if (e.keysym == keysym::left || e.modifiers.control || e.modifiers.super) return Input::reset();
    if (e.type != EventType::keyDown) return Input::other();
    if (e.keysym == keysym::backSpace) return Input::backspace();
    std::string utf8;
    for (std::size_t i = 0; i < e.text.size(); ++i) {
        char32_t c = e.text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < e.text.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (e.text[++i] - 0xDC00);
        }
        quenlit::text::appendUtf8(utf8, c);
    }
    return Input::typed(utf8);
}

constexpr std::size_t kStreamLength = 4096;

void throughTap(benchmark::State& state) {
    static const std::vector<InputEvent> stream = typingStream(kStreamLength);
    quenlit::fake::FakeKeyboardEvents keyboard;
    quenlit::fake::FakeInputSynthesizer input;
    quenlit::fake::FakeWorkspace workspace;
    quenlit::fake::FakeWindowControl windowControl;
    quenlit::fake::VirtualScheduler scheduler;
    auto wall = std::chrono::system_clock::time_point{} + std::chrono::hours(500000);
    quenlit::TextExpander expander({keyboard, input, workspace, windowControl, scheduler, [&wall] {
                                        wall += std::chrono::milliseconds(120);
                                        return wall;
                                    }});
    expander.start();
    for (auto _ : state) {
        for (const auto& e : stream) {
            keyboard.deliver(e);
            scheduler.runPending();
        }
    }
    if (!input.posted.empty()) state.SkipWithError("the stream completed the keyword");
}

void policyAlone(benchmark::State& state) {
    static const std::vector<InputEvent> stream = typingStream(kStreamLength);
    std::vector<quenlit::TextExpanderPolicy::Input> inputs;
    for (const auto& e : stream)
        inputs.push_back(inputFor(e));
    auto now = std::chrono::system_clock::time_point{} + std::chrono::hours(500000);
    quenlit::TextExpanderPolicy policy("$time", [&now] { return now; });
    int matches = 0;
    for (auto _ : state) {
        for (const auto& in : inputs) {
            now += std::chrono::milliseconds(120);
            if (policy.process(in, now)) ++matches;
        }
    }
    benchmark::DoNotOptimize(matches);
}

}  // namespace

int main(int argc, char** argv) {
    // The budget is per key press.
    quenlit::bench::addBudgeted("TextExpander/keyThroughTap", 2e-6, static_cast<int>(kStreamLength),
                                throughTap);
    quenlit::bench::addBudgeted("TextExpander/policyOnly", 2e-6, static_cast<int>(kStreamLength),
                                policyAlone);
    return quenlit::bench::runAll(argc, argv);
}
