#include "platform/stream/AsfStreamServer.h"

#include "platform/stream/AsfPendingRequests.h"
#include "platform/stream/AsfStreamViewer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

using namespace asfstream;

// Room for a burst of connections while the listener is busy.
constexpr int kListenBacklog = 128;
// A chunk's length field is 16 bits and counts 8 bytes of its own header.
constexpr size_t kMaxChunkPayload = 0xFFFF - 8;

void ChunkHeader(uint8_t out[12], uint16_t type, size_t payload, uint32_t seq) {
    const uint16_t len = uint16_t(payload + 8);
    out[0] = uint8_t(type & 0xFF);
    out[1] = uint8_t(type >> 8);
    out[2] = uint8_t(len & 0xFF);
    out[3] = uint8_t(len >> 8);
    out[4] = uint8_t(seq & 0xFF);
    out[5] = uint8_t(seq >> 8);
    out[6] = uint8_t(seq >> 16);
    out[7] = uint8_t(seq >> 24);
    out[8] = 0;
    out[9] = 0;
    out[10] = out[2];
    out[11] = out[3];
}

constexpr uint16_t kChunkHeader = 0x4824; // "$H"
constexpr uint16_t kChunkData = 0x4424;   // "$D"
constexpr uint16_t kChunkEnd = 0x4524;    // "$E"

std::string ErrnoText(int err) {
    char buf[256];
    return std::string(strerror_r(err, buf, sizeof buf));
}

std::string LowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

// True when the request line asks for the browser stream (a query is ignored).
bool IsWebmTarget(const std::string& request) {
    const size_t sp1 = request.find(' ');
    if (sp1 == std::string::npos) return false;
    const size_t end = request.find_first_of(" ?\r\n", sp1 + 1);
    return request.compare(sp1 + 1, end - sp1 - 1, "/live.webm") == 0;
}

// "host:port" of a connected socket's peer ("?" when it cannot be read).
std::string PeerAddress(int fd) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return "?";
    char host[INET6_ADDRSTRLEN] = "?";
    if (addr.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&addr);
        ::inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
        return std::string(host) + ":" + std::to_string(ntohs(in->sin_port));
    }
    if (addr.ss_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&addr);
        ::inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
        return "[" + std::string(host) + "]:" + std::to_string(ntohs(in6->sin6_port));
    }
    return "?";
}

} // namespace

// ---------------------------------------------------------------------------

AsfStreamServer::AsfStreamServer() {
    packetizer_.OnHeader = [this](Bytes header, uint32_t) { SetHeader(std::move(header)); };
    packetizer_.OnPacket = [this](Bytes packet) { PushPacket(std::move(packet)); };
    webmSplitter_.OnHeader = [this](Bytes header, std::string codecs) {
        WebmHeader(std::move(header), std::move(codecs));
    };
    webmSplitter_.OnPiece = [this](Bytes piece, bool clusterStart, bool joinable) {
        WebmPiece(std::move(piece), clusterStart, joinable);
    };
}

AsfStreamServer::~AsfStreamServer() {
    Close();
}

void AsfStreamServer::SetBindAddress(std::string address) {
    std::lock_guard<std::mutex> g(lock_);
    bindAddress_ = std::move(address);
}

void AsfStreamServer::SetMaximumClients(uint32_t count) {
    std::lock_guard<std::mutex> g(lock_);
    maxClients_ = count;
}

uint32_t AsfStreamServer::MaximumClients() const {
    std::lock_guard<std::mutex> g(lock_);
    return maxClients_;
}

void AsfStreamServer::SetMaxQueueBytes(size_t bytes) {
    std::lock_guard<std::mutex> g(lock_);
    maxQueueBytes_ = bytes;
}

void AsfStreamServer::SetSendBufferBytes(size_t bytes) {
    std::lock_guard<std::mutex> g(lock_);
    if (bytes == sendBufferBytes_) return;
    sendBufferBytes_ = bytes;
    int value = int(bytes);
    for (auto& v : viewers_)
        ::setsockopt(v->fd, SOL_SOCKET, SO_SNDBUF, &value, sizeof value);
}

void AsfStreamServer::SetRequestTimeout(std::chrono::milliseconds timeout) {
    std::lock_guard<std::mutex> g(lock_);
    requestTimeout_ = timeout;
}

void AsfStreamServer::SetMaxPendingConnections(size_t count) {
    std::lock_guard<std::mutex> g(lock_);
    maxPending_ = count;
}

bool AsfStreamServer::IsOpen() const {
    std::lock_guard<std::mutex> g(lock_);
    return open_;
}

uint32_t AsfStreamServer::Port() const {
    std::lock_guard<std::mutex> g(lock_);
    return port_;
}

