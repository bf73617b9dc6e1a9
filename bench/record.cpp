// Recording cost: N seconds of Test Pattern (320x240 YUY2, 30 fps) with Test
// Tone (44100 Hz stereo) recorded through our components, as the main window
// does, then the same capture as one hand-written GStreamer pipeline in this
// process, three times in turn. Prints the median CPU seconds per stream
// second of both, the median time from Active := true to Run returning, and
// last the ratio ours / direct.
//
//   record --seconds N --out FILE [--mjpeg]   (the direct recording goes to FILE.direct.avi)
//
// With --mjpeg the camera is an MJPEG-only 1280 x 720 at 30 fps one
// (BenchFakeCamera.h), recorded as it delivers, against the same source
// written by a plain pipeline.
#include "BenchFakeCamera.h"
#include "BenchSupport.h"
#include "GstReferenceRecording.h"
#include "media/EnumMediaType.h"
#include "media/Filter.h"
#include "media/FilterGraph.h"
#include "media/PinList.h"
#include "media/SysDevEnum.h"
#include "platform/gst/GstRegistration.h"
#include "platform/stream/WMWriterNetworkSink.h"
#include "support/GstSanitizerSuppressions.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kRounds = 3;

int Find(TSysDevEnum& devices, const char* name) {
    for (int i = 0; i < devices.DeviceCount(); ++i)
        if (devices.GetDevice(i).FriendlyName == name) return i;
    return -1;
}

int FindFormat(const TEnumMediaType& formats, const char* text) {
    for (int i = 0; i < formats.Count(); ++i)
        if (formats.FormatText(i) == text) return i;
    return -1;
}

void ApplyFormat(TFilter& filter, TEnumMediaType& formats, int index) {
    TPinList pins(filter.Query<IBaseFilter>().Get());
    if (auto config = pins.FirstPin().Query<IAMStreamConfig>())
        config->SetFormat(&formats.MediaTypeAt(index).MediaTypeRecord());
}

// Returns CPU seconds spent; activateMs gets Active := true .. Run returned.
double RecordThroughComponents(const std::string& file, double seconds, double& activateMs,
                               bool mjpeg) {
    TFilterGraph graph("CaptureGraph");
    graph.SetMode(gmCapture);
    graph.SetGraphEdit(true);
    TFilter video("VideoSourceFilter"), audio("AudioSourceFilter");
    TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
    video.BaseFilter().AssignMoniker(
        devices.GetDeviceMoniker(Find(devices, mjpeg ? kBenchMjpegCamera : "Test Pattern")).Get());
    devices.SelectCategory(CLSID_AudioInputDeviceCategory);
    audio.BaseFilter().AssignMoniker(devices.GetDeviceMoniker(Find(devices, "Test Tone")).Get());
    video.SetFilterGraph(&graph);
    audio.SetFilterGraph(&graph);

    // Choosing the devices lists their formats (outside the measured part).
    TEnumMediaType videoFormats, audioFormats;
    graph.SetActive(true);
    videoFormats.AssignPin(TPinList(video.Query<IBaseFilter>().Get()).FirstPin().Get());
    audioFormats.AssignPin(TPinList(audio.Query<IBaseFilter>().Get()).FirstPin().Get());
    graph.SetActive(false);
    const int v = FindFormat(
        videoFormats,
        mjpeg
            ? "Major Type: Video - Sub Type: MJPG Format: VideoInfo MJPG 1280X720, 24 bits, 30 fps"
            : "Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 320X240, 16 bits, 30 fps");
    const int a = FindFormat(audioFormats, "Major Type: Audio - Sub Type: PCM Format: "
                                           "WaveFormatEx: PCM, 44100 Hertz, 16 Bits, 2 Channels");
    if (v < 0 || a < 0) {
        std::fprintf(stderr, "record: the test devices lack the benchmark formats\n");
        std::exit(1);
    }

    const double cpu0 = CpuSeconds();
    QElapsedTimer timer;
    timer.start();
    graph.SetActive(true);
    ApplyFormat(audio, audioFormats, a);
    ApplyFormat(video, videoFormats, v);
    auto builder = graph.Query<ICaptureGraphBuilder2>();
    ComPtr<IBaseFilter> mux;
    ComPtr<IFileSinkFilter> sink;
    builder->SetOutputFileName(&MEDIASUBTYPE_Avi, file, mux.Put(), sink.Put());
    builder->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, video.Query<IBaseFilter>().Get(), nullptr,
                          mux.Get());
    builder->RenderStream(nullptr, nullptr, audio.Query<IBaseFilter>().Get(), nullptr, mux.Get());
    graph.Run();
    activateMs = double(timer.nsecsElapsed()) / 1e6;

    // The UI thread idles in its event loop, as the program's does, and
    // wakes only for graph events.
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    graph.Stop();
    graph.SetActive(false);
    return CpuSeconds() - cpu0;
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 10;
    std::string out = "/tmp/kx-record-bench.avi";
    bool mjpeg = false;
    for (int i = 1; i < argc; i += 2) {
        if (std::strcmp(argv[i], "--mjpeg") == 0) {
            mjpeg = true;
            --i;
        } else if (i + 1 >= argc) {
            seconds = 0;
        } else if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atof(argv[i + 1]);
        else if (std::strcmp(argv[i], "--out") == 0)
            out = argv[i + 1];
    }
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: record --seconds N --out FILE [--mjpeg]\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    RegisterGstPlatform();
    RegisterWriterNetworkSink();
    if (mjpeg) RegisterBenchMjpegCamera();

    // CPU figures of a light capture are small and the machine is shared:
    // alternate the two recordings a few times and compare the medians.
    std::vector<double> ours, direct, activate;
    for (int round = 0; round < kRounds; ++round) {
        double activateMs = 0;
        ours.push_back(RecordThroughComponents(out, seconds, activateMs, mjpeg));
        activate.push_back(activateMs);
        std::string error;
        const double cpu0 = CpuSeconds();
        if (!RecordReferencePipeline(out + ".direct.avi", seconds, error, mjpeg)) {
            std::fprintf(stderr, "record: direct pipeline: %s\n", error.c_str());
            return 1;
        }
        direct.push_back(CpuSeconds() - cpu0);
    }
    const double oursCpu = Median(ours), directCpu = Median(direct);

    std::printf("components_cpu_per_stream_s=%.4f\n", oursCpu / seconds);
    std::printf("direct_cpu_per_stream_s=%.4f\n", directCpu / seconds);
    std::printf("activate_ms=%.1f\n", Median(activate));
    std::printf("ratio=%.3f\n", directCpu > 0 ? oursCpu / directCpu : 0.0);
    return 0;
}
