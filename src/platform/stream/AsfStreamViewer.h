#pragma once
// What the stream server's two halves (ASF viewers, browser viewers) share:
// the viewer record and the socket helpers of a viewer's thread.
#include "platform/stream/AsfStreamServer.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

struct AsfStreamServer::Viewer {
    Viewer(int socket, uint64_t number, std::string peer)
        : fd(socket), id(number), address(std::move(peer)),
          since(std::chrono::system_clock::now()) {}
    const int fd;
    const uint64_t id;
    const std::string address; // "host:port"
    const std::chrono::system_clock::time_point since;
    std::atomic<uint64_t> bytesSent{0};
    std::thread thread;
    ViewerKind kind = ViewerKind::Plain;
    bool admitted = false;   // counted in streaming_ (guarded by the server's lock_)
    bool registered = false; // receives packets (guarded by the server's lock_)
    // A browser viewer is counted in streaming_ by its own code (never
    // "admitted", so that it never takes ASF packets); under lock_.
    bool webmCounted = false;    // counted in streaming_ (under lock_)
    bool webmRegistered = false; // receives WebM pieces
    bool awaitingKey = true;     // skips pieces until one it can begin with
    std::atomic<bool> finished{false};

    // m guards the fields below.
    std::mutex m;
    std::condition_variable cv;
    std::deque<Packet> queue;
    size_t queuedBytes = 0;
    bool closed = false;
    bool eos = false;
};

namespace asfstream {

// Sends every byte of the given pieces; false when the peer is gone.
inline bool SendAll(int fd, iovec* iov, int count) {
    while (count > 0) {
        msghdr msg{};
        msg.msg_iov = iov;
        msg.msg_iovlen = size_t(count);
        ssize_t n = sendmsg(fd, &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        size_t left = size_t(n);
        while (count > 0 && left >= iov->iov_len) {
            left -= iov->iov_len;
            ++iov;
            --count;
        }
        if (count > 0) {
            iov->iov_base = static_cast<uint8_t*>(iov->iov_base) + left;
            iov->iov_len -= left;
        }
    }
    return true;
}

inline bool SendText(int fd, const std::string& s) {
    iovec iov{const_cast<char*>(s.data()), s.size()};
    return SendAll(fd, &iov, 1);
}

// SendAll for a viewer's stream, counting what went out.
inline bool SendCounted(AsfStreamServer::Viewer& v, iovec* iov, int count) {
    size_t total = 0;
    for (int i = 0; i < count; ++i)
        total += iov[i].iov_len;
    if (!SendAll(v.fd, iov, count)) return false;
    v.bytesSent += total;
    return true;
}

// True when the peer has closed or reset; what a viewer sends after its
// request is read and dropped.
inline bool PeerGone(int fd) {
    for (;;) {
        pollfd p{fd, POLLIN | POLLRDHUP, 0};
        if (::poll(&p, 1, 0) <= 0) return false;
        if (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) return true;
        char buf[512];
        ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n == 0) return true;
        if (n < 0) return errno != EAGAIN && errno != EINTR;
    }
}

} // namespace asfstream
