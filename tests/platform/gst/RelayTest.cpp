// The relay of a broadcast to private RTMP (nginx) and Icecast servers,
// pulled back with ffprobe/ffmpeg, while the ASF stream and the preview go on.
#include "BroadcastTestSupport.h"
#include "RelayServers.h"
#include "media/VideoWindow.h"
#include "platform/RelayTarget.h"

#include <QWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <thread>

using namespace gsttest;
using namespace bcasttest;
using namespace relaytest;

namespace {

// An ASF viewer on its own thread: the longest wait between two arrivals.
class TGapWatcher {
  public:
    explicit TGapWatcher(uint32_t port) : viewer_(port, kPlainRequest) {
        thread_ = std::thread([this] {
            auto last = std::chrono::steady_clock::now();
            bool started = false;
            while (!stop_ && !viewer_.Closed()) {
                const size_t before = viewer_.Total();
                viewer_.ReadFor(20);
                const auto now = std::chrono::steady_clock::now();
                if (viewer_.Total() == before) continue;
                const auto gap =
                    std::chrono::duration_cast<std::chrono::milliseconds>(now - last).count();
                if (started && gap > maxGapMs_) maxGapMs_ = gap;
                started = true;
                last = now;
            }
        });
    }
    ~TGapWatcher() { Stop(); }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    int64_t MaxGapMs() const { return maxGapMs_; }
    size_t Total() const { return viewer_.Total(); }
    bool Closed() const { return viewer_.Closed(); }

  private:
    TViewer viewer_;
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> maxGapMs_{0};
    std::thread thread_;
};

// The broadcast as the window makes it: preview, ASF viewers, the relay.
struct TRelayRig {
    TScratchDir Dir;
    QWidget Form;
    TVideoWindow Window{&Form, "VideoWindow"};
    TBroadcastRig Rig{wmp_V80_56Video, true, Dir.File("brim.asf")};
    TRelayRig() {
        Form.resize(300, 260);
        Window.setGeometry(8, 26, 273, 217);
        Form.show();
        Window.SetFilterGraph(&Rig.Graph);
        EXPECT_EQ(S_OK, Rig.Builder->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr,
                                                  Rig.Video.Query<IBaseFilter>().Get(), nullptr,
                                                  Window.Query<IBaseFilter>().Get()));
    }
    ~TRelayRig() {
        Rig.Stop();
        Window.SetFilterGraph(nullptr);
    }
    void Relay(const std::string& url, int width = 256, int height = 192) {
        TRelaySettings s;
        s.Url = url;
        s.Width = width;
        s.Height = height;
        s.VideoKbps = 600;
        Rig.Outputs.SetRelay(s);
    }
    TRelayStatus Status() { return Rig.Outputs.RelayStatus(); }
    bool WaitFor(TRelayState state, int ms) {
        return PumpUntil([&] { return Status().State == state; }, ms);
    }
    uint64_t PreviewFrames() {
        auto* renderer = TGstVideoRenderer::From(Window.Query<IBaseFilter>().Get());
        return renderer ? renderer->FramesReceived() : 0;
    }
    // Preview frames a second over the next ms.
    double PreviewRate(int ms) {
        const uint64_t before = PreviewFrames();
        PumpFor(ms);
        return double(PreviewFrames() - before) * 1000 / ms;
    }
};

std::string Pull(const std::string& url) {
    int code = 0;
    return RunCommand("timeout 20 ffprobe -v error -rw_timeout 5000000 -show_entries "
                      "stream=codec_name,profile,pix_fmt,width,height -of default=nw=1 '" +
                          url + "' 2>&1",
                      code);
}

