// The landing site without a window: its server's settings, its routes on a
// port the system picks, and a second Serve listening anew.
#include "app/LandingSite.h"
#include "AppTestSupport.h"
#include "app/WatchPage.h"
#include "support/FakeWhepEndpoint.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool EndsWith(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

TEST(LandingSite, ServerSettings) {
    TNetHTTPServer server;
    ConfigureLandingServer(server);
    EXPECT_FALSE(server.Active());
    EXPECT_EQ(server.DefaultPort(), kDefaultHttpPort);
    EXPECT_EQ(server.ListenQueue, 99);
    EXPECT_EQ(server.TerminateWaitTime, 7500);
    EXPECT_EQ(server.MaxConnections, TNetCustomHTTPServer::kDefaultMaxConnections);
    EXPECT_TRUE(server.EvictWaitingAtLimit);
}

TEST(LandingSite, EachPathGetsItsPageAndAnyOtherTheHeaderAlone) {
    TLandingSite site;
    site.Texts().SetWidth("400");
    site.Texts().SetHeight("300");
    site.Texts().SetAddress("127.0.0.1");
    site.Texts().SetStreamPort(8123);
    const TLandingPageTexts texts = site.Texts().Snapshot();
    const int port = site.Serve(0);
    ASSERT_GT(port, 0);
    EXPECT_TRUE(site.Serving());

    const std::string landing = HttpExchange(port, "GET / HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(EndsWith(landing, BuildLandingPage(texts))) << landing;
    const std::string watch = HttpExchange(port, "GET /watch HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(EndsWith(watch, BuildWatchPage(texts))) << watch;
    const std::string other = HttpExchange(port, "GET /banners/quillon.gif HTTP/1.0\r\n\r\n");
    EXPECT_EQ(other.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << other;
    EXPECT_TRUE(EndsWith(other, "\r\n\r\n")) << other;
    const std::string upload =
        HttpExchange(port, "POST / HTTP/1.0\r\nContent-Length: 8000000\r\n\r\nxx");
    EXPECT_EQ(upload.rfind("HTTP/1.1 413 ", 0), 0u) << upload;

    // Serving again listens where asked now; the old port closes.
    const int next = FreePort();
    EXPECT_EQ(site.Serve(next), next);
    EXPECT_FALSE(PortAccepts(port));
    EXPECT_TRUE(PortAccepts(next));
    site.Deactivate();
    EXPECT_FALSE(site.Serving());
    EXPECT_FALSE(PortAccepts(next));
}

// WebRTC viewers reach the running broadcast's endpoint through /whep;
// without one they are told why, so that the page falls back.
TEST(LandingSite, WhepRequestsReachTheBroadcastsEndpointAndCarryOnlyOffersAsBodies) {
    TLandingSite site;
    const int port = site.Serve(0);
    const std::string offer = "v=0\r\nm=video 9 UDP/TLS/RTP/SAVPF 102\r\na=mid:0\r\n"
                              "a=rtpmap:102 H264/90000\r\n"
                              "a=fmtp:102 packetization-mode=1;profile-level-id=42e01f\r\n";
    const std::string post = "POST /whep HTTP/1.1\r\nContent-Type: application/sdp\r\n"
                             "Content-Length: " +
                             std::to_string(offer.size()) + "\r\n\r\n" + offer;
    std::string reply = HttpExchange(port, post);
    EXPECT_EQ(reply.rfind("HTTP/1.1 503 ", 0), 0u) << reply;
    EXPECT_TRUE(EndsWith(reply, "\r\n\r\nWebRTC is off: no broadcast is running\n")) << reply;

    ComPtr<TFakeWhepEndpoint> whep = MakeComObject<TFakeWhepEndpoint>();
    site.SetWhep(whep.Get());
    reply = HttpExchange(port, post);
    EXPECT_EQ(reply.rfind("HTTP/1.1 201 ", 0), 0u) << reply;
    EXPECT_NE(reply.find("\r\nLocation: /whep/abc123\r\n"), std::string::npos) << reply;
    EXPECT_NE(reply.find("\r\nContent-Type: application/sdp\r\n"), std::string::npos) << reply;
    EXPECT_TRUE(EndsWith(reply, "\r\n\r\nv=0\r\nanswer\r\n")) << reply;
    {
        std::lock_guard g(whep->lock);
        EXPECT_EQ(whep->Offered, offer);
        EXPECT_EQ(whep->Peer.rfind("127.0.0.1:", 0), 0u) << whep->Peer;
    }
    reply = HttpExchange(port, "OPTIONS /whep/abc123 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.1 204 ", 0), 0u) << reply;
    EXPECT_NE(reply.find("\r\nAllow: PATCH, DELETE, OPTIONS\r\n"), std::string::npos) << reply;
    const std::string frag = "a=candidate:1 1 udp 1 127.0.0.1 5000 typ host\r\n";
    reply = HttpExchange(port, "PATCH /whep/abc123 HTTP/1.1\r\n"
                               "Content-Type: application/trickle-ice-sdpfrag\r\n"
                               "Content-Length: " +
                                   std::to_string(frag.size()) + "\r\n\r\n" + frag);
    EXPECT_EQ(reply.rfind("HTTP/1.1 204 ", 0), 0u) << reply;
    reply = HttpExchange(port, "DELETE /whep/abc123 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.1 200 ", 0), 0u) << reply;
    reply = HttpExchange(port, "POST /whep HTTP/1.1\r\nContent-Type: text/plain\r\n"
                               "Content-Length: 2\r\n\r\nhi");
    EXPECT_EQ(reply.rfind("HTTP/1.1 415 ", 0), 0u) << reply;

    // A megabyte is turned away before it is read; so is any body elsewhere.
    reply = HttpExchange(port, "POST /whep HTTP/1.1\r\nContent-Type: application/sdp\r\n"
                               "Content-Length: 1048576\r\n\r\nv=0");
    EXPECT_EQ(reply.rfind("HTTP/1.1 413 ", 0), 0u) << reply;
    reply = HttpExchange(port, "DELETE /whep/abc123 HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello");
    EXPECT_EQ(reply.rfind("HTTP/1.1 413 ", 0), 0u) << reply;
    reply = HttpExchange(port, "PUT /whep HTTP/1.1\r\n\r\n");
    EXPECT_EQ(reply, ""); // other methods: closed without a reply, as before
    {
        std::lock_guard g(whep->lock);
        EXPECT_EQ(whep->Offers, 1);
    }

    // The endpoint goes with the broadcast's outputs.
    site.SetWhep(nullptr);
    reply = HttpExchange(port, post);
    EXPECT_EQ(reply.rfind("HTTP/1.1 503 ", 0), 0u) << reply;
    site.Deactivate();
}

} // namespace
