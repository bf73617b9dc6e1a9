// Clients that try to exhaust the landing-page server: slow or silent ones,
// floods of connections, requests that cost far more than they send, and an
// owner that frees parts of the server while peers still run.
#include "HttpTestSupport.h"
#include "http/NetThreadMgrDefault.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

using namespace httptest;

namespace {

void Page(TNetPeerThread&, TNetHTTPRequestInfo& rq, TNetHTTPResponseInfo& rs) {
    rs.ContentString = "ok " + rq.Target;
}

TEST(HostileClient, SlowHeaderIsClosedWithoutReplyAfterTheLimit) {
    ServerFixture fx;
    fx.server.OnCommandGet = Page;
    fx.server.HeaderTimeout = 1000;
    fx.Start();
    RawClient slow(fx.port);
    slow.Send("GET / HTTP/1.1\r\nHost: x\r\n"); // never finished
    bool closed = false;
    EXPECT_EQ(slow.ReadUntilClose(20000, &closed), "");
    EXPECT_TRUE(closed);
    EXPECT_TRUE(WaitFor([&] { return fx.server.PeerThreadCount() == 0; }));
    EXPECT_EQ(BodyOf(Exchange(fx.port, "GET / HTTP/1.0\r\n\r\n")), "ok /");
}

TEST(HostileClient, AtTheLimitIdleConnectionsGiveWayAndBusyOnesRefuse) {
    ServerFixture fx;
    std::mutex lock;
    std::condition_variable cv;
    bool release = false;
    std::atomic<int> holding{0};
    fx.server.OnCommandGet = [&](TNetPeerThread& t, TNetHTTPRequestInfo& rq,
                                 TNetHTTPResponseInfo& rs) {
        if (rq.Target == "/hold") {
            ++holding;
            std::unique_lock g(lock);
            cv.wait(g, [&] { return release; });
        }
        Page(t, rq, rs);
    };
    fx.server.MaxConnections = 2;
    fx.server.EvictWaitingAtLimit = true;
    fx.Start();
    RawClient idle1(fx.port), idle2(fx.port);
    ASSERT_TRUE(WaitFor([&] { return fx.server.PeerThreadCount() == 2; }));
    // A well-behaved client is served: the oldest idle one makes room.
    EXPECT_EQ(BodyOf(Exchange(fx.port, "GET / HTTP/1.0\r\n\r\n")), "ok /");
    bool closed = false;
    idle1.ReadUntilClose(10000, &closed);
    EXPECT_TRUE(closed);

    RawClient busy1(fx.port), busy2(fx.port);
    busy1.Send("GET /hold HTTP/1.0\r\n\r\n");
    busy2.Send("GET /hold HTTP/1.0\r\n\r\n");
    // Both requests read and being answered: neither is idle any more.
    ASSERT_TRUE(WaitFor([&] { return holding == 2; }));
    const std::string refused = Exchange(fx.port, "GET / HTTP/1.0\r\n\r\n");
    EXPECT_NE(refused.find("503 Service Unavailable"), std::string::npos) << refused;
    EXPECT_GE(fx.server.ConnectionsRefused(), 2u);
    {
        std::lock_guard g(lock);
        release = true;
    }
    cv.notify_all();
    EXPECT_EQ(BodyOf(busy1.ReadUntilClose(10000)), "ok /hold");
}

TEST(HostileClient, FreeingTheThreadManagerWithAPeerConnectedStopsIt) {
    auto mgr = std::make_unique<TNetThreadMgrDefault>();
    ServerFixture fx;
    fx.server.OnCommandGet = Page;
    fx.server.SetThreadMgr(mgr.get());
    fx.Start();
    RawClient idle(fx.port);
    ASSERT_TRUE(WaitFor([&] { return fx.server.PeerThreadCount() == 1; }));
    mgr.reset(); // used to abort: a call into the half-destroyed manager
    EXPECT_TRUE(WaitFor([&] { return fx.server.PeerThreadCount() == 0; }));
    EXPECT_EQ(fx.server.ThreadMgr(), nullptr);
    EXPECT_EQ(BodyOf(Exchange(fx.port, "GET / HTTP/1.0\r\n\r\n")), "ok /");
}

TEST(HostileClient, BodyIsHeldOnceAndSeparatorFloodsAreRefused) {
    ServerFixture fx;
    std::atomic<bool> shared{false};
    fx.server.OnCommandGet = [&](TNetPeerThread& t, TNetHTTPRequestInfo& rq,
                                 TNetHTTPResponseInfo& rs) {
        shared = rq.BodyText.size() == 100000 && rq.BodyText.data() == rq.ParamText.data();
        Page(t, rq, rs);
    };
    fx.Start();
    const std::string body(100000, 'x');
    Exchange(fx.port,
             "POST / HTTP/1.0\r\nContent-Type: text/plain\r\nContent-Length: 100000\r\n\r\n" +
                 body);
    EXPECT_TRUE(shared.load());
    const std::string amps(200000, '&');
    bool closed = false;
    const std::string reply =
        Exchange(fx.port,
                 "POST / HTTP/1.0\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                 "Content-Length: 200000\r\n\r\n" +
                     amps,
                 &closed);
    EXPECT_EQ(reply, ""); // refused: closed without a reply
    EXPECT_TRUE(closed);
}

TEST(HostileClient, AFoldedBlockOfManyLinesUnfoldsWhole) {
    // Its cost against the block's size is a figure of bench/hostile.
    TNetHeaderList list;
    list.UnfoldLines = true;
    list.Add("X-Folded: start");
    for (int i = 0; i < 160000; ++i)
        list.Add(i % 1000 ? " x" : " \t ");
    list.Add("X-After: y");
    EXPECT_EQ(list.GetFieldValue("X-Folded").size(), 5u + 2u * (160000 - 160));
    EXPECT_EQ(list.GetFieldValue("X-After"), "y");
}

} // namespace
