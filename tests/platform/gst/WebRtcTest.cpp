// The WebRTC output of a broadcast, through its WHEP endpoint, with a
// webrtcbin of the test's own as the browser: negotiation, what arrives and
// when, several viewers on one encode, and the ends of a session.
#include "BroadcastTestSupport.h"
#include "platform/WhepHandle.h"
#include "support/WaitFor.h"
#include "support/WebRtcTestPeer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <thread>

using namespace gsttest;
using namespace bcasttest;
using namespace webrtctest;

namespace {

long Ms(Clock::duration d) {
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

size_t ViewerCount(IWhepEndpoint& whep) {
    std::vector<TStreamViewer> viewers;
    whep.GetViewers(viewers);
    return viewers.size();
}

struct TWebRtcRig {
    TScratchDir Dir;
    TBroadcastRig Rig;
    IWhepEndpoint* Whep = nullptr;
    std::atomic<int> Released{0};

    explicit TWebRtcRig(bool sound = true)
        : Rig(sound ? wmp_V80_56Video : wmp_V80_56VideoOnly, sound, Dir.File("brim.asf")) {
        EXPECT_TRUE(Rig.Graph.Run());
        Whep = Rig.Outputs.Whep();
        if (!Whep) return;
        TWhepNetwork network;
        network.Address = "127.0.0.1";
        network.MinPort = 51000;
        network.MaxPort = 51099;
        network.ConnectTimeout = std::chrono::milliseconds(1500);
        network.SilenceTimeout = std::chrono::milliseconds(3000);
        Whep->SetNetwork(network);
        Whep->SetAdmission({}, [this] { ++Released; });
    }
    TWhepAnswer Post(const std::string& offer) {
        return WhepHandle(*Whep, "POST", "/whep", "application/sdp", offer, "127.0.0.1:4242");
    }
    // A viewer that plays: answered, then decoding.
    TWhepAnswer Join(TBrowserPeer& peer) {
        TWhepAnswer a = Post(peer.Offer());
        if (a.Status == 201) peer.Answer(a.Body);
        return a;
    }
};

} // namespace

TEST(WebRtcOutput, PlaysH264AndOpusToAViewerAndEndsOnDelete) {
    TWebRtcRig rig;
    ASSERT_TRUE(rig.Whep);
    TBrowserPeer peer;
    std::string offer = peer.Offer();
    // A browser hiding its address offers an mDNS name; it must not spoil the session.
    const size_t mid = offer.find("a=mid:");
    ASSERT_NE(std::string::npos, mid);
    offer.insert(offer.find("\r\n", mid) + 2,
                 "a=candidate:9 1 UDP 2122260223 4f1c2b3a-0000-4d4d-9e9e-123456789abc.local "
                 "50999 typ host\r\n");

    const auto posted = Clock::now();
    TWhepAnswer a = rig.Post(offer);
    const auto answered = Clock::now();
    ASSERT_EQ(201, a.Status) << a.Body;
    EXPECT_EQ("application/sdp", a.ContentType);
    EXPECT_EQ(0u, a.Location.find("/whep/"));
    EXPECT_NE(std::string::npos, a.Body.find("a=candidate:")) << a.Body;
    EXPECT_NE(std::string::npos, a.Body.find("127.0.0.1")) << a.Body;
    EXPECT_EQ(std::string::npos, a.Body.find(".local")) << a.Body;
    // Host candidates only, on the given address and from the given ports.
    for (size_t at = a.Body.find("a=candidate:"); at != std::string::npos;
         at = a.Body.find("a=candidate:", at + 1)) {
        std::istringstream fields(a.Body.substr(at, a.Body.find("\r\n", at) - at));
        std::string foundation, component, transport, priority, address, type, typ;
        int port = 0;
        fields >> foundation >> component >> transport >> priority >> address >> port >> typ >>
            type;
        EXPECT_EQ("127.0.0.1", address);
        EXPECT_EQ("host", type);
        if (transport == "UDP" || transport == "udp") {
            EXPECT_GE(port, 51000);
            EXPECT_LE(port, 51099);
        }
    }
    // The constrained baseline format, not the High profile offered first.
    EXPECT_NE(std::string::npos, a.Body.find("a=rtpmap:102 H264/90000")) << a.Body;
    EXPECT_EQ(std::string::npos, a.Body.find("a=rtpmap:100 ")) << a.Body;
    EXPECT_NE(std::string::npos, a.Body.find("a=sendonly")) << a.Body;
    ASSERT_TRUE(peer.Answer(a.Body));

    EXPECT_TRUE(WaitFor([&] { return peer.Frames >= 10 && peer.AudioBuffers >= 10; }, 8000))
        << peer.Frames << " frames, " << peer.AudioBuffers << " audio buffers";
    ASSERT_NE(Clock::time_point{}, peer.FirstKeyframeAt());
    const long keyframeWait = Ms(peer.FirstKeyframeAt() - peer.FirstPacketAt());
    EXPECT_LE(keyframeWait, 300);
    std::printf("[ measured ] offer to answer %ld ms, answer to first decoded frame %ld ms, "
                "first packet to keyframe %ld ms\n",
                Ms(answered - posted), Ms(peer.FirstFrameAt() - answered), keyframeWait);

    std::vector<TStreamViewer> viewers;
    rig.Whep->GetViewers(viewers);
    ASSERT_EQ(1u, viewers.size());
    EXPECT_EQ(TStreamViewerKind::WebRtc, viewers[0].Kind);
    EXPECT_EQ("127.0.0.1:4242", viewers[0].Address);
    EXPECT_GT(viewers[0].BytesSent, 10000u);

    // A trickled candidate for a live session is taken; none for one unknown.
    const std::string frag = "a=mid:video0\r\na=candidate:7 1 UDP 2122252543 127.0.0.1 50998 typ "
                             "host\r\na=end-of-candidates\r\n";
    const char* type = "application/trickle-ice-sdpfrag";
    EXPECT_EQ(204, WhepHandle(*rig.Whep, "PATCH", a.Location, type, frag).Status);
    EXPECT_EQ(404, WhepHandle(*rig.Whep, "PATCH", "/whep/nosuch", type, frag).Status);

    EXPECT_EQ(200, WhepHandle(*rig.Whep, "DELETE", a.Location, "", "").Status);
    EXPECT_EQ(0u, ViewerCount(*rig.Whep));
    EXPECT_EQ(1, rig.Released.load());
    EXPECT_EQ(404, WhepHandle(*rig.Whep, "DELETE", a.Location, "", "").Status);
    // The last viewer gone, nothing is encoded.
    TSideOutputStatus status;
    auto output = QueryAs<ISideOutput>(rig.Whep);
    EXPECT_TRUE(WaitFor(
        [&] { return output->GetStatus(&status) == S_OK && status.State == TSideOutputState::Off; },
        2000));
}

TEST(WebRtcOutput, ViewersJoinAndLeaveWithoutStoppingTheOthers) {
    TWebRtcRig rig;
    ASSERT_TRUE(rig.Whep);
    TBrowserPeer first;
    ASSERT_EQ(201, rig.Join(first).Status);
    ASSERT_TRUE(WaitFor([&] { return first.Frames >= 10; }, 8000));
    {
        TBrowserPeer second(false); // video only
        const int before = first.Frames;
        ASSERT_EQ(201, rig.Join(second).Status);
        EXPECT_TRUE(WaitFor([&] { return second.Frames >= 10; }, 8000));
        // The first one's pictures went on while the second joined: no restart
        // (that would stop them for a second or more).
        EXPECT_GE(first.Frames - before, 5);
        EXPECT_EQ(2u, ViewerCount(*rig.Whep));
        std::vector<TStreamViewer> viewers;
        rig.Whep->GetViewers(viewers);
        EXPECT_EQ(S_OK, rig.Whep->DisconnectViewer(viewers[0].Id));
        EXPECT_EQ(S_FALSE, rig.Whep->DisconnectViewer(viewers[0].Id));
        const int left = second.Frames;
        EXPECT_TRUE(WaitFor([&] { return second.Frames >= left + 10; }, 4000));
    }
    // The second peer went away without a word: its connection is dropped
    // (failed or timed out) and its place freed.
    EXPECT_TRUE(WaitFor([&] { return rig.Released == 2; }, 6000)) << rig.Released;
    EXPECT_EQ(0u, ViewerCount(*rig.Whep));
}

TEST(WebRtcOutput, ThrottlesKeyframeRequests) {
    TWebRtcRig rig;
    ASSERT_TRUE(rig.Whep);
    TBrowserPeer peer(false);
    ASSERT_EQ(201, rig.Join(peer).Status);
    ASSERT_TRUE(WaitFor([&] { return peer.Frames >= 10; }, 8000));
    auto* output = dynamic_cast<TGstWebRtcOutput*>(rig.Whep);
    ASSERT_TRUE(output);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const uint64_t before = output->KeyframesForced();
    for (int i = 0; i < 20; ++i) {
        peer.RequestKeyframe();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const uint64_t forced = output->KeyframesForced() - before;
    EXPECT_GE(forced, 1u); // the requests reach the encoder
    EXPECT_LE(forced, 3u); // at most one every 500 ms of the 1.2 s
}

TEST(WebRtcOutput, RefusesWhatItCannotServeAndFreesPlacesNeverConnected) {
    TWebRtcRig rig;
    ASSERT_TRUE(rig.Whep);
    TBrowserPeer peer;
    const std::string offer = peer.Offer();

    bool admit = false;
    int asked = 0;
    rig.Whep->SetAdmission(
        [&] {
            ++asked;
            return admit;
        },
        [&] { ++rig.Released; });
    TWhepAnswer full = rig.Post(offer);
    EXPECT_EQ(503, full.Status);
    EXPECT_EQ(1, asked);
    EXPECT_EQ(400, rig.Post("hello").Status);
    EXPECT_EQ(1, asked); // a bad offer takes no place

    // Answered, but the viewer never takes the answer: no ICE, dropped in time.
    admit = true;
    ASSERT_EQ(201, rig.Post(offer).Status);
    EXPECT_EQ(1u, ViewerCount(*rig.Whep));
    EXPECT_TRUE(WaitFor([&] { return rig.Released == 1; }, 5000));
    EXPECT_EQ(0u, ViewerCount(*rig.Whep));
}

TEST(WebRtcOutput, BroadcastWithoutSoundAnswersAnOfferForBoth) {
    TWebRtcRig rig(false);
    ASSERT_TRUE(rig.Whep);
    TBrowserPeer peer;
    TWhepAnswer a = rig.Join(peer);
    ASSERT_EQ(201, a.Status) << a.Body;
    // The sound section refused, the pictures' SSRC named: what a browser
    // needs to place packets it cannot match by payload type.
    const size_t sound = a.Body.find("m=audio");
    ASSERT_NE(std::string::npos, sound) << a.Body;
    EXPECT_NE(std::string::npos, a.Body.find("a=inactive", sound)) << a.Body;
    EXPECT_NE(std::string::npos, a.Body.substr(0, sound).find("a=ssrc:")) << a.Body;
    EXPECT_TRUE(WaitFor([&] { return peer.Frames >= 10; }, 8000)) << peer.Frames;
    EXPECT_EQ(0, peer.AudioBuffers.load());
}
