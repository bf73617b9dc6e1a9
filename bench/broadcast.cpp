// Broadcast cost and delay: Test Pattern (320x240 YUY2, 30 fps captured) and
// Test Tone broadcast through our components for S seconds, as the main
// window does (ASF writer with network sink on the port, archive "brim.asf"
// in the current folder), with in-process viewers reading the plain stream;
// then the same capture-encode-multiplex chain as one hand-written GStreamer
// pipeline into a fake sink for S seconds. This is also the way to try the
// stream by hand: point a player at mms://HOST:P/ while it runs.
//
//   broadcast --port P --seconds S [--profile 6|23] [--max-users N] [--viewers V]
//             [--browser-viewers B] [--webrtc-viewers W] [--relay URL] [--mjpeg]
//
// With --mjpeg the camera is an MJPEG-only 1280 x 720 at 30 fps one
// (BenchFakeCamera.h); the plain pipeline decodes it once, then encodes the
// same outputs from the decoded pictures.
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
// With --webrtc-viewers W the broadcast runs again with W WebRTC viewers
// (taking places from the V), each a webrtcbin in a process of its own (so
// that its decoding is not counted as ours) that offers through the WHEP
// endpoint, against a plain pipeline that also makes the WebRTC encodes
// (H.264 constrained baseline and Opus, packetised for RTP); a further line
// gives webrtc_first_frame_ms (the offer posted to the viewer's first
// decoded picture, median over the viewers) and cpu_ratio_webrtc. A last
// run with one WebRTC viewer and one WebM viewer, both decoding as pictures
// come (no playout buffer), gives webrtc_glass_ms and webm_glass_ms: the
// median delay from a picture leaving the Test Pattern (which stamps the
// time into it) to its decoding (-1 with --mjpeg: only the Test Pattern's
// YUY2 pictures are stamped).
//
// With --relay URL (rtmp://... or icecast://..., a server that is running)
// the broadcast runs once more relaying to URL at the capture's size, with a
// viewer pulling the stream back from the server, against a plain pipeline
// that also makes and publishes the relay's encodes; a further line gives
// relay_cpu_ratio and relay_latency_ms (median delay from a frame's capture
// time to its arrival at the pulling viewer).
#include "BenchFakeCamera.h"
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
#include "platform/WhepHandle.h"
#include "platform/gst/GstAsfWriter.h"
#include "platform/gst/GstFilter.h"
#include "platform/gst/GstRegistration.h"
#include "platform/gst/GstUtil.h"
#include "platform/gst/GstWebRtcOutput.h"
#include "platform/stream/WMWriterNetworkSink.h"
#include "platform/stream/WebmSplitter.h"
#include "support/EventPump.h"
#include "support/GstSanitizerSuppressions.h"
#include "support/TestPorts.h"
#include "support/WebRtcTestPeer.h"

#include <QCoreApplication>

#include <gst/video/video.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
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

// A connection to the stream port on loopback with the request sent; -1
// when either fails.
int OpenRequest(uint32_t port, const char* request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in a = testports::Loopback(int(port));
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
        ::send(fd, request, std::strlen(request), MSG_NOSIGNAL) < 0) {
        if (fd >= 0) ::close(fd);
        return -1;
    }
    return fd;
}

constexpr char kWebmRequest[] = "GET /live.webm HTTP/1.1\r\nHost: bench\r\n\r\n";

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
        const int fd = OpenRequest(port, "GET / HTTP/1.0\r\nUser-Agent: kx-bench\r\n\r\n");
        if (fd < 0) return;
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
        const auto asked = Clock::now();
        const int fd = OpenRequest(port, kWebmRequest);
        if (fd < 0) return;
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

// Text over a pipe: a length line, then that many bytes.
bool WriteText(int fd, const std::string& text) {
    const std::string all = std::to_string(text.size()) + "\n" + text;
    return ::write(fd, all.data(), all.size()) == ssize_t(all.size());
}

bool ReadText(int fd, std::string& text, int timeoutMs) {
    std::string line;
    char c = 0;
    pollfd p{fd, POLLIN, 0};
    while (c != '\n') {
        if (::poll(&p, 1, timeoutMs) <= 0 || ::read(fd, &c, 1) != 1) return false;
        if (c != '\n') line += c;
    }
    text.assign(std::strtoul(line.c_str(), nullptr, 10), '\0');
    for (size_t got = 0; got < text.size();) {
        if (::poll(&p, 1, timeoutMs) <= 0) return false;
        const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n <= 0) return false;
        got += size_t(n);
    }
    return true;
}

