#pragma once
// Loopback ports for tests and benchmarks: a free one to give a server, and
// probes of whether something listens on one. Plain POSIX, no Qt, so the
// network and HTTP tests can use it too.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

namespace testports {

// 127.0.0.1:port (0: any free port when binding).
inline sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

} // namespace testports

// A TCP port on 127.0.0.1 that was free a moment ago (the kernel's pick,
// released again); never the same twice in one program, so that two ports
// picked before either is bound differ.
inline int FreePort() {
    static std::mutex lock;
    static std::set<int> given;
    for (;;) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = testports::Loopback(0);
        socklen_t len = sizeof a;
        int port = 0;
        if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port = ntohs(a.sin_port);
        if (fd >= 0) ::close(fd);
        if (port == 0) throw std::runtime_error("no free loopback port");
        std::lock_guard guard(lock);
        if (given.insert(port).second) return port;
    }
}

// Whether something accepts connections on 127.0.0.1:port right now.
inline bool PortAccepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const sockaddr_in a = testports::Loopback(port);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// Waits until something accepts on 127.0.0.1:port; false when the time is
// up or giveUp() says there is no point waiting (the server died). Probes
// every millisecond, so that start-up benchmarks can time with it.
inline bool WaitForPort(int port, std::chrono::milliseconds limit,
                        const std::function<bool()>& giveUp = {}) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (PortAccepts(port)) return true;
        if (std::chrono::steady_clock::now() >= deadline || (giveUp && giveUp())) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}
