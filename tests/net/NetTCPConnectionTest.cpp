#include "net/NetTCPConnection.h"
#include "NetTestUtil.h"
#include "net/NetServerIOHandlerSocket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// A connection on the accepting side of a loopback pair; the far end is a
// plain socket the test drives.
class ConnTest : public ::testing::Test {
  protected:
    TNetTCPConnection conn;
    int peer = -1;
    int disconnectedEvents = 0;

    void SetUp() override {
        TNetSocketHandle listening;
        listening.SetIP("127.0.0.1");
        listening.AllocateSocket();
        listening.BindSocket();
        listening.StartListening(5);
        peer = nettest::RawConnect(listening.Port());
        TNetServerIOHandlerSocket acceptor;
        conn.SetIOHandler(acceptor.Accept(listening, nullptr));
        ASSERT_TRUE(conn.IsConnected());
        conn.OnDisconnected = [this](TNetTCPConnection&) { ++disconnectedEvents; };
    }
    void TearDown() override {
        if (peer >= 0) ::close(peer);
    }
    void PeerSend(const std::string& s) { nettest::RawSendAll(peer, s); }
    void PeerClose() {
        ::close(peer);
        peer = -1;
    }
    void PeerReset() {
        nettest::RawReset(peer);
        peer = -1;
    }
    // Makes the connection buffer what the peer sent so far without consuming it.
    void BufferPending(size_t expected) {
        for (int i = 0; i < 100 && conn.InputBuffer().Size() < static_cast<int64_t>(expected); ++i)
            conn.FillInputBuffer(true, 50, false);
        ASSERT_EQ(conn.InputBuffer().Size(), static_cast<int64_t>(expected));
    }
};

TEST_F(ConnTest, LineEndingsAndTerminators) {
    PeerSend("GET / HTTP/1.0\r\nbare\nhas\rcr\r\n\r\nA::B::");
    EXPECT_EQ(conn.ReadLine(), "GET / HTTP/1.0");
    EXPECT_EQ(conn.ReadLine(), "bare");
    EXPECT_EQ(conn.ReadLine(), "has\rcr");
    EXPECT_EQ(conn.ReadLine(), "");
    EXPECT_EQ(conn.ReadLine("::"), "A");
    EXPECT_EQ(conn.ReadLine("::"), "B");
}

TEST_F(ConnTest, TerminatorSplitAcrossReceives) {
    std::thread writer([this] {
        PeerSend("left:");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        PeerSend(":right::");
    });
    EXPECT_EQ(conn.ReadLine("::"), "left");
    EXPECT_EQ(conn.ReadLine("::"), "right");
    writer.join();
}

TEST_F(ConnTest, MaxLineLengthBoundaryAndSplit) {
    const std::string ok(16384, 'a');
    const std::string longer(16385, 'b');
    PeerSend(ok + "\n" + longer + "\n" + longer + "\r\n");
    EXPECT_EQ(conn.ReadLine(), ok);
    try {
        conn.ReadLine();
        FAIL();
    } catch (const ENetReadLnMaxLineLengthExceeded& e) {
        EXPECT_EQ(e.Message(), "Max line length exceeded.");
    }
    EXPECT_TRUE(conn.IsConnected()); // a long line does not close the connection

    conn.MaxLineAction = TNetMaxLineAction::maSplit;
    EXPECT_EQ(conn.ReadLine(), std::string(16384, 'b'));
    EXPECT_TRUE(conn.ReadLnSplit());
    EXPECT_EQ(conn.ReadLine(), "b"); // the rest begins the next line
    EXPECT_FALSE(conn.ReadLnSplit());
    EXPECT_EQ(conn.ReadLine(), std::string(16384, 'b'));
    EXPECT_EQ(conn.ReadLine(), "b"); // "b\r\n": the CR LF line end
}

TEST_F(ConnTest, OverlongLineWithoutTerminatorRaisesWithoutWaiting) {
    PeerSend(std::string(16385, 'x')); // no line end, peer stays connected
    BufferPending(16385);
    EXPECT_THROW(conn.ReadLine(), ENetReadLnMaxLineLengthExceeded);
    conn.MaxLineAction = TNetMaxLineAction::maSplit;
    EXPECT_EQ(conn.ReadLine().size(), 16384u);
    EXPECT_EQ(conn.InputBuffer().Size(), 1);
}

