// The browser stream of a broadcast: WebM made from the capture by a side
// pipeline while a browser watches, checked with ffprobe and a raw viewer.
#include "BroadcastTestSupport.h"
#include "platform/stream/WebmSplitter.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

using namespace gsttest;
using namespace bcasttest;

namespace {

const char* kWebmRequest = "GET /live.webm HTTP/1.1\r\nHost: x\r\nOrigin: http://x:8081\r\n\r\n";

// What a browser viewer got: the response head, then the WebM as split by
// the same rules the server uses.
struct TWebmReceived {
    std::string Head;
    bool HeaderSeen = false;
    std::string Codecs;
    std::vector<std::pair<bool, bool>> Pieces; // cluster start, joinable
};

TWebmReceived Parse(const std::string& data) {
    TWebmReceived r;
    const size_t body = data.find("\r\n\r\n");
    if (body == std::string::npos) return r;
    r.Head = data.substr(0, body + 4);
    WebmSplitter split;
    split.OnHeader = [&](WebmSplitter::Bytes, std::string codecs) {
        r.HeaderSeen = true;
        r.Codecs = codecs;
    };
    split.OnPiece = [&](WebmSplitter::Bytes, bool start, bool joinable) {
        r.Pieces.emplace_back(start, joinable);
    };
    split.Feed(reinterpret_cast<const uint8_t*>(data.data()) + body + 4, data.size() - body - 4);
    return r;
}

} // namespace

TEST(BrowserStream, MadeOnlyWhileABrowserWatchesAndPlaysFromAKeyframe) {
    TScratchDir dir;
    TBroadcastRig rig(wmp_V80_56Video, true, dir.File("brim.asf"));
    ASSERT_TRUE(rig.Graph.Run());
    AsfStreamServer* server = rig.Server();
    ASSERT_TRUE(server);
    const uint32_t port = rig.Writer.Port();
    PumpFor(1000);
    EXPECT_FALSE(server->HasWebmHeader()); // nobody watches: nothing is encoded

    {
        TViewer browser(port, kWebmRequest);
        browser.ReadFor(4000);
        TWebmReceived got = Parse(browser.Data());
        EXPECT_EQ(0u, got.Head.find("HTTP/1.0 200 OK\r\n")) << got.Head;
        EXPECT_NE(std::string::npos, got.Head.find("Access-Control-Allow-Origin: *\r\n"));
        EXPECT_NE(std::string::npos,
                  got.Head.find("Content-Type: video/webm; codecs=\"vp8, vorbis\"\r\n"))
            << got.Head;
        ASSERT_TRUE(got.HeaderSeen);
        ASSERT_FALSE(got.Pieces.empty());
        EXPECT_TRUE(got.Pieces.front().first && got.Pieces.front().second);
        // A keyframe a second: a few clusters in the time read.
        int clusters = 0;
        for (auto& p : got.Pieces)
            clusters += p.first && p.second;
        EXPECT_GE(clusters, 2);

        // A late joiner beside it, read by an independent client.
        int code = 0;
        const std::string probe =
            RunCommand("timeout 20 ffprobe -v error -show_entries stream=codec_name,width,height "
                       "-of default=nw=1 http://127.0.0.1:" +
                           std::to_string(port) + "/live.webm 2>&1",
                       code);
        EXPECT_NE(std::string::npos, probe.find("codec_name=vp8")) << probe;
        EXPECT_NE(std::string::npos, probe.find("width=320")) << probe;
        EXPECT_NE(std::string::npos, probe.find("height=240")) << probe;
        EXPECT_NE(std::string::npos, probe.find("codec_name=vorbis")) << probe;
    }
    // The last browser left: the side pipeline stops, the ASF stream goes on.
    EXPECT_TRUE(WaitFor([&] { return !server->HasWebmHeader(); }, 5000));
    const uint64_t pushed = server->PacketsPushed();
    PumpFor(1000);
    EXPECT_GT(server->PacketsPushed(), pushed);

    rig.Stop();
    EXPECT_NE(std::string::npos, Probe(dir.File("brim.asf")).find("codec_name=wmv2"));
}

TEST(BrowserStream, BrowsersAndPlayersShareTheViewerCap) {
    TScratchDir dir;
    TBroadcastRig rig(wmp_V80_56VideoOnly, false, dir.File("brim.asf"));
    ASSERT_TRUE(rig.Graph.Run());
    const uint32_t port = rig.Writer.Port();
    TViewer a(port, kPlainRequest), b(port, kPlayRequest), browser(port, kWebmRequest);
    browser.ReadFor(3000);
    EXPECT_EQ(0u, browser.Data().find("HTTP/1.0 200 OK")) << browser.Data().substr(0, 200);
    EXPECT_NE(std::string::npos, browser.Data().find("codecs=\"vp8\""));
    TViewer late(port, kWebmRequest);
    late.ReadFor(2000);
    EXPECT_EQ(0u, late.Data().find("HTTP/1.0 503 Service Unavailable")) << late.Data();
    EXPECT_NE(std::string::npos, late.Data().find("Access-Control-Allow-Origin: *"));
    EXPECT_NE(std::string::npos, late.Data().find("\r\n\r\nfull"));
    TViewer player(port, kPlainRequest);
    player.ReadFor(2000);
    EXPECT_EQ(0u, player.Data().find("HTTP/1.0 503 Service Unavailable"));
}

// A browser that stops reading is dropped like a stuck player; the capture,
// the ASF viewers and the archive go on, and the browser stream stops.
TEST(BrowserStream, AStuckBrowserIsDroppedWhileTheBroadcastGoesOn) {
    TScratchDir dir;
    TBroadcastRig rig(wmp_V80_56Video, true, dir.File("brim.asf"));
    ASSERT_TRUE(rig.Graph.Run());
    AsfStreamServer* server = rig.Server();
    ASSERT_TRUE(server);
    const uint32_t port = rig.Writer.Port();
    TViewer player(port, kPlainRequest);
    TViewer stuck(port, kWebmRequest, 2048);
    const auto start = std::chrono::steady_clock::now();
    while (server->ViewersDropped() == 0 &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(40)) {
        const size_t before = player.Total();
        player.ReadFor(1000);
        ASSERT_GT(player.Total(), before) << "the player was held back";
    }
    EXPECT_EQ(1u, server->ViewersDropped());
    EXPECT_TRUE(WaitFor([&] { return server->WebmViewerCount() == 0; }, 5000));
    EXPECT_TRUE(WaitFor([&] { return !server->HasWebmHeader(); }, 5000));
    const size_t before = player.Total();
    player.ReadFor(1500);
    EXPECT_GT(player.Total(), before);
    rig.Stop();
    EXPECT_NE(std::string::npos, Probe(dir.File("brim.asf")).find("codec_name=wmv2"));
}

TEST(BrowserStream, PictureSizeFollowsTheCaptureUpTo320x240) {
    int w = 0, h = 0;
    TGstWebmStream::FitSize(640, 480, w, h);
    EXPECT_EQ(320, w);
    EXPECT_EQ(240, h);
    TGstWebmStream::FitSize(176, 144, w, h); // smaller: kept
    EXPECT_EQ(176, w);
    EXPECT_EQ(144, h);
    TGstWebmStream::FitSize(352, 288, w, h); // the aspect kept, even sizes
    EXPECT_EQ(292, w);
    EXPECT_EQ(240, h);
    TGstWebmStream::FitSize(0, 0, w, h);
    EXPECT_EQ(320, w);
    EXPECT_EQ(240, h);
}
