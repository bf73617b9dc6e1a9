// TCP server life: bindings, activation and deactivation, thread managers,
// connection limits and how peer errors are reported.
#include "HttpTestSupport.h"
#include "http/NetThreadMgrDefault.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

using namespace httptest;

namespace {
using Clock = std::chrono::steady_clock;
long MsSince(Clock::time_point t) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}
void PageHandler(TNetPeerThread&, TNetHTTPRequestInfo&, TNetHTTPResponseInfo& rs) {
    rs.ContentString = "ok";
}
} // namespace

TEST(ServerLife, EmptyBindingsGetOneOnDefaultPortAndKeepIt) {
    const int first = FreePort();
    const int second = FreePort();
    ASSERT_NE(first, second);
    TNetHTTPServer server;
    EXPECT_EQ(server.DefaultPort(), 80);
    EXPECT_EQ(server.ListenQueue, 15);
    EXPECT_EQ(server.TerminateWaitTime, 5000);
    EXPECT_FALSE(server.KeepAlive);
    EXPECT_TRUE(server.ParseParams);
    server.OnCommandGet = PageHandler;
    server.SetDefaultPort(first);
    server.SetActive(true);
    ASSERT_EQ(server.Bindings().Count(), 1);
    EXPECT_EQ(server.Bindings()[0].Port(), first);
    EXPECT_EQ(BodyOf(Exchange(first, "GET / HTTP/1.0\r\n\r\n")), "ok");
    server.SetActive(false);
    EXPECT_FALSE(server.Active());
    EXPECT_FALSE(PortAccepts(first));

    // The binding made the first time stays: a new DefaultPort changes nothing.
    server.SetDefaultPort(second);
    server.SetActive(true);
    ASSERT_EQ(server.Bindings().Count(), 1);
    EXPECT_TRUE(PortAccepts(first));
    EXPECT_FALSE(PortAccepts(second));
    server.SetActive(false);
}

TEST(ServerLife, BusyPortRaisesAndLeavesServerInactive) {
    ServerFixture other;
    other.server.OnCommandGet = PageHandler;
    other.Start();
    TNetHTTPServer server;
    server.OnCommandGet = PageHandler;
    TNetSocketHandle& free = server.Bindings().Add();
    free.SetIP("127.0.0.1");
    free.SetPort(FreePort());
    TNetSocketHandle& busy = server.Bindings().Add();
    busy.SetIP("127.0.0.1");
    busy.SetPort(other.port);
    try {
        server.SetActive(true);
        FAIL() << "no exception";
    } catch (const ENetCouldNotBindSocket& e) {
        EXPECT_EQ(e.Message(), "Could not bind socket. Address and port are already in use.");
    }
    EXPECT_FALSE(server.Active());
    EXPECT_FALSE(free.HandleAllocated()); // the binding before the failing one was closed
    EXPECT_FALSE(PortAccepts(free.Port()));
    EXPECT_EQ(BodyOf(Exchange(other.port, "GET / HTTP/1.0\r\n\r\n")), "ok");
    other.server.SetActive(false);
}

TEST(ServerLife, DeactivationWithIdleClientReturnsPromptly) {
    ServerFixture fx;
    fx.server.OnCommandGet = PageHandler;
    std::atomic<int> disconnects{0};
    fx.server.OnDisconnect = [&](TNetPeerThread&) { ++disconnects; };
    const int threadsBefore = ThreadCountBaseline();
    fx.Start();
    RawClient idle(fx.port);
    RawClient half(fx.port);
    half.Send("GET / HTTP/1.0\r\nHost: x\r\n"); // never finished
    ASSERT_TRUE(WaitFor([&] { return fx.server.PeerThreadCount() == 2; }));
    const auto start = Clock::now();
    fx.server.SetActive(false);
    EXPECT_LT(MsSince(start), 2000); // far inside TerminateWaitTime (7500)
    EXPECT_FALSE(fx.server.Active());
    EXPECT_EQ(fx.server.PeerThreadCount(), 0);
    EXPECT_EQ(disconnects.load(), 2);
    bool closed = false;
    EXPECT_EQ(idle.ReadUntilClose(2000, &closed), "");
    EXPECT_TRUE(closed);
    EXPECT_TRUE(WaitForThreadCount(threadsBefore));
}

