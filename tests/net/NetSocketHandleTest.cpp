#include "net/NetSocketHandle.h"
#include "NetTestUtil.h"
#include "net/NetServerIOHandlerSocket.h"
#include "net/NetThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

class HandleTest : public ::testing::Test {
  protected:
    TNetComponent component; // keeps the stack alive

    // Puts h into listening on 127.0.0.1, on a port the system chooses.
    static void Listen(TNetSocketHandle& h) {
        h.SetIP("127.0.0.1");
        h.AllocateSocket();
        h.BindSocket();
        h.StartListening(5);
    }

    // Three consecutive ports, all free now.
    static int FreeRange() {
        // Below the system's ephemeral range, so that many recent client
        // connections (TIME_WAIT) do not crowd every candidate out.
        std::mt19937 rng(std::random_device{}());
        for (int attempt = 0; attempt < 200; ++attempt) {
            const int base = 20000 + int(rng() % 12000);
            bool free = true;
            for (int p = base; p < base + 3 && free; ++p) {
                const int fd = nettest::RawBind(p);
                free = fd >= 0;
                if (fd >= 0) ::close(fd);
            }
            if (free) return base;
        }
        throw std::runtime_error("no free port range");
    }
};

TEST_F(HandleTest, PortZeroTakesTheSystemsChoice) {
    TNetSocketHandle h;
    h.SetIP("127.0.0.1");
    h.AllocateSocket();
    EXPECT_TRUE(h.HandleAllocated());
    h.BindSocket();
    EXPECT_GT(h.Port(), 0);
    EXPECT_EQ(h.IP(), "127.0.0.1");
}

TEST_F(HandleTest, PortRangeIsTriedFromTheTopDown) {
    const int lo = FreeRange();
    const int hi = lo + 2;
    auto bindInRange = [&](TNetSocketHandle& h) {
        h.SetIP("127.0.0.1");
        h.SetPort(0);
        h.SetClientPortMin(lo);
        h.SetClientPortMax(hi);
        h.AllocateSocket();
        h.BindSocket();
    };
    TNetSocketHandle a, b, c, d;
    bindInRange(a);
    EXPECT_EQ(a.Port(), hi);
    bindInRange(b);
    EXPECT_EQ(b.Port(), hi - 1);
    bindInRange(c);
    EXPECT_EQ(c.Port(), lo);
    try {
        bindInRange(d);
        FAIL();
    } catch (const ENetCanNotBindPortInRange& e) {
        EXPECT_EQ(e.Message(), "Can not bind in port range (" + std::to_string(lo) + " - " +
                                   std::to_string(hi) + ")");
    }
}

TEST_F(HandleTest, BindFailureTexts) {
    TNetSocketHandle h;
    h.AllocateSocket();
    h.SetClientPortMin(5000);
    h.SetClientPortMax(4000);
    try {
        h.BindSocket();
        FAIL();
    } catch (const ENetInvalidPortRange& e) {
        EXPECT_EQ(e.Message(), "Invalid Port Range (5000 - 4000)");
    }

    int busy = 0;
    const int listener = nettest::RawListen(busy);
    TNetSocketHandle fixed;
    fixed.SetIP("127.0.0.1");
    fixed.SetPort(busy);
    fixed.SetClientPortMax(busy + 5); // only one end of a range: ignored
    fixed.AllocateSocket();
    try {
        fixed.BindSocket();
        FAIL();
    } catch (const ENetCouldNotBindSocket& e) {
        EXPECT_EQ(e.Message(), "Could not bind socket. Address and port are already in use.");
    }
    ::close(listener);
}

TEST_F(HandleTest, CollectionGivesNewHandlesTheDefaultPort) {
    TNetSocketHandles bindings;
    bindings.SetDefaultPort(8081);
    TNetSocketHandle& first = bindings.Add();
    bindings.SetDefaultPort(8082); // existing bindings keep their port
    EXPECT_EQ(first.Port(), 8081);
    EXPECT_EQ(bindings.Add().Port(), 8082);
    EXPECT_EQ(bindings.Count(), 2);
}

