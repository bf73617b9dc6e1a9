// The WHEP endpoint's HTTP answers and what it reads in SDP, with a fake
// endpoint behind it.
#include "platform/WhepHandle.h"
#include "platform/WhepSdp.h"
#include "support/FakeWhepEndpoint.h"

#include <gtest/gtest.h>

namespace {

// What a browser offers: several H.264 profiles and modes besides VP8.
const char* kBrowserOffer =
    "v=0\r\n"
    "o=- 4611731400430051336 2 IN IP4 127.0.0.1\r\n"
    "s=-\r\nt=0 0\r\n"
    "a=group:BUNDLE 0 1\r\n"
    "m=audio 9 UDP/TLS/RTP/SAVPF 111\r\n"
    "a=mid:0\r\na=recvonly\r\n"
    "a=rtpmap:111 opus/48000/2\r\n"
    "a=fmtp:111 minptime=10;useinbandfec=1\r\n"
    "m=video 9 UDP/TLS/RTP/SAVPF 96 102 106 112\r\n"
    "a=mid:1\r\na=recvonly\r\n"
    "a=candidate:1 1 udp 2122260223 a1b2c3d4-0000-4444-8888-9999aaaabbbb.local 50001 typ host\r\n"
    "a=candidate:2 1 udp 2122194687 192.168.1.20 50002 typ host\r\n"
    "a=rtpmap:96 VP8/90000\r\n"
    "a=rtpmap:102 H264/90000\r\n"
    "a=fmtp:102 level-asymmetry-allowed=1;packetization-mode=1;profile-level-id=42001f\r\n"
    "a=rtpmap:106 H264/90000\r\n"
    "a=fmtp:106 level-asymmetry-allowed=1;packetization-mode=0;profile-level-id=42e01f\r\n"
    "a=rtpmap:112 H264/90000\r\n"
    "a=fmtp:112 level-asymmetry-allowed=1;packetization-mode=1;profile-level-id=42E01F\r\n";

using TFakeEndpoint = TFakeWhepEndpoint;

} // namespace

TEST(WhepHandle, AnswersAnOfferWithTheSessionsAddress) {
    TFakeEndpoint e;
    TWhepAnswer a = WhepHandle(e, "POST", "/whep", "application/SDP; charset=utf-8", kBrowserOffer,
                               "10.0.0.5:40000");
    EXPECT_EQ(201, a.Status);
    EXPECT_EQ("application/sdp", a.ContentType);
    EXPECT_EQ("v=0\r\nanswer\r\n", a.Body);
    EXPECT_EQ("/whep/abc123", a.Location);
    EXPECT_EQ(kBrowserOffer, e.Offered);
    EXPECT_EQ("10.0.0.5:40000", e.Peer);

    e.Next = {503, {}, {}, "the stream has as many viewers as it takes"};
    a = WhepHandle(e, "POST", "/whep", "application/sdp", kBrowserOffer);
    EXPECT_EQ(503, a.Status);
    EXPECT_EQ("the stream has as many viewers as it takes\n", a.Body);
    EXPECT_TRUE(a.Location.empty());
    e.Next = {400, {}, {}, "no answer:\nline two"};
    EXPECT_EQ("no answer: line two\n", WhepHandle(e, "POST", "/whep", "application/sdp",
                                                  kBrowserOffer)
                                           .Body); // one line
}

TEST(WhepHandle, TurnsAwayWhatIsNotAnOfferWithoutAskingTheEndpoint) {
    TFakeEndpoint e;
    auto post = [&](std::string_view type, std::string_view body) {
        return WhepHandle(e, "POST", "/whep", type, body);
    };
    EXPECT_EQ(415, post("text/plain", kBrowserOffer).Status);
    EXPECT_EQ(413, post("application/sdp", std::string(1 << 20, 'v')).Status);
    TWhepAnswer a = post("application/sdp", "GET / HTTP/1.0");
    EXPECT_EQ(400, a.Status);
    EXPECT_EQ("the offer is not SDP\n", a.Body);
    EXPECT_EQ(400, post("application/sdp", "v=0\r\nm=audio 9 UDP/TLS/RTP/SAVPF 111\r\n").Status);
    a = post("application/sdp", "v=0\r\nm=video 9 UDP/TLS/RTP/SAVPF 96\r\n"
                                "a=rtpmap:96 VP8/90000\r\n");
    EXPECT_EQ(400, a.Status);
    EXPECT_NE(std::string::npos, a.Body.find("H.264 constrained baseline")) << a.Body;
    std::string many = "v=0\r\n";
    for (int i = 0; i < 9; ++i)
        many += "m=video 9 UDP/TLS/RTP/SAVPF 102\r\na=rtpmap:102 H264/90000\r\n"
                "a=fmtp:102 packetization-mode=1;profile-level-id=42e01f\r\n";
    EXPECT_EQ(400, post("application/sdp", many).Status);
    EXPECT_EQ(0, e.Offers);
}

