// The stream server's browser side: /live.webm beside the ASF stream.
#include "platform/stream/AsfStreamServer.h"
#include "support/AsfTestStream.h"
#include "support/WebmTestStream.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using webmtest::Block;
using webmtest::Cat;
using webmtest::ClusterStart;
using webmtest::Header;

namespace {

const char* kWebm = "GET /live.webm?t=1 HTTP/1.1\r\nHost: x\r\nOrigin: http://x:8081\r\n\r\n";
const char* kPlain = "GET / HTTP/1.1\r\nHost: x\r\nUser-Agent: curl/7\r\n\r\n";

struct TClient {
    int fd = -1;
    TClient(uint32_t port, const char* request, int rcvbuf = 0) {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        if (rcvbuf) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
            send(fd, request, strlen(request), MSG_NOSIGNAL);
    }
    ~TClient() { close(fd); }
    // Reads until n bytes came, the peer closed or the time ran out.
    std::string Read(size_t n, std::chrono::milliseconds limit = 3000ms) {
        std::string out;
        const auto end = std::chrono::steady_clock::now() + limit;
        char buf[8192];
        while (out.size() < n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            pollfd p{fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, int(left.count())) <= 0) break;
            const ssize_t got = recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
            if (got <= 0) {
                closed = true;
                break;
            }
            out.append(buf, size_t(got));
        }
        return out;
    }
    std::string Head() {
        std::string s;
        while (s.find("\r\n\r\n") == std::string::npos) {
            std::string c = Read(1);
            if (c.empty()) break;
            s += c;
        }
        return s;
    }
    bool closed = false;
};

std::string Str(const webmtest::Bytes& b) {
    return std::string(b.begin(), b.end());
}

struct WebmServer : ::testing::Test {
    // Declared before the server: the server's last demand calls come while it closes.
    std::mutex demandLock;
    std::vector<bool> demands;
    AsfStreamServer server;
    uint32_t port = 0;
    void SetUp() override {
        server.SetBindAddress("127.0.0.1");
        server.SetMaximumClients(3);
        server.SetWebmDemandHandler([this](bool wanted) {
            std::lock_guard g(demandLock);
            demands.push_back(wanted);
        });
        ASSERT_TRUE(server.Open(port));
    }
    bool LastDemand() {
        std::lock_guard g(demandLock);
        return !demands.empty() && demands.back();
    }
    void WaitWebmViewers(size_t n) {
        for (int i = 0; i < 300 && server.WebmViewerCount() != n; ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_EQ(n, server.WebmViewerCount());
    }
    void Feed(const webmtest::Bytes& b) { server.FeedWebm(b.data(), b.size()); }
};

} // namespace

