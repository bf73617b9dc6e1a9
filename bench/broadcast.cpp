// Broadcast cost and delay: Test Pattern (320x240 YUY2, 30 fps captured) and
// Test Tone broadcast through our components for S seconds, as the main
// window does (ASF writer with network sink on the port, archive "brim.asf"
// in the current folder), with in-process viewers reading the plain stream;
// then the same capture-encode-multiplex chain as one hand-written GStreamer
// pipeline into a fake sink for S seconds. This is also the way to try the
// stream by hand: point a player at mms://HOST:P/ while it runs.
//
//   broadcast --port P --seconds S [--profile 6|23] [--max-users N] [--viewers V]
//             [--browser-viewers B] [--relay URL]
//
// Last line: cpu_ratio (our CPU seconds per stream second over the plain
// pipeline's), startup_ms (Run to the first data packet handed to the sink),
// latency_ms (median delay from a packet's capture time, its send time in the
// stream, to its arrival at a viewer), rss_growth_mb (resident memory at the
// end over the value after the first tenth of the run). The in-process
// viewers' own CPU time is left out of ours: they play the audience.
//
// With --browser-viewers B the broadcast runs a second time with B browser
// viewers reading /live.webm as well (taking places from the V), against a
// plain pipeline that also encodes VP8 + Vorbis into WebM; a further line
// gives webm_first_frame_ms (request to the first keyframe cluster at the
// viewer, median over the viewers), webm_latency_ms (median delay from a
// block's capture time to its arrival) and cpu_ratio_browser.
//
// With --relay URL (rtmp://... or icecast://..., a server that is running)
// the broadcast runs once more relaying to URL at the capture's size, with a
// viewer pulling the stream back from the server, against a plain pipeline
// that also makes and publishes the relay's encodes; a further line gives
// relay_cpu_ratio and relay_latency_ms (median delay from a frame's capture
// time to its arrival at the pulling viewer).
#include "BenchSupport.h"
#include "GstReferenceRelay.h"
#include "media/ASFWriter.h"
#include "media/Filter.h"
#include "media/FilterGraph.h"
#include "media/PinList.h"
#include "media/SideOutputs.h"
#include "media/SysDevEnum.h"
#include "platform/ClassRegistry.h"
#include "platform/RelayTarget.h"
#include "platform/gst/GstAsfWriter.h"
#include "platform/gst/GstRegistration.h"
#include "platform/gst/GstUtil.h"
#include "platform/stream/WMWriterNetworkSink.h"
#include "platform/stream/WebmSplitter.h"
#include "support/EventPump.h"
#include "support/GstSanitizerSuppressions.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double ResidentMb() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

int Find(TSysDevEnum& devices, const char* name) {
    for (int i = 0; i < devices.DeviceCount(); ++i)
        if (devices.GetDevice(i).FriendlyName == name) return i;
    return -1;
}

uint32_t Le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

// The send time of an ASF data packet: the running time (ms) of its first
// payload's capture; false when it cannot be read.
bool SendTimeOf(const uint8_t* p, size_t size, uint32_t& sendTime) {
    size_t at = 0;
    if (size < 1) return false;
    if (p[0] & 0x80) at += 1 + (p[0] & 0x0F);
    if (at + 2 > size) return false;
    const uint8_t flags = p[at];
    at += 2;
    auto fieldSize = [](int type) { return type == 3 ? 4 : type; };
    at += fieldSize((flags >> 5) & 3) + fieldSize((flags >> 1) & 3) + fieldSize((flags >> 3) & 3);
    if (at + 6 > size) return false;
    sendTime = Le32(p + at);
    return true;
}

struct TViewers {
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> bytes{0};
    std::mutex lock; // guards latencies
    std::vector<double> latencies;
    ComPtr<IMediaSeeking> seeking;
    std::vector<std::thread> threads;