TEST_F(ConnTest, PeerCloseMidLineLeavesBytesReadable) {
    PeerSend("abc");
    PeerClose();
    try {
        conn.ReadLine();
        FAIL();
    } catch (const ENetConnClosedGracefully& e) {
        EXPECT_EQ(e.Message(), "Connection Closed Gracefully.");
    }
    EXPECT_EQ(conn.InputBuffer().Size(), 3);
    EXPECT_EQ(conn.ReadAvailable(), "abc");
    EXPECT_FALSE(conn.IsConnected());
    EXPECT_EQ(disconnectedEvents, 1);
    EXPECT_THROW(conn.ReadLine(), ENetConnClosedGracefully);
    EXPECT_EQ(disconnectedEvents, 1);
}

TEST_F(ConnTest, BufferedLinesSurviveTheClose) {
    PeerSend("one\r\ntwo\r\n");
    PeerClose();
    BufferPending(10);
    conn.CheckGracefulClose(false);
    EXPECT_FALSE(conn.IsConnected());
    EXPECT_EQ(conn.ReadLine(), "one");
    EXPECT_EQ(conn.ReadLine(), "two");
    EXPECT_THROW(conn.ReadLine(), ENetConnClosedGracefully);
}

TEST_F(ConnTest, PeerResetMidLineRaisesSocketErrorAndKeepsBytes) {
    PeerSend("partial line");
    BufferPending(12);
    EXPECT_EQ(conn.ReadLine("\n", 50), ""); // explicit time-out: no raise
    EXPECT_TRUE(conn.ReadLnTimedOut());
    PeerReset();
    try {
        conn.ReadLine();
        FAIL();
    } catch (const ENetSocketError& e) {
        EXPECT_EQ(e.LastError(), 10054);
        EXPECT_EQ(e.Message(), "Socket Error # 10054\r\nConnection reset by peer.");
    }
    EXPECT_EQ(conn.ReadAvailable(), "partial line");
}

TEST_F(ConnTest, PeerCloseOrResetMidBody) {
    PeerSend(std::string(50, 'z'));
    PeerClose();
    TMemoryStream body;
    EXPECT_THROW(conn.ReadToStream(body, 100, false), ENetConnClosedGracefully);
    // Everything received is still there: in the stream or in the buffer.
    EXPECT_EQ(body.Size() + conn.InputBuffer().Size(), 50);
    EXPECT_EQ(conn.ReadAvailable().size() + static_cast<size_t>(body.Size()), 50u);
}

// Records how far the reader grows it.
class TGrowthStream : public TMemoryStream {
  public:
    int64_t largest = 0;
    void SetSize(int64_t n) override {
        largest = std::max(largest, n);
        TMemoryStream::SetSize(n);
    }
};

TEST_F(ConnTest, ClaimedHugeCountIsNotAllocatedAhead) {
    PeerSend(std::string("\x7f\xff\xff\xff", 4) + "only ten b");
    PeerClose();
    TGrowthStream body;
    EXPECT_THROW(conn.ReadToStream(body, -1, false), ENetConnClosedGracefully);
    EXPECT_LE(body.largest, TNetTCPConnection::MaxStreamPreallocation);
    EXPECT_EQ(body.Size() + conn.InputBuffer().Size(), 10);
}

TEST_F(ConnTest, PeerResetMidBodyRaisesSocketError) {
    PeerSend(std::string(40, 'r'));
    BufferPending(40);
    PeerReset();
    char block[100];
    try {
        conn.ReadExact(block, sizeof(block));
        FAIL();
    } catch (const ENetSocketError& e) {
        EXPECT_EQ(e.LastError(), 10054);
    }
    EXPECT_EQ(conn.InputBuffer().Size(), 40);
}

TEST_F(ConnTest, ReadToStreamUntilDisconnectTakesEverything) {
    std::string data(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 131 + 7);
    std::thread writer([&] {
        PeerSend(data);
        PeerClose();
    });
    TStringStream out;
    EXPECT_NO_THROW(conn.ReadToStream(out, -1, true));
    writer.join();
    EXPECT_EQ(out.DataString().size(), data.size());
    EXPECT_TRUE(out.DataString() == data);
}

