#pragma once
// One connection of the stream server that has sent its request: what it
// asked for, where it stands, and the bounded queue its own thread sends from.
#include "platform/stream/OwnedFd.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct iovec;

// Describe: a player's header request. Play: a player's stream ($H/$D
// chunks). Plain: the plain ASF stream. Webm: the browser stream.
enum class StreamViewerKind { Describe, Play, Plain, Webm };

enum class StreamViewerStatus {
    Arrived,   // request read; not admitted (yet), never counted
    Waiting,   // admitted; waits for its stream to start
    Joining,   // has its stream's header; skips to a point it can begin at (WebM)
    Streaming, // takes every piece of its stream
    Closed,    // dropped, or leaving; its thread is finishing
    Done,      // its thread has finished; waits to be joined
};

// What the request asks for; a query after the path is ignored.
StreamViewerKind StreamViewerKindOf(const std::string& request);
bool IsGetRequest(const std::string& request);
// The request line's target, query included ("" when there is none).
std::string RequestTarget(const std::string& request);
// The value of the first header field of that name (any case), trimmed.
std::string RequestHeader(const std::string& request, const std::string& name);

// One piece of a stream, shared by every viewer's queue.
using StreamPacket = std::shared_ptr<const std::vector<uint8_t>>;

class StreamViewer {
  public:
    StreamViewer(OwnedFd socket, uint64_t id, StreamViewerKind kind, std::string address);
    StreamViewer(const StreamViewer&) = delete;
    StreamViewer& operator=(const StreamViewer&) = delete;

    const OwnedFd socket; // closed with the record, after its thread was joined
    const uint64_t id;
    const StreamViewerKind kind;
    const std::string address; // "host:port"
    const std::chrono::system_clock::time_point since;
    std::atomic<uint64_t> bytesSent{0};
    std::thread thread; // set by the listener; joined by whoever removes the record

    // Changed only with both the server's lock and m held, so either one reads it.
    StreamViewerStatus status = StreamViewerStatus::Arrived;

    // m guards the queue, its byte count and (with the server's lock) status.
    std::mutex m;
    std::condition_variable cv;
    std::deque<StreamPacket> queue; // an empty packet ends the stream
    size_t queuedBytes = 0;

    // Takes up a place against the viewer limit and is listed.
    bool Counted() const;
    // With m held: queues p (the end of the stream when empty) / empties the
    // queue, marks the viewer closed and wakes its thread, even one blocked
    // on a full socket.
    void Push(const StreamPacket& p);
    void Drop();

    // The viewer's thread. Next waits for the next packet: Packet (in out),
    // End (the stream ended) or Gone (dropped, or the peer left).
    enum class Next { Packet, End, Gone };
    Next Take(StreamPacket& out);
    // Every byte of the pieces, counted in bytesSent; false when the peer is gone.
    bool Send(iovec* iov, int count);
    // Every byte, not counted (an answer's head).
    bool SendText(const std::string& text) const;
};
