#include "platform/AsfProfiles.h"

namespace {

// Sizes and rates follow the names: PDA screens, modem and broadband rates,
// NTSC and PAL frames. The WMA encoder refuses less than 24 kbit/s (mono) or
// 32 kbit/s (stereo at 22050 Hz and up), so the modem audio rows sit at its floor.
// Multiple-bitrate profiles are encoded at their highest rate.
// clang-format off
constexpr TAsfProfile kProfiles[] = {
    {WMProfile_V80_255VideoPDA, "wmp_V80_255VideoPDA", 208, 160, 15, 1, 223000, 44100, 2, 32000},
    {WMProfile_V80_150VideoPDA, "wmp_V80_150VideoPDA", 208, 160, 15, 1, 118000, 22050, 2, 32000},
    {WMProfile_V80_28856VideoMBR, "wmp_V80_28856VideoMBR", 176, 144, 15, 1, 32000, 22050, 1, 24000},
    {WMProfile_V80_100768VideoMBR, "wmp_V80_100768VideoMBR", 320, 240, 30, 1, 700000, 44100, 2, 64000},
    {WMProfile_V80_288100VideoMBR, "wmp_V80_288100VideoMBR", 240, 176, 15, 1, 68000, 22050, 1, 32000},
    {WMProfile_V80_288Video, "wmp_V80_288Video", 320, 240, 30, 1, 240000, 44100, 2, 48000},
    {WMProfile_V80_56Video, "wmp_V80_56Video", 176, 144, 15, 1, 32000, 22050, 1, 24000},
    {WMProfile_V80_100Video, "wmp_V80_100Video", 240, 176, 15, 1, 68000, 22050, 1, 32000},
    {WMProfile_V80_256Video, "wmp_V80_256Video", 320, 240, 30, 1, 208000, 44100, 2, 48000},
    {WMProfile_V80_384Video, "wmp_V80_384Video", 320, 240, 30, 1, 320000, 44100, 2, 64000},
    {WMProfile_V80_768Video, "wmp_V80_768Video", 640, 480, 30, 1, 700000, 44100, 2, 64000},
    {WMProfile_V80_700NTSCVideo, "wmp_V80_700NTSCVideo", 640, 480, 30000, 1001, 636000, 44100, 2, 64000},
    {WMProfile_V80_1400NTSCVideo, "wmp_V80_1400NTSCVideo", 640, 480, 30000, 1001, 1272000, 44100, 2, 128000},
    {WMProfile_V80_384PALVideo, "wmp_V80_384PALVideo", 384, 288, 25, 1, 320000, 44100, 2, 64000},
    {WMProfile_V80_700PALVideo, "wmp_V80_700PALVideo", 720, 576, 25, 1, 636000, 44100, 2, 64000},
    {WMProfile_V80_288MonoAudio, "wmp_V80_288MonoAudio", 0, 0, 0, 1, 0, 11025, 1, 24000},
    {WMProfile_V80_288StereoAudio, "wmp_V80_288StereoAudio", 0, 0, 0, 1, 0, 11025, 2, 24000},
    {WMProfile_V80_32StereoAudio, "wmp_V80_32StereoAudio", 0, 0, 0, 1, 0, 22050, 2, 32000},
    {WMProfile_V80_48StereoAudio, "wmp_V80_48StereoAudio", 0, 0, 0, 1, 0, 32000, 2, 48000},
    {WMProfile_V80_64StereoAudio, "wmp_V80_64StereoAudio", 0, 0, 0, 1, 0, 44100, 2, 64000},
    {WMProfile_V80_96StereoAudio, "wmp_V80_96StereoAudio", 0, 0, 0, 1, 0, 44100, 2, 96000},
    {WMProfile_V80_128StereoAudio, "wmp_V80_128StereoAudio", 0, 0, 0, 1, 0, 44100, 2, 128000},
    {WMProfile_V80_288VideoOnly, "wmp_V80_288VideoOnly", 160, 120, 15, 1, 22000, 0, 0, 0},
    {WMProfile_V80_56VideoOnly, "wmp_V80_56VideoOnly", 176, 144, 15, 1, 56000, 0, 0, 0},
    {WMProfile_V80_FAIRVBRVideo, "wmp_V80_FAIRVBRVideo", 320, 240, 30, 1, 300000, 44100, 2, 64000},
    {WMProfile_V80_HIGHVBRVideo, "wmp_V80_HIGHVBRVideo", 640, 480, 30, 1, 600000, 44100, 2, 96000},
    {WMProfile_V80_BESTVBRVideo, "wmp_V80_BESTVBRVideo", 640, 480, 30, 1, 1000000, 44100, 2, 128000},
};
// clang-format on
static_assert(std::size(kProfiles) == 27);

} // namespace

std::span<const TAsfProfile> AsfProfiles() {
    return kProfiles;
}

const TAsfProfile* FindAsfProfile(REFGUID guid) {
    for (const auto& p : kProfiles)
        if (p.Guid == guid) return &p;
    return nullptr;
}
