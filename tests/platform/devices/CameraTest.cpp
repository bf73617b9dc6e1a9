// Cameras and microphones shaped as real ones (FakeDeviceProvider.h): what
// the menus list, the defaults, refusals, and preview, broadcast (ASF, a
// browser, a relay) and recording on each; a lost camera; hot-plugging.
#include "BroadcastTestSupport.h"
#include "FakeDeviceProvider.h"
#include "media/DeviceWatch.h"
#include "media/EnumMediaType.h"
#include "media/SysDevEnum.h"
#include "media/VideoWindow.h"
#include "platform/gst/GstFilterGraph.h"
#include "platform/gst/GstMediaType.h"
#include "support/RelayServers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

using namespace gsttest;
using namespace bcasttest;

namespace {

std::vector<TDeviceEntry> Listing(const GUID& category) {
    TSysDevEnum devices(category);
    std::vector<TDeviceEntry> out;
    for (int i = 0; i < devices.DeviceCount(); ++i)
        out.push_back(devices.GetDevice(i));
    return out;
}

int CountNamed(const std::vector<TDeviceEntry>& list, const std::string& name) {
    return int(std::count_if(list.begin(), list.end(),
                             [&](const TDeviceEntry& e) { return e.FriendlyName == name; }));
}

int IndexOf(const std::vector<TDeviceEntry>& list, const std::string& name) {
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].FriendlyName == name) return int(i);
    return -1;
}

ComPtr<IAMStreamConfig> Config(IBaseFilter* f) {
    return PinNamed(f, "Capture").Query<IAMStreamConfig>();
}

std::string Current(IBaseFilter* f) {
    AM_MEDIA_TYPE* mt = nullptr;
    if (!f || FAILED(Config(f)->GetFormat(&mt))) return "none";
    TGstCapsRef caps = CapsFromMediaType(*mt);
    DeleteMediaType(mt);
    return FormatSummary(caps.get());
}

std::vector<std::string> Menu(IBaseFilter* f) {
    TEnumMediaType formats;
    formats.AssignPin(PinNamed(f, "Capture").Get());
    std::vector<std::string> out;
    for (int i = 0; i < formats.Count(); ++i)
        out.push_back(formats.FormatText(i));
    return out;
}

int MenuIndex(const std::vector<std::string>& menu, const std::string& text) {
    auto it = std::find(menu.begin(), menu.end(), text);
    return it == menu.end() ? -1 : int(it - menu.begin());
}

// Elements of a factory anywhere in a pipeline.
int CountElements(GstElement* pipeline, const char* factory) {
    int n = 0;
    GstIterator* it = gst_bin_iterate_recurse(GST_BIN(pipeline));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        GstElementFactory* f = gst_element_get_factory(GST_ELEMENT(g_value_get_object(&item)));
        n += f && std::string(GST_OBJECT_NAME(f)) == factory;
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return n;
}

GstElement* PipelineOf(TFilterGraph& graph) {
    auto* gst = dynamic_cast<TGstFilterGraph*>(graph.Query<IFilterGraph2>().Get());
    return gst ? gst->Pipeline() : nullptr;
}

const char* kWebmRequest = "GET /live.webm HTTP/1.1\r\nHost: x\r\nOrigin: http://x:8081\r\n\r\n";

struct TCase {
    const char* Camera;
    const char* Default;  // the format captured before a user picks one
    const char* Decoder;  // the one decoder a broadcast has ("" for none)
    const char* Recorded; // the AVI's video codec
};

const TCase kCases[] = {
    {fakedev::kMjpegCamera, "MJPG 1280\u00d7720 at 30 fps", "jpegdec", "mjpeg"},
    {fakedev::kUvcCamera, "MJPG 640\u00d7480 at 29.97 fps", "jpegdec", "mjpeg"},
    {fakedev::kNv12Camera, "NV12 640\u00d7480 at 30 fps", "", "rawvideo"},
    {fakedev::kH264Camera, "H264 1280\u00d7720 at 30 fps", "avdec_h264", "h264"},
};

} // namespace

