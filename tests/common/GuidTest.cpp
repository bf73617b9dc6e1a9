#include "common/Guid.h"
#include "common/Exception.h"

#include <gtest/gtest.h>

TEST(Guid, FormatsInRegistryFormAndParsesBack) {
    GUID g = StringToGuid("{860bb310-5d01-11d0-bd3b-00a0c911ce86}");
    EXPECT_EQ(GuidToString(g), "{860BB310-5D01-11D0-BD3B-00A0C911CE86}");
    EXPECT_EQ(g.Data1, 0x860BB310u);
    EXPECT_EQ(g.Data4[7], 0x86);
    EXPECT_EQ(GuidToString(GUID_NULL), "{00000000-0000-0000-0000-000000000000}");
}

TEST(Guid, MalformedTextsRaiseWithTheText) {
    GUID g;
    for (const char* bad :
         {"", "{860BB310-5D01-11D0-BD3B-00A0C911CE8}", "860BB310-5D01-11D0-BD3B-00A0C911CE86",
          "{860BB310-5D01-11D0-BD3B-00A0C911CE8G}", "{860BB310+5D01-11D0-BD3B-00A0C911CE86}"})
        EXPECT_FALSE(TryStringToGuid(bad, g)) << bad;
    try {
        StringToGuid("xyz");
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "'xyz' is not a valid GUID value");
    }
}

TEST(Guid, OrdersByFieldsNotBytes) {
    GUID a{1, 0, 0, {}}, b{0x100, 0, 0, {}}, c{1, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
    EXPECT_TRUE(a < b);
    EXPECT_TRUE(a < c);
    EXPECT_FALSE(c < a);
    EXPECT_NE(a, c);
}