// Seconds of video ffmpeg decoded from the stream (first to last frame).
double DecodedSeconds(const std::string& url) {
    int code = 0;
    const std::string out =
        RunCommand("timeout 25 ffmpeg -nostdin -v error -rw_timeout 5000000 -i '" + url +
                       "' -t 4 -map 0:v:0 -f framecrc - 2>&1",
                   code);
    std::istringstream lines(out);
    std::string line;
    double tb = 0;
    long first = -1, last = -1;
    while (std::getline(lines, line)) {
        int num = 0, den = 0;
        if (std::sscanf(line.c_str(), "#tb 0: %d/%d", &num, &den) == 2 && den)
            tb = double(num) / den;
        long dts = 0, pts = 0;
        if (line[0] != '#' && std::sscanf(line.c_str(), "0, %ld, %ld", &dts, &pts) == 2) {
            if (first < 0) first = pts;
            last = pts;
        }
    }
    return first < 0 ? 0 : double(last - first) * tb;
}

bool Has(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos;
}

} // namespace

// The server is absent at the start, appears, then dies and comes back: the
// relay follows each change within one back-off step, the pulled stream is
// H.264 + AAC at the set size, and neither the ASF viewer nor the preview
// notices any of it.
TEST(Relay, RtmpFollowsTheServerWhileTheBroadcastGoesOn) {
    TRelayRig r;
    TNginxRtmp nginx(r.Dir.File("nginx"));
    r.Relay(nginx.Url("goodkey"));
    ASSERT_TRUE(r.Rig.Graph.Run());
    TGapWatcher viewer(r.Rig.Writer.Port());

    ASSERT_TRUE(r.WaitFor(TRelayState::Retrying, 5000));
    const TRelayStatus away = r.Status();
    EXPECT_LE(away.RetryInSeconds, 8);
    EXPECT_TRUE(Has(RelayStatusText(away), "relay: retrying in ")) << RelayStatusText(away);
    PumpFor(2000);

    ASSERT_TRUE(nginx.Start());
    EXPECT_TRUE(r.WaitFor(TRelayState::Live, 10000)) << RelayStatusText(r.Status());
    EXPECT_GT(r.Status().Kbps, 50);
    const std::string probe = Pull(nginx.Url("goodkey"));
    EXPECT_TRUE(Has(probe, "codec_name=h264")) << probe;
    EXPECT_TRUE(Has(probe, "profile=Main") || Has(probe, "profile=Constrained Baseline")) << probe;
    EXPECT_TRUE(Has(probe, "pix_fmt=yuv420p")) << probe;
    EXPECT_TRUE(Has(probe, "width=256")) << probe;
    EXPECT_TRUE(Has(probe, "height=192")) << probe;
    EXPECT_TRUE(Has(probe, "codec_name=aac")) << probe;
    EXPECT_GE(DecodedSeconds(nginx.Url("goodkey")), 3.0);
    EXPECT_TRUE(PumpUntil(
        [&] { return std::filesystem::exists(nginx.Dir() + "/hls/goodkey.m3u8"); }, 10000));
    const double liveRate = r.PreviewRate(1000);

    // Lost as in a crash, then back on the same port.
    nginx.Stop(SIGKILL);
    EXPECT_TRUE(r.WaitFor(TRelayState::Retrying, 5000)) << RelayStatusText(r.Status());
    const double outageRate = r.PreviewRate(2000);
    ASSERT_TRUE(nginx.Start());
    EXPECT_TRUE(r.WaitFor(TRelayState::Live, 10000)) << RelayStatusText(r.Status());
    EXPECT_TRUE(Has(Pull(nginx.Url("goodkey")), "codec_name=h264"));

    viewer.Stop();
    EXPECT_FALSE(viewer.Closed());
    EXPECT_GT(viewer.Total(), 20000u);
    EXPECT_LT(viewer.MaxGapMs(), 1000);
    EXPECT_GT(liveRate, 10);
    EXPECT_GE(outageRate, 0.8 * liveRate);
}