// What a viewer's jitter buffer holds: about what a browser starts with on
// loopback, not webrtcbin's 200 ms default, which would be counted as ours.
constexpr unsigned kViewerLatencyMs = 50;

int64_t MonotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}

// Glass to glass: the Test Pattern's pictures carry the (monotonic, so
// shared by every process) time they left the source as 32 blocks of
// 10 x 16 pixels, black or white, across the top, and the same bits
// inverted below them; a viewer reads them back from its decoded picture.
constexpr int kStampBits = 32, kStampWidth = 10, kStampHeight = 16;

GstPadProbeReturn StampPicture(GstPad* pad, GstPadProbeInfo* info, gpointer) {
    GstVideoInfo video;
    TGstCapsRef caps(gst_pad_get_current_caps(pad));
    if (!caps || !gst_video_info_from_caps(&video, caps.get()) ||
        GST_VIDEO_INFO_FORMAT(&video) != GST_VIDEO_FORMAT_YUY2 ||
        GST_VIDEO_INFO_WIDTH(&video) < kStampBits * kStampWidth ||
        GST_VIDEO_INFO_HEIGHT(&video) < 2 * kStampHeight)
        return GST_PAD_PROBE_OK;
    GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_WRITE)) return GST_PAD_PROBE_OK;
    const uint32_t now = uint32_t(MonotonicMs());
    const int stride = GST_VIDEO_INFO_PLANE_STRIDE(&video, 0);
    for (int y = 0; y < 2 * kStampHeight; ++y)
        for (int x = 0; x < kStampBits * kStampWidth; ++x) {
            const bool bit = (now >> (x / kStampWidth)) & 1;
            uint8_t* px = map.data + y * stride + 2 * x;
            px[0] = (bit != (y >= kStampHeight)) ? 235 : 16; // luma
            px[1] = 128;                                     // chroma
        }
    gst_buffer_unmap(buffer, &map);
    return GST_PAD_PROBE_OK;
}

// Stamps what the capture filter's Test Pattern source makes.
void StampTestPattern(TFilter& video) {
    auto filter = QueryAs<IGstFilter>(video.Query<IBaseFilter>().Get());
    if (!filter) return;
    GstIterator* it = gst_bin_iterate_recurse(GST_BIN(filter->Element()));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto* element = GST_ELEMENT(g_value_get_object(&item));
        GstElementFactory* factory = gst_element_get_factory(element);
        if (factory && std::string(GST_OBJECT_NAME(factory)) == "videotestsrc") {
            TGstRef<GstPad> src(gst_element_get_static_pad(element, "src"));
            gst_pad_add_probe(src.get(), GST_PAD_PROBE_TYPE_BUFFER, &StampPicture, nullptr,
                              nullptr);
        }
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
}

// How long ago a decoded I420 picture left the source; false without a stamp.
bool StampAge(GstBuffer* picture, GstPad* pad, double& ms) {
    GstVideoInfo video;
    TGstCapsRef caps(gst_pad_get_current_caps(pad));
    if (!caps || !gst_video_info_from_caps(&video, caps.get()) ||
        GST_VIDEO_INFO_FORMAT(&video) != GST_VIDEO_FORMAT_I420 ||
        GST_VIDEO_INFO_WIDTH(&video) < kStampBits * kStampWidth)
        return false;
    GstMapInfo map;
    if (!gst_buffer_map(picture, &map, GST_MAP_READ)) return false;
    const int stride = GST_VIDEO_INFO_PLANE_STRIDE(&video, 0);
    uint32_t stamp = 0;
    bool whole = true;
    for (int bit = 0; bit < kStampBits; ++bit) {
        const int x = bit * kStampWidth + kStampWidth / 2;
        const bool top = map.data[(kStampHeight / 2) * stride + x] > 128;
        const bool below = map.data[(kStampHeight + kStampHeight / 2) * stride + x] > 128;
        whole = whole && top != below;
        stamp |= uint32_t(top) << bit;
    }
    gst_buffer_unmap(picture, &map);
    ms = double(uint32_t(MonotonicMs()) - stamp);
    return whole && ms >= 0 && ms < 10000;
}

// A viewer process's glass-to-glass delays, and their median said on its
// output once its input closes.
struct TGlass {
    std::mutex lock; // guards ages
    std::vector<double> ages;
    void Picture(GstBuffer* picture, GstPad* pad) {
        double ms = 0;
        if (!StampAge(picture, pad, ms)) return;
        std::lock_guard g(lock);
        ages.push_back(ms);
    }
    int UntilInputCloses() {
        char c;
        while (::read(0, &c, 1) > 0) {
        }
        std::lock_guard g(lock);
        WriteText(1, std::to_string(Median(ages)));
        return 0;
    }
};

