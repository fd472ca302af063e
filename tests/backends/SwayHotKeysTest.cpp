#include "backends/sway/SwayHotKeys.h"

#include "backends/FakeSway.h"
#include "platform/InputEvents.h"

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>
#include <QCoreApplication>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace quenlit::sway {

namespace swayconfig {
void PrintTo(const KeyBinding& b, std::ostream* out) {
    *out << "{0x" << std::hex << b.modifiers << ", 0x" << b.keysym << std::dec << ", " << b.command << "}";
}
}  // namespace swayconfig
namespace {

using testing::FakeSway;

namespace bits = swayconfig::modifierBits;
using M = platform::Modifiers;
namespace key = platform::keysym;
constexpr M kSuper{.super = true};

TEST(SwayConfig, KeyBindingsOfTheDefaultModeWithVariablesFlagsAndBlocks) {
    const char* config = R"(# sway config
set $mod Mod4
set $modifier Mod1
set $term foot --title "a b"
set $both $mod+Shift
set $parts config.d
bindsym $mod+Return exec $term
bindsym --release --to-code $both+Q kill
bindsym SHIFT+super+X exec x
  bindsym --no-warn --input-device=1:1:kbd $modifier+space focus mode_toggle
bindcode $mod+65 exec by-code
bindcode Ctrl+9999 exec unknown-code
bindsym Ctrl+Escape \
    exec joined
bindsym $mod+a+b exec chord
bindsym --whole-window button1 exec mouse
bindsym Hyper+k exec unknown-modifier
bindsym Mod4+NoSuchKey exec unknown-key
#bindsym $mod+Tab exec commented
mode "resize" {
    bindsym Escape mode default
    bindsym {
        Left resize shrink width 10px
    }
}
bindsym {
    logo+p exec block
    Group2+Mod4+Tab exec grouped
}
mode --pango_markup "default" {
    bindsym control+TAB exec default-mode
}
include ~/.config/sway/$parts/*
bindsym $fromInclude exec after-include
)";
    std::vector<std::string> includes;
    const auto readIncluded = [&](const std::string& pattern) {
        includes.push_back(pattern);
        if (pattern == "itself") return std::vector<std::string>{"include itself\n"};
        return std::vector<std::string>{"set $fromInclude Mod4+i\nbindsym $mod+j exec $term\n",
                                        "include itself\n"};
    };
    const std::vector<swayconfig::KeyBinding> expected = {
        {bits::mod4, XKB_KEY_Return, "exec foot --title \"a b\""},
        {bits::mod4 | bits::shift, XKB_KEY_q, "kill"},
        {bits::mod4 | bits::shift, XKB_KEY_x, "exec x"},
        {bits::mod1, XKB_KEY_space, "focus mode_toggle"},
        {bits::mod4, XKB_KEY_space, "exec by-code"},  // key code 65 is the space bar
        {bits::control, XKB_KEY_Escape, "exec joined"},
        {bits::mod4, XKB_KEY_p, "exec block"},
        {bits::mod4, XKB_KEY_Tab, "exec grouped"},
        {bits::control, XKB_KEY_Tab, "exec default-mode"},
        {bits::mod4, XKB_KEY_j, "exec foot --title \"a b\""},
        {bits::mod4, XKB_KEY_i, "exec after-include"},
    };
    EXPECT_EQ(swayconfig::keyBindings(config, readIncluded), expected);
    // Included where it stands, variables substituted; a file including itself stops after a few levels.
    ASSERT_FALSE(includes.empty());
    EXPECT_EQ(includes.front(), "~/.config/sway/config.d/*");
    EXPECT_LE(includes.size(), 10u);
    EXPECT_EQ(swayconfig::keyBindings(config).size(), expected.size() - 2);
}

TEST(SwayConfig, IncludedFilesAreReadWithTheEnvironmentsVariablesAndWildcards) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("quenlit-sway-include-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder / "config.d");
    std::ofstream(folder / "config.d" / "20-keys") << "bindsym Mod4+k exec k\n";
    std::ofstream(folder / "config.d" / "10-vars") << "set $mod Mod4\n";
    std::filesystem::create_directories(folder / "config.d" / "30-folder");
    ::setenv("QUENLIT_TEST_SWAY", folder.c_str(), 1);
    EXPECT_EQ(swayconfig::readIncludedFiles("\"${QUENLIT_TEST_SWAY}/config.d/*\""),
              (std::vector<std::string>{"set $mod Mod4\n", "bindsym Mod4+k exec k\n"}));
    EXPECT_TRUE(swayconfig::readIncludedFiles("$QUENLIT_TEST_SWAY/none/*").empty());
    ::unsetenv("QUENLIT_TEST_SWAY");
    std::filesystem::remove_all(folder);
}

TEST(SwayHotKeys, DescribesCombinationsAsTheDesktopNamesThem) {
    FakeSway sway([](std::uint32_t, const std::string&) -> std::string { return "(hang up)"; });
    auto ipc = SwayIpc::connect(sway.path());
    ASSERT_TRUE(ipc.has_value()) << ipc.error().reason;
    SwayHotKeys hotKeys(*ipc.value(), {}, "/usr/bin/quenlit");
    struct Case {
        std::uint32_t key;
        M modifiers;
        const char* described;
        const char* sway;
    };
    const Case cases[] = {
        {key::space, kSuper, "Super+Space", "Mod4+space"},
        {key::escape, {.shift = true, .super = true}, "Shift+Super+Escape", "Mod4+Shift+Escape"},
        {'k', {.control = true, .alt = true}, "Control+Alt+K", "Control+Mod1+k"},
        {'K', {.shift = true, .control = true}, "Control+Shift+K", "Control+Shift+k"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hotKeys.describe(c.key, c.modifiers), c.described);
        EXPECT_EQ(SwayHotKeys::swayCombination(c.key, c.modifiers), c.sway);
    }
}

TEST(SwayHotKeys, ExecQuotingKeepsThePathOneWordAndRefusesWhatSwayWouldRewrite) {
    EXPECT_EQ(SwayHotKeys::quoteForExec("/usr/bin/quenlit"), "'/usr/bin/quenlit'");
    EXPECT_EQ(SwayHotKeys::quoteForExec("/opt/it's here/[q]"), R"('/opt/it'\''s here/[q]')");
    EXPECT_EQ(SwayHotKeys::quoteForExec("/a;b"), std::nullopt);
    EXPECT_EQ(SwayHotKeys::quoteForExec("/a,b"), std::nullopt);
    EXPECT_EQ(SwayHotKeys::quoteForExec("/a\"b"), std::nullopt);
    EXPECT_EQ(SwayHotKeys::quoteForExec("/home/$mod/q"), std::nullopt);
    EXPECT_EQ(SwayHotKeys::quoteForExec("/a\\b"), std::nullopt);
    EXPECT_EQ(SwayHotKeys::quoteForExec("/a\nb"), std::nullopt);
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '"' || c == '\\')
            out += std::string("\\") + c;
        else
            out += c;
    }
    return out + "\"";
}

TEST(SwayHotKeys, BindsOnlyWhatTheUsersConfigurationLeavesFreeAndUnbindsIt) {
    std::vector<std::string> commands;
    FakeSway sway([&](std::uint32_t type, const std::string& payload) -> std::string {
        if (type == 9)
            return R"({"config":)" + jsonString("set $mod Mod4\nbindsym $mod+escape exec foot\n") + "}";
        if (type == 0) {
            commands.push_back(payload);
            return R"([{"success":true}])";
        }
        return "(hang up)";
    });
    auto ipc = SwayIpc::connect(sway.path());
    ASSERT_TRUE(ipc.has_value()) << ipc.error().reason;
    {
        SwayHotKeys hotKeys(*ipc.value(), {{1, "toggle launcher"}, {2, "toggle clipboard"}},
                            "/opt/it's here/quenlit");
        auto launcher = hotKeys.registerHotKey(1, key::space, kSuper);
        ASSERT_TRUE(launcher.has_value());

        const auto failureOf = [&](std::uint32_t id, std::uint32_t keysym, M modifiers) {
            auto result = hotKeys.registerHotKey(id, keysym, modifiers);
            return result ? std::string("registered") : result.error().reason;
        };
        EXPECT_EQ(failureOf(2, key::escape, kSuper), "bound in your sway configuration to \"exec foot\"");
        EXPECT_EQ(failureOf(2, key::space, kSuper), "already registered by this program");
        EXPECT_EQ(failureOf(3, 'k', kSuper), "no command to bind it to");

        hotKeys.unregisterHotKey(*launcher);
        hotKeys.unregisterHotKey(*launcher);  // already released
        ASSERT_TRUE(hotKeys.registerHotKey(2, key::escape, {.shift = true, .super = true}).has_value());
    }  // going away unbinds what is left
    EXPECT_EQ(
        commands,
        (std::vector<std::string>{
            R"(bindsym --no-repeat Mod4+space exec "'/opt/it'\''s here/quenlit' toggle launcher")",
            "unbindsym Mod4+space",
            R"(bindsym --no-repeat Mod4+Shift+Escape exec "'/opt/it'\''s here/quenlit' toggle clipboard")",
            "unbindsym Mod4+Shift+Escape",
        }));
}

TEST(SwayHotKeys, APathSwayWouldRewriteIsNotBound) {
    std::vector<std::string> commands;
    FakeSway sway([&](std::uint32_t type, const std::string& payload) -> std::string {
        if (type == 9) return R"({"config":""})";
        if (type != 0) return "(hang up)";  // no events: the binding would run the program
        commands.push_back(payload);
        return R"([{"success":true}])";
    });
    auto ipc = SwayIpc::connect(sway.path());
    ASSERT_TRUE(ipc.has_value()) << ipc.error().reason;
    SwayHotKeys hotKeys(*ipc.value(), {{1, "toggle launcher"}}, "/home/$mod/quenlit");
    auto result = hotKeys.registerHotKey(1, key::space, kSuper);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().reason, "this program's path cannot be handed to sway: /home/$mod/quenlit");
    EXPECT_TRUE(commands.empty());
}

TEST(SwayHotKeys, APressArrivesAsSwaysBindingEventWithoutStartingAProgram) {
    // sway's events are read from an event loop.
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "wayland_tests";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }
    std::mutex mutex;
    std::vector<std::string> commands;
    FakeSway sway([&](std::uint32_t type, const std::string& payload) -> std::string {
        if (type == 9) return R"({"config":""})";
        if (type == 2) return R"({"success":true})";
        if (type != 0) return "(hang up)";
        std::lock_guard lock(mutex);
        commands.push_back(payload);
        return R"([{"success":true}])";
    });
    auto ipc = SwayIpc::connect(sway.path());
    ASSERT_TRUE(ipc.has_value()) << ipc.error().reason;
    SwayHotKeys hotKeys(*ipc.value(), {}, "/usr/bin/quenlit");
    std::vector<std::uint32_t> presses;
    auto connection = hotKeys.pressed.connect([&](std::uint32_t id) { presses.push_back(id); });
    ASSERT_TRUE(hotKeys.registerHotKey(1, key::space, kSuper).has_value());
    ASSERT_TRUE(hotKeys.registerHotKey(2, key::escape, kSuper).has_value());
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(commands,
                  (std::vector<std::string>{"bindsym --no-repeat Mod4+space nop quenlit hotkey 1",
                                            "bindsym --no-repeat Mod4+Escape nop quenlit hotkey 2"}));
    }

    const auto ran = [](const std::string& command) {
        return R"({"change":"run","binding":{"command":")" + command +
               R"(","symbol":"space","input_type":"keyboard"}})";
    };
    constexpr std::uint32_t kBindingEvent = 0x80000005;
    ASSERT_TRUE(sway.push(kBindingEvent, ran("nop quenlit hotkey 2")));
    ASSERT_TRUE(sway.push(kBindingEvent, ran("exec foot")));  // one of the user's own
    ASSERT_TRUE(sway.push(kBindingEvent, ran("nop quenlit hotkey 1")));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (presses.size() < 2 && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(presses, (std::vector<std::uint32_t>{2, 1}));
}

}  // namespace
}  // namespace quenlit::sway
