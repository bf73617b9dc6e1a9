#include "platform/stream/StreamViewer.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

namespace {

bool SendAll(int fd, iovec* iov, int count) {
    while (count > 0) {
        msghdr msg{};
        msg.msg_iov = iov;
        msg.msg_iovlen = size_t(count);
        const ssize_t n = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
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

// True when the peer has closed or reset; what a viewer sends after its
// request is read and dropped.
bool PeerGone(int fd) {
    for (;;) {
        pollfd p{fd, POLLIN | POLLRDHUP, 0};
        if (::poll(&p, 1, 0) <= 0) return false;
        if (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) return true;
        char buf[512];
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n == 0) return true;
        if (n < 0) return errno != EAGAIN && errno != EINTR;
    }
}

std::string LowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

bool IsWebmTarget(const std::string& request) {
    const size_t sp1 = request.find(' ');
    if (sp1 == std::string::npos) return false;
    const size_t end = request.find_first_of(" ?\r\n", sp1 + 1);
    return request.compare(sp1 + 1, end - sp1 - 1, "/live.webm") == 0;
}

} // namespace

StreamViewerKind StreamViewerKindOf(const std::string& request) {
    if (IsWebmTarget(request)) return StreamViewerKind::Webm;
    const std::string lower = LowerAscii(request);
    const bool player = lower.find("\nuser-agent: nsplayer") != std::string::npos ||
                        lower.find("\nuser-agent:nsplayer") != std::string::npos;
    if (!player) return StreamViewerKind::Plain;
    return lower.find("xplaystrm=1") != std::string::npos ? StreamViewerKind::Play
                                                          : StreamViewerKind::Describe;
}

std::string RequestTarget(const std::string& request) {
    const size_t sp1 = request.find(' ');
    if (sp1 == std::string::npos) return {};
    const size_t end = request.find_first_of(" \r\n", sp1 + 1);
    return request.substr(sp1 + 1, end == std::string::npos ? end : end - sp1 - 1);
}

std::string RequestHeader(const std::string& request, const std::string& name) {
    const std::string lower = LowerAscii(request);
    const std::string key = "\n" + LowerAscii(name) + ":";
    const size_t at = lower.find(key);
    if (at == std::string::npos) return {};
    size_t begin = at + key.size();
    size_t end = request.find_first_of("\r\n", begin);
    if (end == std::string::npos) end = request.size();
    while (begin < end && (request[begin] == ' ' || request[begin] == '\t'))
        ++begin;
    while (end > begin && (request[end - 1] == ' ' || request[end - 1] == '\t'))
        --end;
    return request.substr(begin, end - begin);
}

bool IsGetRequest(const std::string& request) {
    return request.compare(0, request.find(' '), "GET") == 0;
}

StreamViewer::StreamViewer(OwnedFd s, uint64_t number, StreamViewerKind k, std::string peer)
    : socket(std::move(s)), id(number), kind(k), address(std::move(peer)),
      since(std::chrono::system_clock::now()) {}

bool StreamViewer::Counted() const {
    return kind != StreamViewerKind::Describe &&
           (status == StreamViewerStatus::Waiting || status == StreamViewerStatus::Joining ||
            status == StreamViewerStatus::Streaming);
}

void StreamViewer::Push(const StreamPacket& p) {
    if (p) queuedBytes += p->size();
    queue.push_back(p);
    cv.notify_one();
}

void StreamViewer::Drop() {
    if (status != StreamViewerStatus::Done) status = StreamViewerStatus::Closed;
    queue.clear();
    queuedBytes = 0;
    socket.Shutdown();
    cv.notify_all();
}

StreamViewer::Next StreamViewer::Take(StreamPacket& out) {
    std::unique_lock<std::mutex> g(m);
    while (!cv.wait_for(g, std::chrono::milliseconds(250),
                        [&] { return !queue.empty() || status == StreamViewerStatus::Closed; })) {
        // Idle: notice a viewer that went away while nothing was sent.
        if (PeerGone(socket.Get())) return Next::Gone;
    }
    if (status == StreamViewerStatus::Closed) return Next::Gone;
    out = std::move(queue.front());
    queue.pop_front();
    if (!out) return Next::End;
    queuedBytes -= out->size();
    return Next::Packet;
}

bool StreamViewer::Send(iovec* iov, int count) {
    size_t total = 0;
    for (int i = 0; i < count; ++i)
        total += iov[i].iov_len;
    if (!SendAll(socket.Get(), iov, count)) return false;
    bytesSent += total;
    return true;
}

bool StreamViewer::SendText(const std::string& text) const {
    iovec iov{const_cast<char*>(text.data()), text.size()};
    return SendAll(socket.Get(), &iov, 1);
}