// Each camera once, whichever provider lists it; identities that survive
// re-plugging; the sound server's default first and its monitor after the
// Test Tone.
TEST(FakeDevices, EachDeviceIsListedOnceWithAStableIdentity) {
    fakedev::SetWireRunning(true);
    // The first listing with the PipeWire-shaped provider running: it hides
    // the other one during this very probe.
    auto video = Listing(CLSID_VideoInputDeviceCategory);
    for (const char* name :
         {fakedev::kMjpegCamera, fakedev::kUvcCamera, fakedev::kNv12Camera, fakedev::kH264Camera})
        EXPECT_EQ(1, CountNamed(video, name)) << name;
    ASSERT_GE(IndexOf(video, fakedev::kMjpegCamera), 0);
    EXPECT_EQ("v4l2_input.Fake MJPEG Camera",
              video[size_t(IndexOf(video, fakedev::kMjpegCamera))].DevicePath);
    EXPECT_EQ(video.size(), Listing(CLSID_VideoInputDeviceCategory).size());

    fakedev::SetWireRunning(false);
    Listing(CLSID_VideoInputDeviceCategory); // the daemon's provider lets go on this probe
    video = Listing(CLSID_VideoInputDeviceCategory);
    EXPECT_EQ(1, CountNamed(video, fakedev::kMjpegCamera));
    EXPECT_EQ("bus:pci-0000:00:14.0-usb-0:1:1.0",
              video[size_t(IndexOf(video, fakedev::kMjpegCamera))].DevicePath);
    EXPECT_EQ("Test Pattern", video.back().FriendlyName);

    auto audio = Listing(CLSID_AudioInputDeviceCategory);
    ASSERT_GE(audio.size(), 3u);
    EXPECT_EQ(fakedev::kMicrophone, audio.front().FriendlyName);
    EXPECT_LT(IndexOf(audio, "Test Tone"), IndexOf(audio, fakedev::kMonitor));
    EXPECT_EQ("fake_source.mic", audio.front().DevicePath);
}

// What a user sees before choosing anything, and what a device cannot do.
TEST(FakeDevices, DefaultsMenusAndRefusals) {
    fakedev::SetWireRunning(false);
    for (const auto& c : kCases)
        EXPECT_EQ(c.Default, Current(BindDevice(CLSID_VideoInputDeviceCategory, c.Camera).Get()))
            << c.Camera;
    auto mic = BindDevice(CLSID_AudioInputDeviceCategory, fakedev::kMicrophone);
    EXPECT_EQ("S16LE 48000 Hz, 2 channels", Current(mic.Get()));
    auto micMenu = Menu(mic.Get());
    EXPECT_GE(MenuIndex(micMenu, "Major Type: Audio - Sub Type: PCM Format: WaveFormatEx: PCM, "
                                 "48000 Hertz, 32 Bits, 2 Channels"),
              0);

    // Every rate of a size, the unsimplified driver rate as the 30 it is.
    auto uvc = BindDevice(CLSID_VideoInputDeviceCategory, fakedev::kUvcCamera);
    auto menu = Menu(uvc.Get());
    const std::string yuy2 = "Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 1280X720, "
                             "16 bits, ";
    for (const char* rate : {"10 fps", "7.5 fps", "5 fps"})
        EXPECT_GE(MenuIndex(menu, yuy2 + rate), 0) << rate;
    EXPECT_EQ(0, MenuIndex(menu, "Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 "
                                 "2304X1536, 16 bits, 2 fps"));
    EXPECT_GE(MenuIndex(menu, "Major Type: Video - Sub Type: MJPG Format: VideoInfo MJPG "
                              "1280X720, 24 bits, 30 fps"),
              0);
    auto nv12 = Menu(BindDevice(CLSID_VideoInputDeviceCategory, fakedev::kNv12Camera).Get());
    EXPECT_EQ((std::vector<std::string>{"Major Type: Video - Sub Type: UnKnown  Format: VideoInfo "
                                        "NV12 640X480, 12 bits, 30 fps"}),
              nv12);

    // YUY2 at 30 fps and 1280 x 720 is nothing this camera does.
    TEnumMediaType formats;
    formats.AssignPin(PinNamed(uvc.Get(), "Capture").Get());
    AM_MEDIA_TYPE mt{};
    CopyMediaType(mt, formats.MediaTypeAt(MenuIndex(menu, yuy2 + "10 fps")).MediaTypeRecord());
    reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->AvgTimePerFrame = 333333;
    EXPECT_EQ(E_FORMAT_REFUSED, Config(uvc.Get())->SetFormat(&mt));
    EXPECT_EQ("\"Fake UVC Camera\" cannot capture YUY2 1280\u00d7720 at 30 fps.",
              ErrorTextOf(E_FORMAT_REFUSED));
    FreeMediaType(mt);
}

