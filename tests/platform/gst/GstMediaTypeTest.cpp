// Media type records from caps and back, and the expansion of device caps
// (lists, ranges) into formats a user can pick. The one platform test that
// speaks caps directly: real devices describe themselves only that way.
#include "platform/gst/GstMediaType.h"

#include "media/DescribeMediaType.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TGstCapsRef Caps(const char* text) {
    EnsureGstInitialised();
    return TGstCapsRef(gst_caps_from_string(text));
}

std::vector<std::string> Describe(const char* caps) {
    std::vector<std::string> out;
    for (auto& c : ExpandCaps(Caps(caps).get())) {
        AM_MEDIA_TYPE mt{};
        EXPECT_TRUE(MediaTypeFromCaps(c.get(), mt));
        out.push_back(DescribeMediaType(mt));
        FreeMediaType(mt);
    }
    return out;
}

} // namespace

TEST(GstMediaType, VideoRecordRoundTrips) {
    auto caps = Caps("video/x-raw,format=YUY2,width=320,height=240,framerate=30/1");
    AM_MEDIA_TYPE mt{};
    ASSERT_TRUE(MediaTypeFromCaps(caps.get(), mt));
    EXPECT_EQ(MEDIATYPE_Video, mt.majortype);
    EXPECT_EQ(FORMAT_VideoInfo, mt.formattype);
    ASSERT_GE(mt.cbFormat, sizeof(VIDEOINFOHEADER));
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat);
    EXPECT_EQ(333333, vih->AvgTimePerFrame);
    EXPECT_EQ(320u * 240 * 2, vih->bmiHeader.biSizeImage);
    EXPECT_EQ(mt.lSampleSize, vih->bmiHeader.biSizeImage);
    EXPECT_EQ("Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 320X240, 16 bits",
              DescribeMediaType(mt));
    auto back = CapsFromMediaType(mt);
    ASSERT_TRUE(back);
    EXPECT_TRUE(gst_caps_is_equal(caps.get(), back.get()));

    // A bottom-up bitmap height and an NTSC frame time read back sensibly.
    vih->bmiHeader.biHeight = -240;
    vih->AvgTimePerFrame = 333667;
    back = CapsFromMediaType(mt);
    EXPECT_TRUE(gst_caps_is_equal(
        Caps("video/x-raw,format=YUY2,width=320,height=240,framerate=30000/1001").get(),
        back.get()));
    FreeMediaType(mt);
}

TEST(GstMediaType, AudioRecordsForPcmAndFloat) {
    AM_MEDIA_TYPE mt{};
    ASSERT_TRUE(MediaTypeFromCaps(
        Caps("audio/x-raw,format=S16LE,layout=interleaved,rate=44100,channels=2").get(), mt));
    WAVEFORMATEX wfx;
    std::memcpy(&wfx, mt.pbFormat, sizeof wfx);
    EXPECT_EQ(4, wfx.nBlockAlign);
    EXPECT_EQ(176400u, wfx.nAvgBytesPerSec);
    EXPECT_EQ("Major Type: Audio - Sub Type: PCM Format: WaveFormatEx: PCM, 44100 Hertz, 16 Bits, "
              "2 Channels",
              DescribeMediaType(mt));
    FreeMediaType(mt);

    auto f32 = Caps("audio/x-raw,format=F32LE,layout=interleaved,rate=22050,channels=1");
    ASSERT_TRUE(MediaTypeFromCaps(f32.get(), mt));
    EXPECT_EQ(MEDIASUBTYPE_IEEE_FLOAT, mt.subtype);
    EXPECT_TRUE(gst_caps_is_equal(f32.get(), CapsFromMediaType(mt).get()));
    FreeMediaType(mt);

    EXPECT_FALSE(
        MediaTypeFromCaps(Caps("audio/x-raw,format=S24BE,rate=8000,channels=1").get(), mt));
    EXPECT_FALSE(MediaTypeFromCaps(Caps("video/x-raw,format=NV12,width=64,height=64").get(), mt));
}

TEST(GstMediaType, DamagedRecordsGiveNoCaps) {
    AM_MEDIA_TYPE mt{};
    ASSERT_TRUE(MediaTypeFromCaps(
        Caps("video/x-raw,format=I420,width=64,height=48,framerate=15/1").get(), mt));
    const ULONG size = mt.cbFormat;
    mt.cbFormat = 60; // shorter than the bitmap header it should hold
    EXPECT_FALSE(CapsFromMediaType(mt));
    mt.cbFormat = size;
    mt.subtype = GUID_NULL;
    EXPECT_FALSE(CapsFromMediaType(mt));
    mt.subtype = MEDIASUBTYPE_IYUV;
    reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biWidth = 0;
    EXPECT_FALSE(CapsFromMediaType(mt));
    FreeMediaType(mt);

    ASSERT_TRUE(MediaTypeFromCaps(
        Caps("audio/x-raw,format=U8,layout=interleaved,rate=8000,channels=1").get(), mt));
    reinterpret_cast<WAVEFORMATEX*>(mt.pbFormat)->nChannels = 0;
    EXPECT_FALSE(CapsFromMediaType(mt));
    FreeMediaType(mt);
}

TEST(GstMediaType, RangesAndListsExpandIntoPickableFormats) {
    // A camera with ranges: the standard sizes inside them, one rate each.
    auto video = Describe(
        "video/x-raw,format={YUY2,NV12},width=[100,400],height=[100,300],framerate=[1/1,60/1];"
        "image/jpeg,width=640,height=480,framerate={15/1,30/1}");
    EXPECT_EQ((std::vector<std::string>{
                  "Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 160X120, 16 bits",
                  "Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 176X144, 16 bits",
                  "Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 320X240, 16 bits",
                  "Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 352X288, 16 bits",
                  "Major Type: Video - Sub Type: MJPG Format: VideoInfo MJPG 640X480, 24 bits"}),
              video);
    auto fps = ExpandCaps(Caps("image/jpeg,width=640,height=480,framerate={15/1,30/1}").get());
    ASSERT_EQ(1u, fps.size());
    int num = 0, den = 0;
    gst_structure_get_fraction(gst_caps_get_structure(fps[0].get(), 0), "framerate", &num, &den);
    EXPECT_EQ(30, num / den);

    // A sound card with a wide rate range and many channels.
    auto audio = Describe(
        "audio/x-raw,format={S16LE,S32LE},layout=interleaved,rate=[8000,48000],channels=[1,8]");
    EXPECT_EQ(8u, audio.size());
    EXPECT_EQ("Major Type: Audio - Sub Type: PCM Format: WaveFormatEx: PCM, 11025 Hertz, 16 Bits, "
              "1 Channels",
              audio.front());
    EXPECT_EQ("Major Type: Audio - Sub Type: PCM Format: WaveFormatEx: PCM, 48000 Hertz, 16 Bits, "
              "2 Channels",
              audio.back());

    EXPECT_TRUE(ExpandCaps(Caps("ANY").get()).empty());
    EXPECT_TRUE(ExpandCaps(Caps("video/x-bayer,format=rggb,width=64,height=64").get()).empty());
    EXPECT_TRUE(ExpandCaps(nullptr).empty());
}
