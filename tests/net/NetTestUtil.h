#pragma once
// Plain POSIX sockets playing the far end of the library's sockets in tests:
// they give exact control over what the peer sends, when it closes and how.
#include "support/TestPorts.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>

namespace nettest {

// 127.0.0.1:port (0: any free port when binding).
using testports::Loopback;

inline int RawConnect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0)
        throw std::runtime_error("test connect failed");
    return fd;
}

// Listening socket on 127.0.0.1 with a system-chosen port.
inline int RawListen(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(0);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || ::listen(fd, 8) != 0)
        throw std::runtime_error("test listen failed");
    socklen_t len = sizeof(a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

// Binds (without listening) to 127.0.0.1:port; -1 when taken.
inline int RawBind(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

inline void RawSendAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t r = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (r <= 0) throw std::runtime_error("test send failed");
        done += static_cast<size_t>(r);
    }
}

// Whatever arrives within timeoutMs of silence (stops at the peer's close).
inline std::string RawRecvFor(int fd, int timeoutMs) {
    std::string out;
    char buf[65536];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return out;
        const ssize_t r = ::recv(fd, buf, sizeof(buf), 0);
        if (r <= 0) return out;
        out.append(buf, static_cast<size_t>(r));
    }
}

// Receives exactly n bytes (or fewer when the peer closes).
inline std::string RawRecvExact(int fd, size_t n) {
    std::string out;
    char buf[65536];
    while (out.size() < n) {
        const ssize_t r = ::recv(fd, buf, std::min(sizeof(buf), n - out.size()), 0);
        if (r <= 0) break;
        out.append(buf, static_cast<size_t>(r));
    }
    return out;
}

// Closes with a reset instead of an orderly close.
inline void RawReset(int fd) {
    linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof(l));
    ::close(fd);
}

} // namespace nettest