TEST_F(WebmServer, ALateJoinerGetsTheHeaderThenTheNextKeyframeCluster) {
    TClient browser(port, kWebm);
    WaitWebmViewers(1);
    EXPECT_TRUE(LastDemand()); // the producer is asked for the stream
    const auto delta = Cat({ClusterStart(0), Block(1, false)});
    Feed(Cat({Header(), delta, Block(2, true)}));
    const std::string head = browser.Head();
    EXPECT_EQ(0u, head.find("HTTP/1.0 200 OK\r\n")) << head;
    EXPECT_NE(std::string::npos, head.find("Content-Type: video/webm; codecs=\"vp8, vorbis\"\r\n"));
    EXPECT_NE(std::string::npos, head.find("Access-Control-Allow-Origin: *\r\n"));
    EXPECT_EQ(Str(Header()), browser.Read(Header().size()));
    // The cluster that began before with a delta frame is skipped whole.
    const auto key = Cat({ClusterStart(1), Block(2, true), Block(1, true)});
    const auto more = Cat({key, Block(1, false, 20, 0x66)});
    Feed(more);
    EXPECT_EQ(Str(more), browser.Read(more.size()));

    // The stream starts over: the viewer gets the new header in line, then
    // the new stream from its first keyframe cluster.
    server.ResetWebm();
    EXPECT_FALSE(server.HasWebmHeader());
    Feed(Cat({Header(), delta, key}));
    EXPECT_EQ(Str(Cat({Header(), key})), browser.Read(Header().size() + key.size()));
    close(browser.fd);
    browser.fd = -1;
    WaitWebmViewers(0);
    for (int i = 0; i < 100 && LastDemand(); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(LastDemand()); // the last one left: the producer may stop
}

TEST_F(WebmServer, BrowsersShareTheCapAndAreToldWhyTheyAreRefused) {
    Feed(Cat({Header(false), ClusterStart(0), Block(1, true)}));
    server.SetHeader(asftest::MakeHeader(64));
    TClient a(port, kPlain), b(port, kWebm), c(port, kWebm);
    WaitWebmViewers(2);
    for (int i = 0; i < 300 && server.ViewerCount() != 3; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(3u, server.ViewerCount());
    TClient full(port, kWebm);
    const std::string refused = full.Read(400);
    EXPECT_EQ(0u, refused.find("HTTP/1.0 503 Service Unavailable\r\n")) << refused;
    EXPECT_NE(std::string::npos, refused.find("Access-Control-Allow-Origin: *\r\n"));
    EXPECT_NE(std::string::npos, refused.find("\r\n\r\nfull"));
    EXPECT_NE(std::string::npos, b.Head().find("codecs=\"vp8\""));
    // ASF viewers never get WebM bytes, browsers never get ASF packets.
    server.PushPacket(asftest::MakePacket(64, 0xAB));
    const auto next = Cat({ClusterStart(1), Block(1, true), Block(1, false, 30, 0x77)});
    Feed(next);
    EXPECT_EQ(Str(Header(false)), b.Read(Header(false).size()));
    EXPECT_EQ(Str(next), b.Read(next.size()));
    a.Head();
    EXPECT_EQ(asftest::MakeHeader(64).size() + 64,
              a.Read(asftest::MakeHeader(64).size() + 64, 1500ms).size());
}

TEST_F(WebmServer, NoStreamInTimeMeansNotRunningAndAStuckBrowserIsDropped) {
    server.SetWebmStartTimeout(1500ms);
    {
        TClient early(port, kWebm);
        const std::string answer = early.Read(400, 5000ms);
        EXPECT_EQ(0u, answer.find("HTTP/1.0 503 Service Unavailable\r\n")) << answer;
        EXPECT_NE(std::string::npos, answer.find("\r\n\r\nnot running"));
    }
    WaitWebmViewers(0);

    server.SetWebmMaxQueueBytes(64 * 1024);
    Feed(Cat({Header(), ClusterStart(0), Block(1, true)}));
    TClient stuck(port, kWebm, 2048), good(port, kWebm);
    WaitWebmViewers(2);
    good.Head();
    good.Read(Header().size());
    bool goodSawEverything = true;
    for (int i = 0; i < 400 && server.ViewersDropped() == 0; ++i) {
        const auto piece = Cat({ClusterStart(uint8_t(i)), Block(1, true, 4000, uint8_t(i))});
        Feed(piece);
        goodSawEverything = goodSawEverything && good.Read(piece.size()).size() == piece.size();
    }
    EXPECT_EQ(1u, server.ViewersDropped());
    EXPECT_TRUE(goodSawEverything);
    WaitWebmViewers(1);
}

TEST_F(WebmServer, TheProgramsChecksDecideWhoWatchesAndWhichPagesMayRead) {
    server.SetOriginCheck([](const std::string& origin) { return origin == "http://x:8081"; });
    std::atomic<int> checked{0};
    server.SetAccessCheck([&](const TViewerRequest& r) {
        ++checked;
        return r.Target.find("k=good") != std::string::npos || r.Authorization == "Basic dg=="
                   ? TViewerAccess::Allow
                   : TViewerAccess::Unauthorized;
    });
    Feed(Cat({Header(false), ClusterStart(0), Block(1, true)}));
    server.SetHeader(asftest::MakeHeader(64));

    // Another site's page is turned away before the password is even asked.
    TClient foreign(port, "GET /live.webm?k=good HTTP/1.1\r\nOrigin: http://evil:80\r\n\r\n");
    const std::string refused = foreign.Read(400);
    EXPECT_EQ(0u, refused.find("HTTP/1.0 403 Forbidden\r\n")) << refused;
    EXPECT_EQ(std::string::npos, refused.find("Access-Control-Allow-Origin"));
    EXPECT_EQ(0, checked.load());
    // The site's own page without the token learns why, and may read that.
    TClient bare(port, kWebm);
    const std::string asked = bare.Read(400);
    EXPECT_EQ(0u, asked.find("HTTP/1.0 401 Unauthorized\r\n")) << asked;
    EXPECT_NE(std::string::npos, asked.find("Access-Control-Allow-Origin: http://x:8081\r\n"));
    EXPECT_NE(std::string::npos, asked.find("WWW-Authenticate: Basic realm="));
    // With the token: its own origin named, never "*".
    TClient page(port, "GET /live.webm?k=good HTTP/1.1\r\nOrigin: http://x:8081\r\n\r\n");
    const std::string head = page.Head();
    EXPECT_EQ(0u, head.find("HTTP/1.0 200 OK\r\n")) << head;
    EXPECT_NE(std::string::npos, head.find("Access-Control-Allow-Origin: http://x:8081\r\n"));
    EXPECT_NE(std::string::npos, head.find("Vary: Origin\r\n"));
    // A player sends no origin; its credentials reach the check as sent.
    TClient player(port, "GET / HTTP/1.0\r\nAuthorization: Basic dg==\r\n\r\n");
    EXPECT_EQ(0u, player.Head().find("HTTP/1.0 200 OK\r\n"));
    EXPECT_EQ(3, checked.load());
    EXPECT_EQ(2u, server.ViewerCount()); // the two let in, nobody else
}
