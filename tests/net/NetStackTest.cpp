#include "NetTestUtil.h"
#include "net/NetComponent.h"
#include "net/NetStackWindows.h"
#include "net/NetWinSock2.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

namespace {

// Any component keeps the stack alive for a test.
class StackTest : public ::testing::Test {
  protected:
    TNetComponent component;
    TNetStack& stack = SocketStack();
};

TEST_F(StackTest, ErrorTextsCarryCodeAndLine) {
    EXPECT_EQ(stack.SocketErrorText(10054), "Socket Error # 10054\r\nConnection reset by peer.");
    EXPECT_EQ(stack.SocketErrorText(12345), "Socket Error # 12345\r\n");
    EXPECT_EQ(stack.SocketErrorText(11001), "Socket Error # 11001\r\nHost not found.");
    EXPECT_EQ(stack.SocketErrorText(10035), "Socket Error # 10035\r\nOperation would block. ");
    try {
        stack.RaiseSocketError(10061);
        FAIL();
    } catch (const ENetSocketError& e) {
        EXPECT_EQ(e.LastError(), 10061);
        EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
    }
    EXPECT_EQ(stack.LastError(), 10061);
}

TEST_F(StackTest, RealFailuresSpeakWindowsNumbers) {
    // A refused connect on loopback: ECONNREFUSED must come out as 10061.
    int port = 0;
    const int l = nettest::RawListen(port);
    ::close(l);
    const TNetSocket s = stack.NewSocket(NetSOCK_STREAM, 0);
    const int32_t r = stack.SocketConnect(s, NetAF_INET, port, "127.0.0.1");
    try {
        stack.CheckSocketResult(r);
        FAIL();
    } catch (const ENetSocketError& e) {
        EXPECT_EQ(e.LastError(), 10061);
    }
    // An ignored code is recorded and reported as true, not raised.
    EXPECT_TRUE(
        stack.CheckSocketResult(stack.SocketConnect(s, NetAF_INET, port, "127.0.0.1"), {10061}));
    EXPECT_FALSE(stack.CheckSocketResult(0));
    stack.SocketClose(s);
    // A closed descriptor: 10038.
    EXPECT_TRUE(stack.CheckSocketResult(stack.SocketSend(s, "x", 0, 1), {NetWSAENOTSOCK}));
}

TEST_F(StackTest, ParseIPv4FormsAndClasses) {
    auto p = TNetStack::ParseIPv4("10.1");
    EXPECT_TRUE(p.Valid);
    EXPECT_EQ(p.Bytes, (std::array<uint8_t, 4>{10, 0, 0, 1}));
    EXPECT_EQ(p.Form, 1);
    EXPECT_EQ(p.Class, 1);
    p = TNetStack::ParseIPv4("10.1.2");
    EXPECT_EQ(p.Bytes, (std::array<uint8_t, 4>{10, 1, 0, 2}));
    EXPECT_EQ(p.Class, 2);
    p = TNetStack::ParseIPv4("167772161");
    EXPECT_EQ(p.Bytes, (std::array<uint8_t, 4>{10, 0, 0, 1}));
    EXPECT_EQ(p.Form, 2);
    EXPECT_EQ(p.Class, 0);
    p = TNetStack::ParseIPv4("1.2.65535");
    EXPECT_EQ(p.Bytes, (std::array<uint8_t, 4>{1, 2, 255, 255}));
    EXPECT_EQ(TNetStack::ParseIPv4("4294967295").Bytes,
              (std::array<uint8_t, 4>{255, 255, 255, 255}));

    const std::pair<const char*, int> classes[] = {
        {"127.0.0.1", 1}, {"128.0.0.1", 2}, {"191.1.1.1", 2}, {"192.168.0.1", 3},
        {"224.0.0.1", 4}, {"239.9.9.9", 4}, {"240.0.0.1", 5}};
    for (const auto& [ip, cls] : classes)
        EXPECT_EQ(TNetStack::ParseIPv4(ip).Class, cls) << ip;

    for (const char* bad : {"256.1.1.1", "1.2.3.4.5", "a.b.c.d", "", "1..2.3", "4294967296",
                            "1.2.65536", "-1.2.3.4", " 1.2.3.4", "1.16777216"}) {
        EXPECT_FALSE(TNetStack::IsIP(bad)) << bad;
        EXPECT_TRUE(TNetStack::IPIsType(bad, 0)) << bad;
    }
    EXPECT_TRUE(TNetStack::IPIsType("3232235521", 2));
    try {
        stack.TextToAddress("1.2.3.4.5");
        FAIL();
    } catch (const ENetInvalidIPAddress& e) {
        EXPECT_EQ(e.Message(), "1.2.3.4.5 is not a valid IP address.");
    }
    EXPECT_EQ(stack.AddressToText(stack.TextToAddress("10.1.2")), "10.1.0.2");
}

TEST_F(StackTest, ResolveHostShortcutsAndLookups) {
    for (const char* h : {"localhost", "LocalHost", "LOCALHOST"})
        EXPECT_EQ(stack.ResolveHost(h), "127.0.0.1");
    EXPECT_EQ(stack.ResolveHost("10.1"), "10.1"); // addresses pass unchanged
    try {
        stack.HostByName("no-such-host.invalid");
        FAIL();
    } catch (const ENetSocketError& e) {
        EXPECT_EQ(e.LastError(), 11001);
        EXPECT_EQ(e.Message(), "Socket Error # 11001\r\nHost not found.");
    }
    EXPECT_FALSE(stack.LocalHostName().empty());
    try {
        EXPECT_GE(stack.LocalAddresses().Count(), 1);
        EXPECT_TRUE(TNetStack::IsIP(stack.LocalAddress()));
    } catch (const ENetSocketError& e) {
        // a host whose own name does not resolve: the look-up error is the result
        EXPECT_GE(e.LastError(), 11001);
    }
}

TEST_F(StackTest, ServiceNames) {
    EXPECT_EQ(stack.ServiceByName("8081"), 8081);
    try {
        stack.ServiceByName("no-such-service");
        FAIL();
    } catch (const ENetInvalidServiceName& e) {
        EXPECT_EQ(e.Message(), "no-such-service is not a valid service.");
    }
    std::ifstream services("/etc/services");
    if (services) {
        EXPECT_EQ(stack.ServiceByName("http"), 80);
        const auto list = stack.ServiceByPort(80);
        ASSERT_GE(list->Count(), 1);
        EXPECT_EQ((*list)[0], "http");
    }
}

// UDP sockets bound on loopback: real sockets whose readiness we control.
struct UdpSockets {
    std::vector<TNetSocket> fds;
    std::vector<int> ports;
    explicit UdpSockets(TNetStack& stack, int n) {
        for (int i = 0; i < n; ++i) {
            const TNetSocket s = stack.NewSocket(NetSOCK_DGRAM, 0);
            stack.CheckSocketResult(stack.SocketBind(s, NetAF_INET, 0, "127.0.0.1"));
            int32_t family = 0, port = 0;
            std::string ip;
            stack.SocketLocalName(s, family, ip, port);
            fds.push_back(s);
            ports.push_back(port);
        }
    }
    ~UdpSockets() {
        for (int fd : fds)
            ::close(fd);
    }
};

TEST_F(StackTest, SelectSetOf64WorksAnd65Raises) {
    UdpSockets socks(stack, 65);
    auto list = TNetSocketList::CreateSocketList();
    for (int i = 0; i < 64; ++i)
        list->Add(socks.fds[static_cast<size_t>(i)]);
    try {
        list->Add(socks.fds[64]);
        FAIL();
    } catch (const ENetStackSetSizeExceeded& e) {
        EXPECT_EQ(e.Message(), "Set Size Exceeded.");
    }
    EXPECT_THROW(list->Item(64), ENetStackSetSizeExceeded);
    EXPECT_THROW(list->Item(-1), ENetStackSetSizeExceeded);

    // Nothing readable: a short time-out returns 0 and empties the list.
    auto copy = TNetSocketList::CreateSocketList();
    for (int i = 0; i < 64; ++i)
        copy->Add(list->Item(i));
    EXPECT_EQ(stack.SocketSelect(copy.get(), nullptr, 20, nullptr), 0);
    EXPECT_EQ(copy->Count(), 0);

    // One datagram to the 40th socket: exactly that one comes back.
    EXPECT_EQ(stack.SocketSendTo(socks.fds[0], "x", 0, 1, "127.0.0.1", socks.ports[39]), 1);
    EXPECT_EQ(stack.SocketSelect(list.get(), nullptr, NetInfiniteTimeout, nullptr), 1);
    ASSERT_EQ(list->Count(), 1);
    EXPECT_EQ(list->Item(0), socks.fds[39]);

    // A read and a write list together count entries in both.
    auto readList = TNetSocketList::CreateSocketList();
    auto writeList = TNetSocketList::CreateSocketList();
    readList->Add(socks.fds[39]);
    readList->Add(socks.fds[1]);
    writeList->Add(socks.fds[1]);
    EXPECT_EQ(stack.SocketSelect(readList.get(), writeList.get(), 0, nullptr), 2);
    EXPECT_EQ(readList->Count(), 1);
    EXPECT_EQ(writeList->Count(), 1);
}

TEST_F(StackTest, SelectOnClosedDescriptorFailsLikeSelect) {
    const TNetSocket s = stack.NewSocket(NetSOCK_DGRAM, 0);
    stack.SocketClose(s);
    auto list = TNetSocketList::CreateSocketList();
    list->Add(s);
    EXPECT_EQ(stack.SocketSelect(list.get(), nullptr, 0, nullptr), -1);
    EXPECT_EQ(stack.LastSocketError(), NetWSAENOTSOCK);
}

TEST_F(StackTest, SocketListRemoveMovesLastIntoPlace) {
    TNetSocketListWindows l;
    for (int s : {5, 6, 7, 8})
        l.Add(s);
    l.Remove(6);
    l.Remove(42); // absent: ignored
    ASSERT_EQ(l.Count(), 3);
    EXPECT_EQ(l.Item(1), 8);
}

TEST(StackLifecycle, LastComponentFreesStackAndStartupRunsOnce) {
    {
        TNetComponent a;
        TNetStack* first = &SocketStack();
        {
            TNetComponent b;
            EXPECT_EQ(&SocketStack(), first); // no second stack
        }
        EXPECT_EQ(SocketStackOrNull(), first);
    }
    EXPECT_EQ(SocketStackOrNull(), nullptr);
    EXPECT_THROW(SocketStack(), ENetStackError);
    const int startups = TNetStackWindows::StartupCount();
    {
        TNetComponent c;
        EXPECT_NE(SocketStackOrNull(), nullptr);
    }
    EXPECT_EQ(TNetStackWindows::StartupCount(), startups);
    EXPECT_EQ(startups, 1);
}

TEST(WinSock2Binding, StubAndLoadErrorsKeepTheirTexts) {
    TNetWinSock2Library lib("libkx-no-such-library.so");
    try {
        lib.Proc(TNetWS2Entry::recv);
        FAIL();
    } catch (const ENetWS2StubError& e) {
        EXPECT_EQ(e.Win32Error(), 10093);
        EXPECT_EQ(e.Title(), "Error on call Winsock2 library function recv");
        EXPECT_EQ(e.Message(), e.Win32ErrorMessage() + ": " + e.Title());
    }
    try {
        lib.Startup(514);
        FAIL();
    } catch (const ENetWS2StubError& e) {
        EXPECT_EQ(e.Title(), "Error on loading Winsock2 library (libkx-no-such-library.so)");
        EXPECT_NE(e.Win32Error(), 0);
        EXPECT_FALSE(e.Win32ErrorMessage().empty());
    }
    EXPECT_FALSE(lib.Loaded());

    TNetWinSock2Library libc;
    EXPECT_EQ(libc.Startup(514), 0);
    EXPECT_EQ(libc.Startup(514), 0); // second start-up does nothing
    EXPECT_NE(libc.Proc(TNetWS2Entry::socket), nullptr);
    libc.Unload();
    EXPECT_THROW(libc.Proc(TNetWS2Entry::socket), ENetWS2StubError);
}

TEST(ErrnoTranslation, NamedCodes) {
    EXPECT_EQ(NetTranslateErrno(ECONNRESET), 10054);
    EXPECT_EQ(NetTranslateErrno(ECONNABORTED), 10053);
    EXPECT_EQ(NetTranslateErrno(EADDRINUSE), 10048);
    EXPECT_EQ(NetTranslateErrno(EPIPE), 10058);
    EXPECT_EQ(NetTranslateErrno(ESHUTDOWN), 10058);
    EXPECT_EQ(NetTranslateErrno(EINTR), 10004);
    EXPECT_EQ(NetTranslateErrno(EBADF), 10038);
    EXPECT_EQ(NetTranslateErrno(ENOTSOCK), 10038);
    EXPECT_EQ(NetTranslateErrno(ETIMEDOUT), 10060);
    EXPECT_EQ(NetTranslateErrno(ECONNREFUSED), 10061);
}

} // namespace