// 15/2 and 10000000/333333 as picked from the menu capture at that very rate.
TEST(FakeDevices, ExactRatesAreRecordedAsTheyAre) {
    for (auto [text, rate] : std::vector<std::pair<std::string, std::string>>{
             {"Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 1280X720, 16 bits, 7.5 "
              "fps",
              "15/2"},
             {"Major Type: Video - Sub Type: MJPG Format: VideoInfo MJPG 1280X720, 24 bits, 30 fps",
              "10000000/333333"}}) {
        TScratchDir dir;
        TGraph g;
        auto video = g.Add(CLSID_VideoInputDeviceCategory, fakedev::kUvcCamera, "Video");
        TEnumMediaType formats;
        formats.AssignPin(PinNamed(video.Get(), "Capture").Get());
        const int index = MenuIndex(Menu(video.Get()), text);
        ASSERT_GE(index, 0) << text;
        ASSERT_EQ(S_OK,
                  Config(video.Get())->SetFormat(&formats.MediaTypeAt(index).MediaTypeRecord()));
        ComPtr<IBaseFilter> mux;
        g.builder->SetOutputFileName(&MEDIASUBTYPE_Avi, dir.File("rate.avi"), mux.Put(), nullptr);
        ASSERT_EQ(S_OK, g.builder->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, video.Get(),
                                                nullptr, mux.Get()));
        auto control = g.graph.Query<IMediaControl>();
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        PumpFor(1500);
        control->Stop();
        int exit = 0;
        const std::string probe = RunCommand("ffprobe -v error -select_streams v -show_entries "
                                             "stream=r_frame_rate -of default=nw=1 '" +
                                                 dir.File("rate.avi") + "' 2>&1",
                                             exit);
        EXPECT_NE(std::string::npos, probe.find("r_frame_rate=" + rate)) << probe;
    }
}

class FakeCamera : public ::testing::TestWithParam<TCase> {};

