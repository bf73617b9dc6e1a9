#pragma once
// The live ASF stream server behind the broadcast's network sink. The writer
// hands it the ASF header and the fixed-size data packets, and it serves them
// over HTTP to a bounded number of viewers: Windows Media HTTP streaming
// ($H/$D chunks) for players, the plain ASF stream for everything else.
// Beside it, at /live.webm, a WebM stream for browsers, made only while at
// least one browser watches.
//
// Threads: one listener thread, which also reads the requests, and one thread
// per viewer whose request has arrived. Capture threads only call
// SetHeader/PushPacket/EndOfStream (and FeedWebm/ResetWebm for the browser
// stream), which never block on a viewer: each viewer has a bounded queue and
// is dropped when it overflows.
#include "platform/StreamAccessInterfaces.h"
#include "platform/StreamViewerInterfaces.h"
#include "platform/stream/OwnedFd.h"
#include "platform/stream/StreamViewer.h"
#include "platform/stream/WebmSplitter.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class AsfPendingRequests;
class StreamFraming;

class AsfStreamServer {
  public:
    using Bytes = std::vector<uint8_t>;
    using ViewerKind = StreamViewerKind;

    AsfStreamServer();
    ~AsfStreamServer();
    AsfStreamServer(const AsfStreamServer&) = delete;
    AsfStreamServer& operator=(const AsfStreamServer&) = delete;

    // Address to listen on; empty (the default) means every interface.
    void SetBindAddress(std::string address);
    void SetMaximumClients(uint32_t count);
    uint32_t MaximumClients() const;
    // Bytes a viewer may have queued before it counts as stuck and is dropped.
    void SetMaxQueueBytes(size_t bytes);
    // Socket send buffer of the ASF viewers (0: the system's self-tuning one,
    // which may hold minutes of a low-rate stream).
    void SetSendBufferBytes(size_t bytes);
    // How long a connection may take to send its request.
    void SetRequestTimeout(std::chrono::milliseconds timeout);
    // Connections that have not sent their request yet are read by the
    // listener; past this many, a new one closes the oldest. Both settings
    // take effect at the next Open.
    void SetMaxPendingConnections(size_t count);
    // Who may watch: asked for each request before the viewer is admitted
    // (none: everyone), and which pages may read the browser stream from
    // another origin (none: any). Any time; later requests follow.
    void SetAccessCheck(TViewerAccessCheck check);
    void SetOriginCheck(TOriginCheck check);

    // Starts listening. Port 0 picks a free port, written back. On failure
    // the result carries the system's error number and reason.
    struct OpenResult {
        int Error = 0;      // the system's error number; 0 when listening
        std::string Reason; // what failed and why, for messages
        explicit operator bool() const { return Error == 0; }
    };
    OpenResult Open(uint32_t& port);
    // Drops every viewer; keeps listening.
    void Disconnect();
    // Drops every viewer and stops listening. Safe to call twice.
    void Close();
    bool IsOpen() const;
    uint32_t Port() const;

    // The encoder side: the ASF header (header object plus the data object
    // header), then the data packets.
    void SetHeader(Bytes header);
    void PushPacket(Bytes packet);
    // Ends the stream: viewers get what is queued, then the end chunk.
    void EndOfStream();

    size_t ViewerCount() const;
    // The viewers counted by ViewerCount, in the order they came.
    std::vector<TStreamViewer> Viewers() const;
    // Closes one viewer's connection; false when it is not there (any more).
    bool DisconnectViewer(uint64_t id);
    uint64_t PacketsPushed() const { return packetsPushed_; }
    uint64_t ViewersDropped() const { return viewersDropped_; }
    bool HasHeader() const;
    // Called on a viewer's thread after each data packet went out (for
    // latency measurements); must be cheap and thread-safe. Set before Open.
    std::function<void(uint64_t packetIndex)> OnPacketSent;

