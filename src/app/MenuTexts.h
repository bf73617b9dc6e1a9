#pragma once
// How the device menus word what the devices report, shared by the window's
// menus and the command line's device listing, so that a name read in one
// is found in the other.
#include <string>

// The leading words every format of the kind reports; the menus leave them out.
inline constexpr const char* kVideoFormatPrefix = "Major Type: Video - Sub Type: ";
inline constexpr const char* kAudioFormatPrefix =
    "Major Type: Audio - Sub Type: PCM Format: WaveFormatEx: PCM, ";

// Removes prefix where it first occurs, then lowers the case (the whole
// text when the prefix is absent).
std::string MenuFormatText(std::string text, const std::string& prefix);
