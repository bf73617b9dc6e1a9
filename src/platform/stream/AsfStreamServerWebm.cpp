#include "platform/stream/AsfStreamServer.h"

#include "platform/stream/AsfStreamViewer.h"

#include <cstring>

using namespace asfstream;

// ---------------------------------------------------------------------------
// The browser stream: WebM at /live.webm. Browser viewers share the viewer
// cap, the per-viewer queue and the drop rule with the ASF viewers; each one
// gets the kept WebM header, then the stream from the next cluster it can
// begin with.

void AsfStreamServer::SetWebmDemandHandler(std::function<void(bool)> handler) {
    std::lock_guard<std::mutex> d(demandLock_);
    webmDemand_ = std::move(handler);
}

size_t AsfStreamServer::WebmViewerCount() const {
    std::lock_guard<std::mutex> g(lock_);
    return webmViewers_;
}

bool AsfStreamServer::HasWebmHeader() const {
    std::lock_guard<std::mutex> g(lock_);
    return webmHeader_ != nullptr;
}

void AsfStreamServer::SetWebmMaxQueueBytes(size_t bytes) {
    std::lock_guard<std::mutex> g(lock_);
    webmMaxQueueBytes_ = bytes;
}

void AsfStreamServer::SetWebmStartTimeout(std::chrono::milliseconds timeout) {
    std::lock_guard<std::mutex> g(lock_);
    webmStartTimeout_ = timeout;
}

void AsfStreamServer::UpdateWebmDemand() {
    std::lock_guard<std::mutex> d(demandLock_);
    bool wanted;
    {
        std::lock_guard<std::mutex> g(lock_);
        wanted = webmViewers_ > 0 && open_;
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
        if (v->kind == ViewerKind::Webm) v->awaitingKey = true;
}

void AsfStreamServer::WebmHeader(Bytes header, std::string codecs) {
    auto h = std::make_shared<const Bytes>(std::move(header));
    std::lock_guard<std::mutex> g(lock_);
    webmHeader_ = h;
    webmCodecs_ = std::move(codecs);
    for (auto& v : viewers_) {
        if (!v->webmRegistered) continue;
        // A viewer already watching gets the new stream's header in line (a
        // Media Source player takes it as a new initialisation segment),
        // then the new stream from its first cluster.
        v->awaitingKey = true;
        std::lock_guard<std::mutex> vg(v->m);
        if (v->closed) continue;
        v->queuedBytes += h->size();
        v->queue.push_back(h);
        v->cv.notify_one();
    }
    headerReady_.notify_all();
}

void AsfStreamServer::WebmPiece(Bytes piece, bool clusterStart, bool joinable) {
    auto p = std::make_shared<const Bytes>(std::move(piece));
    std::lock_guard<std::mutex> g(lock_);
    for (auto& v : viewers_) {
        if (!v->webmRegistered) continue;
        if (v->awaitingKey) {
            if (!clusterStart || !joinable) continue;
            v->awaitingKey = false;
        }
        Enqueue(*v, p, webmMaxQueueBytes_);
    }
}

void AsfStreamServer::StreamWebm(const std::shared_ptr<Viewer>& v) {
    // A page on another port reads the stream with fetch(): every answer,
    // refusals included, may be read cross-origin.
    auto refuse = [&](const char* why) {
        SendText(v->fd, std::string("HTTP/1.0 503 Service Unavailable\r\n"
                                    "Access-Control-Allow-Origin: *\r\n"
                                    "Content-Type: text/plain\r\nContent-Length: ") +
                            std::to_string(std::strlen(why)) + "\r\nConnection: close\r\n\r\n" +
                            why);
    };
    {
        std::unique_lock<std::mutex> g(lock_);
        if (!open_) return;
        if (streaming_ >= maxClients_) {
            g.unlock();
            refuse("full");
            return;
        }
        ++streaming_;
        ++webmViewers_;
        v->webmCounted = true;
    }
    UpdateWebmDemand();
    struct Leave {
        AsfStreamServer* server;
        Viewer* viewer;
        ~Leave() {
            {
                std::lock_guard<std::mutex> g(server->lock_);
                --server->streaming_;
                --server->webmViewers_;
                viewer->webmCounted = false;
                viewer->webmRegistered = false;
            }
            server->UpdateWebmDemand();
        }
    } leave{this, v.get()};

    Packet header;
    std::string codecs;
    {
        std::unique_lock<std::mutex> g(lock_);
        const auto deadline = std::chrono::steady_clock::now() + webmStartTimeout_;
        const bool ready = headerReady_.wait_until(g, deadline, [&] {
            std::lock_guard<std::mutex> vg(v->m);
            return webmHeader_ != nullptr || !open_ || v->closed;
        });
        if (!open_ || v->closed) return;
        if (!ready || !webmHeader_) {
            g.unlock();
            refuse("not running");
            return;
        }
        header = webmHeader_;
        codecs = webmCodecs_;
        // Under the same lock as the header snapshot: the pieces from here on.
        v->webmRegistered = true;
        v->awaitingKey = true;
    }
    // Enough socket buffer for the higher rate of this stream.
    int bytes = 128 * 1024;
    ::setsockopt(v->fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
    std::string type = "video/webm";
    if (!codecs.empty()) type += "; codecs=\"" + codecs + "\"";
    const std::string response = "HTTP/1.0 200 OK\r\nContent-Type: " + type +
                                 "\r\nAccess-Control-Allow-Origin: *\r\nServer: kavaroXP\r\n"
                                 "Cache-Control: no-cache\r\nPragma: no-cache\r\n"
                                 "Connection: close\r\n\r\n";
    if (!SendText(v->fd, response)) return;
    iovec iov{const_cast<uint8_t*>(header->data()), header->size()};
    if (!SendCounted(*v, &iov, 1)) return;
    for (;;) {
        Packet p;
        {
            std::unique_lock<std::mutex> g(v->m);
            while (!v->cv.wait_for(g, std::chrono::milliseconds(250),
                                   [&] { return !v->queue.empty() || v->closed; })) {
                if (PeerGone(v->fd)) return;
            }
            if (v->closed) return;
            p = std::move(v->queue.front());
            v->queue.pop_front();
            v->queuedBytes -= p->size();
        }
        iovec piece{const_cast<uint8_t*>(p->data()), p->size()};
        if (!SendCounted(*v, &piece, 1)) return;
    }
}
