#include "net/NetSocketHandle.h"

#include "net/NetStackWindows.h"

#include <cerrno>
#include <unordered_map>

namespace {
// Live handles by the socket number they hold. gRegistryLock is taken before a
// handle's own lock, never after it.
std::mutex gRegistryLock;
std::unordered_map<TNetSocket, TNetSocketHandle*> gRegistry; // guarded by gRegistryLock

// Keeps a thread registered as a user of a handle's socket for one call.
class TUse {
  public:
    explicit TUse(TNetSocketHandle& h) : h_(h) { ok_ = h_.BeginUse(s_); }
    ~TUse() {
        if (ok_) h_.EndUse();
    }
    TUse(const TUse&) = delete;
    TUse& operator=(const TUse&) = delete;
    bool Ok() const noexcept { return ok_; }
    TNetSocket Socket() const noexcept { return s_; }

  private:
    TNetSocketHandle& h_;
    TNetSocket s_ = NetInvalidSocket;
    bool ok_ = false;
};

// Registered use of a bare socket number, when a live handle holds it.
class TUseOf {
  public:
    explicit TUseOf(TNetSocket s) : h_(TNetSocketHandle::BeginUseOf(s)) {}
    ~TUseOf() {
        if (h_ != nullptr) h_->EndUse();
    }
    TUseOf(const TUseOf&) = delete;
    TUseOf& operator=(const TUseOf&) = delete;

  private:
    TNetSocketHandle* h_;
};

bool SelectSocket(TNetSocket s, int32_t timeoutMs) {
    TNetSocketListWindows list; // on the stack frame: waits allocate nothing
    list.Add(s);
    return SocketStack().SocketSelect(&list, nullptr, timeoutMs, nullptr) == 1;
}
} // namespace

TNetSocketHandle::TNetSocketHandle(TNetSocketHandles* collection) : collection_(collection) {
    ResetHandle(true);
    if (collection_ != nullptr) port_ = collection_->DefaultPort();
}

TNetSocketHandle::~TNetSocketHandle() {
    try {
        CloseSocket();
    } catch (...) {
        // a destructor never raises; the socket calls' results are ignored anyway
    }
    {
        // No entry may outlive the handle, whatever order a misuse left.
        std::lock_guard<std::mutex> lock(gRegistryLock);
        std::erase_if(gRegistry, [this](const auto& entry) { return entry.second == this; });
    }
    // Threads still inside a call on this handle were woken by the close; the
    // object must outlive them.
    std::unique_lock<std::mutex> lock(lock_);
    idle_.wait(lock, [this] { return users_ == 0; });
}

void TNetSocketHandle::Register(TNetSocket s) {
    std::lock_guard<std::mutex> lock(gRegistryLock);
    gRegistry[s] = this;
}

void TNetSocketHandle::Unregister(TNetSocket s) {
    std::lock_guard<std::mutex> lock(gRegistryLock);
    const auto it = gRegistry.find(s);
    if (it != gRegistry.end() && it->second == this) gRegistry.erase(it);
}

TNetSocketHandle* TNetSocketHandle::BeginUseOf(TNetSocket s) {
    std::lock_guard<std::mutex> lock(gRegistryLock);
    const auto it = gRegistry.find(s);
    if (it == gRegistry.end()) return nullptr;
    TNetSocket held = NetInvalidSocket;
    return it->second->BeginUse(held) ? it->second : nullptr;
}

void TNetSocketHandle::ResetHandle(bool resetLocal) {
    if (allocated_.load(std::memory_order_acquire))
        Unregister(handle_.load(std::memory_order_acquire));
    {
        std::lock_guard<std::mutex> lock(lock_);
        allocated_.store(false, std::memory_order_release);
        handle_.store(NetInvalidSocket, std::memory_order_release);
    }
    if (resetLocal) {
        ip_.clear();
        port_ = 0;
    }
    peerIP_.clear();
    peerPort_ = 0;
}

void TNetSocketHandle::AllocateSocket(int32_t socketType, int32_t protocol) {
    CloseSocket();
    const TNetSocket s = SocketStack().NewSocket(socketType, protocol);
    {
        std::lock_guard<std::mutex> lock(lock_);
        handle_.store(s, std::memory_order_release);
        allocated_.store(true, std::memory_order_release);
    }
    Register(s);
}

void TNetSocketHandle::CloseSocket(bool /*resetLocal*/) {
    if (!allocated_.load(std::memory_order_acquire)) return;
    // Out of the registry first: no new waiter can find the number from here on.
    Unregister(handle_.load(std::memory_order_acquire));
    std::lock_guard<std::mutex> lock(lock_);
    if (!allocated_.load(std::memory_order_acquire)) return;
    allocated_.store(false, std::memory_order_release);
    TNetStack& stack = SocketStack();
    const TNetSocket s = handle_.load(std::memory_order_acquire);
    if (users_ > 0) {
        // Someone waits on it: wake them with a shutdown both ways and leave
        // the close to the last one out.
        stack.SocketShutdown(s, NetSD_BOTH);
        pendingClose_ = s;
        return;
    }
    stack.SocketShutdown(s, NetSD_SEND);
    stack.SocketClose(s);
}

bool TNetSocketHandle::BeginUse(TNetSocket& s) {
    std::lock_guard<std::mutex> lock(lock_);
    if (!allocated_.load(std::memory_order_acquire)) return false;
    ++users_;
    s = handle_.load(std::memory_order_acquire);
    return true;
}

void TNetSocketHandle::EndUse() {
    const int savedErrno = errno; // the caller still has to read its call's error
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (--users_ == 0) {
            if (pendingClose_ != NetInvalidSocket) {
                SocketStack().SocketClose(pendingClose_);
                pendingClose_ = NetInvalidSocket;
            }
            idle_.notify_all();
        }
    }
    errno = savedErrno;
}