TEST(WhepHandle, SessionsArePatchedAndDeletedAtTheirAddress) {
    TFakeEndpoint e;
    const char* frag = "a=ice-ufrag:x\r\na=ice-pwd:y\r\nm=audio 9 RTP/AVP 0\r\na=mid:0\r\n"
                       "a=candidate:1 1 udp 1 127.0.0.1 5000 typ host\r\n";
    EXPECT_EQ(
        204,
        WhepHandle(e, "PATCH", "/whep/abc123", "application/trickle-ice-sdpfrag", frag).Status);
    EXPECT_EQ(frag, e.Patched);
    EXPECT_EQ(
        404,
        WhepHandle(e, "PATCH", "/whep/other1", "application/trickle-ice-sdpfrag", frag).Status);
    EXPECT_EQ(415, WhepHandle(e, "PATCH", "/whep/abc123", "application/sdp", frag).Status);
    EXPECT_EQ(200, WhepHandle(e, "DELETE", "/whep/abc123", "", "").Status);
    EXPECT_EQ(404, WhepHandle(e, "DELETE", "/whep/other1", "", "").Status);
    // Only ids we could have made reach the endpoint.
    e.Deleted.clear();
    EXPECT_EQ(404, WhepHandle(e, "DELETE", "/whep/../x", "", "").Status);
    EXPECT_EQ(404, WhepHandle(e, "DELETE", "/whepx", "", "").Status);
    EXPECT_TRUE(e.Deleted.empty());

    TWhepAnswer a = WhepHandle(e, "OPTIONS", "/whep", "", "");
    EXPECT_EQ(204, a.Status);
    EXPECT_EQ("POST, OPTIONS", a.Allow);
    EXPECT_EQ("PATCH, DELETE, OPTIONS", WhepHandle(e, "OPTIONS", "/whep/abc123", "", "").Allow);
    a = WhepHandle(e, "GET", "/whep", "", "");
    EXPECT_EQ(405, a.Status);
    EXPECT_EQ("POST, OPTIONS", a.Allow);
    EXPECT_EQ(405, WhepHandle(e, "POST", "/whep/abc123", "application/sdp", kBrowserOffer).Status);
    EXPECT_EQ(404, WhepHandle(e, "POST", "/other", "application/sdp", kBrowserOffer).Status);
}

TEST(WhepSdp, PicksConstrainedBaselineInPacketizationModeOne) {
    const TWhepVideoFormat f = WhepVideoFormat(kBrowserOffer);
    EXPECT_EQ(112, f.Pt); // not baseline 42001f, not mode 0
    EXPECT_EQ("42e01f", f.ProfileLevelId);
    EXPECT_EQ("", WhepOfferProblem(kBrowserOffer));
    EXPECT_EQ((std::vector<std::string>{"0", "1"}), SdpMids(kBrowserOffer));
}

TEST(WhepSdp, LeavesOutMdnsCandidatesAndReadsTrickledOnes) {
    const std::string clean = WithoutMdnsCandidates(kBrowserOffer);
    EXPECT_EQ(std::string::npos, clean.find(".local"));
    EXPECT_NE(std::string::npos, clean.find("192.168.1.20 50002 typ host\r\n"));

    std::vector<TSdpCandidate> got;
    ASSERT_TRUE(FragmentCandidates("a=ice-ufrag:x\r\nm=video 9 RTP/AVP 0\r\na=mid:1\r\n"
                                   "a=candidate:2 1 udp 5 10.0.0.1 6000 typ host\r\n"
                                   "a=end-of-candidates\r\n",
                                   got));
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ("1", got[0].Mid);
    EXPECT_EQ("candidate:2 1 udp 5 10.0.0.1 6000 typ host", got[0].Candidate);
    EXPECT_FALSE(FragmentCandidates("not a fragment", got));
    EXPECT_FALSE(FragmentCandidates("", got));
}
