#include "common/DateTime.h"

#include "common/Exception.h"
#include "common/Text.h"

#include <cmath>
#include <ctime>

namespace {
// Days from 1970-01-01 to the civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = int(int64_t(yoe) + era * 400 + (m <= 2));
}

constexpr int64_t kEpochOffset = 25569; // 1970-01-01 as a day number

// Whole days and milliseconds of the day; the time of a negative value is its
// absolute fraction, as the day-number convention has it.
void Split(TDateTime value, int64_t& days, int64_t& ms) {
    // Beyond year 9999 either way (or not a number) there is no date to give;
    // such values decode as day 0 instead of overflowing the conversion.
    if (!std::isfinite(value) || std::fabs(value) > 3000000.0) value = 0;
    double whole = std::trunc(value);
    days = int64_t(whole);
    ms = std::llround(std::fabs(value - whole) * kMSecsPerDay);
    if (ms >= int64_t(kMSecsPerDay)) {
        ms -= int64_t(kMSecsPerDay);
        days += value < 0 ? -1 : 1;
    }
}
} // namespace

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month))
        return false;
    out = double(DaysFromCivil(year, unsigned(month), unsigned(day)) + kEpochOffset);
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
        msec < 0 || msec > 999)
        return false;
    out = (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec) / kMSecsPerDay;
    return true;
}

TDateTime EncodeDate(int year, int month, int day) {
    TDateTime r;
    if (!TryEncodeDate(year, month, day, r))
        throw Exception(Format("Invalid argument to date encode: %d-%d-%d", year, month, day));
    return r;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
    TDateTime r;
    if (!TryEncodeTime(hour, minute, second, msec, r))
        throw Exception(
            Format("Invalid argument to time encode: %d:%d:%d.%d", hour, minute, second, msec));
    return r;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
    int64_t days, ms;
    Split(value, days, ms);
    CivilFromDays(days - kEpochOffset, year, month, day);
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec) {
    int64_t days, ms;
    Split(value, days, ms);
    hour = int(ms / 3600000);
    minute = int(ms / 60000 % 60);
    second = int(ms / 1000 % 60);
    msec = int(ms % 1000);
}

int DayOfWeek(TDateTime value) {
    int64_t days, ms;
    Split(value, days, ms);
    // Day 0 (30 December 1899) was a Saturday.
    int64_t w = (days + 6) % 7;
    if (w < 0) w += 7;
    return int(w) + 1;
}

TDateTime Now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    return EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
           EncodeTime(local.tm_hour, local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec,
                      int(ts.tv_nsec / 1000000));
}
