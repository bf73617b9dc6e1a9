// Recording the way the main window makes one (graph component, one capture
// filter component per device, AVI output, capture rendering, run, stop), and
// the graph's run control and event delivery on the GStreamer platform.
#include "platform/gst/GstFilterGraph.h"
#include "GstTestSupport.h"

#include "media/EnumMediaType.h"
#include "media/Filter.h"
#include "media/FilterGraph.h"
#include "media/MediaErrors.h"
#include "media/PinList.h"
#include "media/SysDevEnum.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

using namespace gsttest;

namespace {

// A graph listener that notes every event and whether it came on the UI thread.
class TEventLog : public IGraphListener {
  public:
    void HandleGraphEvent(LONG code, LONG_PTR param1, LONG_PTR) override {
        codes.push_back(code);
        params.push_back(param1);
        onUiThread =
            onUiThread && QThread::currentThread() == QCoreApplication::instance()->thread();
    }
    void HandleControlEvent(TControlEvent, LONG_PTR) override {}
    bool Has(LONG code) const { return std::find(codes.begin(), codes.end(), code) != codes.end(); }

    std::vector<LONG> codes;
    std::vector<LONG_PTR> params;
    bool onUiThread = true;
};

int DeviceIndex(TSysDevEnum& devices, const std::string& name) {
    for (int i = 0; i < devices.DeviceCount(); ++i)
        if (devices.GetDevice(i).FriendlyName == name) return i;
    return -1;
}

// The main window's capture set-up: one graph in capture mode, the Test
// Pattern and the Test Tone chosen from the device lists.
struct TMainWindowCapture {
    TFilterGraph graph{"CaptureGraph"};
    TFilter video{"VideoSourceFilter"};
    TFilter audio{"AudioSourceFilter"};
    TEnumMediaType videoFormats, audioFormats;
    TEventLog events;

    TMainWindowCapture() {
        graph.SetMode(gmCapture);
        graph.SetGraphEdit(true);
        graph.InsertListener(&events);
        TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
        video.BaseFilter().AssignMoniker(
            devices.GetDeviceMoniker(DeviceIndex(devices, "Test Pattern")).Get());
        video.SetFilterGraph(&graph);
        devices.SelectCategory(CLSID_AudioInputDeviceCategory);
        audio.BaseFilter().AssignMoniker(
            devices.GetDeviceMoniker(DeviceIndex(devices, "Test Tone")).Get());
        audio.SetFilterGraph(&graph);
        // Listing the formats opens the graph briefly, as choosing a device does.
        graph.SetActive(true);
        TPinList videoPins(video.Query<IBaseFilter>().Get());
        videoFormats.AssignPin(videoPins.FirstPin().Get());
        TPinList audioPins(audio.Query<IBaseFilter>().Get());
        audioFormats.AssignPin(audioPins.FirstPin().Get());
        graph.SetActive(false);
    }
    ~TMainWindowCapture() {
        graph.SetActive(false);
        graph.RemoveListener(&events);
    }

    static int FormatIndex(const TEnumMediaType& formats, const std::string& text) {
        for (int i = 0; i < formats.Count(); ++i)
            if (formats.FormatText(i) == text) return i;
        return -1;
    }

    // Active graph, chosen formats applied, AVI output, capture rendered.
    void StartRecord(const std::string& file, int videoFormat, int audioFormat) {
        graph.SetActive(true);
        if (audioFormat >= 0) {
            auto config =
                TPinList(audio.Query<IBaseFilter>().Get()).FirstPin().Query<IAMStreamConfig>();
            ASSERT_TRUE(config);
            config->SetFormat(&audioFormats.MediaTypeAt(audioFormat).MediaTypeRecord());
        }
        if (videoFormat >= 0) {
            auto config =
                TPinList(video.Query<IBaseFilter>().Get()).FirstPin().Query<IAMStreamConfig>();
            ASSERT_TRUE(config);
            config->SetFormat(&videoFormats.MediaTypeAt(videoFormat).MediaTypeRecord());
        }
        auto builder = graph.Query<ICaptureGraphBuilder2>();
        ASSERT_TRUE(builder);
        ComPtr<IBaseFilter> mux;
        ComPtr<IFileSinkFilter> sink;
        builder->SetOutputFileName(&MEDIASUBTYPE_Avi, file, mux.Put(), sink.Put());
        ASSERT_TRUE(mux);
        EXPECT_EQ(S_OK,
                  builder->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr,
                                        video.Query<IBaseFilter>().Get(), nullptr, mux.Get()));
        EXPECT_EQ(S_OK, builder->RenderStream(nullptr, nullptr, audio.Query<IBaseFilter>().Get(),
                                              nullptr, mux.Get()));
    }

