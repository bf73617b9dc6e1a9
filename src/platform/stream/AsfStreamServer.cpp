#include "platform/stream/AsfStreamServer.h"

#include "platform/stream/AsfPendingRequests.h"
#include "platform/stream/StreamFraming.h"
#include "platform/stream/StreamResponses.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Room for a burst of connections while the listener is busy.
constexpr int kListenBacklog = 128;
// Enough socket buffer for the browser stream's higher rate.
constexpr int kWebmSendBufferBytes = 128 * 1024;

std::string ErrnoText(int err) {
    char buf[256];
    return std::string(strerror_r(err, buf, sizeof buf));
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

void SetSendBuffer(int fd, size_t bytes) {
    const int value = int(bytes);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &value, sizeof value);
}

// The ASF viewers that take the data packets (a header request takes only the header).
bool TakesAsfPackets(StreamViewerKind kind) {
    return kind == StreamViewerKind::Play || kind == StreamViewerKind::Plain;
}

const char* AsfContentType(StreamViewerKind kind) {
    return kind == StreamViewerKind::Describe ? "application/vnd.ms.wms-hdr.asfv1"
           : kind == StreamViewerKind::Play   ? "application/x-mms-framed"
                                              : "video/x-ms-asf";
}

} // namespace

AsfStreamServer::AsfStreamServer() {
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

// ---------------------------------------------------------------------------
// Settings and state.

void AsfStreamServer::SetBindAddress(std::string address) {
    std::lock_guard<std::mutex> g(lock_);
    bindAddress_ = std::move(address);
}

void AsfStreamServer::SetAccessCheck(TViewerAccessCheck check) {
    std::lock_guard<std::mutex> g(lock_);
    accessCheck_ = std::move(check);
}

void AsfStreamServer::SetOriginCheck(TOriginCheck check) {
    std::lock_guard<std::mutex> g(lock_);
    originCheck_ = std::move(check);
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
    // Browser viewers keep their own, larger buffer.
    for (auto& v : viewers_)
        if (v->kind != StreamViewerKind::Webm) SetSendBuffer(v->socket.Get(), bytes);
}

void AsfStreamServer::SetRequestTimeout(std::chrono::milliseconds timeout) {
    std::lock_guard<std::mutex> g(lock_);
    requestTimeout_ = timeout;
}

void AsfStreamServer::SetMaxPendingConnections(size_t count) {
    std::lock_guard<std::mutex> g(lock_);
    maxPending_ = count;
}

void AsfStreamServer::SetWebmDemandHandler(std::function<void(bool)> handler) {
    std::lock_guard<std::mutex> d(demandLock_);
    webmDemand_ = std::move(handler);
}

void AsfStreamServer::SetWebmMaxQueueBytes(size_t bytes) {
    std::lock_guard<std::mutex> g(lock_);
    webmMaxQueueBytes_ = bytes;
}

void AsfStreamServer::SetWebmStartTimeout(std::chrono::milliseconds timeout) {
    std::lock_guard<std::mutex> g(lock_);
    webmStartTimeout_ = timeout;
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

bool AsfStreamServer::HasWebmHeader() const {
    std::lock_guard<std::mutex> g(lock_);
    return webmHeader_ != nullptr;
}

size_t AsfStreamServer::CountViewers(bool webmOnly) const {
    size_t n = 0;
    for (const auto& v : viewers_)
        if (v->Counted() && (!webmOnly || v->kind == StreamViewerKind::Webm)) ++n;
    return n;
}

size_t AsfStreamServer::ViewerCount() const {
    std::lock_guard<std::mutex> g(lock_);
    return CountViewers(false);
}

size_t AsfStreamServer::WebmViewerCount() const {
    std::lock_guard<std::mutex> g(lock_);
    return CountViewers(true);
}

std::vector<TStreamViewer> AsfStreamServer::Viewers() const {
    std::vector<TStreamViewer> list;
    std::lock_guard<std::mutex> g(lock_);
    for (const auto& v : viewers_) {
        if (!v->Counted()) continue;
        const TStreamViewerKind kind =
            v->kind == StreamViewerKind::Webm   ? TStreamViewerKind::Browser
            : v->kind == StreamViewerKind::Play ? TStreamViewerKind::Player
                                                : TStreamViewerKind::Plain;
        list.push_back({v->id, v->address, kind, v->since, v->bytesSent.load()});
    }
    return list;
}

bool AsfStreamServer::DisconnectViewer(uint64_t id) {
    std::lock_guard<std::mutex> g(lock_);
    for (auto& v : viewers_) {
        if (v->id != id || !v->Counted()) continue;
        std::lock_guard<std::mutex> vg(v->m);
        v->Drop();
        headerReady_.notify_all(); // one still waiting for the stream's start
        return true;
    }
    return false;
}

void AsfStreamServer::SetStatus(StreamViewer& v, StreamViewerStatus status) {
    std::lock_guard<std::mutex> vg(v.m);
    v.status = status;
}

// ---------------------------------------------------------------------------
// Listening.

AsfStreamServer::OpenResult AsfStreamServer::Open(uint32_t& port) {
    std::lock_guard<std::mutex> g(lock_);
    if (open_) {
        port = port_;
        return {};
    }
    auto failWith = [](int err, const std::string& what) {
        return OpenResult{err, what + ": " + ErrnoText(err)};
    };
    auto fail = [&](const std::string& what) { return failWith(errno, what); };
    if (port > 65535) return failWith(EINVAL, "port " + std::to_string(port));
    OwnedFd listenFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!listenFd) return fail("socket");
    int one = 1;
    ::setsockopt(listenFd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    if (bindAddress_.empty()) {
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
    } else if (inet_pton(AF_INET, bindAddress_.c_str(), &addr.sin_addr) != 1) {
        return failWith(EINVAL, "address " + bindAddress_);
    }
    if (::bind(listenFd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return fail("bind to port " + std::to_string(port));
    if (::listen(listenFd.Get(), kListenBacklog) != 0) return fail("listen");
    socklen_t alen = sizeof addr;
    ::getsockname(listenFd.Get(), reinterpret_cast<sockaddr*>(&addr), &alen);
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) != 0) return fail("pipe");
    wakeRead_ = OwnedFd(wake[0]);
    wakeWrite_ = OwnedFd(wake[1]);
    listenFd_ = std::move(listenFd);
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
        listenFd = listenFd_.Get();
        wakeFd = wakeRead_.Get();
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
            if (!StartViewer(std::move(r.socket), std::move(r.request))) return;
        if (n > 0 && (fds[0].revents & POLLIN)) AcceptPending(listenFd, pending);
    }
}

void AsfStreamServer::AcceptPending(int listenFd, AsfPendingRequests& pending) {
    // A bounded batch, so that the pending ones are read between batches.
    for (int i = 0; i < 64; ++i) {
        OwnedFd socket(::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC));
        if (!socket) return; // drained, or out of descriptors for now
        int one = 1;
        ::setsockopt(socket.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        pending.Add(std::move(socket));
    }
}

bool AsfStreamServer::StartViewer(OwnedFd socket, std::string request) {
    std::string peer = PeerAddress(socket.Get());
    const StreamViewerKind kind = StreamViewerKindOf(request);
    std::lock_guard<std::mutex> g(lock_);
    if (!open_) return false;
    // The kernel would otherwise grow the send buffer to megabytes, and a
    // stuck viewer of a low-rate stream would take minutes to notice.
    if (sendBufferBytes_ > 0 && kind != StreamViewerKind::Webm)
        SetSendBuffer(socket.Get(), sendBufferBytes_);
    StreamViewer& v = *viewers_.emplace_back(
        std::make_unique<StreamViewer>(std::move(socket), nextViewerId_++, kind, std::move(peer)));
    // The record outlives its thread: it leaves the list only to be joined.
    v.thread = std::thread([this, &v, request = std::move(request)] { Serve(v, request); });
    return true;
}

void AsfStreamServer::ReapFinished() {
    ViewerList done;
    {
        std::lock_guard<std::mutex> g(lock_);
        for (auto it = viewers_.begin(); it != viewers_.end();) {
            auto next = std::next(it);
            if ((*it)->status == StreamViewerStatus::Done) done.splice(done.end(), viewers_, it);
            it = next;
        }
    }
    for (auto& v : done)
        v->thread.join();
    // done goes out of scope: the sockets close now that nobody waits on them.
}

// ---------------------------------------------------------------------------
// A viewer's thread.

void AsfStreamServer::Serve(StreamViewer& v, const std::string& request) {
    bool admitted = false;
    std::string allowOrigin;
    if (!IsGetRequest(request)) {
        v.SendText(MethodNotAllowedAnswer());
    } else if (Allowed(v, request, allowOrigin) && (admitted = Admit(v, allowOrigin))) {
        if (v.kind == StreamViewerKind::Webm) UpdateWebmDemand();
        std::string codecs;
        if (const StreamPacket header = AwaitStart(v, codecs, allowOrigin)) {
            const bool sent = v.kind == StreamViewerKind::Webm
                                  ? v.SendText(WebmStreamHead(codecs, allowOrigin))
                                  : v.SendText(AsfStreamHead(
                                        AsfContentType(v.kind),
                                        uint32_t(reinterpret_cast<uintptr_t>(&v) & 0x7FFFFFFF)));
            if (sent) SendStream(v, *MakeStreamFraming(v.kind), header);
        }
    }
    {
        std::lock_guard<std::mutex> g(lock_);
        SetStatus(v, StreamViewerStatus::Closed); // no longer counted
    }
    if (admitted && v.kind == StreamViewerKind::Webm) UpdateWebmDemand();
    v.socket.Shutdown(); // whoever joins this thread closes it
    // Last: once done, the listener may join this thread and free the record.
    std::lock_guard<std::mutex> g(lock_);
    SetStatus(v, StreamViewerStatus::Done);
}

bool AsfStreamServer::Allowed(StreamViewer& v, const std::string& request,
                              std::string& allowOrigin) {
    TViewerAccessCheck check;
    TOriginCheck origins;
    {
        std::lock_guard<std::mutex> g(lock_);
        check = accessCheck_;
        origins = originCheck_;
    }
    // A page of another origin may read the browser stream only when it is
    // one the program named (its own landing page); players send no origin.
    const std::string origin = RequestHeader(request, "Origin");
    allowOrigin = !origins ? std::string("*") : origins(origin) ? origin : std::string();
    if (!check) return true;
    const TViewerAccess access =
        check({v.address, RequestTarget(request), RequestHeader(request, "Authorization")});
    if (access == TViewerAccess::Allow) return true;
    const StreamStatus status = access == TViewerAccess::Unauthorized ? StreamStatus::Unauthorized
                                : access == TViewerAccess::TooManyTries
                                    ? StreamStatus::TooManyRequests
                                    : StreamStatus::Forbidden;
    v.SendText(AccessRefusedAnswer(status, v.kind == StreamViewerKind::Webm ? allowOrigin : ""));
    return false;
}

bool AsfStreamServer::Admit(StreamViewer& v, const std::string& allowOrigin) {
    std::unique_lock<std::mutex> g(lock_);
    // One dropped before it got here stays dropped.
    if (!open_ || v.status == StreamViewerStatus::Closed) return false;
    if (CountViewers(false) >= maxClients_) {
        g.unlock();
        v.SendText(v.kind == StreamViewerKind::Webm ? WebmRefusedAnswer("full", allowOrigin)
                                                    : AsfRefusedAnswer());
        return false;
    }
    SetStatus(v, StreamViewerStatus::Waiting);
    return true;
}

StreamPacket AsfStreamServer::AwaitStart(StreamViewer& v, std::string& codecs,
                                         const std::string& allowOrigin) {
    std::unique_lock<std::mutex> g(lock_);
    auto closed = [&] { return !open_ || v.status == StreamViewerStatus::Closed; };
    if (v.kind == StreamViewerKind::Webm) {
        const auto deadline = std::chrono::steady_clock::now() + webmStartTimeout_;
        headerReady_.wait_until(g, deadline, [&] { return webmHeader_ != nullptr || closed(); });
        if (closed()) return nullptr;
        if (!webmHeader_) {
            g.unlock();
            v.SendText(WebmRefusedAnswer("not running", allowOrigin));
            return nullptr;
        }
        StreamPacket header = webmHeader_;
        codecs = webmCodecs_;
        // Under the same lock as the header snapshot: the pieces from here on.
        SetStatus(v, StreamViewerStatus::Joining);
        g.unlock();
        SetSendBuffer(v.socket.Get(), kWebmSendBufferBytes);
        return header;
    }
    // A viewer that comes before the stream has started waits for it.
    headerReady_.wait(g, [&] { return header_ != nullptr || ended_ || closed(); });
    if (!header_ || closed()) return nullptr;
    // Registering under the same lock as the header snapshot: the viewer
    // gets every packet from here on, none twice.
    if (TakesAsfPackets(v.kind)) SetStatus(v, StreamViewerStatus::Streaming);
    return header_;
}

void AsfStreamServer::SendStream(StreamViewer& v, StreamFraming& framing,
                                 const StreamPacket& header) {
    if (!framing.Header(v, *header) || v.kind == StreamViewerKind::Describe) return;
    const bool asf = v.kind != StreamViewerKind::Webm;
    for (uint64_t sent = 0;; ++sent) {
        StreamPacket p;
        switch (v.Take(p)) {
        case StreamViewer::Next::Gone:
            return;
        case StreamViewer::Next::End:
            framing.End(v);
            return;
        case StreamViewer::Next::Packet:
            break;
        }
        if (!framing.Packet(v, *p)) return;
        if (asf && OnPacketSent) OnPacketSent(sent);
    }
}

// ---------------------------------------------------------------------------
// The ASF stream.

void AsfStreamServer::SetHeader(Bytes header) {
    std::lock_guard<std::mutex> g(lock_);
    header_ = std::make_shared<const Bytes>(std::move(header));
    ended_ = false;
    // Viewers already waiting for the stream take every packet from the first.
    for (auto& v : viewers_)
        if (TakesAsfPackets(v->kind) && v->status == StreamViewerStatus::Waiting)
            SetStatus(*v, StreamViewerStatus::Streaming);
    headerReady_.notify_all();
}

void AsfStreamServer::PushPacket(Bytes packet) {
    auto p = std::make_shared<const Bytes>(std::move(packet));
    ++packetsPushed_;
    std::lock_guard<std::mutex> g(lock_);
    for (auto& v : viewers_) {
        if (!TakesAsfPackets(v->kind) || v->status != StreamViewerStatus::Streaming) continue;
        std::lock_guard<std::mutex> vg(v->m);
        Enqueue(*v, p, maxQueueBytes_);
    }
}

void AsfStreamServer::Enqueue(StreamViewer& v, const StreamPacket& p, size_t limit) {
    if (v.queuedBytes + p->size() > limit) {
        // A viewer this far behind is stuck: drop it rather than hold
        // capture or the other viewers back.
        v.Drop();
        ++viewersDropped_;
        return;
    }
    v.Push(p);
}

void AsfStreamServer::EndOfStream() {
    std::lock_guard<std::mutex> g(lock_);
    ended_ = true;
    for (auto& v : viewers_) {
        if (!TakesAsfPackets(v->kind) || v->status != StreamViewerStatus::Streaming) continue;
        std::lock_guard<std::mutex> vg(v->m);
        v->Push(nullptr);
    }
    headerReady_.notify_all(); // those still waiting leave
}

// ---------------------------------------------------------------------------
// The browser stream: WebM at /live.webm. Browser viewers share the viewer
// cap, the per-viewer queue and the drop rule with the ASF viewers; each one
// gets the kept WebM header, then the stream from the next cluster it can
// begin with.

void AsfStreamServer::UpdateWebmDemand() {
    std::lock_guard<std::mutex> d(demandLock_);
    bool wanted;
    {
        std::lock_guard<std::mutex> g(lock_);
        wanted = open_ && CountViewers(true) > 0;
    }
    if (webmDemand_) webmDemand_(wanted);
}

void AsfStreamServer::FeedWebm(const uint8_t* data, size_t len) {
    std::lock_guard<std::mutex> f(webmFeedLock_);
    webmSplitter_.Feed(data, len);
}

void AsfStreamServer::ResetWebm() {
    {
        std::lock_guard<std::mutex> f(webmFeedLock_);
        webmSplitter_.Reset();
    }
    std::lock_guard<std::mutex> g(lock_);
    webmHeader_.reset();
    // Viewers already watching begin again at the next stream's first cluster.
    for (auto& v : viewers_)
        if (v->kind == StreamViewerKind::Webm && v->status == StreamViewerStatus::Streaming)
            SetStatus(*v, StreamViewerStatus::Joining);
}

void AsfStreamServer::WebmHeader(Bytes header, std::string codecs) {
    auto h = std::make_shared<const Bytes>(std::move(header));
    std::lock_guard<std::mutex> g(lock_);
    webmHeader_ = h;
    webmCodecs_ = std::move(codecs);
    for (auto& v : viewers_) {
        if (v->kind != StreamViewerKind::Webm || (v->status != StreamViewerStatus::Joining &&
                                                  v->status != StreamViewerStatus::Streaming))
            continue;
        // A viewer already watching gets the new stream's header in line (a
        // Media Source player takes it as a new initialisation segment),
        // then the new stream from its first cluster.
        std::lock_guard<std::mutex> vg(v->m);
        v->status = StreamViewerStatus::Joining;
        v->Push(h);
    }
    headerReady_.notify_all();
}

void AsfStreamServer::WebmPiece(Bytes piece, bool clusterStart, bool joinable) {
    auto p = std::make_shared<const Bytes>(std::move(piece));
    std::lock_guard<std::mutex> g(lock_);
    for (auto& v : viewers_) {
        if (v->kind != StreamViewerKind::Webm) continue;
        if (v->status == StreamViewerStatus::Joining && clusterStart && joinable)
            SetStatus(*v, StreamViewerStatus::Streaming);
        if (v->status != StreamViewerStatus::Streaming) continue;
        std::lock_guard<std::mutex> vg(v->m);
        Enqueue(*v, p, webmMaxQueueBytes_);
    }
}

// ---------------------------------------------------------------------------
// Stopping.

void AsfStreamServer::DropAll() {
    for (auto& v : viewers_) {
        std::lock_guard<std::mutex> vg(v->m);
        v->Drop();
    }
    headerReady_.notify_all();
}

void AsfStreamServer::Disconnect() {
    std::lock_guard<std::mutex> g(lock_);
    DropAll();
}

void AsfStreamServer::Close() {
    std::thread listener;
    {
        std::lock_guard<std::mutex> g(lock_);
        if (!open_ && !listener_.joinable() && viewers_.empty()) return;
        open_ = false;
        if (wakeWrite_) {
            char c = 0;
            (void)!::write(wakeWrite_.Get(), &c, 1);
        }
        listener = std::move(listener_);
        DropAll();
    }
    if (listener.joinable()) listener.join();
    {
        std::lock_guard<std::mutex> f(webmFeedLock_);
        webmSplitter_.Reset();
    }
    ViewerList viewers;
    {
        std::lock_guard<std::mutex> g(lock_);
        viewers.swap(viewers_);
    }
    for (auto& v : viewers)
        v->thread.join();
    viewers.clear(); // their sockets close after the joins
    std::lock_guard<std::mutex> g(lock_);
    // The listener has been joined: nobody waits on these any more.
    listenFd_.Reset();
    wakeRead_.Reset();
    wakeWrite_.Reset();
    port_ = 0;
    // A later Open serves a new stream, never this one's header.
    header_.reset();
    webmHeader_.reset();
    ended_ = false;
}