// Preview, a broadcast with an ASF viewer and a browser, then a recording:
// one decoder for everything, raw pictures for the side outputs.
TEST_P(FakeCamera, PreviewBroadcastAndRecord) {
    const TCase c = GetParam();
    fakedev::SetWireRunning(false);
    {
        TScratchDir dir;
        QWidget form;
        TVideoWindow window{&form, "VideoWindow"};
        form.resize(300, 260);
        window.setGeometry(8, 26, 273, 217);
        form.show();
        TBroadcastRig rig(wmp_V80_56Video, true, dir.File("brim.asf"), 3, 0, c.Camera,
                          fakedev::kMicrophone);
        window.SetFilterGraph(&rig.Graph);
        ASSERT_EQ(S_OK, rig.VideoResult);
        ASSERT_EQ(S_OK, rig.AudioResult);
        ASSERT_EQ(S_OK, rig.Builder->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr,
                                                  rig.Video.Query<IBaseFilter>().Get(), nullptr,
                                                  window.Query<IBaseFilter>().Get()));
        ASSERT_TRUE(rig.Graph.Run());
        if (*c.Decoder) {
            EXPECT_EQ(1, CountElements(PipelineOf(rig.Graph), c.Decoder));
        }
        EXPECT_EQ(0, CountElements(PipelineOf(rig.Graph), "jpegdec") -
                         (std::string(c.Decoder) == "jpegdec"));
        TViewer asf(rig.Writer.Port(), kPlainRequest);
        TViewer browser(rig.Writer.Port(), kWebmRequest);
        browser.ReadFor(4000);
        asf.ReadFor(500);
        EXPECT_NE(std::string::npos, browser.Data().find("video/webm")) << c.Camera;
        EXPECT_GT(browser.Total(), 20000u) << c.Camera;
        EXPECT_GT(asf.Total(), 10000u) << c.Camera;
        auto* renderer = TGstVideoRenderer::From(window.Query<IBaseFilter>().Get());
        ASSERT_TRUE(renderer);
        EXPECT_GT(renderer->FramesReceived(), 40u) << c.Camera;
        rig.Stop();
        window.SetFilterGraph(nullptr);
        EXPECT_NE(std::string::npos, Probe(dir.File("brim.asf")).find("codec_name=wmv2"));
    }
    {
        TScratchDir dir;
        TGraph g;
        auto video = g.Add(CLSID_VideoInputDeviceCategory, c.Camera, "Video");
        auto audio = g.Add(CLSID_AudioInputDeviceCategory, fakedev::kMicrophone, "Audio");
        ComPtr<IBaseFilter> mux;
        g.builder->SetOutputFileName(&MEDIASUBTYPE_Avi, dir.File("take.avi"), mux.Put(), nullptr);
        ASSERT_EQ(S_OK, g.builder->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, video.Get(),
                                                nullptr, mux.Get()));
        ASSERT_EQ(S_OK, g.builder->RenderStream(nullptr, &MEDIATYPE_Audio, audio.Get(), nullptr,
                                                mux.Get()));
        auto control = g.graph.Query<IMediaControl>();
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        PumpFor(2500);
        EXPECT_EQ(S_OK, control->Stop());
        const std::string probe = Probe(dir.File("take.avi"));
        EXPECT_NE(std::string::npos, probe.find(std::string("codec_name=") + c.Recorded)) << probe;
        EXPECT_NE(std::string::npos, probe.find("codec_name=pcm_s16le")) << probe;
        EXPECT_GE(ProbeDuration(probe), 2.0) << probe;
        EXPECT_EQ("", DecodeErrors(dir.File("take.avi")));
    }
}

INSTANTIATE_TEST_SUITE_P(EachShape, FakeCamera, ::testing::ValuesIn(kCases), [](const auto& info) {
    std::string n = info.param.Camera;
    std::erase_if(n, [](char ch) { return !std::isalnum(uint8_t(ch)); });
    return n;
});

// An MJPEG camera relayed: the relay's pipeline gets raw pictures from the
// capture's one decoder.
TEST(FakeDevices, AnMjpegCameraIsRelayed) {
    TScratchDir dir;
    relaytest::TNginxRtmp nginx(dir.File("nginx"));
    if (!nginx.Start()) GTEST_SKIP() << "nginx with its RTMP module did not start";
    TBroadcastRig rig(wmp_V80_56Video, true, dir.File("brim.asf"), 3, 0, fakedev::kMjpegCamera,
                      fakedev::kMicrophone);
    TRelaySettings s;
    s.Url = nginx.Url("goodkey");
    s.Width = 320;
    s.Height = 180;
    rig.Outputs.SetRelay(s);
    ASSERT_TRUE(rig.Graph.Run());
    EXPECT_TRUE(
        PumpUntil([&] { return rig.Outputs.RelayStatus().State == TRelayState::Live; }, 15000))
        << RelayStatusText(rig.Outputs.RelayStatus());
    int code = 0;
    const std::string probe =
        RunCommand("timeout 20 ffprobe -v error -rw_timeout 5000000 -show_entries "
                   "stream=codec_name,width,height,r_frame_rate -of default=nw=1 '" +
                       nginx.Url("goodkey") + "' 2>&1",
                   code);
    EXPECT_NE(std::string::npos, probe.find("codec_name=h264")) << probe;
    EXPECT_NE(std::string::npos, probe.find("width=320")) << probe;
    EXPECT_EQ(1, CountElements(PipelineOf(rig.Graph), "jpegdec"));
}