    LONGLONG Position() {
        LONGLONG position = -1;
        if (auto seeking = graph.Query<IMediaSeeking>()) seeking->GetCurrentPosition(&position);
        return position;
    }
};

} // namespace

TEST(GstFilterGraph, ThreeSecondRecordingIsACompleteAviInTheChosenFormat) {
    TScratchDir dir;
    const std::string file = dir.File("capture.avi");
    TMainWindowCapture c;
    const int yuy2 = c.FormatIndex(
        c.videoFormats,
        "Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 320X240, 16 bits, 30 fps");
    const int pcm =
        c.FormatIndex(c.audioFormats, "Major Type: Audio - Sub Type: PCM Format: WaveFormatEx: "
                                      "PCM, 44100 Hertz, 16 Bits, 2 Channels");
    ASSERT_GE(yuy2, 0);
    ASSERT_GE(pcm, 0);
    c.StartRecord(file, yuy2, pcm);
    ASSERT_TRUE(c.graph.Run());

    // The status clock's source: the running time keeps moving.
    std::vector<LONGLONG> positions;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 3000) {
        PumpFor(500);
        positions.push_back(c.Position());
    }
    EXPECT_TRUE(c.graph.Stop());
    c.graph.SetActive(false);
    ASSERT_GE(positions.size(), 5u);
    for (size_t i = 1; i < positions.size(); ++i)
        EXPECT_GT(positions[i], positions[i - 1]);
    EXPECT_NEAR(3.0, positions.back() / 1e7, 0.5);

    const std::string probe = Probe(file);
    EXPECT_EQ(1, CountOf(probe, "codec_type=video")) << probe;
    EXPECT_EQ(1, CountOf(probe, "codec_type=audio")) << probe;
    EXPECT_NE(std::string::npos, probe.find("codec_tag_string=YUY2")) << probe;
    EXPECT_NE(std::string::npos, probe.find("width=320\nheight=240")) << probe;
    EXPECT_NE(std::string::npos, probe.find("codec_name=pcm_s16le")) << probe;
    EXPECT_NE(std::string::npos, probe.find("sample_rate=44100\nchannels=2")) << probe;
    EXPECT_NEAR(3.0, ProbeDuration(probe), 0.5) << probe;
    EXPECT_EQ("", DecodeErrors(file));
    EXPECT_FALSE(c.events.Has(EC_ERRORABORT));
}

TEST(GstFilterGraph, SetFormatChangesWhatIsRecorded) {
    TScratchDir dir;
    const std::string file = dir.File("formats.avi");
    TMainWindowCapture c;
    const int iyuv = c.FormatIndex(
        c.videoFormats,
        "Major Type: Video - Sub Type: IYUV Format: VideoInfo IYUV 320X240, 12 bits, 30 fps");
    const int u8mono =
        c.FormatIndex(c.audioFormats, "Major Type: Audio - Sub Type: PCM Format: WaveFormatEx: "
                                      "PCM, 22050 Hertz, 8 Bits, 1 Channels");
    ASSERT_GE(iyuv, 0);
    ASSERT_GE(u8mono, 0);
    c.StartRecord(file, iyuv, u8mono);
    ASSERT_TRUE(c.graph.Run());
    PumpFor(1000);
    c.graph.Stop();
    c.graph.SetActive(false);

    const std::string probe = Probe(file);
    EXPECT_NE(std::string::npos, probe.find("codec_tag_string=I420")) << probe;
    EXPECT_NE(std::string::npos, probe.find("codec_name=pcm_u8")) << probe;
    EXPECT_NE(std::string::npos, probe.find("sample_rate=22050\nchannels=1")) << probe;
    EXPECT_EQ("", DecodeErrors(file));
}

TEST(GstFilterGraph, UnwritablePathIsAnErrorEventOnTheUiThreadAndStopsPromptly) {
    TMainWindowCapture c;
    c.StartRecord("/nonexistent-folder/capture.avi", -1, -1);
    EXPECT_THROW(c.graph.Run(), EDirectShowException);
    EXPECT_TRUE(PumpUntil([&] { return c.events.Has(EC_ERRORABORT); }, 5000));
    EXPECT_TRUE(c.events.onUiThread);
    auto it = std::find(c.events.codes.begin(), c.events.codes.end(), EC_ERRORABORT);
    if (it != c.events.codes.end()) {
        EXPECT_TRUE(FAILED(HRESULT(c.events.params[size_t(it - c.events.codes.begin())])));
    }

    QElapsedTimer timer;
    timer.start();
    c.graph.Stop();
    c.graph.SetActive(false);
    EXPECT_LT(timer.elapsed(), 2000);
}

