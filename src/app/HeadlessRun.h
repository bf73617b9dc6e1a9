#pragma once
// A run without the window: the device listing, a broadcast or a recording
// as the command line asks, with the window's components and messages. On a
// terminal one status line shows the capture clock, the viewers, the bytes
// sent and the addresses to open; otherwise every event is logged on a line
// of its own. Ctrl+C, SIGTERM and SIGHUP stop it in order, as does the end
// of --seconds.
#include "app/CommandLine.h"

#include <cstdint>

// Needs a QCoreApplication (no display); returns the exit status.
int RunCommandLine(const TCommandLine& line);

// The next step of the --seconds timer for the time left (a day at most:
// a timer cannot hold 3,000,000 seconds in milliseconds).
inline constexpr int kLongestStopTimerStepMs = 86'400'000;
int StopTimerStepMs(int64_t remainingMs);