    void Start(uint32_t port, int count) {
        for (int i = 0; i < count; ++i)
            threads.emplace_back([this, port] { Run(port); });
    }
    // CPU seconds the viewer threads have used so far: they stand for the
    // audience, not for our components, and are not counted as ours.
    double CpuSeconds() const {
        double total = 0;
        for (auto& t : threads) {
            clockid_t id;
            timespec ts{};
            if (pthread_getcpuclockid(const_cast<std::thread&>(t).native_handle(), &id) == 0 &&
                clock_gettime(id, &ts) == 0)
                total += double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
        }
        return total;
    }
    void Join() {
        stop = true;
        for (auto& t : threads)
            t.join();
        threads.clear();
    }

    // A plain HTTP viewer that times every data packet it receives.
    void Run(uint32_t port) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const char request[] = "GET / HTTP/1.0\r\nUser-Agent: kx-bench\r\n\r\n";
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::send(fd, request, sizeof request - 1, MSG_NOSIGNAL) < 0) {
            ::close(fd);
            return;
        }
        std::vector<uint8_t> buf;
        size_t bodyAt = 0, packetsAt = 0;
        uint32_t packetSize = 0;
        while (!stop) {
            pollfd pfd{fd, POLLIN, 0};
            if (::poll(&pfd, 1, 100) <= 0) continue;
            uint8_t chunk[16384];
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) break;
            bytes += uint64_t(n);
            buf.insert(buf.end(), chunk, chunk + n);
            if (!bodyAt) {
                static const char kEnd[] = "\r\n\r\n";
                auto it = std::search(buf.begin(), buf.end(), kEnd, kEnd + 4);
                if (it == buf.end()) continue;
                bodyAt = size_t(it - buf.begin()) + 4;
            }
            if (!packetSize) {
                uint64_t objectSize = 0;
                if (!AsfPacketizer::ParseHeader(buf.data() + bodyAt, buf.size() - bodyAt,
                                                objectSize, packetSize) ||
                    buf.size() - bodyAt < objectSize + 50) {
                    packetSize = 0;
                    continue;
                }
                packetsAt = bodyAt + size_t(objectSize) + 50;
            }
            LONGLONG now = 0;
            seeking->GetCurrentPosition(&now);
            while (buf.size() - packetsAt >= packetSize) {
                uint32_t sendTime = 0;
                if (SendTimeOf(buf.data() + packetsAt, packetSize, sendTime)) {
                    std::lock_guard g(lock);
                    latencies.push_back(double(now) / 1e4 - double(sendTime));
                }
                packetsAt += packetSize;
            }
            buf.erase(buf.begin(), buf.begin() + long(packetsAt));
            packetsAt = 0;
        }
        ::close(fd);
    }
};

// Browser viewers of /live.webm that time the first keyframe cluster and
// every block's arrival against its capture time.
struct TBrowserViewers : TViewers {
    std::vector<double> firstFrames; // under lock

    void Start(uint32_t port, int count) {
        for (int i = 0; i < count; ++i)
            threads.emplace_back([this, port] { RunWebm(port); });
    }

    // Capture times (ms) of the blocks in a piece: the cluster's timecode
    // (carried over from its first piece) plus each block's own offset.
    static void BlockTimes(const std::vector<uint8_t>& b, int64_t& cluster,
                           std::vector<int64_t>& out) {
        size_t at = 0;
        auto vint = [&](size_t p, uint64_t& v) -> size_t {
            if (p >= b.size() || b[p] == 0) return 0;
            size_t n = 1;
            while (!(b[p] & (0x80 >> (n - 1))))
                ++n;
            if (p + n > b.size()) return 0;
            v = b[p] & (0xFF >> n);
            for (size_t i = 1; i < n; ++i)
                v = v << 8 | b[p + i];
            return n;
        };
        while (at < b.size()) {
            const uint8_t f = b[at];
            const size_t idLen = f >= 0x80 ? 1 : f >= 0x40 ? 2 : f >= 0x20 ? 3 : 4;
            uint32_t id = 0;
            for (size_t i = 0; i < idLen && at + i < b.size(); ++i)
                id = id << 8 | b[at + i];
            uint64_t size = 0;
            const size_t sizeLen = vint(at + idLen, size);
            if (!sizeLen) return;
            const size_t body = at + idLen + sizeLen;
            if (id == 0x1F43B675) { // a cluster: its children follow
                at = body;
                continue;
            }
            if (id == 0xE7) {
                cluster = 0;
                for (size_t i = 0; i < size; ++i)
                    cluster = cluster << 8 | b[body + i];
            } else if (id == 0xA3) {
                uint64_t track = 0;
                const size_t n = vint(body, track);
                if (n && body + n + 2 <= b.size())
                    out.push_back(cluster + int16_t(b[body + n] << 8 | b[body + n + 1]));
            }
            at = body + size_t(size);
        }
    }