bool AsfStreamServer::HasHeader() const {
    std::lock_guard<std::mutex> g(lock_);
    return header_ != nullptr;
}

size_t AsfStreamServer::ViewerCount() const {
    std::lock_guard<std::mutex> g(lock_);
    return streaming_;
}

std::vector<TStreamViewer> AsfStreamServer::Viewers() const {
    std::vector<TStreamViewer> list;
    std::lock_guard<std::mutex> g(lock_);
    for (const auto& v : viewers_) {
        if (!v->admitted && !v->webmCounted) continue;
        const TStreamViewerKind kind = v->kind == ViewerKind::Webm   ? TStreamViewerKind::Browser
                                       : v->kind == ViewerKind::Play ? TStreamViewerKind::Player
                                                                     : TStreamViewerKind::Plain;
        list.push_back({v->id, v->address, kind, v->since, v->bytesSent.load()});
    }
    return list;
}

bool AsfStreamServer::DisconnectViewer(uint64_t id) {
    std::lock_guard<std::mutex> g(lock_);
    for (auto& v : viewers_) {
        if (v->id != id || (!v->admitted && !v->webmCounted)) continue;
        std::lock_guard<std::mutex> vg(v->m);
        DropViewer(*v);
        headerReady_.notify_all(); // one still waiting for the stream's start
        return true;
    }
    return false;
}

AsfStreamServer::OpenResult AsfStreamServer::Open(uint32_t& port) {
    std::lock_guard<std::mutex> g(lock_);
    if (open_) {
        port = port_;
        return {};
    }
    auto failWith = [&](int err, const std::string& what) {
        if (listenFd_ >= 0) ::close(listenFd_);
        listenFd_ = -1;
        return OpenResult{err, what + ": " + ErrnoText(err)};
    };
    auto fail = [&](const std::string& what) { return failWith(errno, what); };
    if (port > 65535) return failWith(EINVAL, "port " + std::to_string(port));
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) return fail("socket");
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    if (bindAddress_.empty()) {
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
    } else if (inet_pton(AF_INET, bindAddress_.c_str(), &addr.sin_addr) != 1) {
        return failWith(EINVAL, "address " + bindAddress_);
    }
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return fail("bind to port " + std::to_string(port));
    if (::listen(listenFd_, kListenBacklog) != 0) return fail("listen");
    socklen_t alen = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &alen);
    if (::pipe2(wakeFd_, O_CLOEXEC) != 0) return fail("pipe");
    port_ = ntohs(addr.sin_port);
    port = port_;
    open_ = true;
    listener_ = std::thread([this] { ListenLoop(); });
    return {};
}

void AsfStreamServer::ListenLoop() {
    int listenFd, wakeFd;
    size_t maxPending;
    std::chrono::milliseconds timeout;
    {
        std::lock_guard<std::mutex> g(lock_);
        listenFd = listenFd_;
        wakeFd = wakeFd_[0];
        maxPending = maxPending_;
        timeout = requestTimeout_;
    }
    // Accepting drains the queue without blocking.
    ::fcntl(listenFd, F_SETFL, ::fcntl(listenFd, F_GETFL, 0) | O_NONBLOCK);
    AsfPendingRequests pending(maxPending, timeout);
    std::vector<pollfd> fds;
    for (;;) {
        fds.assign({{listenFd, POLLIN, 0}, {wakeFd, POLLIN, 0}});
        pending.AppendPollFds(fds);
        const int expiry = pending.NextExpiryMs();
        const int n = ::poll(fds.data(), fds.size(), expiry < 0 ? 1000 : std::min(expiry, 1000));
        if (n < 0 && errno != EINTR) break;
        if (fds[1].revents) break;
        ReapFinished();
        for (AsfPendingRequests::Ready& r : pending.Service(fds, 2))
            if (!StartViewer(r.fd, std::move(r.request))) return;
        if (n > 0 && (fds[0].revents & POLLIN)) AcceptPending(listenFd, pending);
    }
}

void AsfStreamServer::AcceptPending(int listenFd, AsfPendingRequests& pending) {
    // A bounded batch, so that the pending ones are read between batches.
    for (int i = 0; i < 64; ++i) {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return; // drained, or out of descriptors for now
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        pending.Add(fd);
    }
}

bool AsfStreamServer::StartViewer(int fd, std::string request) {
    std::string peer = PeerAddress(fd);
    std::lock_guard<std::mutex> g(lock_);
    auto v = std::make_shared<Viewer>(fd, nextViewerId_++, std::move(peer));
    if (!open_) {
        ::close(fd);
        return false;
    }
    // The kernel would otherwise grow the send buffer to megabytes, and a
    // stuck viewer of a low-rate stream would take minutes to notice.
    if (sendBufferBytes_ > 0) {
        int bytes = int(sendBufferBytes_);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
    }
    viewers_.push_back(v);
    v->thread = std::thread([this, v, request = std::move(request)] { ServeViewer(v, request); });
    return true;
}

