// Media type records from caps and back, and the expansion of device caps
// (lists, ranges) into formats a user can pick. The one platform test that
// speaks caps directly: real devices describe themselves only that way.
#include "platform/gst/GstMediaType.h"

#include "media/DescribeMediaType.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

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
    EXPECT_EQ("Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 320X240, 16 bits, 30 fps",
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
    // 24- and 32-bit microphones are PCM of that depth.
    auto s24 = Caps("audio/x-raw,format=S24LE,layout=interleaved,rate=48000,channels=2");
    ASSERT_TRUE(MediaTypeFromCaps(s24.get(), mt));
    EXPECT_EQ("Major Type: Audio - Sub Type: PCM Format: WaveFormatEx: PCM, 48000 Hertz, 24 Bits, "
              "2 Channels",
              DescribeMediaType(mt));
    EXPECT_TRUE(gst_caps_is_equal(s24.get(), CapsFromMediaType(mt).get()));
    FreeMediaType(mt);
}

TEST(GstMediaType, OtherPicturesAreListedByTheirCodeAndReadBack) {
    AM_MEDIA_TYPE mt{};
    for (const char* text : {"video/x-raw,format=NV12,width=640,height=480,framerate=30/1",
                             "video/x-raw,format=GRAY8,width=640,height=480,framerate=30/1",
                             "video/x-h264,stream-format=byte-stream,alignment=au,width=1280,"
                             "height=720,framerate=30/1"}) {
        auto caps = Caps(text);
        ASSERT_TRUE(MediaTypeFromCaps(caps.get(), mt)) << text;
        EXPECT_TRUE(gst_caps_is_equal(caps.get(), CapsFromMediaType(mt).get())) << text;
        const std::string described = DescribeMediaType(mt);
        EXPECT_TRUE(described.find("NV12 640X480, 12 bits, 30 fps") != std::string::npos ||
                    described.find("Y800 640X480, 8 bits, 30 fps") != std::string::npos ||
                    described.find("H264 1280X720, 24 bits, 30 fps") != std::string::npos)
            << described;
        FreeMediaType(mt);
    }
    EXPECT_FALSE(MediaTypeFromCaps(Caps("video/x-raw,format=v210,width=64,height=64").get(), mt) &&
                 mt.subtype == GUID_NULL);
    FreeMediaType(mt);
}

TEST(GstMediaType, ExactRatesSurviveTheRecord) {
    // Each listed rate comes back from its record as the device gave it.
    auto listed =
        ExpandCaps(Caps("video/x-raw,format=YUY2,width=1600,height=1200,framerate={15/2,5/1};"
                        "image/jpeg,width=1280,height=720,framerate={30000/1001,10000000/333333}")
                       .get());
    ASSERT_EQ(4u, listed.size());
    for (auto& c : listed) {
        AM_MEDIA_TYPE mt{};
        ASSERT_TRUE(MediaTypeFromCaps(c.get(), mt));
        EXPECT_TRUE(gst_caps_is_equal(c.get(), MatchListedCaps(mt, listed).get()));
        FreeMediaType(mt);
    }
    // Without a listing: whole, NTSC and halved rates by their frame time.
    for (auto [frameTime, num, den] : std::vector<std::tuple<int64_t, int, int>>{
             {333333, 30, 1}, {333667, 30000, 1001}, {1333333, 15, 2}, {400000, 25, 1}}) {
        AM_MEDIA_TYPE mt{};
        ASSERT_TRUE(MediaTypeFromCaps(listed[0].get(), mt));
        reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->AvgTimePerFrame = frameTime;
        int n = 0, d = 0;
        gst_structure_get_fraction(gst_caps_get_structure(CapsFromMediaType(mt).get(), 0),
                                   "framerate", &n, &d);
        EXPECT_EQ(std::make_pair(num, den), std::make_pair(n, d)) << frameTime;
        FreeMediaType(mt);
    }
}

TEST(GstMediaType, DefaultsAreWhatAUserWouldPick) {
    auto pick = [](const char* caps) {
        return FormatSummary(ChooseDefaultFormat(ExpandCaps(Caps(caps).get())).get());
    };
    // Raw tops out at a slide show at large sizes: the compressed format
    // nearest 640 x 480 that reaches 25 fps wins.
    EXPECT_EQ("MJPG 640\u00d7480 at 30 fps",
              pick("video/x-raw,format=YUY2,width=1920,height=1080,framerate=5/1;"
                   "video/x-raw,format=YUY2,width=1280,height=720,framerate={10/1,15/2};"
                   "video/x-raw,format=YUY2,width=320,height=240,framerate=30/1;"
                   "image/jpeg,width=1280,height=720,framerate=30/1;"
                   "image/jpeg,width=640,height=480,framerate={30/1,15/1}"));
    // Raw when it is fluid at that size.
    EXPECT_EQ("YUY2 640\u00d7480 at 30 fps",
              pick("video/x-raw,format=YUY2,width=640,height=480,framerate=30/1;"
                   "image/jpeg,width=640,height=480,framerate=30/1"));
    // Nothing reaches 25 fps: the fastest.
    EXPECT_EQ("YUY2 1280\u00d7720 at 10 fps",
              pick("video/x-raw,format=YUY2,width=1280,height=720,framerate={10/1,5/1}"));
    // Sound servers offer ranges: 48 kHz stereo S16, not their first value.
    EXPECT_EQ("S16LE 48000 Hz, 2 channels",
              pick("audio/x-raw,format={F32LE,S16LE},layout=interleaved,rate=[1,384000],"
                   "channels=[1,32]"));
    // A device with one native rate keeps it.
    EXPECT_EQ("S16LE 44100 Hz, 1 channel",
              pick("audio/x-raw,format=S16LE,layout=interleaved,rate=44100,channels=1"));
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
    // A camera with ranges: the standard sizes inside them, each with every
    // standard rate the range holds; a list keeps each of its rates.
    auto video = Describe(
        "video/x-raw,format={YUY2,NV12},width=[100,400],height=[100,300],framerate=[1/1,30/1];"
        "image/jpeg,width=640,height=480,framerate={15/1,30/1}");
    EXPECT_EQ(2u * 4 * 7 + 2, video.size());
    EXPECT_EQ("Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 160X120, 16 bits, 30 fps",
              video.front());
    EXPECT_EQ("Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 160X120, 16 bits, 25 fps",
              video[1]);
    EXPECT_EQ("Major Type: Video - Sub Type: MJPG Format: VideoInfo MJPG 640X480, 24 bits, 30 fps",
              video[video.size() - 2]);
    EXPECT_EQ("Major Type: Video - Sub Type: MJPG Format: VideoInfo MJPG 640X480, 24 bits, 15 fps",
              video.back());

    // A sound card with a wide rate range and many channels.
    auto audio = Describe(
        "audio/x-raw,format={S16LE,S32LE},layout=interleaved,rate=[8000,48000],channels=[1,8]");
    EXPECT_EQ(16u, audio.size());
    EXPECT_EQ("Major Type: Audio - Sub Type: PCM Format: WaveFormatEx: PCM, 11025 Hertz, 16 Bits, "
              "1 Channels",
              audio.front());
    EXPECT_EQ("Major Type: Audio - Sub Type: PCM Format: WaveFormatEx: PCM, 48000 Hertz, 32 Bits, "
              "2 Channels",
              audio.back());

    EXPECT_TRUE(ExpandCaps(Caps("ANY").get()).empty());
    EXPECT_TRUE(ExpandCaps(Caps("video/x-bayer,format=rggb,width=64,height=64").get()).empty());
    EXPECT_TRUE(ExpandCaps(nullptr).empty());
}