TEST_F(ConnTest, CountedStreamRoundTripAndIntegers) {
    conn.WriteInt32(0x01020304, true);
    EXPECT_EQ(nettest::RawRecvExact(peer, 4), std::string("\x01\x02\x03\x04", 4));

    PeerSend(std::string("\x00\x00\x00\x05hello", 9));
    TStringStream s("XY");
    s.SetPosition(2);
    conn.ReadToStream(s, -1, false); // count read first, in network order
    EXPECT_EQ(s.DataString(), "XYhello");

    TStringStream src("0123456789");
    src.SetPosition(3);
    conn.WriteFromStream(src, false, true, 4);
    EXPECT_EQ(nettest::RawRecvExact(peer, 8), std::string("\x00\x00\x00\x04"
                                                          "3456",
                                                          8));

    TStringStream shortSrc("abc");
    EXPECT_THROW(conn.WriteFromStream(shortSrc, true, false, 10), ENetNoDataToRead);
}

TEST_F(ConnTest, WriteCollectionWithAndWithoutThreshold) {
    conn.StartWriteBuffer(0);
    conn.WriteLine("first");
    conn.WriteText("second");
    EXPECT_EQ(nettest::RawRecvFor(peer, 100), ""); // nothing sent yet
    conn.FinishWriteBuffer();
    EXPECT_EQ(nettest::RawRecvExact(peer, 13), "first\r\nsecond");
    EXPECT_FALSE(conn.WriteBufferOpen());

    conn.StartWriteBuffer(1000);
    conn.WriteText(std::string(600, 'a'));
    EXPECT_EQ(nettest::RawRecvFor(peer, 100), "");
    conn.WriteText(std::string(600, 'b'));
    const std::string first = nettest::RawRecvFor(peer, 100);
    EXPECT_EQ(first, std::string(600, 'a') + std::string(400, 'b'));
    conn.FinishWriteBuffer();
    EXPECT_EQ(nettest::RawRecvExact(peer, 200), std::string(200, 'b'));

    conn.StartWriteBuffer(0);
    conn.WriteText("dropped");
    conn.DiscardWriteBuffer();
    conn.FinishWriteBuffer();
    conn.WriteLine("");
    conn.WriteText("");
    EXPECT_EQ(nettest::RawRecvFor(peer, 100), "\r\n");
}

TEST_F(ConnTest, ReadLinesUntilEmptyLineWithDotStripping) {
    PeerSend("Host: x\r\n..dotted\r\n.single\r\n\r\nbody");
    TStringList lines;
    EXPECT_EQ(conn.ReadLinesUntil(lines, "", true), 3);
    EXPECT_EQ(lines.Text(), "Host: x\r\n.dotted\r\n.single\r\n");
    PeerSend("\nEND\n");
    TStringStream s;
    EXPECT_EQ(conn.ReadLinesUntil(s, "END", false), 1);
    EXPECT_EQ(s.DataString(), "body\r\n");
}

TEST_F(ConnTest, ReadTimeoutRaisesAndExplicitTimeoutDoesNot) {
    conn.ReadTimeout = 150;
    const auto t0 = Clock::now();
    try {
        conn.ReadLine();
        FAIL();
    } catch (const ENetReadTimeout& e) {
        EXPECT_EQ(e.Message(), "Read Timeout");
    }
    EXPECT_GE(MsSince(t0), 100);
    EXPECT_TRUE(conn.IsConnected()); // a time-out leaves the socket open
    EXPECT_EQ(conn.ReadLine("\n", 20), "");
    EXPECT_TRUE(conn.ReadLnTimedOut());
}

