#pragma once
// Connections to the stream port that have not sent their request yet. The
// listener thread reads them itself, without a thread each, so that a flood of
// silent connections cannot slow down accepting: there are at most a fixed
// number of them (a new one closes the oldest), each for a limited time.
#include "platform/stream/OwnedFd.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

struct pollfd;

enum class StreamRequestState { Incomplete, Complete, Refused };

// Judges what a stream-port connection has sent so far: a complete HTTP
// request header, the start of one, or anything else (a player's binary
// greeting, a malformed line, too much), which is refused at once.
StreamRequestState SniffStreamRequest(std::string_view received);

class AsfPendingRequests {
  public:
    struct Ready {
        OwnedFd socket;
        std::string request;
    };

    AsfPendingRequests(size_t capacity, std::chrono::milliseconds timeout);
    ~AsfPendingRequests();
    AsfPendingRequests(const AsfPendingRequests&) = delete;
    AsfPendingRequests& operator=(const AsfPendingRequests&) = delete;

    // Takes the socket; closes the oldest pending one when full.
    void Add(OwnedFd socket);
    // One entry per pending socket, in order, appended to fds.
    void AppendPollFds(std::vector<pollfd>& fds) const;
    // After a poll over fds (the pending sockets from offset on): reads what
    // arrived, hands out complete requests, closes refused, closed and
    // expired connections.
    std::vector<Ready> Service(const std::vector<pollfd>& fds, size_t offset);
    // Milliseconds until the oldest expires (-1: none pending).
    int NextExpiryMs() const;
    void CloseAll();

    size_t Count() const { return entries_.size(); }
    uint64_t Evicted() const { return evicted_; }

  private:
    struct Entry {
        OwnedFd socket;
        std::string data;
        std::chrono::steady_clock::time_point since;
    };
    const size_t capacity_;
    const std::chrono::milliseconds timeout_;
    std::deque<Entry> entries_; // oldest first
    uint64_t evicted_ = 0;
};
