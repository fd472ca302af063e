#include "base/Uuid.h"

#include <gtest/gtest.h>

namespace quenlit {
namespace {

TEST(Uuid, NameBasedIdentifiersAreFixed) {
    EXPECT_EQ(nameBasedUUID("").toString(), "6C25197B-521E-530A-9CD4-2F81B603E755");
    EXPECT_EQ(nameBasedUUID("abc").toString(), "4425BEB7-3175-5265-A536-FF386112D226");
    EXPECT_EQ(nameBasedUUID("quenlit.app:/usr/share/applications/org.gnome.Nautilus.desktop#work").toString(),
              "5C3524FB-7450-50AA-899F-248F2A075879");
    EXPECT_EQ(nameBasedUUID("\u00E9\u00FF\x7F").toString(), "5CE52E34-F2F5-56CC-AA55-AFE827E719C1");
    EXPECT_NE(nameBasedUUID("\u00E9"), nameBasedUUID("e"));
    EXPECT_EQ(nameBasedUUID("quenlit.app:/x"), nameBasedUUID("quenlit.app:/x"));
}

TEST(Uuid, VersionAndVariantBitsAreAlwaysSet) {
    for (const char* key : {"", "a", "quenlit.calc:1+1=2", "quenlit.zoxide:/home/me", "\xFF\xFE"}) {
        Uuid u = nameBasedUUID(key);
        EXPECT_EQ(u.bytes[6] >> 4, 5) << key;
        EXPECT_EQ(u.bytes[8] >> 6, 2) << key;
    }
}

TEST(Uuid, TextFormRoundTripsAndRejectsMalformedText) {
    auto u = Uuid::parse("a1b2c3d4-e5f6-7890-abcd-ef1234567890");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->toString(), "A1B2C3D4-E5F6-7890-ABCD-EF1234567890");
    for (const char* bad : {"", "A1B2C3D4E5F6-7890-ABCD-EF1234567890", "A1B2C3D4-E5F6-7890-ABCD-EF123456789G",
                            "A1B2C3D4-E5F6-7890-ABCD-EF12345678900", "A1B2C3D-4E5F6-7890-ABCD-EF1234567890",
                            "{A1B2C3D4-E5F6-7890-ABCD-EF1234567890}"}) {
        EXPECT_FALSE(Uuid::parse(bad)) << bad;
    }
}

}  // namespace
}  // namespace quenlit
