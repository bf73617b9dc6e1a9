#pragma once
// The status clock: a graph position as hours, minutes, seconds and
// milliseconds of the day.
#include <cstdint>
#include <string>

// position in 100-nanosecond units -> "01h02m03s0456ms"; whole days are
// dropped, a negative position shows as zero.
std::string CaptureClockText(int64_t position);
