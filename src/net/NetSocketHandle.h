#pragma once
// TNetSocketHandle: one socket with its local binding and its peer; and
// TNetSocketHandles, a server's collection of listening bindings.
//
// A handle may be closed from another thread (a stopping server) while its
// owner waits on it. The close then shuts the socket down in both directions,
// which wakes the waiter, and the descriptor itself is closed by the last
// thread leaving the socket, so a descriptor number is never closed while a
// thread may still wait on it (and cannot be reused under it). Calls given a
// bare socket number (SelectOne, AcceptConnection) find the handle that holds
// the number and wait as its users too.
#include "net/NetStack.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TNetSocketHandles;

class TNetSocketHandle {
  public:
    // With a collection, Port starts at the collection's default port.
    explicit TNetSocketHandle(TNetSocketHandles* collection = nullptr);
    virtual ~TNetSocketHandle();
    TNetSocketHandle(const TNetSocketHandle&) = delete;
    TNetSocketHandle& operator=(const TNetSocketHandle&) = delete;

    // Forgets the socket without closing it; resetLocal also clears IP and Port.
    void ResetHandle(bool resetLocal);
    // Closes any held socket, then opens a new one (type 1 stream, protocol 0).
    void AllocateSocket(int32_t socketType = NetSOCK_STREAM, int32_t protocol = 0);
    // No-op without a socket. Otherwise: not allocated from now on, shut down,
    // closed (see above for a close under a waiting thread). Results are ignored;
    // the handle number and bindings are kept.
    virtual void CloseSocket(bool resetLocal = true);
    // Single bind on Port, or the client port range from its top down; raises
    // ENetCouldNotBindSocket, ENetInvalidPortRange, ENetCanNotBindPortInRange.
    void BindSocket();
    void SetPeer(const std::string& ip, int32_t port);
    // Failure raises ENetSocketError.
    void StartListening(int32_t queueLength);
    // Accepts on a listening socket given by number. false (nothing raised) when
    // the listening socket was closed under the accept.
    bool AcceptConnection(TNetSocket listeningSocket);
    // The same on a listening handle, registered as a waiter on it so that a
    // concurrent CloseSocket of the listener wakes the accept safely.
    bool AcceptConnection(TNetSocketHandle& listening);
    // Readable within timeoutMs (NetInfiniteTimeout = no limit)? Raises
    // ENetConnClosedGracefully when no socket is allocated; a time-out or a
    // failed wait gives false.
    bool WaitReadable(int32_t timeoutMs);
    // As WaitReadable, but a handle closed before or during the wait gives true
    // (the caller's next step sees the close) instead of raising.
    bool WaitReadableOrClosed(int32_t timeoutMs);
    // select on a single socket number; true when it is readable.
    static bool SelectOne(TNetSocket s, int32_t timeoutMs);
    // Straight to send/recv; -1 with the error in LastSocketError. On a handle
    // that is no longer allocated: -1 with error 10058 (closed socket).
    int32_t SendData(const void* buffer, int32_t length, int32_t flags = 0);
    int32_t ReceiveData(void* buffer, int32_t length, int32_t flags = 0);
    int32_t RecvFrom(void* buffer, int32_t length, std::string& peerIP, int32_t& peerPort,
                     int32_t flags = 0);
    // Failure raises ENetSocketError.
    void SetSocketOption(int32_t level, int32_t option, const void* value, int32_t valueLength);
    // Connects to the peer; on success refreshes both bindings. Raw result.
    virtual int32_t Connect(int32_t family = NetAF_INET);
    void RefreshLocalBinding();
    void RefreshPeerBinding();
    // Copies IP, Port, peer IP and peer port.
    void Assign(const TNetSocketHandle& source);

    TNetSocket Handle() const noexcept { return handle_.load(std::memory_order_acquire); }
    bool HandleAllocated() const noexcept { return allocated_.load(std::memory_order_acquire); }
    const std::string& IP() const noexcept { return ip_; }
    void SetIP(std::string ip) { ip_ = std::move(ip); }
    int32_t Port() const noexcept { return port_; }
    void SetPort(int32_t port) noexcept { port_ = port; }
    const std::string& PeerIP() const noexcept { return peerIP_; }
    int32_t PeerPort() const noexcept { return peerPort_; }
    int32_t ClientPortMin() const noexcept { return clientPortMin_; }
    void SetClientPortMin(int32_t v) noexcept { clientPortMin_ = v; }
    int32_t ClientPortMax() const noexcept { return clientPortMax_; }
    void SetClientPortMax(int32_t v) noexcept { clientPortMax_ = v; }
    TNetSocketHandles* Collection() const noexcept { return collection_; }

    // Registration of a thread using the socket; false when none is allocated.
    // Every successful BeginUse is paired with EndUse.
    bool BeginUse(TNetSocket& s);
    void EndUse();
    // The same for a bare number: the live handle holding it, or nullptr.
    static TNetSocketHandle* BeginUseOf(TNetSocket s);

  private:
    void Register(TNetSocket s);
    void Unregister(TNetSocket s);
    bool TryBindPort();
    bool BindReservedPort();

    TNetSocketHandles* collection_;
    // lock_ guards every change of handle_ and allocated_, users_ and
    // pendingClose_; the two atomics allow lock-free reads.
    std::mutex lock_;
    std::condition_variable idle_; // users_ dropped to 0
    std::atomic<TNetSocket> handle_{NetInvalidSocket};
    std::atomic<bool> allocated_{false};
    int32_t users_ = 0;
    TNetSocket pendingClose_ = NetInvalidSocket;
    // Bindings: used by the owning thread only.
    std::string ip_;
    int32_t port_ = 0;
    std::string peerIP_;
    int32_t peerPort_ = 0;
    int32_t clientPortMin_ = 0;
    int32_t clientPortMax_ = 0;
};

class TNetSocketHandles {
  public:
    TNetSocketHandles() = default;
    // A new handle whose Port is the default port.
    TNetSocketHandle& Add();
    TNetSocketHandle& Items(int index) const { return *items_.at(static_cast<size_t>(index)); }
    TNetSocketHandle& operator[](int index) const { return Items(index); }
    int Count() const noexcept { return static_cast<int>(items_.size()); }
    void Clear() { items_.clear(); }
    int32_t DefaultPort() const noexcept { return defaultPort_; }
    void SetDefaultPort(int32_t port) noexcept { defaultPort_ = port; }

  private:
    std::vector<std::unique_ptr<TNetSocketHandle>> items_;
    int32_t defaultPort_ = 0;
};