void AsfStreamServer::ReapFinished() {
    std::list<std::shared_ptr<Viewer>> done;
    {
        std::lock_guard<std::mutex> g(lock_);
        for (auto it = viewers_.begin(); it != viewers_.end();) {
            if ((*it)->finished) {
                done.push_back(*it);
                it = viewers_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& v : done) {
        v->thread.join();
        ::close(v->fd); // nobody waits on it any more
    }
}

void AsfStreamServer::ServeViewer(const std::shared_ptr<Viewer>& v, const std::string& request) {
    {
        std::string lower = LowerAscii(request);
        std::string method = request.substr(0, request.find(' '));
        bool player = lower.find("\nuser-agent: nsplayer") != std::string::npos ||
                      lower.find("\nuser-agent:nsplayer") != std::string::npos;
        bool play = lower.find("xplaystrm=1") != std::string::npos;
        v->kind = !player ? ViewerKind::Plain : play ? ViewerKind::Play : ViewerKind::Describe;
        if (IsWebmTarget(request)) v->kind = ViewerKind::Webm;
        if (method != "GET") {
            SendText(v->fd, "HTTP/1.0 405 Method Not Allowed\r\nAllow: GET\r\n"
                            "Content-Length: 0\r\nConnection: close\r\n\r\n");
        } else if (v->kind == ViewerKind::Webm) {
            StreamWebm(v);
        } else {
            Stream(v);
        }
    }
    {
        std::lock_guard<std::mutex> g(lock_);
        if (v->admitted) --streaming_;
        v->admitted = false;
        v->registered = false;
    }
    ::shutdown(v->fd, SHUT_RDWR);
    v->finished = true;
}

void AsfStreamServer::Stream(const std::shared_ptr<Viewer>& v) {
    Packet header;
    {
        std::unique_lock<std::mutex> g(lock_);
        if (!open_) return;
        if (streaming_ >= maxClients_) {
            g.unlock();
            SendText(v->fd, "HTTP/1.0 503 Service Unavailable\r\nContent-Type: text/plain\r\n"
                            "Content-Length: 0\r\nConnection: close\r\n\r\n");
            return;
        }
        if (v->kind != ViewerKind::Describe) {
            v->admitted = true;
            ++streaming_;
        }
        // A viewer that comes before the stream has started waits for it.
        headerReady_.wait(g, [&] {
            std::lock_guard<std::mutex> vg(v->m);
            return header_ != nullptr || !open_ || ended_ || v->closed;
        });
        if (!header_ || !open_) return;
        header = header_;
        // Registering under the same lock as the header snapshot: the viewer
        // gets every packet from here on, none twice.
        if (v->kind != ViewerKind::Describe) v->registered = true;
    }

    const char* type = v->kind == ViewerKind::Describe ? "application/vnd.ms.wms-hdr.asfv1"
                       : v->kind == ViewerKind::Play   ? "application/x-mms-framed"
                                                       : "video/x-ms-asf";
    std::string response = std::string("HTTP/1.0 200 OK\r\nContent-Type: ") + type +
                           "\r\nServer: kavaroXP\r\nCache-Control: no-cache\r\n"
                           "Pragma: no-cache\r\nPragma: client-id=" +
                           std::to_string(reinterpret_cast<uintptr_t>(v.get()) & 0x7FFFFFFF) +
                           "\r\nPragma: features=\"broadcast\"\r\nConnection: close\r\n\r\n";
    if (!SendText(v->fd, response)) return;

    const bool framed = v->kind != ViewerKind::Plain;
    uint32_t seq = 0;
    if (framed) {
        // The header goes out in as many $H chunks as it needs.
        size_t off = 0;
        do {
            size_t part = std::min(header->size() - off, kMaxChunkPayload);
            uint8_t ch[12];
            ChunkHeader(ch, kChunkHeader, part, seq);
            iovec iov[2] = {{ch, 12}, {const_cast<uint8_t*>(header->data() + off), part}};
            if (!SendCounted(*v, iov, 2)) return;
            off += part;
        } while (off < header->size());
    } else {
        iovec iov{const_cast<uint8_t*>(header->data()), header->size()};
        if (!SendCounted(*v, &iov, 1)) return;
    }
    if (v->kind == ViewerKind::Describe) return;

    uint64_t sent = 0;
    for (;;) {
        Packet p;
        {
            std::unique_lock<std::mutex> g(v->m);
            while (!v->cv.wait_for(g, std::chrono::milliseconds(250),
                                   [&] { return !v->queue.empty() || v->closed || v->eos; })) {
                // Idle: notice a viewer that went away while nothing was sent.
                if (PeerGone(v->fd)) return;
            }
            if (v->closed) return;
            if (v->queue.empty()) break; // end of stream, everything sent
            p = std::move(v->queue.front());
            v->queue.pop_front();
            v->queuedBytes -= p->size();
        }
        if (framed) {
            if (p->size() > kMaxChunkPayload) return;
            uint8_t ch[12];
            ChunkHeader(ch, kChunkData, p->size(), ++seq);
            iovec iov[2] = {{ch, 12}, {const_cast<uint8_t*>(p->data()), p->size()}};
            if (!SendCounted(*v, iov, 2)) return;
        } else {
            iovec iov{const_cast<uint8_t*>(p->data()), p->size()};
            if (!SendCounted(*v, &iov, 1)) return;
        }
        if (OnPacketSent) OnPacketSent(sent);
        ++sent;
    }
    if (framed) {
        uint8_t ch[12];
        ChunkHeader(ch, kChunkEnd, 0, ++seq);
        iovec iov{ch, 12};
        SendAll(v->fd, &iov, 1);
    }
}

void AsfStreamServer::Feed(const uint8_t* data, size_t len) {
    std::lock_guard<std::mutex> g(feedLock_);
    packetizer_.Feed(data, len);
}

void AsfStreamServer::SetHeader(Bytes header) {
    std::lock_guard<std::mutex> g(lock_);
    header_ = std::make_shared<const Bytes>(std::move(header));
    ended_ = false;
    // Viewers already waiting for the stream take every packet from the first.
    for (auto& v : viewers_)
        if (v->admitted) v->registered = true;
    headerReady_.notify_all();
}

void AsfStreamServer::PushPacket(Bytes packet) {
    auto p = std::make_shared<const Bytes>(std::move(packet));
    ++packetsPushed_;
    std::lock_guard<std::mutex> g(lock_);
    ++packetIndex_;
    for (auto& v : viewers_)
        if (v->registered) Enqueue(*v, p, maxQueueBytes_);
}

void AsfStreamServer::Enqueue(Viewer& v, const Packet& p, size_t limit) {
    std::lock_guard<std::mutex> vg(v.m);
    if (v.closed) return;
    if (v.queuedBytes + p->size() > limit) {
        // A viewer this far behind is stuck: drop it rather than hold
        // capture or the other viewers back.
        DropViewer(v);
        ++viewersDropped_;
        return;
    }
    v.queuedBytes += p->size();
    v.queue.push_back(p);
    v.cv.notify_one();
}

// Caller holds v.m.
void AsfStreamServer::DropViewer(Viewer& v) {
    v.closed = true;
    v.queue.clear();
    v.queuedBytes = 0;
    ::shutdown(v.fd, SHUT_RDWR); // wakes a send blocked on a full socket
    v.cv.notify_all();
}

void AsfStreamServer::EndOfStream() {
    std::lock_guard<std::mutex> g(lock_);
    ended_ = true;
    for (auto& v : viewers_) {
        std::lock_guard<std::mutex> vg(v->m);
        v->eos = true;
        v->cv.notify_all();
    }
    headerReady_.notify_all();
}

void AsfStreamServer::Disconnect() {
    std::lock_guard<std::mutex> g(lock_);
    for (auto& v : viewers_) {
        std::lock_guard<std::mutex> vg(v->m);
        DropViewer(*v);
    }
    headerReady_.notify_all();
}

void AsfStreamServer::Close() {
    std::thread listener;
    std::list<std::shared_ptr<Viewer>> viewers;
    {
        std::lock_guard<std::mutex> g(lock_);
        if (!open_ && !listener_.joinable() && viewers_.empty()) return;
        open_ = false;
        if (wakeFd_[1] >= 0) {
            char c = 0;
            (void)!::write(wakeFd_[1], &c, 1);
        }
        listener = std::move(listener_);
        for (auto& v : viewers_) {
            std::lock_guard<std::mutex> vg(v->m);
            DropViewer(*v);
        }
        headerReady_.notify_all();
    }
    if (listener.joinable()) listener.join();
    {
        std::lock_guard<std::mutex> f(feedLock_);
        packetizer_.Reset();
    }
    {
        std::lock_guard<std::mutex> f(webmFeedLock_);
        webmSplitter_.Reset();
    }
    {
        std::lock_guard<std::mutex> g(lock_);
        viewers.swap(viewers_);
    }
    for (auto& v : viewers) {
        v->thread.join();
        ::close(v->fd);
    }
    std::lock_guard<std::mutex> g(lock_);
    if (listenFd_ >= 0) ::close(listenFd_);
    for (int& fd : wakeFd_) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    listenFd_ = -1;
    port_ = 0;
    // A later Open serves a new stream, never this one's header.
    header_.reset();
    webmHeader_.reset();
    ended_ = false;
}