TEST(ServerLife, HandlerThatNeverReturnsTimesOutAfterThirtyChecks) {
    ServerFixture fx;
    std::mutex lock;
    std::condition_variable cv;
    bool release = false; // guarded by lock
    std::atomic<bool> inHandler{false};
    fx.server.OnCommandGet = [&](TNetPeerThread&, TNetHTTPRequestInfo&, TNetHTTPResponseInfo&) {
        inHandler = true;
        std::unique_lock g(lock);
        cv.wait(g, [&] { return release; });
    };
    fx.Start();
    RawClient c(fx.port);
    c.Send("GET / HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(WaitFor([&] { return inHandler.load(); }));
    const auto start = Clock::now();
    try {
        fx.server.SetActive(false);
        FAIL() << "no exception";
    } catch (const ENetTerminateThreadTimeout& e) {
        EXPECT_EQ(e.Message(), "Terminate Thread Timeout");
    }
    const long waited = MsSince(start);
    EXPECT_GE(waited, 7400); // 30 checks, 250 ms apart
    EXPECT_LT(waited, 9500);
    EXPECT_TRUE(fx.server.Active()); // still reads true; the listeners are gone
    EXPECT_FALSE(PortAccepts(fx.port));
    {
        std::lock_guard g(lock);
        release = true;
    }
    cv.notify_all();
    fx.server.SetActive(false); // waits again, now successfully
    EXPECT_FALSE(fx.server.Active());
}

TEST(ServerLife, ResetClientReportedOnlyThroughOnException) {
    // The plain TCP server: an OnExecute reading lines sees the reset.
    TNetTCPServer server;
    TNetSocketHandle& b = server.Bindings().Add();
    b.SetIP("127.0.0.1");
    std::mutex lock;
    std::vector<int> socketErrors;
    std::atomic<int> otherErrors{0}, listenErrors{0};
    server.OnExecute = [](TNetPeerThread& t) {
        const std::string line = t.Connection()->ReadLine();
        t.Connection()->WriteLine("echo " + line);
    };
    server.OnException = [&](TNetPeerThread&, const std::exception& e) {
        if (auto* se = dynamic_cast<const ENetSocketError*>(&e)) {
            std::lock_guard g(lock);
            socketErrors.push_back(se->LastError());
        } else if (!dynamic_cast<const ENetConnClosedGracefully*>(&e)) {
            ++otherErrors;
        }
    };
    server.OnListenException = [&](TNetListenerThread&, const std::exception&) { ++listenErrors; };
    server.SetActive(true);
    const int port = PortOf(server);
    {
        RawClient c(port);
        c.Send("partial line without end");
        ASSERT_TRUE(WaitFor([&] { return server.PeerThreadCount() == 1; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        c.Reset();
    }
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard g(lock);
        return !socketErrors.empty();
    }));
    {
        std::lock_guard g(lock);
        EXPECT_EQ(socketErrors[0], 10054);
    }
    EXPECT_EQ(otherErrors.load(), 0);
    EXPECT_EQ(listenErrors.load(), 0);
    RawClient next(port);
    next.Send("hello\n");
    EXPECT_EQ(next.ReadUntilContains("\r\n"), "echo hello\r\n");
    next.Close();
    server.SetActive(false);
}

TEST(ServerLife, HttpServerAbsorbsResetQuietly) {
    ServerFixture fx;
    fx.server.OnCommandGet = PageHandler;
    std::atomic<int> errors{0};
    fx.server.OnException = [&](TNetPeerThread&, const std::exception&) { ++errors; };
    fx.Start();
    {
        RawClient c(fx.port);
        c.Send("GET / HTTP/1.0\r\n");
        ASSERT_TRUE(WaitFor([&] { return fx.server.PeerThreadCount() == 1; }));
        c.Reset();
    }
    ASSERT_TRUE(WaitFor([&] { return fx.server.PeerThreadCount() == 0; }));
    EXPECT_EQ(errors.load(), 0);
    EXPECT_EQ(BodyOf(Exchange(fx.port, "GET / HTTP/1.0\r\n\r\n")), "ok");
    fx.server.SetActive(false);
}

TEST(ServerLife, MaxConnectionsRefusesWithReply) {
    ServerFixture fx;
    fx.server.OnCommandGet = PageHandler;
    fx.server.MaxConnections = 1;
    fx.server.MaxConnectionReply.SetReply(0, "busy");
    fx.Start();
    RawClient holder(fx.port);
    ASSERT_TRUE(WaitFor([&] { return fx.server.PeerThreadCount() == 1; }));
    bool closed = false;
    EXPECT_EQ(Exchange(fx.port, "GET / HTTP/1.0\r\n\r\n", &closed), "busy\r\n");
    EXPECT_TRUE(closed);
    holder.Close();
    ASSERT_TRUE(WaitFor([&] { return fx.server.PeerThreadCount() == 0; }));
    EXPECT_EQ(BodyOf(Exchange(fx.port, "GET / HTTP/1.0\r\n\r\n")), "ok");
    fx.server.SetActive(false);
}

TEST(ServerLife, GreetingIsSentOnlyWithACodeOrText) {
    ServerFixture fx;
    fx.server.OnCommandGet = PageHandler;
    fx.server.Greeting.SetNumericCode(-1); // the program's setting: nothing
    fx.Start();
    EXPECT_EQ(Exchange(fx.port, "GET / HTTP/1.0\r\n\r\n").rfind("HTTP/1.1 200", 0), 0u);
    fx.server.SetActive(false);
    fx.server.Greeting.SetReply(220, "hi");
    fx.server.SetActive(true);
    EXPECT_EQ(Exchange(fx.port, "GET / HTTP/1.0\r\n\r\n").rfind("220 hi\r\nHTTP/1.1 200", 0), 0u);
    fx.server.SetActive(false);
}

TEST(ServerLife, ExternalThreadManagerAndMissingClass) {
    TNetThreadMgrDefault noClass;
    try {
        noClass.MakeThread();
        FAIL() << "no exception";
    } catch (const ENetThreadClassNotSpecified& e) {
        EXPECT_EQ(e.Message(), "Thread Class Not Specified.");
    }

    ServerFixture fx;
    fx.server.OnCommandGet = PageHandler;
    {
        TNetThreadMgrDefault manager;
        fx.server.SetThreadMgr(&manager);
        EXPECT_FALSE(fx.server.ImplicitThreadMgr());
        fx.Start();
        EXPECT_EQ(BodyOf(Exchange(fx.port, "GET / HTTP/1.0\r\n\r\n")), "ok");
        EXPECT_TRUE(WaitFor([&] { return manager.ActiveThreadCount() == 0; }));
    } // the manager goes first: the server forgets it
    EXPECT_EQ(fx.server.ThreadMgr(), nullptr);
    // and goes on with a manager of its own
    EXPECT_EQ(BodyOf(Exchange(fx.port, "GET / HTTP/1.0\r\n\r\n")), "ok");
    EXPECT_TRUE(fx.server.ImplicitThreadMgr());
    fx.server.SetActive(false);
}

TEST(ServerLife, NoExecuteHandlerEndsTheConnection) {
    TNetTCPServer server;
    server.Bindings().Add().SetIP("127.0.0.1");
    std::mutex lock;
    std::vector<std::string> errors;
    server.OnException = [&](TNetPeerThread&, const std::exception& e) {
        std::lock_guard g(lock);
        errors.push_back(e.what());
    };
    server.SetActive(true);
    RawClient c(PortOf(server));
    EXPECT_TRUE(WaitFor([&] {
        std::lock_guard g(lock);
        return !errors.empty();
    }));
    {
        std::lock_guard g(lock);
        EXPECT_EQ(errors[0], "No execute handler found.");
    }
    server.SetActive(false);
}

TEST(ServerLife, CommandHandlerPath) {
    TNetTCPServer server;
    server.Bindings().Add().SetIP("127.0.0.1");
    auto hello = std::make_unique<TNetCommandHandler>();
    hello->Command = "HELLO";
    hello->OnCommand = [](TNetPeerThread& t, const std::string& line) {
        t.Connection()->WriteLine("hi:" + line);
    };
    server.CommandHandlers.push_back(std::move(hello));
    std::mutex lock;
    std::vector<std::string> errors;
    server.OnException = [&](TNetPeerThread&, const std::exception& e) {
        std::lock_guard g(lock);
        errors.push_back(e.what());
    };
    server.SetActive(true);
    RawClient c(PortOf(server));
    c.Send("hello there\r\n");
    EXPECT_EQ(c.ReadUntilContains("\r\n"), "hi:hello there\r\n");
    c.Send("unknown\r\n");
    bool closed = false;
    EXPECT_EQ(c.ReadUntilClose(5000, &closed), "");
    EXPECT_TRUE(closed);
    {
        std::lock_guard g(lock);
        ASSERT_FALSE(errors.empty());
        EXPECT_EQ(errors.back(), "No command handler found.");
    }
    server.SetActive(false);

    // With a reply for unknown commands, that reply is sent instead.
    server.ReplyUnknownCommand.SetReply(500, "what?");
    server.SetActive(true);
    RawClient d(PortOf(server));
    d.Send("unknown\r\n");
    EXPECT_EQ(d.ReadUntilContains("\r\n"), "500 what?\r\n");
    d.Close();
    server.SetActive(false);
}

TEST(ServerLife, ActiveSetWhileLoadingAppliesAtTheEnd) {
    ServerFixture fx;
    fx.server.OnCommandGet = PageHandler;
    fx.server.BeginLoading();
    fx.server.SetActive(true);
    EXPECT_FALSE(fx.server.Active());
    fx.server.EndLoading();
    EXPECT_TRUE(fx.server.Active());
    EXPECT_EQ(BodyOf(Exchange(PortOf(fx.server), "GET / HTTP/1.0\r\n\r\n")), "ok");
    fx.server.SetActive(false);
}