    void RunWebm(uint32_t port) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const char request[] = "GET /live.webm HTTP/1.1\r\nHost: bench\r\n\r\n";
        const auto asked = Clock::now();
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::send(fd, request, sizeof request - 1, MSG_NOSIGNAL) < 0) {
            ::close(fd);
            return;
        }
        WebmSplitter split;
        bool first = true;
        int64_t cluster = 0;
        std::vector<int64_t> times;
        split.OnPiece = [&](WebmSplitter::Bytes piece, bool start, bool) {
            if (first && start) {
                first = false;
                std::lock_guard g(lock);
                firstFrames.push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - asked).count());
            }
            times.clear();
            BlockTimes(piece, cluster, times);
            LONGLONG now = 0;
            seeking->GetCurrentPosition(&now);
            std::lock_guard g(lock);
            for (int64_t t : times)
                latencies.push_back(double(now) / 1e4 - double(t));
        };
        std::string head;
        while (!stop) {
            pollfd pfd{fd, POLLIN, 0};
            if (::poll(&pfd, 1, 100) <= 0) continue;
            uint8_t chunk[16384];
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) break;
            bytes += uint64_t(n);
            size_t from = 0;
            if (head.find("\r\n\r\n") == std::string::npos) {
                head.append(reinterpret_cast<char*>(chunk), size_t(n));
                const size_t end = head.find("\r\n\r\n");
                if (end == std::string::npos) continue;
                from = size_t(n) - (head.size() - end - 4);
            }
            split.Feed(chunk + from, size_t(n) - from);
        }
        ::close(fd);
    }
};

struct TOptions {
    uint32_t port = 8000;
    double seconds = 10;
    int profile = wmp_V80_56Video;
    uint32_t maxUsers = 3;
    int viewers = -1; // default: as many as may watch
    int browserViewers = 0;
    std::string relay;
};

struct TOurs {
    double cpuPerSecond = 0, startupMs = -1, latencyMs = -1, rssGrowthMb = 0;
    double webmFirstFrameMs = -1, webmLatencyMs = -1;
    double relayLatencyMs = -1;
    uint32_t port = 0;
};

ComPtr<TWMWriterNetworkSink> g_sink; // the sink our writer made, for the measurements

double Median(std::vector<double> v) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The relay's settings in the benchmark: the capture's size, the defaults' rates.
TRelaySettings BenchRelay(const std::string& url) {
    TRelaySettings s;
    s.Url = url;
    s.Width = 320;
    s.Height = 240;
    return s;
}