TEST_F(HandleTest, AcceptFillsBothBindingsAndWaitReadableHonoursTimeouts) {
    TNetSocketHandle listening;
    Listen(listening);
    const int client = nettest::RawConnect(listening.Port());

    TNetServerIOHandlerSocket acceptor;
    auto h = acceptor.AcceptSocket(listening, nullptr);
    ASSERT_TRUE(h);
    TNetSocketHandle& b = *h->Binding();
    EXPECT_EQ(b.IP(), "127.0.0.1");
    EXPECT_EQ(b.Port(), listening.Port());
    EXPECT_EQ(b.PeerIP(), "127.0.0.1");
    EXPECT_GT(b.PeerPort(), 0);

    const auto t0 = Clock::now();
    EXPECT_FALSE(b.WaitReadable(0)); // polls once
    EXPECT_LT(MsSince(t0), 1000);    // generous: a wait without limit would never return
    nettest::RawSendAll(client, "x");
    EXPECT_TRUE(b.WaitReadable(2000));

    b.CloseSocket();
    EXPECT_FALSE(b.HandleAllocated());
    EXPECT_THROW(b.WaitReadable(0), ENetConnClosedGracefully);
    ::close(client);
}

class AcceptThread : public TNetThread {
  public:
    AcceptThread(TNetServerIOHandlerSocket& a, TNetSocketHandle& l) : acceptor_(a), listening_(l) {}
    ~AcceptThread() override { TerminateAndWait(); }
    std::atomic<int> nothing{0};
    std::atomic<int> accepted{0};

  protected:
    void LoopStep() override {
        auto h = acceptor_.Accept(listening_, this);
        (h ? accepted : nothing)++;
    }

  private:
    TNetServerIOHandlerSocket& acceptor_;
    TNetSocketHandle& listening_;
};

TEST_F(HandleTest, StoppedListenerThreadLeavesAcceptPromptly) {
    TNetSocketHandle listening;
    Listen(listening);
    TNetServerIOHandlerSocket acceptor;
    AcceptThread thread(acceptor, listening);
    thread.StartThread();

    const int client = nettest::RawConnect(listening.Port());
    for (int i = 0; i < 200 && thread.accepted == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(thread.accepted, 1);

    const auto t0 = Clock::now();
    thread.TerminateAndWait();
    EXPECT_LT(MsSince(t0), 1000); // one 100 ms slice, with margin
    EXPECT_EQ(thread.nothing, 1);
    ::close(client);
}

TEST_F(HandleTest, ClosingTheListenerFromAnotherThreadWakesABlockedAccept) {
    TNetSocketHandle listening;
    Listen(listening);
    TNetServerIOHandlerSocket acceptor;

    std::atomic<bool> returned{false};
    std::atomic<bool> gotHandler{true};
    std::thread t([&] {
        gotHandler = acceptor.Accept(listening, nullptr) != nullptr; // no thread: blocks
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(returned);
    const auto t0 = Clock::now();
    listening.CloseSocket();
    t.join();
    EXPECT_LT(MsSince(t0), 1000);
    EXPECT_FALSE(gotHandler);
}

TEST_F(HandleTest, ListenerClosedUnderAnAcceptByNumberEndsItQuietly) {
    // The server passes its binding's socket number; closing that binding from
    // another thread must wake the accept and close the number only after it.
    auto listening = std::make_unique<TNetSocketHandle>();
    Listen(*listening);
    const TNetSocket number = listening->Handle();
    TNetServerIOHandlerSocket acceptor;

    std::atomic<bool> returned{false};
    std::atomic<bool> gotHandler{true};
    std::thread t([&] {
        gotHandler = acceptor.Accept(number, nullptr) != nullptr;
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(returned);
    const auto t0 = Clock::now();
    listening.reset(); // close and free the binding while the accept waits
    t.join();
    EXPECT_LT(MsSince(t0), 1000);
    EXPECT_FALSE(gotHandler);
    // The number is closed now.
    EXPECT_EQ(SocketStack().SocketClose(number), -1);
}

} // namespace
