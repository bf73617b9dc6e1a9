#include "app/StatusClock.h"

#include "common/DateTime.h"
#include "common/Text.h"

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
    return Format("%.2dh%.2dm%.2ds%.4dms", hours, minutes, seconds, millis);
}