TEST_F(ConnTest, CloseFromAnotherThreadWakesTheBlockedReader) {
    std::atomic<long long> wokeAfter{-1};
    Clock::time_point closedAt;
    std::atomic<bool> closed{false};
    std::thread owner([&] {
        try {
            conn.ReadLine(); // blocks: the peer sends nothing
        } catch (const ENetException& e) {
            // Seen by the wait (graceful close) or by the receive ("Disconnected.").
            if (dynamic_cast<const ENetConnClosedGracefully*>(&e) ||
                dynamic_cast<const ENetClosedSocket*>(&e)) {
                while (!closed) {
                }
                wokeAfter = MsSince(closedAt);
            } else {
                wokeAfter = -3;
            }
        } catch (...) {
            wokeAfter = -2;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    closedAt = Clock::now();
    conn.CloseConnectionSocket(); // as a stopping server does
    closed = true;
    owner.join();
    EXPECT_GE(wokeAfter, 0);
    EXPECT_LT(wokeAfter, 5000); // without the wake the reader would block for good
    EXPECT_FALSE(conn.IsConnected());
}

TEST_F(ConnTest, WritesAfterPeerResetFailWithoutSignal) {
    PeerReset();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::string block(65536, 'w');
    try {
        for (int i = 0; i < 100; ++i)
            conn.WriteText(block);
        FAIL();
    } catch (const ENetSocketError& e) {
        EXPECT_TRUE(e.LastError() == 10054 || e.LastError() == 10058 || e.LastError() == 10053)
            << e.LastError();
    }
    EXPECT_FALSE(conn.IsConnected()); // those codes close the socket
    try {
        conn.WriteText("x");
        FAIL();
    } catch (const ENetException& e) { // closed here: graceful or not connected
        EXPECT_TRUE(dynamic_cast<const ENetConnClosedGracefully*>(&e) ||
                    dynamic_cast<const ENetNotConnected*>(&e));
    }
}

TEST_F(ConnTest, DisconnectFreesOwnedHandlerAndReportsOnce) {
    std::vector<std::string> statuses;
    conn.OnStatus = [&](TNetComponent&, TNetStatus, const std::string& text) {
        statuses.push_back(text);
    };
    conn.Disconnect();
    EXPECT_EQ(conn.IOHandler(), nullptr);
    EXPECT_EQ(disconnectedEvents, 1);
    EXPECT_EQ(statuses, (std::vector<std::string>{"Disconnecting.", "Disconnected."}));
    EXPECT_EQ(nettest::RawRecvFor(peer, 200), ""); // peer sees the close
    try {
        conn.WriteLine("late");
        FAIL();
    } catch (const ENetNotConnected& e) {
        EXPECT_EQ(e.Message(), "Not Connected");
    }
    conn.Disconnect(); // again: nothing
    EXPECT_EQ(disconnectedEvents, 1);
}

TEST_F(ConnTest, WorkProgressCountsBytesHandedOut) {
    int64_t last = 0;
    conn.OnWork = [&](TNetComponent&, TWorkMode m, int64_t n) {
        if (m == TWorkMode::wmRead) last = n;
    };
    PeerSend("a\nbb\n\n");
    EXPECT_EQ(conn.ReadLinesUntil(""), 2);
    EXPECT_EQ(last, 6);
}

TEST_F(ConnTest, WriteFileContents) {
    try {
        conn.WriteFileContents("/nonexistent/kx.txt");
        FAIL();
    } catch (const ENetFileNotFound& e) {
        EXPECT_EQ(e.Message(), "File \"/nonexistent/kx.txt\" not found");
    }
    char name[] = "/tmp/kx_wfc_XXXXXX";
    const int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "file body", 9), 9);
    ::close(fd);
    EXPECT_EQ(conn.WriteFileContents(name), 9);
    EXPECT_EQ(nettest::RawRecvExact(peer, 9), "file body");
    std::remove(name);
}

TEST_F(ConnTest, InterceptRewritesBothDirectionsAndFilterClearsBit7) {
    auto upper = std::make_shared<TNetConnectionIntercept>();
    auto rewrite = [](TNetConnectionIntercept&, TStream& data) {
        TMemoryStream& m = dynamic_cast<TMemoryStream&>(data);
        for (int64_t i = 0; i < m.Size(); ++i)
            m.Memory()[i] = static_cast<uint8_t>(std::toupper(m.Memory()[i]));
        m.Seek(0, TSeekOrigin::soEnd);
        m.WriteBuffer("!", 1); // a filter may change the length
    };
    upper->OnReceive = rewrite;
    upper->OnSend = rewrite;
    conn.SetIntercept(upper);
    conn.ASCIIFilter = true;
    PeerSend("ab\xe3\n");
    EXPECT_EQ(conn.ReadLine("!"), "AB\x63\n"); // 0xE3 with bit 7 cleared
    conn.WriteText("xy");
    EXPECT_EQ(nettest::RawRecvExact(peer, 3), "XY!");
}

TEST(ClientConnect, ConnectsRefusesAndTimesOut) {
    int port = 0;
    const int l = nettest::RawListen(port);
    TNetTCPConnection c;
    auto h = std::make_unique<TNetIOHandlerSocket>();
    h->SetUseNagle(false);
    h->ConnectToHost("localhost", port, 0);
    EXPECT_EQ(h->Binding()->PeerPort(), port);
    c.SetIOHandler(std::move(h));
    c.WriteLine("hi");
    const int s = ::accept(l, nullptr, nullptr);
    EXPECT_EQ(nettest::RawRecvExact(s, 4), "hi\r\n");
    // Reconnecting the same handler closes the first socket.
    c.IOHandler()->ConnectToHost("127.0.0.1", port, 0);
    pollfd p{s, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1);
    char byte;
    EXPECT_EQ(::recv(s, &byte, 1, 0), 0); // orderly end of the first connection
    const int s2 = ::accept(l, nullptr, nullptr);
    c.WriteLine("again");
    EXPECT_EQ(nettest::RawRecvExact(s2, 7), "again\r\n");
    ::close(s2);
    ::close(s);
    ::close(l);

    TNetIOHandlerSocket refused;
    try {
        refused.ConnectToHost("127.0.0.1", port, 0);
        FAIL();
    } catch (const ENetSocketError& e) {
        EXPECT_EQ(e.LastError(), 10061);
    }
    try {
        refused.ConnectToHost("127.0.0.1", port, 2000);
        FAIL();
    } catch (const ENetConnectException& e) {
        EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
    }
}

TEST(Buffers, ManagedRemoveAndPackKeepTheBytes) {
    TNetManagedBuffer b;
    std::string all;
    for (int i = 0; i < 20000; ++i)
        all += static_cast<char>('a' + i % 26);
    b.Append(all.data(), static_cast<int64_t>(all.size()));
    int64_t removed = 0;
    b.OnBytesRemoved = [&](TNetSimpleBuffer&, int64_t n) { removed += n; };
    std::string got;
    // Small pieces cross the pack threshold while more is appended.
    for (int i = 0; i < 900; ++i) {
        got += b.Extract(37);
        if (i == 400) b.Append(all.data(), static_cast<int64_t>(all.size()));
    }
    EXPECT_EQ(got, (all + all).substr(0, 900 * 37));
    EXPECT_EQ(removed, 900 * 37);
    EXPECT_EQ(b.Size(), 40000 - 900 * 37);
    try {
        b.Remove(b.Size() + 1);
        FAIL();
    } catch (const ENetNotEnoughDataInBuffer& e) {
        EXPECT_EQ(e.Message(), "Not enough data in buffer.");
    }
    b.Remove(b.Size());
    EXPECT_EQ(b.Size(), 0);

    TNetSimpleBuffer s;
    s.Append("hello", 5);
    s.Remove(2);
    EXPECT_EQ(s.Extract(3), "llo");
}

TEST(Replies, FormatAndParse) {
    TNetRFCReply r;
    r.SetReply(250, "first\nlast");
    EXPECT_EQ(r.FormattedReply(), "250-first\r\n250 last\r\n");
    r.Text().Clear();
    EXPECT_EQ(r.FormattedReply(), "250\r\n");
    r.SetNumericCode(-1);
    EXPECT_EQ(r.TextCode(), "250"); // only codes above 0 change the text code
    EXPECT_EQ(r.FormattedReply(), "");
    TStringList lines;
    lines.SetText("550-No\n550 such file");
    r.ParseReply(lines);
    EXPECT_EQ(r.NumericCode(), 550);
    EXPECT_EQ(r.Text().Text(), "No\r\nsuch file\r\n");
}

} // namespace
