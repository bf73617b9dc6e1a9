#include "app/StatusClock.h"

#include "common/DateTime.h"

#include <cmath>

std::string CaptureClockText(int64_t position) {
    const int64_t msecs = position / 10000; // truncates toward zero
    if (msecs <= 0) return "00h00m00s0000ms";
    // Day fraction, as the date-time value carries it; the rounding step
    // below absorbs the floating-point error of that detour.
    const double days = static_cast<double>(msecs) / kMSecsPerDay;
    int64_t msOfDay = std::llround((days - std::floor(days)) * kMSecsPerDay);
    if (msOfDay >= static_cast<int64_t>(kMSecsPerDay)) msOfDay = 0;
    const int hours = static_cast<int>(msOfDay / 3600000);
    const int minutes = static_cast<int>(msOfDay / 60000 % 60);
    const int seconds = static_cast<int>(msOfDay / 1000 % 60);
    const int millis = static_cast<int>(msOfDay % 1000);
    // "%.2dh%.2dm%.2ds%.4dms", written out by hand: this runs on every tick.
    char text[] = "00h00m00s0000ms";
    auto put = [&text](int at, int digits, int value) {
        for (int i = at + digits - 1; i >= at; --i, value /= 10)
            text[i] = char('0' + value % 10);
    };
    put(0, 2, hours);
    put(3, 2, minutes);
    put(6, 2, seconds);
    put(9, 4, millis);
    return text;
}
