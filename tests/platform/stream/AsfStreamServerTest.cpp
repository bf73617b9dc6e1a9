#include "platform/stream/AsfStreamServer.h"
#include "platform/AsfPacketizer.h"
#include "support/AsfTestStream.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using namespace asftest;

namespace {

int Connect(uint32_t port, int rcvbuf = 0) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (rcvbuf) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void Send(int fd, const std::string& s) {
    ASSERT_EQ(send(fd, s.data(), s.size(), MSG_NOSIGNAL), ssize_t(s.size()));
}

// Reads until n bytes arrived, the peer closed or the time ran out.
std::string ReadFor(int fd, size_t n, std::chrono::milliseconds limit = 3000ms) {
    std::string out;
    auto end = std::chrono::steady_clock::now() + limit;
    char buf[8192];
    while (out.size() < n) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, int(left.count())) <= 0) break;
        ssize_t got = recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
        if (got <= 0) break;
        out.append(buf, size_t(got));
    }
    return out;
}

// True when the peer closes (or resets) within the limit; data still in
// flight is read and dropped.
bool ClosedWithin(int fd, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    char buf[65536];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, int(left.count())) <= 0) return false;
        if (recv(fd, buf, sizeof buf, 0) <= 0) return true;
    }
}

std::string HeadersOf(int fd) {
    std::string s;
    char c;
    pollfd p{fd, POLLIN, 0};
    while (s.find("\r\n\r\n") == std::string::npos && poll(&p, 1, 3000) > 0 &&
           recv(fd, &c, 1, 0) == 1)
        s += c;
    return s;
}

const char* kPlain = "GET / HTTP/1.1\r\nHost: x\r\nUser-Agent: curl/7\r\n\r\n";
const char* kDescribe =
    "GET / HTTP/1.0\r\nUser-Agent: NSPlayer/4.1.0.3856\r\nPragma: no-cache\r\n\r\n";
const char* kPlay =
    "GET / HTTP/1.0\r\nUser-Agent: NSPlayer/4.1.0.3856\r\nPragma: no-cache,xPlayStrm=1\r\n\r\n";

struct Server : ::testing::Test {
    AsfStreamServer server;
    uint32_t port = 0;
    void SetUp() override {
        server.SetBindAddress("127.0.0.1");
        server.SetMaximumClients(3);
        const auto opened = server.Open(port);
        ASSERT_TRUE(opened) << opened.Reason;
        ASSERT_NE(port, 0u);
    }
    void WaitViewers(size_t n) {
        for (int i = 0; i < 300 && server.ViewerCount() != n; ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_EQ(server.ViewerCount(), n);
    }
};

} // namespace

