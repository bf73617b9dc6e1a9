#include "media/DescribeMediaType.h"
#include "FakeMediaTypes.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::string Describe(const GUID& major, const GUID& sub, const GUID& format,
                     std::vector<uint8_t> block) {
    return DescribeMediaType(RecordOver(major, sub, format, block));
}

TEST(DescribeMediaType, TheThreeExampleTexts) {
    EXPECT_EQ(
        DescribeMediaType(VideoType(MEDIASUBTYPE_YUY2, MakeFourCC('Y', 'U', 'Y', '2'), 320, 240, 16)
                              .MediaTypeRecord()),
        "Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 320X240, 16 bits");
    EXPECT_EQ(
        DescribeMediaType(VideoType(MEDIASUBTYPE_RGB24, BI_RGB, 320, 240, 24).MediaTypeRecord()),
        "Major Type: Video - Sub Type: RGB24 Format: VideoInfo RGB 320X240, 24 bits");
    const std::string pcm = DescribeMediaType(AudioType(44100, 16, 2).MediaTypeRecord());
    EXPECT_EQ(pcm, "Major Type: Audio - Sub Type: PCM Format: WaveFormatEx: PCM, 44100 Hertz, 16 "
                   "Bits, 2 Channels");
    // The prefixes the main window cuts off.
    EXPECT_EQ(pcm.find("Major Type: Audio - Sub Type: PCM Format: WaveFormatEx: PCM, "), 0u);
    EXPECT_EQ(std::string("Major Type: Audio - Sub Type: PCM Format: WaveFormatEx: PCM, ").size(),
              61u);
}

TEST(DescribeMediaType, AFrameTimeAddsTheRateAUserReads) {
    for (auto [frameTime, text] : std::vector<std::pair<int64_t, std::string>>{
             {333333, ", 30 fps"}, {1333333, ", 7.5 fps"}, {333667, ", 29.97 fps"}, {0, ""}}) {
        auto block =
            BitmapBlock(kVideoInfoBitmapOffset, MakeFourCC('Y', 'U', 'Y', '2'), 1280, 720, 16);
        std::memcpy(block.data() + 40, &frameTime, sizeof frameTime);
        EXPECT_EQ("Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 1280X720, 16 bits" +
                      text,
                  Describe(MEDIATYPE_Video, MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, block));
    }
}

