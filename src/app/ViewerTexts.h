#pragma once
// How the program words its audience, in the window and on a terminal alike.
#include "platform/StreamViewerInterfaces.h"

#include <cstdint>
#include <string>

// "viewers 2/3": viewers now against the stream's limit.
std::string ViewersPanelText(size_t viewers, int maximum);
// "player", "plain HTTP", "browser".
std::string ViewerKindText(TStreamViewerKind kind);
// A byte count in the largest unit that keeps it at least 1: "512 B", "1.5 kB", "12.0 MB".
std::string ByteCountText(uint64_t bytes);
// The local time of day a viewer came, "hh:mm:ss".
std::string ViewerSinceText(std::chrono::system_clock::time_point since);
