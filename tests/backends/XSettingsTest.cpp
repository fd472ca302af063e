// The XSETTINGS reader: the binary property in both byte orders, damaged data, and the live
// manager found through its selection on the test's X server.

#include "backends/x11/XSettings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace quenlit::x11 {
namespace {

struct Colour {
    std::uint16_t r, g, b, a;
};
using Value = std::variant<std::int32_t, std::string, Colour>;

// Lays out settings as a manager writes them.
std::vector<std::uint8_t> encode(const std::vector<std::pair<std::string, Value>>& settings, bool bigEndian) {
    std::vector<std::uint8_t> out;
    auto number = [&](std::uint32_t v, int width) {
        for (int i = 0; i < width; ++i) {
            const int shift = 8 * (bigEndian ? width - 1 - i : i);
            out.push_back(static_cast<std::uint8_t>(v >> shift));
        }
    };
    auto padded = [&](const std::string& s) {
        out.insert(out.end(), s.begin(), s.end());
        while (out.size() % 4 != 0)
            out.push_back(0);
    };
    out.push_back(bigEndian ? 1 : 0);
    out.insert(out.end(), 3, 0);
    number(7, 4);  // serial
    number(static_cast<std::uint32_t>(settings.size()), 4);
    for (const auto& [name, value] : settings) {
        out.push_back(static_cast<std::uint8_t>(value.index()));
        out.push_back(0);
        number(static_cast<std::uint32_t>(name.size()), 2);
        padded(name);
        number(1, 4);  // last change
        if (const auto* i = std::get_if<std::int32_t>(&value)) number(static_cast<std::uint32_t>(*i), 4);
        if (const auto* s = std::get_if<std::string>(&value)) {
            number(static_cast<std::uint32_t>(s->size()), 4);
            padded(*s);
        }
        if (const auto* c = std::get_if<Colour>(&value)) {
            for (std::uint16_t part : {c->r, c->g, c->b, c->a})
                number(part, 2);
        }
    }
    return out;
}

const std::vector<std::pair<std::string, Value>> kSettings = {
    {"Net/DoubleClickTime", std::int32_t{400}},
    {"Gtk/ColorPalette", Colour{1, 2, 3, 4}},
    {"Net/ThemeName", std::string("Adwaita-dark")},
    {"Net/IconThemeName", std::string("Papirus")},
};

TEST(XSettingsString, ReadsStringSettingsInEitherByteOrderAndStopsAtDamage) {
    const auto little = encode(kSettings, false);
    const auto big = encode(kSettings, true);
    auto truncated = little;
    truncated.resize(little.size() - 6);  // the icon theme's value cut short
    auto unknownType =
        encode({{"Odd/Thing", std::int32_t{1}}, {"Net/IconThemeName", std::string("X")}}, false);
    unknownType[12] = 9;  // the first setting's type
    auto lyingLength = little;
    lyingLength[14] = 0xff;  // the first name's length points past the end
    struct Case {
        const char* what;
        std::vector<std::uint8_t> data;
        std::string name;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"little-endian", little, "Net/IconThemeName", "Papirus"},
        {"big-endian", big, "Net/IconThemeName", "Papirus"},
        {"another string", big, "Net/ThemeName", "Adwaita-dark"},
        {"an integer is no string", little, "Net/DoubleClickTime", std::nullopt},
        {"not there", little, "Net/CursorThemeName", std::nullopt},
        {"truncated", truncated, "Net/IconThemeName", std::nullopt},
        {"unknown type", unknownType, "Net/IconThemeName", std::nullopt},
        {"length past the end", lyingLength, "Net/IconThemeName", std::nullopt},
        {"bad byte order", std::vector<std::uint8_t>{7, 0, 0, 0}, "Net/IconThemeName", std::nullopt},
        {"empty", {}, "Net/IconThemeName", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(xsettingsString(c.data, c.name), c.expected) << c.what;
}

TEST(XSettingsManager, IsFoundThroughItsSelection) {
    auto connection = X11Connection::fromQt();
    ASSERT_TRUE(connection);
    EXPECT_EQ(readXSettingsString(*connection, "Net/IconThemeName"), std::nullopt);  // no manager yet

    // A manager of our own: a window owning the screen's selection and holding the settings.
    xcb_connection_t* c = connection->raw();
    const xcb_window_t manager = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, manager, connection->root(), 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_atom_t settings = connection->atom("_XSETTINGS_SETTINGS");
    const auto data = encode(kSettings, false);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, manager, settings, settings, 8,
                        static_cast<std::uint32_t>(data.size()), data.data());
    xcb_set_selection_owner(c, manager, connection->atom("_XSETTINGS_S0"), XCB_CURRENT_TIME);
    connection->sync();
    EXPECT_EQ(readXSettingsString(*connection, "Net/IconThemeName"), "Papirus");
    xcb_destroy_window(c, manager);
    connection->sync();
}

}  // namespace
}  // namespace quenlit::x11