TOurs BroadcastThroughComponents(const TOptions& o, int browserViewers, bool relay) {
    TOurs r;
    TFilterGraph graph("CaptureGraph");
    graph.SetMode(gmCapture);
    TFilter video("VideoSourceFilter"), audio("AudioSourceFilter");
    TASFWriter writer("brimASF");
    TSideOutputs outputs;
    const bool withAudio = o.profile == wmp_V80_56Video;
    TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
    video.BaseFilter().AssignMoniker(devices.GetDeviceMoniker(Find(devices, "Test Pattern")).Get());
    video.SetFilterGraph(&graph);
    if (withAudio) {
        devices.SelectCategory(CLSID_AudioInputDeviceCategory);
        audio.BaseFilter().AssignMoniker(
            devices.GetDeviceMoniker(Find(devices, "Test Tone")).Get());
        audio.SetFilterGraph(&graph);
    }
    writer.SetFileName("brim.asf");
    writer.SetPort(o.port);
    writer.SetMaxUsers(o.maxUsers);
    writer.SetFilterGraph(&graph);
    writer.SetProfile(static_cast<TWMPofiles8>(o.profile));
    if (relay) outputs.SetRelay(BenchRelay(o.relay));
    graph.SetActive(true);
    auto builder = graph.Query<ICaptureGraphBuilder2>();
    auto sink = writer.Query<IBaseFilter>();
    HRESULT hr = builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video,
                                       video.Query<IBaseFilter>().Get(), nullptr, sink.Get());
    if (SUCCEEDED(hr) && withAudio)
        hr = builder->RenderStream(nullptr, &MEDIATYPE_Audio, audio.Query<IBaseFilter>().Get(),
                                   nullptr, sink.Get());
    if (FAILED(hr) || !g_sink) {
        std::fprintf(stderr, "broadcast: cannot build the graph (0x%08X%s)\n", unsigned(hr),
                     g_sink ? "" : ", no network sink: port taken?");
        std::exit(1);
    }
    outputs.Start(video, withAudio ? &audio : nullptr, writer.NetworkSink().Get());
    r.port = writer.Port();
    std::printf("streaming on %u\n", r.port);
    std::fflush(stdout);

    TViewers viewers;
    viewers.seeking = graph.Query<IMediaSeeking>();
    const int players = (o.viewers < 0 ? int(o.maxUsers) : o.viewers) - browserViewers;
    viewers.Start(r.port, std::max(0, players));
    TBrowserViewers browsers;
    browsers.seeking = viewers.seeking;

    AsfStreamServer& server = g_sink->Server();
    const double cpu0 = CpuSeconds() - viewers.CpuSeconds();
    const auto t0 = Clock::now();
    graph.Run();
    while (server.PacketsPushed() == 0 && Clock::now() - t0 < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (server.PacketsPushed() > 0)
        r.startupMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    // Browsers come once the broadcast runs, as visitors of the watch page do.
    browsers.Start(r.port, browserViewers);
    const double warmUp = std::max(1.0, o.seconds / 10);
    RunEventLoopFor(
        int(1000 * (warmUp - std::chrono::duration<double>(Clock::now() - t0).count())));
    const double rss0 = ResidentMb();
    std::unique_ptr<TRelayViewer> relayViewer;
    if (relay) {
        while (outputs.RelayStatus().State != TRelayState::Live &&
               Clock::now() - t0 < std::chrono::seconds(15))
            RunEventLoopFor(100);
        if (outputs.RelayStatus().State != TRelayState::Live)
            std::fprintf(stderr, "broadcast: the relay is not live: %s\n",
                         RelayStatusText(outputs.RelayStatus()).c_str());
        relayViewer = std::make_unique<TRelayViewer>(o.relay);
        while (relayViewer->Frames() == 0 && Clock::now() - t0 < std::chrono::seconds(20))
            RunEventLoopFor(100);
        // The Test Tone's lines: silence, then the tone, in turn; the viewer
        // times each tone from its switch to its arrival.
        auto line = [&](int pin) {
            TPinList pins(audio.Query<IBaseFilter>().Get());
            if (auto mixer = pins.PinAt(pin).Query<IAMAudioInputMixer>()) mixer->put_Enable(TRUE);
        };
        while (o.seconds - std::chrono::duration<double>(Clock::now() - t0).count() > 2.5) {
            line(3); // Silence
            RunEventLoopFor(1200);
            line(1); // Sine
            relayViewer->SoundStarted();
            RunEventLoopFor(1000);
        }
    }
    RunEventLoopFor(
        int(1000 * (o.seconds - std::chrono::duration<double>(Clock::now() - t0).count())));
    r.rssGrowthMb = ResidentMb() - rss0;
    const double viewerCpu = viewers.CpuSeconds() + browsers.CpuSeconds();
    r.cpuPerSecond = (CpuSeconds() - viewerCpu - cpu0) /
                     std::chrono::duration<double>(Clock::now() - t0).count();
    if (relayViewer) {
        r.relayLatencyMs = relayViewer->MedianLatencyMs();
        std::fprintf(stderr, "relay viewer: %zu frames, %zu tones timed; %s\n",
                     relayViewer->Frames(), relayViewer->Timed(),
                     RelayStatusText(outputs.RelayStatus()).c_str());
        relayViewer.reset();
    }

    outputs.Stop();
    graph.Stop();
    viewers.Join();
    browsers.Join();
    r.webmFirstFrameMs = Median(browsers.firstFrames);
    r.webmLatencyMs = Median(browsers.latencies);
    graph.SetActive(false);
    std::sort(viewers.latencies.begin(), viewers.latencies.end());
    if (!viewers.latencies.empty()) r.latencyMs = viewers.latencies[viewers.latencies.size() / 2];
    std::fprintf(
        stderr,
        "viewers used %.3f CPU s, received %.1f KB, %zu packets timed, %llu viewers dropped\n",
        viewerCpu, double(viewers.bytes) / 1024, viewers.latencies.size(),
        static_cast<unsigned long long>(server.ViewersDropped()));
    g_sink.Reset();
    return r;
}