    // The browser stream. The producer feeds the WebM bytes its muxer writes;
    // ResetWebm says the stream stopped or starts over with a new header.
    void FeedWebm(const uint8_t* data, size_t len);
    void ResetWebm();
    // Told true when the first browser viewer comes and false after the last
    // one left (the latest state, never with the server's locks held). Set
    // before Open.
    void SetWebmDemandHandler(std::function<void(bool wanted)> handler);
    size_t WebmViewerCount() const;
    // Whether the browser stream runs now (its header has come).
    bool HasWebmHeader() const;
    // Bytes a browser viewer may have queued before it is dropped.
    void SetWebmMaxQueueBytes(size_t bytes);
    // How long a browser viewer waits for the stream to start before it is
    // told the stream is not running.
    void SetWebmStartTimeout(std::chrono::milliseconds timeout);

  private:
    using ViewerList = std::list<std::unique_ptr<StreamViewer>>;

    void ListenLoop();
    void AcceptPending(int listenFd, AsfPendingRequests& pending);
    bool StartViewer(OwnedFd socket, std::string request);
    void ReapFinished();
    // A viewer's thread: answers, admits, waits for the stream's start, sends.
    void Serve(StreamViewer& v, const std::string& request);
    // Refused (and told why) when the access check turns the request away.
    bool Allowed(StreamViewer& v, const std::string& request, std::string& allowOrigin);
    bool Admit(StreamViewer& v, const std::string& allowOrigin);
    StreamPacket AwaitStart(StreamViewer& v, std::string& codecs, const std::string& allowOrigin);
    void SendStream(StreamViewer& v, StreamFraming& framing, const StreamPacket& header);
    // With lock_ held.
    size_t CountViewers(bool webmOnly) const;
    void SetStatus(StreamViewer& v, StreamViewerStatus status);
    // Queues a piece for one viewer, or drops the viewer when it is more
    // than limit bytes behind. With lock_ and v.m held.
    void Enqueue(StreamViewer& v, const StreamPacket& p, size_t limit);
    void DropAll();
    // The browser stream's side.
    void UpdateWebmDemand();
    void WebmHeader(Bytes header, std::string codecs);
    void WebmPiece(Bytes piece, bool clusterStart, bool joinable);

    // Lock order: demandLock_, lock_, a viewer's m; webmFeedLock_ before lock_.
    // lock_ guards every field from here to the atomics, and (with v.m) each viewer's status.
    mutable std::mutex lock_;
    std::string bindAddress_;
    uint32_t maxClients_ = 0;
    size_t maxQueueBytes_ = 2 * 1024 * 1024;
    size_t sendBufferBytes_ = 0;
    std::chrono::milliseconds requestTimeout_{10000};
    size_t maxPending_ = 64;
    TViewerAccessCheck accessCheck_;
    TOriginCheck originCheck_;
    std::condition_variable headerReady_; // a stream's header came, or a waiter must leave
    // Closed in Close only after the listener has been joined.
    OwnedFd listenFd_;
    OwnedFd wakeRead_, wakeWrite_; // Close wakes the listener through this pipe
    uint32_t port_ = 0;
    bool open_ = false;
    bool ended_ = false;
    StreamPacket header_;
    ViewerList viewers_; // in the order they came
    uint64_t nextViewerId_ = 1;
    std::thread listener_;
    // The browser stream's state.
    StreamPacket webmHeader_;
    std::string webmCodecs_;
    size_t webmMaxQueueBytes_ = 256 * 1024; // about four seconds of the browser stream
    std::chrono::milliseconds webmStartTimeout_{10000};

    // webmFeedLock_ guards the splitter (the browser stream's producer and Close).
    std::mutex webmFeedLock_;
    WebmSplitter webmSplitter_;
    // demandLock_ guards the demand handler and serialises its calls, so that
    // the last call tells the latest state.
    std::mutex demandLock_;
    std::function<void(bool)> webmDemand_;

    std::atomic<uint64_t> packetsPushed_{0};
    std::atomic<uint64_t> viewersDropped_{0};
};
