#include "clipboard/ClipboardPaster.h"

#include "backends/fake/FakeInput.h"
#include "backends/fake/FakeWindowControl.h"
#include "backends/fake/FakeWorkspace.h"
#include "backends/fake/VirtualScheduler.h"
#include "base/Log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quenlit {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class ClipboardPasterTest : public ::testing::Test {
  protected:
    void SetUp() override { log::installSinks({sink}); }
    void TearDown() override { log::installSinks({}); }

    void frontmost(const std::string& name) {
        platform::RunningApplication app;
        app.processIdentifier = 77;
        app.localizedName = name;
        workspace.running.push_back(app);
        workspace.frontmostProcess = 77;
    }

    std::shared_ptr<log::MemorySink> sink = std::make_shared<log::MemorySink>();
    fake::VirtualScheduler scheduler;
    fake::FakeWindowControl windowControl;
    fake::FakeInputSynthesizer input;
    fake::FakeWorkspace workspace;
    ClipboardPaster::Context context{scheduler, windowControl, input, workspace};
};

TEST_F(ClipboardPasterTest, PostsCommandVOnceTheDelayHasPassed) {
    frontmost("Text Editor");
    ClipboardPaster::pasteCommandV(platform::Seconds(0.15), context);
    EXPECT_THAT(input.posted, IsEmpty());

    scheduler.advance(platform::Seconds(0.149));
    EXPECT_THAT(input.posted, IsEmpty());

    scheduler.advance(platform::Seconds(0.001));
    EXPECT_EQ(input.sourceCount, 1);
    EXPECT_THAT(input.posted, ElementsAre("keyDown Control+v marker=0", "keyUp Control+v marker=0"));
    EXPECT_THAT(sink->lines(),
                ElementsAre("Quenlit focus: clipboard: posted ⌘V (frontmost=Text Editor, ax=1)"));
    EXPECT_EQ(windowControl.promptCount, 0);
}

TEST_F(ClipboardPasterTest, PostsOnlyWhileTheTargetHasTheKeyboardFocus) {
    frontmost("Text Editor");
    platform::RunningApplication other;
    other.processIdentifier = 88;
    other.localizedName = "Password Prompt";
    workspace.running.push_back(other);
    const platform::RunningApplication target = workspace.running.front();

    struct Case {
        std::optional<int> focus;
        bool posted;
    };
    for (const Case& c : {Case{std::nullopt, true}, Case{77, true}, Case{88, false}}) {
        workspace.keyboardFocusProcess = c.focus;
        input.posted.clear();
        sink->clear();
        ClipboardPaster::pasteCommandV(platform::Seconds(0.15), context, target);
        scheduler.advance(platform::Seconds(0.15));
        EXPECT_EQ(input.posted.size(), c.posted ? 2u : 0u) << c.focus.value_or(-1);
        if (!c.posted) {
            EXPECT_THAT(sink->lines(),
                        ElementsAre("Quenlit focus: clipboard: paste skipped — Text Editor does not have the "
                                    "keyboard focus (it is with Password Prompt); the entry stays on the "
                                    "clipboard"));
        }
    }
}

TEST_F(ClipboardPasterTest, WithoutTrustWarnsAndPostsAnyway) {
    windowControl.trusted = false;
    ClipboardPaster::pasteCommandV(platform::Seconds(0.2), context);
    scheduler.advance(platform::Seconds(0.2));

    EXPECT_EQ(input.posted.size(), 2u);
    EXPECT_EQ(windowControl.promptCount, 0);  // asking is the caller's business, before the paste
    EXPECT_THAT(
        sink->lines(),
        ElementsAre("Quenlit focus: clipboard: posting ⌘V without AX trust (may be dropped; content is on "
                    "pasteboard)",
                    "Quenlit focus: clipboard: posted ⌘V (frontmost=?, ax=0)"));
}

TEST_F(ClipboardPasterTest, NoEventSourceMeansNoKeystroke) {
    input.sourceFails = true;
    ClipboardPaster::pasteCommandV(platform::Seconds(0.15), context);
    scheduler.advance(platform::Seconds(1));

    EXPECT_THAT(input.posted, IsEmpty());
    EXPECT_THAT(sink->lines(), ElementsAre("Quenlit focus: clipboard: paste failed — no CGEventSource"));
}

TEST_F(ClipboardPasterTest, KeyEventsThatCannotBeMadeAreNotHalfPosted) {
    input.eventsFail = true;
    ClipboardPaster::pasteCommandV(platform::Seconds(0.15), context);
    scheduler.advance(platform::Seconds(1));

    EXPECT_THAT(input.posted, IsEmpty());
    EXPECT_THAT(sink->lines(),
                ElementsAre("Quenlit focus: clipboard: paste failed — could not create key events"));
}

}  // namespace
}  // namespace quenlit