TEST_F(Server, PlainClientGetsHeaderThenPacketsUnframed) {
    server.SetHeader(MakeHeader(64));
    int fd = Connect(port);
    Send(fd, kPlain);
    std::string head = HeadersOf(fd);
    EXPECT_EQ(head.rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
    EXPECT_NE(head.find("Content-Type: video/x-ms-asf\r\n"), std::string::npos);
    Bytes h = MakeHeader(64);
    EXPECT_EQ(ReadFor(fd, h.size()), std::string(h.begin(), h.end()));
    WaitViewers(1);
    server.PushPacket(MakePacket(64, 0xAB));
    EXPECT_EQ(ReadFor(fd, 64), std::string(64, '\xAB'));
    close(fd);
}

TEST_F(Server, DescribeGetsOneHeaderChunkAndIsClosed) {
    Bytes h = MakeHeader(64);
    server.SetHeader(h);
    int fd = Connect(port);
    Send(fd, kDescribe);
    std::string head = HeadersOf(fd);
    EXPECT_NE(head.find("Content-Type: application/vnd.ms.wms-hdr.asfv1\r\n"), std::string::npos);
    EXPECT_NE(head.find("Pragma: features=\"broadcast\"\r\n"), std::string::npos);
    std::string body = ReadFor(fd, 100000);
    ASSERT_EQ(body.size(), 12 + h.size());
    const uint16_t len = uint16_t(h.size() + 8);
    EXPECT_EQ(body.substr(0, 2), "$H");
    EXPECT_EQ(uint8_t(body[2]) | uint8_t(body[3]) << 8, len);
    EXPECT_EQ(body.substr(8, 2), std::string(2, '\0'));
    EXPECT_EQ(uint8_t(body[10]) | uint8_t(body[11]) << 8, len);
    EXPECT_EQ(body.substr(12), std::string(h.begin(), h.end()));
    EXPECT_EQ(server.ViewerCount(), 0u);
    close(fd);
}

TEST_F(Server, PlayGetsFramedPacketsWithRisingSequenceAndAnEndChunk) {
    Bytes h = MakeHeader(32);
    server.SetHeader(h);
    int fd = Connect(port);
    Send(fd, kPlay);
    EXPECT_NE(HeadersOf(fd).find("Content-Type: application/x-mms-framed\r\n"), std::string::npos);
    ASSERT_EQ(ReadFor(fd, 12 + h.size()).size(), 12 + h.size());
    WaitViewers(1);
    server.PushPacket(MakePacket(32, 1));
    server.PushPacket(MakePacket(32, 2));
    server.EndOfStream();
    std::string rest = ReadFor(fd, 100000);
    ASSERT_EQ(rest.size(), 2 * (12 + 32) + 12u);
    EXPECT_EQ(rest.substr(0, 2), "$D");
    EXPECT_EQ(uint8_t(rest[4]), 1);
    EXPECT_EQ(rest.substr(12, 32), std::string(32, '\1'));
    EXPECT_EQ(rest.substr(44, 2), "$D");
    EXPECT_EQ(uint8_t(rest[48]), 2);
    EXPECT_EQ(rest.substr(88, 2), "$E");
    close(fd);
}

TEST_F(Server, ViewerBeforeTheStreamIsServedOnceItStarts) {
    int fd = Connect(port);
    Send(fd, kPlain);
    std::this_thread::sleep_for(100ms);
    // As the writer feeds it: its packetizer's header and packets.
    AsfPacketizer writer;
    writer.OnHeader = [&](Bytes header, uint32_t) { server.SetHeader(std::move(header)); };
    writer.OnPacket = [&](Bytes packet) { server.PushPacket(std::move(packet)); };
    Bytes h = MakeHeader(16);
    ASSERT_TRUE(writer.Feed(h.data(), h.size()));
    Bytes p = MakePacket(16, 7);
    ASSERT_TRUE(writer.Feed(p.data(), p.size()));
    HeadersOf(fd);
    std::string got = ReadFor(fd, h.size() + 16);
    EXPECT_EQ(got.size(), h.size() + 16); // the packet fed after registration arrives
    close(fd);
}

TEST_F(Server, AFourthViewerIsRefusedAndTheThreeKeepReceiving) {
    server.SetHeader(MakeHeader(16));
    int fds[3];
    for (int& fd : fds) {
        fd = Connect(port);
        Send(fd, kPlain);
        HeadersOf(fd);
        ReadFor(fd, MakeHeader(16).size());
    }
    WaitViewers(3);
    int extra = Connect(port);
    Send(extra, kPlay);
    EXPECT_EQ(HeadersOf(extra).rfind("HTTP/1.0 503 Service Unavailable\r\n", 0), 0u);
    EXPECT_TRUE(ClosedWithin(extra, 2000ms));
    close(extra);
    server.PushPacket(MakePacket(16, 5));
    for (int fd : fds) {
        EXPECT_EQ(ReadFor(fd, 16), std::string(16, '\5'));
        close(fd);
    }
    WaitViewers(0);
}

TEST_F(Server, AStuckViewerIsDroppedWithoutHoldingTheOthersOrTheEncoder) {
    // Room for half a second of this test's rate, so only the stuck viewer
    // overflows even when the machine is busy.
    server.SetMaxQueueBytes(1024 * 1024);
    server.SetHeader(MakeHeader(1000));
    int stuck = Connect(port, 4096);
    Send(stuck, kPlain);
    int good = Connect(port);
    Send(good, kPlain);
    HeadersOf(good);
    ReadFor(good, MakeHeader(1000).size());
    WaitViewers(2);
    std::atomic<bool> reading{true};
    std::atomic<size_t> received{0};
    std::thread reader([&] {
        char buf[4096];
        while (reading) {
            pollfd p{good, POLLIN, 0};
            if (poll(&p, 1, 100) > 0) {
                ssize_t n = recv(good, buf, sizeof buf, 0);
                if (n <= 0) break;
                received += size_t(n);
            }
        }
    });
    // Paced like a live encoder (about 2 MB/s) until the stuck one is gone.
    size_t pushed = 0;
    auto slowest = std::chrono::steady_clock::duration::zero();
    for (int round = 0; round < 2000 && server.ViewersDropped() == 0; ++round) {
        for (int i = 0; i < 10; ++i, ++pushed) {
            auto t = std::chrono::steady_clock::now();
            server.PushPacket(MakePacket(1000, 1));
            slowest = std::max(slowest, std::chrono::steady_clock::now() - t);
        }
        std::this_thread::sleep_for(5ms);
    }
    // The encoder side never waits for a viewer: a push blocked on the stuck
    // one would last until it is dropped, which takes far longer.
    EXPECT_LT(slowest, 3s);
    EXPECT_EQ(server.ViewersDropped(), 1u);
    EXPECT_TRUE(ClosedWithin(stuck, 3000ms));
    for (int i = 0; i < 20; ++i, ++pushed)
        server.PushPacket(MakePacket(1000, 1));
    for (int i = 0; i < 300 && received < pushed * 1000; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(received.load(), pushed * 1000);
    EXPECT_EQ(server.ViewerCount(), 1u);
    reading = false;
    reader.join();
    close(stuck);
    close(good);
}

TEST_F(Server, NonHttpGreetingIsClosedAtOnce) {
    server.SetHeader(MakeHeader(16));
    int fd = Connect(port);
    const unsigned char mms[] = {0x01, 0, 0, 0, 0xCE, 0xFA, 0x0B, 0xB0, 0x10, 0, 0, 0};
    ASSERT_EQ(send(fd, mms, sizeof mms, MSG_NOSIGNAL), ssize_t(sizeof mms));
    EXPECT_TRUE(ClosedWithin(fd, 5000ms));
    close(fd);
    // Garbage that starts like text but is no request line is refused too.
    fd = Connect(port);
    Send(fd, "HELLO\r\n");
    EXPECT_TRUE(ClosedWithin(fd, 5000ms));
    close(fd);
}

TEST_F(Server, HugeAndSilentRequestsNeverDisturbTheStream) {
    // The time-out applies from the next Open.
    server.Close();
    server.SetRequestTimeout(300ms);
    port = 0;
    ASSERT_TRUE(server.Open(port));
    server.SetHeader(MakeHeader(16));
    int silent = Connect(port);
    int huge = Connect(port);
    std::string big = "GET / HTTP/1.0\r\n" + std::string(20000, 'X');
    send(huge, big.data(), big.size(), MSG_NOSIGNAL);
    EXPECT_TRUE(ClosedWithin(huge, 2000ms));
    EXPECT_TRUE(ClosedWithin(silent, 2000ms));
    int fd = Connect(port);
    Send(fd, kPlain);
    EXPECT_NE(HeadersOf(fd).find("200 OK"), std::string::npos);
    for (int f : {silent, huge, fd})
        close(f);
}

TEST_F(Server, CloseEndsViewersAndFreesThePort) {
    server.SetHeader(MakeHeader(16));
    int idle = Connect(port); // sends nothing
    int viewer = Connect(port);
    Send(viewer, kPlain);
    HeadersOf(viewer);
    WaitViewers(1);
    auto start = std::chrono::steady_clock::now();
    server.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_TRUE(ClosedWithin(viewer, 5000ms));
    EXPECT_TRUE(ClosedWithin(idle, 5000ms));
    EXPECT_EQ(Connect(port), -1);
    EXPECT_FALSE(server.HasHeader());
    close(idle);
    close(viewer);
    server.Close(); // twice is harmless
}

TEST_F(Server, ABusyPortIsReportedNotFatal) {
    AsfStreamServer other;
    other.SetBindAddress("127.0.0.1");
    uint32_t same = port;
    const auto opened = other.Open(same);
    EXPECT_FALSE(opened);
    EXPECT_EQ(opened.Error, EADDRINUSE);
    EXPECT_NE(opened.Reason.find("in use"), std::string::npos) << opened.Reason;
    EXPECT_FALSE(other.IsOpen());
}

TEST_F(Server, DisconnectDropsViewersButKeepsListening) {
    server.SetHeader(MakeHeader(16));
    int fd = Connect(port);
    Send(fd, kPlain);
    HeadersOf(fd);
    WaitViewers(1);
    server.Disconnect();
    EXPECT_TRUE(ClosedWithin(fd, 5000ms));
    WaitViewers(0);
    close(fd);
    int again = Connect(port);
    ASSERT_NE(again, -1);
    Send(again, kPlain);
    EXPECT_NE(HeadersOf(again).find("200 OK"), std::string::npos);
    close(again);
}

TEST_F(Server, ViewersAreListedWithTheirBytesAndOneCanBeDropped) {
    // One waits for the stream to start; one takes it; a header request is
    // not a viewer.
    int waiting = Connect(port);
    Send(waiting, kPlay);
    WaitViewers(1);
    std::vector<TStreamViewer> list = server.Viewers();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].Kind, TStreamViewerKind::Player);
    EXPECT_EQ(list[0].BytesSent, 0u);
    ASSERT_TRUE(server.DisconnectViewer(list[0].Id));
    EXPECT_TRUE(ClosedWithin(waiting, 3000ms));
    WaitViewers(0);
    EXPECT_FALSE(server.DisconnectViewer(list[0].Id));
    close(waiting);

    const Bytes header = MakeHeader(64);
    server.SetHeader(header);
    int plain = Connect(port);
    Send(plain, kPlain);
    HeadersOf(plain);
    ASSERT_EQ(ReadFor(plain, header.size()).size(), header.size());
    int describe = Connect(port);
    Send(describe, kDescribe);
    WaitViewers(1);
    server.PushPacket(MakePacket(64, 1));
    ASSERT_EQ(ReadFor(plain, 64).size(), 64u);
    // The count follows the send's return, which the client may outrun.
    for (int i = 0; i < 200; ++i) {
        list = server.Viewers();
        if (list.size() == 1 && list[0].BytesSent == header.size() + 64) break;
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].Kind, TStreamViewerKind::Plain);
    EXPECT_EQ(list[0].Address.rfind("127.0.0.1:", 0), 0u);
    EXPECT_EQ(list[0].BytesSent, header.size() + 64); // the stream's bytes
    close(describe);
    close(plain);
}

