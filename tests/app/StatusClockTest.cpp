// The status clock text.
#include "app/StatusClock.h"

#include <gtest/gtest.h>

namespace {

constexpr int64_t kHour = 36'000'000'000; // 100 ns units

TEST(StatusClock, FormatsHoursMinutesSecondsMilliseconds) {
    EXPECT_EQ(CaptureClockText(37'234'567'890), "01h02m03s0456ms");
    EXPECT_EQ(
        CaptureClockText(23 * kHour + 59 * 600'000'000LL + 59 * 10'000'000LL + 999 * 10'000LL),
        "23h59m59s0999ms");
}

TEST(StatusClock, WholeDaysAreDropped) {
    EXPECT_EQ(CaptureClockText(24 * kHour), "00h00m00s0000ms");
    EXPECT_EQ(CaptureClockText(25 * kHour), "01h00m00s0000ms");
    EXPECT_EQ(CaptureClockText(1000 * 24 * kHour + 10'000), "00h00m00s0001ms");
}

TEST(StatusClock, BelowOneMillisecondAndNegativeShowZero) {
    EXPECT_EQ(CaptureClockText(0), "00h00m00s0000ms");
    EXPECT_EQ(CaptureClockText(9'999), "00h00m00s0000ms");
    EXPECT_EQ(CaptureClockText(-5 * kHour), "00h00m00s0000ms");
}

} // namespace
