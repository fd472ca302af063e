#include "ui/Style.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quenlit::ui::style {
namespace {

struct Pair {
    const char* name;
    QColor (*text)(const Colors&);
    QColor (*background)(const Colors&);
};

TEST(StyleColors, EveryTextReadsAtLeastFourAndAHalfToOneInBothSchemes) {
    const std::vector<Pair> pairs{
        {"primary text on the panel", [](const Colors& c) { return c.primaryText; },
         [](const Colors& c) { return c.windowBackground; }},
        {"secondary text on the panel", [](const Colors& c) { return c.secondaryText; },
         [](const Colors& c) { return c.windowBackground; }},
        {"tertiary text (the placeholder, empty states) on the panel",
         [](const Colors& c) { return c.tertiaryText; }, [](const Colors& c) { return c.windowBackground; }},
        {"quaternary text (the version) on the panel", [](const Colors& c) { return c.quaternaryText; },
         [](const Colors& c) { return c.windowBackground; }},
        {"white on the selection", [](const Colors&) { return QColor(Qt::white); },
         [](const Colors& c) { return c.accent; }},
        {"the delete actions' red on the menu", [](const Colors& c) { return c.destructive; },
         [](const Colors& c) { return c.windowBackground; }},
        {"primary text on the confirmation card", [](const Colors& c) { return c.primaryText; },
         [](const Colors& c) { return c.cardBackground; }},
        {"secondary text on the confirmation card", [](const Colors& c) { return c.secondaryText; },
         [](const Colors& c) { return c.cardBackground; }},
        {"a button's title on the button", [](const Colors& c) { return c.primaryText; },
         [](const Colors& c) { return c.buttonBackground; }},
    };
    for (Scheme scheme : {Scheme::light, Scheme::dark}) {
        const Colors& c = colorsOf(scheme);
        for (const Pair& pair : pairs) {
            SCOPED_TRACE(std::string(scheme == Scheme::dark ? "dark: " : "light: ") + pair.name);
            EXPECT_GE(contrastRatio(pair.text(c), pair.background(c)), 4.5);
        }
        // Qt's own widgets: what the search field draws its text and placeholder with.
        const QPalette palette = paletteOf(scheme);
        EXPECT_GE(contrastRatio(palette.color(QPalette::Text), palette.color(QPalette::Base)), 4.5);
        EXPECT_GE(contrastRatio(palette.color(QPalette::PlaceholderText), palette.color(QPalette::Base)),
                  4.5);
        EXPECT_EQ(palette.color(QPalette::Base), c.windowBackground) << "no other background in the field";
        // The separator and the border are seen, and stay quieter than any text.
        for (const QColor& line : {c.divider, c.panelBorder}) {
            EXPECT_GT(contrastRatio(line, c.windowBackground), 1.1);
            EXPECT_LT(contrastRatio(line, c.windowBackground),
                      contrastRatio(c.tertiaryText, c.windowBackground));
        }
    }
    EXPECT_GT(colorsOf(Scheme::light).windowBackground.lightness(), 200);
    EXPECT_LT(colorsOf(Scheme::dark).windowBackground.lightness(), 60);
}

TEST(StyleColors, ContrastRatioMatchesTheKnownFigures) {
    struct Case {
        QColor text;
        QColor background;
        double ratio;
    };
    const std::vector<Case> cases{
        {Qt::black, Qt::white, 21.0},
        {Qt::white, Qt::white, 1.0},
        {QColor(0x76, 0x76, 0x76), Qt::white, 4.54},
        {QColor(0, 0, 0, 0), Qt::white, 1.0},     // transparent text is the background
        {QColor(0, 0, 0, 128), Qt::white, 4.00},  // half-black on white reads as mid grey
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.name(QColor::HexArgb).toStdString());
        EXPECT_NEAR(contrastRatio(c.text, c.background), c.ratio, 0.02);
        if (c.text.alpha() == 255) {
            EXPECT_NEAR(contrastRatio(c.background, c.text), c.ratio, 0.02) << "symmetric";
        }
    }
}

}  // namespace
}  // namespace quenlit::ui::style