// A WebRTC viewer in a process of its own (this program, run with
// --webrtc-viewer): its offer out, the answer in, "frame" out at its first
// decoded picture, its glass-to-glass median when its input closes.
int RunWebRtcViewer() {
    gst_init(nullptr, nullptr);
    TGlass glass;
    webrtctest::TBrowserPeer peer;
    peer.SetLatency(kViewerLatencyMs);
    peer.OnPicture = [&](GstBuffer* b, GstPad* pad) { glass.Picture(b, pad); };
    std::string answer;
    if (!WriteText(1, peer.Offer()) || !ReadText(0, answer, 20000) || !peer.Answer(answer))
        return 1;
    while (peer.Frames == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    WriteText(1, "frame");
    return glass.UntilInputCloses();
}

// A browser-stream viewer in a process of its own (--webm-viewer PORT): it
// decodes /live.webm as it arrives and says its glass-to-glass median when
// its input closes. No Media Source buffering: the WebM path at its best.
int RunWebmViewer(int port) {
    gst_init(nullptr, nullptr);
    TGlass glass;
    GstElement* pipeline = gst_parse_launch(
        "appsrc name=in is-live=true ! matroskademux ! vp8dec ! videoconvert ! "
        "video/x-raw,format=I420 ! fakesink name=out signal-handoffs=true sync=false",
        nullptr);
    if (!pipeline) return 1;
    GstElement* in = gst_bin_get_by_name(GST_BIN(pipeline), "in");
    GstElement* out = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    g_signal_connect(out, "handoff",
                     G_CALLBACK(+[](GstElement*, GstBuffer* b, GstPad* pad, gpointer g) {
                         static_cast<TGlass*>(g)->Picture(b, pad);
                     }),
                     &glass);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    std::thread reader([&] {
        const int fd = OpenRequest(port, kWebmRequest);
        if (fd < 0) return;
        std::string head;
        uint8_t chunk[16384];
        ssize_t n;
        while ((n = ::recv(fd, chunk, sizeof chunk, 0)) > 0) {
            size_t from = 0;
            if (head.find("\r\n\r\n") == std::string::npos) {
                head.append(reinterpret_cast<char*>(chunk), size_t(n));
                const size_t end = head.find("\r\n\r\n");
                if (end == std::string::npos) continue;
                from = size_t(n) - (head.size() - end - 4);
            }
            if (size_t(n) == from) continue;
            GstBuffer* b = gst_buffer_new_memdup(chunk + from, size_t(n) - from);
            GstFlowReturn ret;
            g_signal_emit_by_name(in, "push-buffer", b, &ret);
            gst_buffer_unref(b);
        }
        ::close(fd);
    });
    const int status = glass.UntilInputCloses();
    std::_Exit(status); // the reader may still wait on its socket
}

// Viewers in child processes (this program in a viewer's mode).
struct TChildViewers {
    struct TChild {
        pid_t Pid = -1;
        int In = -1, Out = -1; // its standard input, its standard output
    };
    std::vector<TChild> children;
    std::mutex lock; // guards firstFrames and glass
    std::vector<double> firstFrames, glass;
    std::vector<std::thread> threads;

    TChild Spawn(std::vector<std::string> args) {
        TChild c;
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return c;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        args.insert(args.begin(), "/proc/self/exe");
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&c.Pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) c.Pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        c.In = in[1];
        c.Out = out[0];
        children.push_back(c);
        return c;
    }
    void StartWebRtc(IWhepEndpoint* whep, int count) {
        for (int i = 0; i < count && whep; ++i) {
            const TChild c = Spawn({"--webrtc-viewer"});
            threads.emplace_back([this, whep, c] { Offer(*whep, c); });
        }
    }
    void StartWebm(uint32_t port, int count) {
        for (int i = 0; i < count; ++i)
            Spawn({"--webm-viewer", std::to_string(port)});
    }
    void Offer(IWhepEndpoint& whep, const TChild& c) {
        std::string offer, frame;
        if (!ReadText(c.Out, offer, 10000)) return;
        const auto posted = Clock::now();
        const TWhepAnswer a = WhepHandle(whep, "POST", "/whep", "application/sdp", offer,
                                         "127.0.0.1:" + std::to_string(c.Pid));
        if (a.Status != 201) {
            std::fprintf(stderr, "webrtc viewer: %d %s", a.Status, a.Body.c_str());
            return;
        }
        const auto answered = Clock::now();
        if (!WriteText(c.In, a.Body) || !ReadText(c.Out, frame, 15000)) return;
        auto ms = [](Clock::duration d) {
            return std::chrono::duration<double, std::milli>(d).count();
        };
        std::fprintf(stderr, "webrtc viewer: answered in %.0f ms, first picture %.0f ms later\n",
                     ms(answered - posted), ms(Clock::now() - answered));
        std::lock_guard g(lock);
        firstFrames.push_back(ms(Clock::now() - posted));
    }
    void Stop() {
        for (auto& t : threads)
            t.join();
        threads.clear();
        for (TChild& c : children) {
            ::close(c.In); // the child says its glass-to-glass median and ends
            std::string median;
            if (ReadText(c.Out, median, 5000) && std::atof(median.c_str()) > 0) {
                std::lock_guard g(lock);
                glass.push_back(std::atof(median.c_str()));
            }
            ::close(c.Out);
            int status = 0;
            for (int i = 0; i < 50 && ::waitpid(c.Pid, &status, WNOHANG) == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (::waitpid(c.Pid, &status, WNOHANG) == 0) {
                ::kill(c.Pid, SIGKILL);
                ::waitpid(c.Pid, &status, 0);
            }
        }
        children.clear();
    }
};

struct TOptions {
    uint32_t port = 8000;
    double seconds = 10;
    int profile = wmp_V80_56Video;
    uint32_t maxUsers = 3;
    int viewers = -1; // default: as many as may watch
    int browserViewers = 0;
    int webRtcViewers = 0;
    std::string relay;
    bool mjpeg = false; // the bench MJPEG camera instead of the Test Pattern
};

struct TOurs {
    double cpuPerSecond = 0, startupMs = -1, latencyMs = -1, rssGrowthMb = 0;
    double webmFirstFrameMs = -1, webmLatencyMs = -1;
    double webRtcFirstFrameMs = -1, webRtcGlassMs = -1, webmGlassMs = -1;
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

TOurs BroadcastThroughComponents(const TOptions& o, int browserViewers, bool relay,
                                 int webRtcViewers = 0, bool glass = false) {
    TOurs r;
    TFilterGraph graph("CaptureGraph");
    graph.SetMode(gmCapture);
    TFilter video("VideoSourceFilter"), audio("AudioSourceFilter");
    TASFWriter writer("brimASF");
    TSideOutputs outputs;
    const bool withAudio = o.profile == wmp_V80_56Video;
    TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
    video.BaseFilter().AssignMoniker(
        devices.GetDeviceMoniker(Find(devices, o.mjpeg ? kBenchMjpegCamera : "Test Pattern"))
            .Get());
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
    TWhepNetwork network;
    network.Address = "127.0.0.1";
    network.MinPort = 52000;
    network.MaxPort = 52099;
    outputs.SetWebRtcNetwork(network);
    graph.SetActive(true);
    auto builder = graph.Query<ICaptureGraphBuilder2>();
    auto sink = writer.Query<IBaseFilter>();
    HRESULT hr = builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video,
                                       video.Query<IBaseFilter>().Get(), nullptr, sink.Get());
    if (SUCCEEDED(hr) && withAudio)
        hr = builder->RenderStream(nullptr, &MEDIATYPE_Audio, audio.Query<IBaseFilter>().Get(),
                                   nullptr, sink.Get());
    if (glass) StampTestPattern(video);
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
    const int players = (o.viewers < 0 ? int(o.maxUsers) : o.viewers) - browserViewers -
                        webRtcViewers - (glass ? 1 : 0);
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
    TChildViewers phones, webmGlass;
    phones.StartWebRtc(outputs.Whep(), webRtcViewers);
    if (glass) webmGlass.StartWebm(r.port, 1);
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

    phones.Stop();
    webmGlass.Stop();
    r.webRtcFirstFrameMs = Median(phones.firstFrames);
    r.webRtcGlassMs = Median(phones.glass);
    r.webmGlassMs = Median(webmGlass.glass);
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
double BroadcastPlainPipeline(const TOptions& o, bool withWebm, bool withRelay = false,
                              bool withWebRtc = false) {
    const auto& p = AsfProfiles()[size_t(o.profile)];
    char video[1024], audio[1024];
    // The MJPEG camera is decoded once, before everything that needs pictures.
    const std::string source =
        o.mjpeg ? std::string(kBenchMjpegSource) + " ! queue leaky=2 max-size-buffers=4 ! jpegdec"
                : "videotestsrc is-live=true ! "
                  "video/x-raw,format=YUY2,width=320,height=240,framerate=30/1";
    std::snprintf(
        video, sizeof video,
        "%s ! "
        "tee ! queue ! videorate ! videoscale ! videoconvert ! queue leaky=2 max-size-buffers=0 "
        "max-size-bytes=0 "
        "max-size-time=1000000000 ! video/x-raw,format=I420,width=%d,height=%d,framerate=%d/%d,"
        "pixel-aspect-ratio=1/1 ! avenc_wmv2 bitrate=%d gop-size=%d ! identity single-segment=true "
        "! "
        "queue ! mux. ",
        source.c_str(), p.Width, p.Height, p.FrameRateNum, p.FrameRateDen, p.VideoBitRate,
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
    if (withWebRtc) {
        // The WebRTC output's shared encode from the same tees, up to RTP,
        // at the output's size for the capture.
        int width = 0, height = 0;
        FitPictureSize(o.mjpeg ? 1280 : 320, o.mjpeg ? 720 : 240, TGstWebRtcOutput::kMaxWidth,
                       TGstWebRtcOutput::kMaxHeight, width, height);
        description +=
            " vt. ! queue leaky=2 max-size-buffers=3 ! videorate ! videoscale ! videoconvert ! "
            "video/x-raw,format=I420,width=" +
            std::to_string(width) + ",height=" + std::to_string(height) +
            ",framerate=30/1,pixel-aspect-ratio=1/1 ! "
            "x264enc tune=zerolatency speed-preset=veryfast bitrate=" +
            std::to_string(TGstWebRtcOutput::kVideoKbps) +
            " key-int-max=60 bframes=0 ! "
            "video/x-h264,profile=constrained-baseline ! h264parse config-interval=-1 ! "
            "rtph264pay config-interval=-1 mtu=1200 aggregate-mode=zero-latency ! "
            "fakesink sync=false";
        if (p.HasAudio())
            description += " at. ! queue leaky=2 max-size-buffers=3 ! audioconvert ! audioresample "
                           "! audio/x-raw,rate=48000 ! opusenc bitrate=64000 ! rtpopuspay ! "
                           "fakesink sync=false";
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
    int pairs = 0;
    for (int i = 1; i < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--mjpeg") {
            o.mjpeg = true;
            --i;
            continue;
        }
        if (i + 1 >= argc) return false;
        ++pairs;
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
        else if (key == "--webrtc-viewers")
            o.webRtcViewers = std::atoi(value);
        else if (key == "--relay")
            o.relay = value;
        else
            return false;
    }
    return pairs >= 0 && o.seconds > 0 &&
           (o.profile == wmp_V80_56Video || o.profile == wmp_V80_56VideoOnly) && o.port <= 65535 &&
           o.maxUsers > 0 && o.browserViewers >= 0 && uint32_t(o.browserViewers) <= o.maxUsers &&
           o.webRtcViewers >= 0 && uint32_t(o.webRtcViewers) <= o.maxUsers;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--webrtc-viewer") == 0) return RunWebRtcViewer();
    if (argc == 3 && std::strcmp(argv[1], "--webm-viewer") == 0)
        return RunWebmViewer(std::atoi(argv[2]));
    QCoreApplication app(argc, argv);
    TOptions o;
    if (!ParseArgs(argc, argv, o)) {
        std::fprintf(stderr, "usage: broadcast --port P --seconds S [--profile 6|23] [--max-users "
                             "N] [--viewers V] [--browser-viewers B] [--webrtc-viewers W] "
                             "[--relay URL] [--mjpeg]\n");
        return 2;
    }
    RegisterGstPlatform();
    // Once a process, as a broadcast's start makes it: not a cost per stream second.
    PrepareDtlsCertificate();
    RegisterWriterNetworkSink();
    RegisterAsfWriter();
    if (o.mjpeg) RegisterBenchMjpegCamera();
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
    if (o.webRtcViewers > 0) {
        const TOurs webRtc = BroadcastThroughComponents(o, 0, false, o.webRtcViewers);
        const double plainWebRtc = BroadcastPlainPipeline(o, false, false, true);
        std::printf("ours_webrtc_cpu_per_s=%.4f plain_webrtc_cpu_per_s=%.4f\n", webRtc.cpuPerSecond,
                    plainWebRtc);
        std::printf("webrtc_first_frame_ms=%.0f cpu_ratio_webrtc=%.3f\n", webRtc.webRtcFirstFrameMs,
                    plainWebRtc > 0 ? webRtc.cpuPerSecond / plainWebRtc : 0.0);
        // Both paths at once from stamped pictures, each decoded as it comes.
        const TOurs glass = BroadcastThroughComponents(o, 0, false, 1, true);
        std::printf("webrtc_glass_ms=%.0f webm_glass_ms=%.0f\n", glass.webRtcGlassMs,
                    glass.webmGlassMs);
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
