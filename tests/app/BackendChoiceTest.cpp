#include "app/BackendChoice.h"
#include "app/Cli.h"

#include <gtest/gtest.h>

namespace quenlit::app {
namespace {

TEST(BackendChoice, TheSessionDecidesUnlessTheUserAsks) {
    const Session x11Only{.x11Display = true};
    const Session sway{.x11Display = true,
                       .waylandDisplay = true,
                       .dataControl = true,
                       .virtualKeyboard = true,
                       .swaySocket = true};
    Session swayWithoutXWayland = sway;
    swayWithoutXWayland.x11Display = false;
    Session otherWlroots = swayWithoutXWayland;
    otherWlroots.swaySocket = false;
    Session otherWlrootsWithXWayland = otherWlroots;
    otherWlrootsWithXWayland.x11Display = true;
    const Session gnome{.x11Display = true, .waylandDisplay = true};
    const Session gnomeWithoutXWayland{.waylandDisplay = true};
    const Session nothing{};
    const Session kde{.x11Display = true, .waylandDisplay = true, .dataControl = true, .desktop = "KDE"};
    const Session ubuntu{.x11Display = true, .waylandDisplay = true, .desktop = "ubuntu:GNOME"};
    Session ubuntuWithExtension = ubuntu;
    ubuntuWithExtension.gnomeExtension = true;

    struct Case {
        const char* name;
        std::optional<Backend> requested;
        Session session;
        std::optional<Backend> expected;
        std::string messageStart;  // empty: no message
        BuiltBackends built = {};
    };
    const Case cases[] = {
        {"plain X11", std::nullopt, x11Only, Backend::x11, ""},
        {"sway", std::nullopt, sway, Backend::sway, ""},
        {"sway without XWayland", std::nullopt, swayWithoutXWayland, Backend::sway, ""},
        {"sway, X11 asked for", Backend::x11, sway, Backend::x11,
         "wayland: running through XWayland as asked"},
        {"sway without XWayland, X11 asked for", Backend::x11, swayWithoutXWayland, std::nullopt,
         "quenlit: the X11 backend needs an X11 display, and there is no XWayland"},
        {"another wlroots compositor", std::nullopt, otherWlrootsWithXWayland, Backend::x11,
         "wayland: the compositor is not sway (SWAYSOCK is not set) — running through XWayland"},
        {"another wlroots compositor, without XWayland", std::nullopt, otherWlroots, std::nullopt,
         "quenlit: the compositor is not sway (SWAYSOCK is not set), and there is no XWayland"},
        {"Wayland asked for, not sway", Backend::sway, otherWlroots, std::nullopt,
         "quenlit: the sway backend needs sway"},
        {"a compositor without the protocols", std::nullopt, gnome, Backend::x11,
         "wayland: the compositor does not offer wlr-data-control and virtual-keyboard — running through "
         "XWayland"},
        {"Wayland asked for, protocols missing", Backend::sway, gnome, std::nullopt,
         "quenlit: the sway backend needs a compositor with the wlr-data-control and virtual-keyboard "
         "protocols"},
        {"neither the protocols nor XWayland", std::nullopt, gnomeWithoutXWayland, std::nullopt,
         "quenlit: the compositor does not offer wlr-data-control and virtual-keyboard, and there is no "
         "XWayland"},
        {"Wayland asked for on X11", Backend::sway, x11Only, std::nullopt,
         "quenlit: the sway backend needs a Wayland session"},
        {"no display at all", std::nullopt, nothing, std::nullopt,
         "quenlit: the desktop program needs an X11 display"},
        // KWin offers data-control and no virtual-keyboard; mutter neither. Their own backends are
        // chosen by the desktop's name once this build has them.
        {"KDE Plasma, a build without its backend",
         std::nullopt,
         kde,
         Backend::x11,
         "wayland: this build has no backend of its own for KDE Plasma — running through XWayland",
         {.kde = false}},
        {"KDE Plasma", std::nullopt, kde, Backend::kde, ""},
        {"KDE Plasma, X11 asked for", Backend::x11, kde, Backend::x11,
         "wayland: running through XWayland as asked"},
        {"GNOME listed second, a build without its backend",
         std::nullopt,
         ubuntuWithExtension,
         Backend::x11,
         "wayland: this build has no backend of its own for GNOME — running through XWayland",
         {.gnome = false}},
        {"GNOME", std::nullopt, ubuntuWithExtension, Backend::gnome, ""},
        // Without the extension: what to do about it, once, and XWayland meanwhile.
        {"GNOME without Quenlit's extension", std::nullopt, ubuntu, Backend::x11,
         "wayland: GNOME Shell runs without Quenlit's extension (install and enable it with `quenlit "
         "--install-gnome-extension`, then log out and in) — running through XWayland"},
        {"gnome asked for without the extension", Backend::gnome, ubuntu, std::nullopt,
         "quenlit: the gnome backend needs Quenlit's extension: GNOME Shell runs without Quenlit's "
         "extension"},
        {"kde asked for, a build without it",
         Backend::kde,
         sway,
         std::nullopt,
         "quenlit: this build has no kde backend",
         {.kde = false}},
        {"kde asked for on X11",
         Backend::kde,
         x11Only,
         std::nullopt,
         "quenlit: the kde backend needs a Wayland session",
         {.kde = true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const BackendChoice choice = chooseBackend(c.requested, c.session, c.built);
        EXPECT_EQ(choice.backend, c.expected);
        if (c.messageStart.empty())
            EXPECT_EQ(choice.message, "");
        else
            EXPECT_EQ(choice.message.substr(0, c.messageStart.size()), c.messageStart) << choice.message;
    }
}

TEST(BackendChoice, OneInstancePerSessionNamedByItsWaylandDisplayFirst) {
    const std::filesystem::path runtime = "/run/user/1000";
    EXPECT_EQ(sessionName("wayland-1", ":0", runtime), "wayland-1");
    // The compositor's own programs see the name; a terminal may have been given the path.
    EXPECT_EQ(sessionName("/run/user/1000/wayland-1", ":0", runtime), "wayland-1");
    EXPECT_EQ(sessionName("/tmp/other/wayland-1", ":0", runtime), "/tmp/other/wayland-1");
    EXPECT_EQ(sessionName("/run/user/1000/wayland-1", nullptr, std::nullopt), "/run/user/1000/wayland-1");
    EXPECT_EQ(sessionName("", ":1", runtime), ":1");
    EXPECT_EQ(sessionName(nullptr, ":1", runtime), ":1");
    EXPECT_EQ(sessionName(nullptr, nullptr, runtime), "");
}

// One X server, one instance: the screen and the local server's other spellings do not count.
TEST(BackendChoice, AnXServerIsNamedOneWay) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {":5", ":5"},
        {":5.0", ":5"},
        {":5.1", ":5"},
        {"unix:5", ":5"},
        {"unix:5.1", ":5"},
        {"unix/:5", ":5"},
        {"unix/anything:5.0", ":5"},
        {":05", ":5"},
        // Over the network, the local host included, it may be another server (ssh's forwarding).
        {"localhost:5", "localhost:5"},
        {"localhost:5.0", "localhost:5"},
        {"tcp/localhost:5", "localhost:5"},
        {"otherhost:5.2", "otherhost:5"},
        {"inet6/::1:5", "inet6/::1:5"},
        {"decnet::5", "decnet::5"},
        // Not a display name: kept as it is.
        {"garbage", "garbage"},
        {":", ":"},
        {":x", ":x"},
    };
    for (const auto& [display, server] : cases)
        EXPECT_EQ(x11ServerName(display), server) << display;
    EXPECT_EQ(sessionName(nullptr, ":5.0", std::nullopt), sessionName(nullptr, ":5", std::nullopt));
    EXPECT_EQ(sessionName(nullptr, "unix:5.1", std::nullopt), ":5");
}

TEST(BackendChoice, OnlyTheBackendOptionAloneRunsTheDesktopProgram) {
    using Args = std::vector<std::string>;
    ASSERT_TRUE(desktopRequest({}).has_value());
    EXPECT_EQ(desktopRequest({})->backend, std::nullopt);
    EXPECT_EQ(desktopRequest(Args{"--backend", "wayland"})->backend, Backend::sway);
    EXPECT_EQ(desktopRequest(Args{"--backend", "x11"})->backend, Backend::x11);
    EXPECT_FALSE(desktopRequest(Args{"--backend", "mir"}).has_value());
    EXPECT_FALSE(desktopRequest(Args{"--backend", "x11", "calc", "1"}).has_value());
    EXPECT_FALSE(desktopRequest(Args{"calc", "1"}).has_value());
}

}  // namespace
}  // namespace quenlit::app