TEST(DescribeMediaType, UnknownTypesKeepTheirTrailingBlank) {
    const GUID odd{0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    EXPECT_EQ(Describe(odd, odd, odd, {}),
              "Major Type: UnKnown  - Sub Type: UnKnown  Format: Unknown");
}

TEST(DescribeMediaType, VideoInfoWithoutBlockEndsAfterItsBlank) {
    EXPECT_EQ(Describe(MEDIATYPE_Video, MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, {}),
              "Major Type: Video - Sub Type: YUY2 Format: VideoInfo ");
    // A size with no block behaves the same.
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = MEDIASUBTYPE_YUY2;
    mt.formattype = FORMAT_VideoInfo;
    mt.cbFormat = 88;
    EXPECT_EQ(DescribeMediaType(mt), "Major Type: Video - Sub Type: YUY2 Format: VideoInfo ");
}

TEST(DescribeMediaType, CompressionNames) {
    EXPECT_EQ(
        DescribeMediaType(VideoType(MEDIASUBTYPE_MJPG, MakeFourCC('M', 'J', 'P', 'G'), 640, 480, 24)
                              .MediaTypeRecord()),
        "Major Type: Video - Sub Type: MJPG Format: VideoInfo MJPG 640X480, 24 bits");
    EXPECT_EQ(CompressionName(BI_BITFIELDS), "BITFIELDS");
    EXPECT_EQ(CompressionName(BI_RLE8), "RLE8");
    EXPECT_EQ(CompressionName(BI_RLE4), "RLE4");
    EXPECT_EQ(CompressionName(MakeFourCC('A', 'B', 0, 'C')), "AB"); // stops at the first zero byte
}

TEST(DescribeMediaType, BitmapHeaderPlacesAndSignedSizes) {
    auto v2 = BitmapBlock(kVideoInfo2BitmapOffset, BI_BITFIELDS, 176, -144, 16);
    EXPECT_EQ(
        Describe(MEDIATYPE_Video, MEDIASUBTYPE_RGB565, FORMAT_VideoInfo2, v2),
        "Major Type: Video - Sub Type: RGB565 Format: VideoInfo2 BITFIELDS 176X-144, 16 bits");
    auto m1 = BitmapBlock(kVideoInfoBitmapOffset, MakeFourCC('I', 'Y', 'U', 'V'), 352, 288, 12);
    EXPECT_EQ(Describe(MEDIATYPE_Video, MEDIASUBTYPE_IYUV, FORMAT_MPEGVideo, m1),
              "Major Type: Video - Sub Type: IYUV Format: MPEGVideo IYUV 352X288, 12 bits");
    auto m2 = BitmapBlock(kVideoInfo2BitmapOffset, MakeFourCC('Y', 'V', '1', '2'), 720, 576, 12);
    EXPECT_EQ(Describe(MEDIATYPE_Video, MEDIASUBTYPE_YV12, FORMAT_MPEG2Video, m2),
              "Major Type: Video - Sub Type: YV12 Format: MPEGStreams YV12 720X576, 12 bits");
}

TEST(DescribeMediaType, BlocksShorterThanTheirHeaderAreNotReadPastTheirEnd) {
    // One byte short of the bitmap header (ASan would catch a read past it).
    auto block = BitmapBlock(kVideoInfoBitmapOffset, BI_RGB, 320, 240, 24);
    block.pop_back();
    block.shrink_to_fit();
    EXPECT_EQ(Describe(MEDIATYPE_Video, MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, block),
              "Major Type: Video - Sub Type: RGB24 Format: VideoInfo ");
    // A VideoInfo2 type over a VideoInfo-sized block.
    auto v1 = BitmapBlock(kVideoInfoBitmapOffset, BI_RGB, 320, 240, 24);
    EXPECT_EQ(Describe(MEDIATYPE_Video, MEDIASUBTYPE_RGB24, FORMAT_VideoInfo2, v1),
              "Major Type: Video - Sub Type: RGB24 Format: VideoInfo2 ");
    std::vector<uint8_t> wave(15, 0);
    EXPECT_EQ(Describe(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, wave),
              "Major Type: Audio - Sub Type: PCM Format: WaveFormatEx: ");
    // The 16-byte PCM header (no cbSize) is enough.
    auto pcm = WaveBlock(WAVE_FORMAT_PCM, 8000, 8, 1);
    pcm.resize(16);
    pcm.shrink_to_fit();
    EXPECT_EQ(Describe(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, pcm),
              "Major Type: Audio - Sub Type: PCM Format: WaveFormatEx: PCM, 8000 Hertz, 8 Bits, 1 "
              "Channels");
}

TEST(DescribeMediaType, PlainFormatNames) {
    const std::pair<GUID, const char*> formats[] = {
        {FORMAT_DvInfo, "DvInfo"},
        {FORMAT_MPEGStreams, "MPEGStreams"},
        {FORMAT_DolbyAC3, "DolbyAC3"},
        {FORMAT_MPEG2Audio, "MPEG2Audio"},
        {FORMAT_DVD_LPCMAudio, "DVD_LPCMAudio"},
        {FORMAT_None, "Unknown"},
    };
    for (const auto& [guid, text] : formats) {
        auto block = WaveBlock(1, 1, 1, 1); // never read for these
        EXPECT_EQ(Describe(MEDIATYPE_Stream, MEDIASUBTYPE_Avi, guid, block),
                  std::string("Major Type: Stream - Sub Type: Avi Format: ") + text);
    }
}

TEST(DescribeMediaType, MajorTypeNames) {
    const std::pair<GUID, const char*> majors[] = {
        {MEDIATYPE_AnalogAudio, "AnalogAudio"},
        {MEDIATYPE_AnalogVideo, "Analogvideo"},
        {FourCCGuid(MakeFourCC('a', 'u', 'd', 's')), "Audio"},
        {GUID{0x670AEA80, 0x3A82, 0x11D0, {0xB7, 0x9B, 0x00, 0xAA, 0x00, 0x37, 0x67, 0xA7}},
         "AUXLine21Data"},
        {FourCCGuid(MakeFourCC('f', 'i', 'l', 'e')), "File"},
        {MEDIATYPE_Interleaved, "Interleaved"},
        {FourCCGuid(MakeFourCC('m', 'l', 'r', 't')), "LMRT"},
        {MEDIATYPE_Midi, "Midi"},
        {GUID{0xE06D8020, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}},
         "MPEG2_PES"},
        {FourCCGuid(MakeFourCC('d', 'm', 'c', 's')), "ScriptCommand"},
        {MEDIATYPE_Stream, "Stream"},
        {MEDIATYPE_Text, "Text"},
        {GUID{0x0482DEE3, 0x7817, 0x11CF, {0x8A, 0x03, 0x00, 0xAA, 0x00, 0x6E, 0xCB, 0x65}},
         "Timecode"},
        {FourCCGuid(MakeFourCC('u', 'r', 'l', 's')), "URL_STREAM"},
        {MEDIATYPE_Video, "Video"},
    };
    for (const auto& [guid, name] : majors)
        EXPECT_EQ(MajorTypeName(guid), name) << GuidToString(guid);
}