void TNetSocketHandle::BindSocket() {
    if (port_ != 0 || clientPortMin_ == 0 || clientPortMax_ == 0) {
        if (!TryBindPort()) throw ENetCouldNotBindSocket();
        return;
    }
    if (clientPortMax_ < clientPortMin_) throw ENetInvalidPortRange(clientPortMin_, clientPortMax_);
    if (!BindReservedPort()) throw ENetCanNotBindPortInRange(clientPortMin_, clientPortMax_);
}

bool TNetSocketHandle::BindReservedPort() {
    for (int32_t p = clientPortMax_; p >= clientPortMin_; --p) {
        port_ = p;
        if (TryBindPort()) return true;
    }
    return false;
}

bool TNetSocketHandle::TryBindPort() {
    TNetStack& stack = SocketStack();
    if (stack.CheckSocketResult(stack.SocketBind(Handle(), NetAF_INET, port_, ip_),
                                {NetWSAEADDRINUSE}))
        return false;
    RefreshLocalBinding();
    return true;
}

void TNetSocketHandle::SetPeer(const std::string& ip, int32_t port) {
    peerIP_ = ip;
    peerPort_ = port;
}

void TNetSocketHandle::StartListening(int32_t queueLength) {
    TNetStack& stack = SocketStack();
    stack.CheckSocketResult(stack.SocketListen(Handle(), queueLength));
}

bool TNetSocketHandle::AcceptConnection(TNetSocket listeningSocket) {
    ResetHandle(true);
    TNetStack& stack = SocketStack();
    TNetSocket s;
    {
        TUseOf use(listeningSocket);
        s = stack.SocketAccept(listeningSocket, ip_, port_);
    }
    if (stack.CheckSocketResult(s, {NetWSAEINTR, NetWSAENOTSOCK})) return false;
    {
        std::lock_guard<std::mutex> lock(lock_);
        handle_.store(s, std::memory_order_release);
        allocated_.store(true, std::memory_order_release);
    }
    Register(s);
    // accept has already told the peer's address; asking the system again
    // would cost a call per connection for the same answer.
    peerIP_ = ip_;
    peerPort_ = port_;
    RefreshLocalBinding();
    return true;
}

bool TNetSocketHandle::AcceptConnection(TNetSocketHandle& listening) {
    TUse use(listening);
    if (!use.Ok()) {
        ResetHandle(true);
        return false;
    }
    return AcceptConnection(use.Socket());
}

bool TNetSocketHandle::WaitReadable(int32_t timeoutMs) {
    TUse use(*this);
    if (!use.Ok()) throw ENetConnClosedGracefully();
    return SelectSocket(use.Socket(), timeoutMs);
}

bool TNetSocketHandle::WaitReadableOrClosed(int32_t timeoutMs) {
    TUse use(*this);
    if (!use.Ok()) return true;
    return SelectSocket(use.Socket(), timeoutMs) || !HandleAllocated();
}

bool TNetSocketHandle::SelectOne(TNetSocket s, int32_t timeoutMs) {
    TUseOf use(s);
    return SelectSocket(s, timeoutMs);
}

int32_t TNetSocketHandle::SendData(const void* buffer, int32_t length, int32_t flags) {
    TUse use(*this);
    if (!use.Ok()) {
        errno = ESHUTDOWN;
        return NetSocketError;
    }
    return SocketStack().SocketSend(use.Socket(), buffer, flags, length);
}

int32_t TNetSocketHandle::ReceiveData(void* buffer, int32_t length, int32_t flags) {
    TUse use(*this);
    if (!use.Ok()) {
        errno = ESHUTDOWN;
        return NetSocketError;
    }
    return SocketStack().SocketRecv(use.Socket(), buffer, flags, length);
}

int32_t TNetSocketHandle::RecvFrom(void* buffer, int32_t length, std::string& peerIP,
                                   int32_t& peerPort, int32_t flags) {
    TUse use(*this);
    if (!use.Ok()) {
        errno = ESHUTDOWN;
        return NetSocketError;
    }
    return SocketStack().SocketRecvFrom(use.Socket(), buffer, flags, length, peerIP, peerPort);
}

void TNetSocketHandle::SetSocketOption(int32_t level, int32_t option, const void* value,
                                       int32_t valueLength) {
    TNetStack& stack = SocketStack();
    stack.CheckSocketResult(stack.SocketSetOption(Handle(), level, option, value, valueLength));
}

int32_t TNetSocketHandle::Connect(int32_t family) {
    TUse use(*this);
    if (!use.Ok()) {
        errno = ESHUTDOWN;
        return NetSocketError;
    }
    const int32_t r = SocketStack().SocketConnect(use.Socket(), family, peerPort_, peerIP_);
    if (r != NetSocketError) {
        RefreshLocalBinding();
        RefreshPeerBinding();
    }
    return r;
}

void TNetSocketHandle::RefreshLocalBinding() {
    int32_t family = 0;
    SocketStack().SocketLocalName(Handle(), family, ip_, port_);
}

void TNetSocketHandle::RefreshPeerBinding() {
    int32_t family = 0;
    SocketStack().SocketPeerName(Handle(), family, peerIP_, peerPort_);
}

void TNetSocketHandle::Assign(const TNetSocketHandle& source) {
    ip_ = source.ip_;
    port_ = source.port_;
    peerIP_ = source.peerIP_;
    peerPort_ = source.peerPort_;
}

TNetSocketHandle& TNetSocketHandles::Add() {
    items_.push_back(std::make_unique<TNetSocketHandle>(this));
    return *items_.back();
}
