#include "common/DateTime.h"
#include "common/Exception.h"

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