TEST(DescribeMediaType, SubTypeNamesOfEveryFamily) {
    const GUID e436{0xE436EB8D, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
    const GUID analog{0x0482DDF6, 0x7817, 0x11CF, {0x8A, 0x03, 0x00, 0xAA, 0x00, 0x6E, 0xCB, 0x65}};
    const GUID pal{0x0482DDEC, 0x7817, 0x11CF, {0x8A, 0x03, 0x00, 0xAA, 0x00, 0x6E, 0xCB, 0x65}};
    const GUID mpeg2{0xE06D8034, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
    const GUID line21{0x6E8D4A24, 0x310C, 0x11D0, {0xB7, 0x9A, 0x00, 0xAA, 0x00, 0x37, 0x67, 0xA7}};
    const GUID dss{0xA0AF4F82, 0xE163, 0x11D0, {0xBA, 0xD9, 0x00, 0x60, 0x97, 0x44, 0x11, 0x1A}};
    const GUID vp{0x5A9B6A41, 0x1A22, 0x11D1, {0xBA, 0xD9, 0x00, 0x60, 0x97, 0x44, 0x11, 0x1A}};
    const std::pair<GUID, const char*> subs[] = {
        {FourCCGuid(MakeFourCC('d', 'v', 's', 'l')), "dvsl"},
        {FourCCGuid(MakeFourCC('P', 'l', 'u', 'm')), "Plum"},
        {FourCCGuid(MakeFourCC('s', 'm', 'c', ' ')), "QTSmc"},
        {FourCCGuid(MakeFourCC('r', 'l', 'e', ' ')), "QTRle"},
        {FourCCGuid(MakeFourCC('d', 'v', 's', 'd')), "dvsd_"},
        {FourCCGuid(MakeFourCC('D', 'V', 'S', 'D')), "DVSD"},
        {FourCCGuid(MakeFourCC('M', 'P', '4', '2')), "MS-MPEG4"},
        {MEDIASUBTYPE_IEEE_FLOAT, "IEEE_FLOAT"},
        {FourCCGuid(0x241), "SPDIF_TAG_241h"},
        {FourCCGuid(0x50), "MPEG1AudioPayload"},
        {e436, "AIFF"},
        {MEDIASUBTYPE_RGB32, "RGB32"},
        {MEDIASUBTYPE_RGB555, "RGB555"},
        {MEDIASUBTYPE_RGB8, "RGB8"},
        {analog, "AnalogVideo_SECAM_L"},
        {pal, "AnalogVideo_PAL_N_COMBO"},
        {mpeg2, "SDDS"},
        {MEDIASUBTYPE_ARGB32, "ARGB32"},
        {MEDIASUBTYPE_Asf, "Asf"},
        {line21, "Line21_VBIRawData"},
        {dss, "DssAudio"},
        {vp, "VPVBI"},
        {FourCCGuid(MakeFourCC('I', '4', '2', '0')), "UnKnown "}, // only IYUV is named
    };
    for (const auto& [guid, name] : subs)
        EXPECT_EQ(SubTypeName(guid), name) << GuidToString(guid);
}

TEST(DescribeMediaType, WaveTagNames) {
    EXPECT_EQ(WaveFormatTagName(3), "IEEE_FLOAT");
    EXPECT_EQ(WaveFormatTagName(85), "MPEGLAYER3");
    EXPECT_EQ(WaveFormatTagName(117), "VOXWARE");
    EXPECT_EQ(WaveFormatTagName(5120), "NORRIS");
    EXPECT_EQ(WaveFormatTagName(4), "Unknown");
    auto block = WaveBlock(2, 22050, 4, 1);
    EXPECT_EQ(Describe(MEDIATYPE_Audio, FourCCGuid(2), FORMAT_WaveFormatEx, block),
              "Major Type: Audio - Sub Type: UnKnown  Format: WaveFormatEx: ADPCM, 22050 Hertz, 4 "
              "Bits, 1 Channels");
}

} // namespace
