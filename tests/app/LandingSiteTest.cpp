// The landing site without a window: its server's settings, its routes on a
// port the system picks, and a second Serve listening anew.
#include "app/LandingSite.h"
#include "AppTestSupport.h"
#include "app/WatchPage.h"

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

} // namespace
