#pragma once
// The device listing of a run without the window: every device with its
// numbered formats and input lines, as the menus would show them. Watching,
// it then prints each device plugged in (with its formats) or taken away,
// until a signal or the end of the given seconds.
#include "app/CaptureController.h"

// capture's device lists are open; returns the exit status.
int ListDevices(TCaptureController& capture, bool watch, double seconds);
