#pragma once
// Date-time value: days since 30 December 1899 00:00 local time; the fraction is
// the time of day (one millisecond is 1/86400000).
#include <cstdint>

using TDateTime = double;

constexpr double kMSecsPerDay = 86400000.0;
constexpr double kOneMillisecond = 1.0 / kMSecsPerDay;

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// Valid ranges: year 1..9999, month 1..12, day 1..DaysInMonth; hour 0..23,
// minute and second 0..59, millisecond 0..999.
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out);
// The throwing forms raise Exception for values outside those ranges.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int msec);

void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec);
// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime value);

// Local wall-clock time now, to the millisecond.
TDateTime Now();