// A camera that stops delivering without a word is a lost device within 3 s.
TEST(FakeDevices, ACameraThatStopsDeliveringIsLost) {
    fakedev::SetWireRunning(false);
    fakedev::ResetVanished();
    TScratchDir dir;
    TGraph g;
    auto video = g.Add(CLSID_VideoInputDeviceCategory, fakedev::kVanishingCamera, "Video");
    ComPtr<IBaseFilter> mux;
    g.builder->SetOutputFileName(&MEDIASUBTYPE_Avi, dir.File("lost.avi"), mux.Put(), nullptr);
    ASSERT_EQ(S_OK, g.builder->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, video.Get(), nullptr,
                                            mux.Get()));
    auto control = g.graph.Query<IMediaControl>();
    auto events = g.graph.Query<IMediaEventEx>();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    bool lost = false;
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    while (!lost && events->GetEvent(&code, &p1, &p2, 8000) == S_OK) {
        lost = code == EC_DEVICE_LOST;
        events->FreeEventParams(code, p1, p2);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(lost);
    EXPECT_LT(seconds, 1.5 + 3.0 + 0.5); // it vanishes 1.5 s in
    control->Stop();
    // Gone from the listing too, and a stored choice of it is refused by name.
    EXPECT_EQ(0, CountNamed(Listing(CLSID_VideoInputDeviceCategory), fakedev::kVanishingCamera));
    fakedev::ResetVanished();
}

// Plugged in and pulled out while the program runs: the watch says so on
// the UI thread; a stored choice of a device gone is refused by name.
TEST(FakeDevices, HotPlugIsWatchedAndAGoneChoiceIsRefused) {
    fakedev::SetWireRunning(false);
    std::vector<TDeviceChange> changes;
    TDeviceWatch watch([&](const TDeviceChange& c) { changes.push_back(c); });
    ASSERT_TRUE(watch.Running());
    auto has = [&](bool added, const std::string& name) {
        return std::any_of(changes.begin(), changes.end(), [&](const TDeviceChange& c) {
            return c.Added == added && c.FriendlyName == name;
        });
    };
    fakedev::PlugCamera("Fake Plugged Camera");
    ASSERT_TRUE(PumpUntil([&] { return has(true, "Fake Plugged Camera"); }, 3000));
    const auto added = *std::find_if(changes.begin(), changes.end(), [](const TDeviceChange& c) {
        return c.FriendlyName == "Fake Plugged Camera";
    });
    EXPECT_TRUE(added.Video);
    EXPECT_EQ("bus:pci-0000:00:14.0-usb-0:6:1.0", added.DevicePath);
    ComPtr<IMoniker> chosen = FindDevice(CLSID_VideoInputDeviceCategory, "Fake Plugged Camera");
    ASSERT_TRUE(chosen);

    fakedev::UnplugCamera("Fake Plugged Camera");
    EXPECT_TRUE(PumpUntil([&] { return has(false, "Fake Plugged Camera"); }, 3000));
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(E_DEVICE_GONE,
              chosen->BindToObject(nullptr, nullptr, IBaseFilter::Iid, filter.PutVoid()));
    EXPECT_EQ("\"Fake Plugged Camera\" is no longer connected.", ErrorTextOf(E_DEVICE_GONE));
    // The window's component tells why it has no filter.
    TFilterGraph graph("CaptureGraph");
    graph.SetMode(gmCapture);
    TFilter video("VideoSourceFilter");
    video.BaseFilter().AssignMoniker(chosen.Get());
    video.SetFilterGraph(&graph);
    graph.SetActive(true);
    EXPECT_EQ(E_DEVICE_GONE, video.BindResult());
    graph.SetActive(false);
}