// The same chain by hand, element for element up to the multiplexer: the
// capture filter's source, caps and branch queue, the converters, the
// writer's input queue and encoders; then a fake sink.
double BroadcastPlainPipeline(const TOptions& o, bool withWebm, bool withRelay = false) {
    const auto& p = AsfProfiles()[size_t(o.profile)];
    char video[1024], audio[1024];
    std::snprintf(
        video, sizeof video,
        "videotestsrc is-live=true ! video/x-raw,format=YUY2,width=320,height=240,framerate=30/1 ! "
        "tee ! queue ! videorate ! videoscale ! videoconvert ! queue leaky=2 max-size-buffers=0 "
        "max-size-bytes=0 "
        "max-size-time=1000000000 ! video/x-raw,format=I420,width=%d,height=%d,framerate=%d/%d,"
        "pixel-aspect-ratio=1/1 ! avenc_wmv2 bitrate=%d gop-size=%d ! identity single-segment=true "
        "! "
        "queue ! mux. ",
        p.Width, p.Height, p.FrameRateNum, p.FrameRateDen, p.VideoBitRate,
        2 * p.FrameRateNum / p.FrameRateDen);
    std::snprintf(audio, sizeof audio,
                  "audiotestsrc is-live=true ! "
                  "audio/x-raw,format=S16LE,layout=interleaved,rate=44100,channels=2 ! "
                  "tee ! queue ! audioconvert ! audioresample ! queue leaky=2 max-size-buffers=0 "
                  "max-size-bytes=0 "
                  "max-size-time=1000000000 ! audio/x-raw,format=F32LE,rate=%d,channels=%d ! "
                  "audiobuffersplit output-buffer-duration=1/50 ! avenc_wmav2 bitrate=%d ! "
                  "identity single-segment=true ! queue ! mux. ",
                  p.SampleRate, p.Channels, p.AudioBitRate);
    std::string description = "asfmux name=mux streamable=true packet-size=" +
                              std::to_string(std::clamp(p.TotalBitRate() / 80, 800, 4800)) +
                              " ! fakesink sync=false " + video + (p.HasAudio() ? audio : "");
    // Side outputs hang off the same tees.
    description = std::regex_replace(description, std::regex("^(.*?)tee !"), "$1tee name=vt !");
    description =
        std::regex_replace(description, std::regex("(audiotestsrc.*?)tee !"), "$1tee name=at !");
    if (withRelay) {
        const TRelaySettings s = BenchRelay(o.relay);
        description += RelayReferenceBranches(o.relay, s.Width, s.Height, 30, s.VideoKbps,
                                              s.AudioKbps, p.HasAudio());
    }
    if (withWebm) {
        // The browser stream's chain from the same tees: the side pipeline's
        // converters and encoders, with its settings.
        description +=
            " webmmux name=wmux streamable=true ! fakesink sync=false"
            " vt. ! queue leaky=2 max-size-buffers=3 ! videorate ! videoscale ! videoconvert ! "
            "video/x-raw,format=I420,width=320,height=240,framerate=15/1,pixel-aspect-ratio=1/1 ! "
            "vp8enc deadline=1 cpu-used=8 threads=1 lag-in-frames=0 end-usage=cbr "
            "target-bitrate=400000 keyframe-max-dist=15 ! queue ! wmux.";
        if (p.HasAudio())
            description += " at. ! queue leaky=2 max-size-buffers=3 ! audioconvert ! audioresample "
                           "! vorbisenc quality=0.1 ! queue ! wmux.";
    }
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (!pipeline) {
        std::fprintf(stderr, "broadcast: plain pipeline: %s\n", error ? error->message : "?");
        std::exit(1);
    }
    const double cpu0 = CpuSeconds();
    const auto t0 = Clock::now();
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    std::this_thread::sleep_for(std::chrono::duration<double>(o.seconds));
    const double perSecond =
        (CpuSeconds() - cpu0) / std::chrono::duration<double>(Clock::now() - t0).count();
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return perSecond;
}

