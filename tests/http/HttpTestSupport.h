#pragma once
// Loopback helpers of the HTTP tests: a raw socket client that sends exact
// bytes and reads until the server closes, and a server on a free port.
#include "http/NetHTTPServer.h"
#include "support/TestPorts.h"
#include "support/WaitFor.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace httptest {

class RawClient {
  public:
    explicit RawClient(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
    }
    ~RawClient() { Close(); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Connected() const { return connected_; }
    int Fd() const { return fd_; }
    bool Send(const std::string& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }
    void ShutdownWrite() { ::shutdown(fd_, SHUT_WR); }
    // Reads until the peer closes (closed = true) or nothing arrives for timeoutMs.
    std::string ReadUntilClose(int timeoutMs = 5000, bool* closed = nullptr) {
        std::string out;
        if (closed) *closed = false;
        char buf[65536];
        while (true) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0) return out;
            const ssize_t n = ::recv(fd_, buf, sizeof(buf), 0);
            if (n <= 0) {
                if (closed) *closed = true;
                return out;
            }
            out.append(buf, static_cast<size_t>(n));
        }
    }
    // Reads until `count` bytes arrived or timeout / close.
    std::string ReadAtLeast(size_t count, int timeoutMs = 5000) {
        return ReadWhile([count](const std::string& out) { return out.size() < count; }, timeoutMs);
    }
    // Reads until the received bytes contain `text` (or timeout / close).
    std::string ReadUntilContains(const std::string& text, int timeoutMs = 5000) {
        return ReadWhile(
            [&text](const std::string& out) { return out.find(text) == std::string::npos; },
            timeoutMs);
    }
    // Abortive close: the server sees a connection reset.
    void Reset() {
        linger l{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof(l));
        Close();
    }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

  private:
    // Reads while more is wanted, until timeoutMs has passed or the peer closes.
    template <class MoreWanted> std::string ReadWhile(MoreWanted moreWanted, int timeoutMs) {
        std::string out;
        char buf[65536];
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (moreWanted(out) && std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = ::recv(fd_, buf, sizeof(buf), 0);
            if (n <= 0) break;
            out.append(buf, static_cast<size_t>(n));
        }
        return out;
    }

    int fd_ = -1;
    bool connected_ = false;
};

// Sends a request and returns everything up to the server's close.
inline std::string Exchange(int port, const std::string& request, bool* closed = nullptr) {
    RawClient c(port);
    c.Send(request);
    return c.ReadUntilClose(5000, closed);
}

// The port an active server listens on (its first binding).
inline int PortOf(TNetTCPServer& server) {
    return server.Bindings()[0].Port();
}

inline int ThreadCountNow() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
    return -1;
}

// The thread count to come back to. One thread is started and joined first:
// sanitizer runtimes start a helper thread of their own with the first one.
inline int ThreadCountBaseline() {
    std::thread([] {}).join();
    return ThreadCountNow();
}

inline long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

// Waits (bounded) until the process is back at `threads` threads.
inline bool WaitForThreadCount(int threads, int timeoutMs = 10000) {
    return WaitFor([&] { return ThreadCountNow() <= threads; }, timeoutMs);
}

// The header block (up to the blank line) and the body of a raw reply.
inline std::string HeadOf(const std::string& reply) {
    const size_t p = reply.find("\r\n\r\n");
    return p == std::string::npos ? reply : reply.substr(0, p + 4);
}
inline std::string BodyOf(const std::string& reply) {
    const size_t p = reply.find("\r\n\r\n");
    return p == std::string::npos ? std::string() : reply.substr(p + 4);
}

// An HTTP server on a system-chosen loopback port with the program's settings.
class ServerFixture {
  public:
    ServerFixture() {
        TNetSocketHandle& b = server.Bindings().Add();
        b.SetIP("127.0.0.1");
        b.SetPort(0);
        server.ListenQueue = 99;
        server.TerminateWaitTime = 7500;
    }
    void Start() {
        server.SetActive(true);
        port = PortOf(server);
    }
    TNetHTTPServer server;
    int port = 0;
};

} // namespace httptest
