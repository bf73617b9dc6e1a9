#pragma once
// The Windows Media system profiles the ASF writer knows, in the order of the
// writer component's profile list. Each one fixes what the encoders produce:
// picture size, frame rate and bit rate of the video stream, and sample rate,
// channels and bit rate of the audio stream (a profile without audio or
// without video has no such stream).
#include "platform/AsfInterfaces.h"

#include <span>

struct TAsfProfile {
    GUID Guid;
    const char* Name;
    // Video stream; Width 0 = none.
    int Width, Height, FrameRateNum, FrameRateDen, VideoBitRate;
    // Audio stream; SampleRate 0 = none. The WMA encoder takes 32-bit float samples.
    int SampleRate, Channels, AudioBitRate;

    bool HasVideo() const { return Width > 0; }
    bool HasAudio() const { return SampleRate > 0; }
    int TotalBitRate() const {
        return (HasVideo() ? VideoBitRate : 0) + (HasAudio() ? AudioBitRate : 0);
    }
};

// All 27 profiles, in list order.
std::span<const TAsfProfile> AsfProfiles();
// The profile of a GUID; null when it is not one of ours.
const TAsfProfile* FindAsfProfile(REFGUID guid);