TEST(GstFilterGraph, StopWithoutRunAndRunAgainAfterStop) {
    TScratchDir dir;
    TMainWindowCapture c;
    c.StartRecord(dir.File("first.avi"), -1, -1);
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(c.graph.Stop()); // never ran: nothing to finish
    // Well inside the wait for a writer's end (kFinishTimeoutMs), which must not happen.
    EXPECT_LT(timer.elapsed(), TGstFilterGraph::kFinishTimeoutMs / 2);
    c.graph.SetActive(false);

    // A recording whose streams could not be rendered (results the window
    // does not inspect) has nothing to finish and stops at once too.
    c.graph.SetActive(true);
    auto builder = c.graph.Query<ICaptureGraphBuilder2>();
    ComPtr<IBaseFilter> mux;
    builder->SetOutputFileName(&MEDIASUBTYPE_Avi, dir.File("empty.avi"), mux.Put(), nullptr);
    EXPECT_TRUE(c.graph.Run());
    PumpFor(200);
    timer.restart();
    c.graph.Stop();
    EXPECT_LT(timer.elapsed(), TGstFilterGraph::kFinishTimeoutMs / 2);
    c.graph.SetActive(false);

    // Each start builds a fresh graph: a second recording works as the first.
    c.StartRecord(dir.File("second.avi"), -1, -1);
    ASSERT_TRUE(c.graph.Run());
    PumpFor(700);
    c.graph.Stop();
    c.graph.SetActive(false);
    const double second = ProbeDuration(Probe(dir.File("second.avi")));
    EXPECT_GT(second, 0.5);
    EXPECT_LT(second, 2.0);
}

TEST(GstFilterGraph, DroppingARunningGraphStillFinishesItsFile) {
    TScratchDir dir;
    const std::string file = dir.File("dropped.avi");
    {
        TGraph g;
        ComPtr<IBaseFilter> video =
            g.Add(CLSID_VideoInputDeviceCategory, "Test Pattern", "VideoSourceFilter");
        ComPtr<IBaseFilter> mux;
        g.builder->SetOutputFileName(&MEDIASUBTYPE_Avi, file, mux.Put(), nullptr);
        ASSERT_EQ(S_OK, g.builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video,
                                                video.Get(), nullptr, mux.Get()));
        ASSERT_TRUE(SUCCEEDED(g.graph.Query<IMediaControl>()->Run()));
        PumpFor(600);
    }
    const std::string probe = Probe(file);
    EXPECT_EQ(1, CountOf(probe, "codec_type=video")) << probe;
    EXPECT_GT(ProbeDuration(probe), 0.4) << probe;
    EXPECT_LT(ProbeDuration(probe), 2.0) << probe;
}

TEST(GstFilterGraph, EventsAreQueuedAndAnnouncedOnlyWhileNotificationIsOn) {
    struct TCounter : INotifyTarget {
        std::atomic<int> posts{0};
        LONG message = 0;
        void PostGraphEvent(LONG m, LONG_PTR) override {
            message = m;
            ++posts;
        }
    } target;
    ComPtr<IFilterGraph2> graph;
    ASSERT_EQ(S_OK, CreateInstance(CLSID_FilterGraph, graph));
    auto events = graph.Query<IMediaEventEx>();
    LONG code;
    LONG_PTR p1, p2;
    EXPECT_EQ(E_ABORT, events->GetEvent(&code, &p1, &p2, 0));

    ComPtr<IBaseFilter> video = BindDevice(CLSID_VideoInputDeviceCategory, "Test Pattern");
    graph->AddFilter(video.Get(), "Video");
    events->SetNotifyWindow(&target, WM_GRAPHNOTIFY, 0);
    auto control = graph.Query<IMediaControl>();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    control->Pause(); // reaching paused is announced
    EXPECT_TRUE(PumpUntil([&] { return target.posts > 0; }, 3000));
    EXPECT_EQ(WM_GRAPHNOTIFY, target.message);
    int queued = 0;
    while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) {
        ++queued;
        events->FreeEventParams(code, p1, p2);
    }
    EXPECT_EQ(target.posts.load(), queued);

    events->SetNotifyFlags(AM_MEDIAEVENT_NONOTIFY);
    const int before = target.posts;
    control->Run();
    control->Pause();
    PumpFor(300);
    EXPECT_EQ(before, target.posts.load());
    EXPECT_EQ(S_OK, events->GetEvent(&code, &p1, &p2, 1000)); // still queued
    control->Stop();
}
