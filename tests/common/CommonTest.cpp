#include "common/DateTime.h"
#include "common/Exception.h"
#include "common/Guid.h"
#include "common/Text.h"

#include <gtest/gtest.h>

#include <limits>

TEST(DateTime, EncodesAndDecodesKnownDays) {
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(1994, 11, 6), 34644.0);
    EXPECT_EQ(EncodeDate(2000, 3, 1) - EncodeDate(2000, 2, 28), 2.0); // leap century
    int y, m, d;
    DecodeDate(34644.75, y, m, d);
    EXPECT_EQ(y * 10000 + m * 100 + d, 19941106);
    EXPECT_EQ(DayOfWeek(EncodeDate(1994, 11, 6)), 1); // a Sunday
    EXPECT_EQ(DayOfWeek(0), 7);
}

TEST(DateTime, TimeRoundTripsToTheMillisecondAndRollsOverAtMidnight) {
    TDateTime t = EncodeTime(8, 49, 37, 123);
    int h, mi, s, ms;
    DecodeTime(10 + t, h, mi, s, ms);
    EXPECT_EQ(h * 10000000 + mi * 100000 + s * 1000 + ms, 84937123);
    // 23:59:59.9996 rounds to the next day, not to hour 24.
    int y, m, d;
    TDateTime late = EncodeDate(2020, 12, 31) + 0.99999999999;
    DecodeTime(late, h, mi, s, ms);
    DecodeDate(late, y, m, d);
    EXPECT_EQ(h + mi + s + ms, 0);
    EXPECT_EQ(y, 2021);
}

TEST(DateTime, ValuesWithoutADateDecodeAsDayZero) {
    int y, m, d, h, mi, s, ms;
    for (double v : {std::numeric_limits<double>::quiet_NaN(), 1e300, -1e300}) {
        DecodeDate(v, y, m, d);
        DecodeTime(v, h, mi, s, ms);
        EXPECT_EQ(y * 10000 + m * 100 + d, 18991230);
        EXPECT_EQ(DayOfWeek(v), 7);
    }
}

TEST(DateTime, RejectsInvalidParts) {
    TDateTime v;
    EXPECT_FALSE(TryEncodeDate(2023, 2, 29, v));
    EXPECT_TRUE(TryEncodeDate(2024, 2, 29, v));
    EXPECT_FALSE(TryEncodeDate(0, 1, 1, v));
    EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, v));
    EXPECT_FALSE(TryEncodeTime(0, 0, 60, 0, v));
    EXPECT_THROW(EncodeDate(2023, 13, 1), Exception);
}

TEST(DateTime, NowIsLocalAndMoves) {
    TDateTime a = Now();
    EXPECT_GT(a, EncodeDate(2020, 1, 1));
    EXPECT_LT(a, EncodeDate(2200, 1, 1));
}

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

TEST(Text, TrimAndCase) {
    EXPECT_EQ(Trim("\t a b \r\n"), "a b");
    EXPECT_EQ(TrimLeft("  x "), "x ");
    EXPECT_EQ(TrimRight("  x "), "  x");
    EXPECT_EQ(UpperCase("abc\xe9z"), "ABC\xe9Z");
    EXPECT_EQ(LowerCase("ABC"), "abc");
    EXPECT_TRUE(SameText("Keep-Alive", "keep-alive"));
    EXPECT_FALSE(SameText("a", "ab"));
    EXPECT_EQ(Pos("lo", "hello"), 4u);
    EXPECT_EQ(Pos("x", "hello"), 0u);
}

TEST(Text, IntegerParsingFallsBackOnAnythingButANumber) {
    EXPECT_EQ(StrToIntDef("8081", 1), 8081);
    EXPECT_EQ(StrToIntDef("-12", 1), -12);
    EXPECT_EQ(StrToIntDef("$1F", 1), 31);
    EXPECT_EQ(StrToIntDef("abc", 8000), 8000);
    EXPECT_EQ(StrToIntDef("", 7), 7);
    EXPECT_EQ(StrToIntDef(" 5", 7), 7);
    EXPECT_EQ(StrToIntDef("2147483648", 7), 7);
    EXPECT_EQ(StrToIntDef("-2147483648", 7), INT32_MIN);
    EXPECT_EQ(StrToInt64Def("4294967295", 0), 4294967295LL);
    EXPECT_EQ(StrToInt64Def("99999999999999999999", -1), -1);
}

TEST(Text, FormatGrowsPastItsSmallBuffer) {
    EXPECT_EQ(Format("%s #%d", "Socket Error", 10054), "Socket Error #10054");
    std::string big(1000, 'x');
    EXPECT_EQ(Format("<%s>", big.c_str()).size(), 1002u);
    EXPECT_EQ(Format(" ($%x).", 0x80004005u), " ($80004005).");
}