bool ParseArgs(int argc, char** argv, TOptions& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char* value = argv[i + 1];
        if (key == "--port")
            o.port = uint32_t(std::strtoul(value, nullptr, 10));
        else if (key == "--seconds")
            o.seconds = std::atof(value);
        else if (key == "--profile")
            o.profile = std::atoi(value);
        else if (key == "--max-users")
            o.maxUsers = uint32_t(std::strtoul(value, nullptr, 10));
        else if (key == "--viewers")
            o.viewers = std::atoi(value);
        else if (key == "--browser-viewers")
            o.browserViewers = std::atoi(value);
        else if (key == "--relay")
            o.relay = value;
        else
            return false;
    }
    return argc % 2 == 1 && o.seconds > 0 &&
           (o.profile == wmp_V80_56Video || o.profile == wmp_V80_56VideoOnly) && o.port <= 65535 &&
           o.maxUsers > 0 && o.browserViewers >= 0 && uint32_t(o.browserViewers) <= o.maxUsers;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TOptions o;
    if (!ParseArgs(argc, argv, o)) {
        std::fprintf(stderr, "usage: broadcast --port P --seconds S [--profile 6|23] [--max-users "
                             "N] [--viewers V] [--browser-viewers B] [--relay URL]\n");
        return 2;
    }
    RegisterGstPlatform();
    RegisterWriterNetworkSink();
    RegisterAsfWriter();
    RegisterClassFactory(CLSID_WMWriterNetworkSink, [](REFIID iid, void** out) {
        g_sink = MakeComObject<TWMWriterNetworkSink>();
        return g_sink->QueryInterface(iid, out);
    });

    const TOurs ours = BroadcastThroughComponents(o, 0, false);
    const double plain = BroadcastPlainPipeline(o, false);
    std::printf("ours_cpu_per_s=%.4f plain_cpu_per_s=%.4f\n", ours.cpuPerSecond, plain);
    if (o.browserViewers > 0) {
        const TOurs browser = BroadcastThroughComponents(o, o.browserViewers, false);
        const double plainBoth = BroadcastPlainPipeline(o, true);
        std::printf("ours_browser_cpu_per_s=%.4f plain_both_cpu_per_s=%.4f\n", browser.cpuPerSecond,
                    plainBoth);
        std::printf("webm_first_frame_ms=%.0f webm_latency_ms=%.0f cpu_ratio_browser=%.3f\n",
                    browser.webmFirstFrameMs, browser.webmLatencyMs,
                    plainBoth > 0 ? browser.cpuPerSecond / plainBoth : 0.0);
    }
    if (!o.relay.empty()) {
        const TOurs relay = BroadcastThroughComponents(o, 0, true);
        const double plainRelay = BroadcastPlainPipeline(o, false, true);
        std::printf("ours_relay_cpu_per_s=%.4f plain_relay_cpu_per_s=%.4f\n", relay.cpuPerSecond,
                    plainRelay);
        std::printf("relay_cpu_ratio=%.3f relay_latency_ms=%.0f\n",
                    plainRelay > 0 ? relay.cpuPerSecond / plainRelay : 0.0, relay.relayLatencyMs);
    }
    std::printf("cpu_ratio=%.3f startup_ms=%.0f latency_ms=%.0f rss_growth_mb=%.2f\n",
                plain > 0 ? ours.cpuPerSecond / plain : 0.0, ours.startupMs, ours.latencyMs,
                ours.rssGrowthMb);
    return 0;
}