TEST(ServerFlood, SilentConnectionsAreCappedOldestFirstAndAViewerStillGetsIn) {
    AsfStreamServer server;
    server.SetBindAddress("127.0.0.1");
    server.SetMaximumClients(3);
    server.SetMaxPendingConnections(8);
    uint32_t port = 0;
    ASSERT_TRUE(server.Open(port));
    server.SetHeader(MakeHeader(64));
    std::vector<int> silent;
    for (int i = 0; i < 40; ++i) {
        silent.push_back(Connect(port));
        ASSERT_NE(silent.back(), -1);
    }
    // Past the cap of 8 the oldest give way at once, long before the
    // request time-out (10 s).
    EXPECT_TRUE(ClosedWithin(silent.front(), 5000ms));
    int viewer = Connect(port);
    Send(viewer, kPlain);
    EXPECT_NE(HeadersOf(viewer).find("200 OK"), std::string::npos);
    close(viewer);
    for (int fd : silent)
        close(fd);
}

TEST(ServerChurn, ViewersComingAndGoingMidStreamLeaveNoDescriptorBehind) {
    auto openDescriptors = [] {
        size_t n = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
            ++n;
        return n;
    };
    const size_t before = openDescriptors();
    {
        AsfStreamServer server;
        server.SetBindAddress("127.0.0.1");
        server.SetMaximumClients(2);
        uint32_t port = 0;
        ASSERT_TRUE(server.Open(port));
        std::atomic<bool> run{true};
        // The stream starts, ends and starts over while viewers are dropped,
        // listed and refused.
        std::thread producer([&] {
            for (int i = 0; run; ++i) {
                if (i % 40 == 0) server.SetHeader(MakeHeader(64));
                server.PushPacket(MakePacket(64, uint8_t(i)));
                if (i % 40 == 39) server.EndOfStream();
                if (i % 23 == 0) server.ResetWebm();
                if (i % 57 == 0) server.Disconnect();
                if (i % 13 == 0)
                    for (const TStreamViewer& v : server.Viewers())
                        server.DisconnectViewer(v.Id);
                std::this_thread::sleep_for(1ms);
            }
        });
        const char* requests[] = {kPlain, kPlay, kDescribe, "POST / HTTP/1.0\r\n\r\n",
                                  "GET /live.webm HTTP/1.0\r\n\r\n"};
        std::vector<int> open;
        for (int i = 0; i < 200; ++i) {
            open.push_back(Connect(port));
            Send(open.back(), requests[i % 5]);
            ReadFor(open.back(), 100, 20ms);
            if (open.size() > 3) {
                close(open.front());
                open.erase(open.begin());
            }
        }
        run = false;
        producer.join();
        server.Close();
        EXPECT_EQ(0u, server.ViewerCount());
        for (int fd : open)
            close(fd);
    }
    EXPECT_EQ(before, openDescriptors());
}