// A key or password the server turns away: said once, not asked again, and
// the broadcast goes on. The secret never shows.
TEST(Relay, RefusedKeysAndPasswordsAreNotRetried) {
    TRelayRig r;
    TNginxRtmp nginx(r.Dir.File("nginx"));
    TIcecast icecast(r.Dir.File("icecast"));
    ASSERT_TRUE(nginx.Start());
    ASSERT_TRUE(icecast.Start());
    r.Relay(nginx.Url("wrongkey123"));
    ASSERT_TRUE(r.Rig.Graph.Run());
    TGapWatcher viewer(r.Rig.Writer.Port());

    ASSERT_TRUE(r.WaitFor(TRelayState::Refused, 10000)) << RelayStatusText(r.Status());
    std::string text = RelayStatusText(r.Status());
    EXPECT_TRUE(Has(text, "relay: refused: ") && Has(text, "stream key")) << text;
    EXPECT_FALSE(Has(text, "wrongkey123")) << text;
    PumpFor(4000);
    EXPECT_EQ(1, nginx.PublishAttempts());
    EXPECT_EQ(TRelayState::Refused, r.Status().State);

    r.Relay(icecast.Url("badpassword", "/live.webm"));
    ASSERT_TRUE(r.WaitFor(TRelayState::Refused, 10000)) << RelayStatusText(r.Status());
    text = RelayStatusText(r.Status());
    EXPECT_TRUE(Has(text, "password")) << text;
    EXPECT_FALSE(Has(text, "badpassword")) << text;
    const int logins = icecast.BadLogins();
    EXPECT_GT(logins, 0);
    PumpFor(3000);
    EXPECT_EQ(logins, icecast.BadLogins());

    viewer.Stop();
    EXPECT_FALSE(viewer.Closed());
    EXPECT_LT(viewer.MaxGapMs(), 1000);
}

// Icecast takes the browser stream's encoding: VP8 + Vorbis in WebM. A
// server lost mid-stream is retried like an RTMP one and never takes the
// program down with it (its client library writes without MSG_NOSIGNAL).
TEST(Relay, IcecastMountCarriesVp8AndVorbis) {
    TRelayRig r;
    TIcecast icecast(r.Dir.File("icecast"));
    ASSERT_TRUE(icecast.Start());
    r.Relay(icecast.Url("goodpass", "/live.webm"));
    ASSERT_TRUE(r.Rig.Graph.Run());
    ASSERT_TRUE(r.WaitFor(TRelayState::Live, 10000)) << RelayStatusText(r.Status());
    const std::string probe =
        Pull("http://127.0.0.1:" + std::to_string(icecast.Port()) + "/live.webm");
    EXPECT_TRUE(Has(probe, "codec_name=vp8")) << probe;
    EXPECT_TRUE(Has(probe, "width=256")) << probe;
    EXPECT_TRUE(Has(probe, "codec_name=vorbis")) << probe;

    icecast.Stop(SIGKILL);
    EXPECT_TRUE(r.WaitFor(TRelayState::Retrying, 15000)) << RelayStatusText(r.Status());
    ASSERT_TRUE(icecast.Start());
    EXPECT_TRUE(r.WaitFor(TRelayState::Live, 10000)) << RelayStatusText(r.Status());
}

// Broadcasts started and stopped in a row while the relay retries against a
// port nobody listens on and a browser waits for its stream: every stop
// takes the side outputs down before the capture they are fed from (run
// under the thread checker, this is the test of that hand-over).
TEST(Relay, BroadcastsStartAndStopWhileTheRelayRetries) {
    const std::string nobody = "rtmp://127.0.0.1:" + std::to_string(FreePort()) + "/live/key";
    for (int round = 0; round < 5; ++round) {
        TScratchDir dir;
        TBroadcastRig rig(wmp_V80_56Video, true, dir.File("brim.asf"));
        TRelaySettings settings;
        settings.Url = nobody;
        rig.Outputs.SetRelay(settings);
        ASSERT_TRUE(rig.Graph.Run());
        TViewer browser(rig.Writer.Port(), "GET /live.webm HTTP/1.0\r\n\r\n");
        EXPECT_TRUE(PumpUntil(
            [&] { return rig.Outputs.RelayStatus().State == TRelayState::Retrying; }, 5000))
            << RelayStatusText(rig.Outputs.RelayStatus());
        browser.ReadFor(100 * round);
        rig.Stop();
        EXPECT_EQ(TRelayState::Off, rig.Outputs.RelayStatus().State);
    }
}
