#include "net/NetStackWindows.h"

#include "common/Text.h"
#include "net/NetWinSock2.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
using W = TNetWS2Entry;

std::atomic<bool> gStarted{false}; // set after the first successful start-up
std::atomic<int> gStartupCount{0};

TNetWinSock2Library& Lib() {
    return NetWinSock2();
}

sockaddr_in MakeAddress(TNetStack& stack, int32_t family, int32_t port, const std::string& ip) {
    sockaddr_in a{};
    a.sin_family = static_cast<sa_family_t>(family == NetAF_INET ? AF_INET : family);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (ip.empty()) {
        a.sin_addr.s_addr = htonl(INADDR_ANY);
    } else {
        const auto b = stack.TextToAddress(ip);
        std::memcpy(&a.sin_addr, b.data(), 4);
    }
    return a;
}

void AddressOf(TNetStack& stack, const sockaddr_in& a, std::string& ip, int32_t& port) {
    std::array<uint8_t, 4> b{};
    std::memcpy(b.data(), &a.sin_addr, 4);
    ip = stack.AddressToText(b);
    port = ntohs(a.sin_port);
}

// Maps the callers' option numbering onto the host's; false when unknown.
bool MapOption(int32_t level, int32_t option, int& hostLevel, int& hostOption) {
    if (level == NetSOL_SOCKET) {
        hostLevel = SOL_SOCKET;
        switch (option) {
        case NetSO_REUSEADDR:
            hostOption = SO_REUSEADDR;
            return true;
        case NetSO_KEEPALIVE:
            hostOption = SO_KEEPALIVE;
            return true;
        case NetSO_LINGER:
            hostOption = SO_LINGER;
            return true;
        case NetSO_SNDBUF:
            hostOption = SO_SNDBUF;
            return true;
        case NetSO_RCVBUF:
            hostOption = SO_RCVBUF;
            return true;
        case 0x1007:
            hostOption = SO_ERROR;
            return true;
        default:
            return false;
        }
    }
    if (level == NetIPPROTO_TCP) {
        hostLevel = IPPROTO_TCP;
        if (option == NetTCP_NODELAY) {
            hostOption = TCP_NODELAY;
            return true;
        }
        return false;
    }
    return false;
}

// Name look-ups report their failures outside errno; this carries one into
// the ENetSocketError the caller expects.
[[noreturn]] void RaiseLookup(TNetStack& stack, int gai, int err) {
    stack.RaiseSocketError(NetTranslateGaiError(gai, err));
}
} // namespace

TNetStackWindows::TNetStackWindows() {
    if (!gStarted.load(std::memory_order_acquire)) {
        gStartupCount.fetch_add(1, std::memory_order_relaxed);
        if (Lib().Startup(514) != 0) // version 2.2
            throw ENetStackInitializationFailed();
        gStarted.store(true, std::memory_order_release);
    }
}

int TNetStackWindows::StartupCount() noexcept {
    return gStartupCount.load();
}

void TNetStackWindows::FillLocalAddresses() {
    localAddresses_->Clear();
    const std::string name = LocalHostName();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    const int rc = Lib().Fn<int (*)(const char*, const char*, const addrinfo*, addrinfo**)>(
        W::getaddrinfo)(name.c_str(), nullptr, &hints, &res);
    if (rc != 0) RaiseLookup(*this, rc, errno);
    for (addrinfo* p = res; p != nullptr; p = p->ai_next) {
        std::string ip;
        int32_t port = 0;
        AddressOf(*this, *reinterpret_cast<const sockaddr_in*>(p->ai_addr), ip, port);
        if (localAddresses_->IndexOf(ip) < 0) localAddresses_->Add(ip);
    }
    Lib().Fn<void (*)(addrinfo*)>(W::freeaddrinfo)(res);
}

TNetSocket TNetStackWindows::SocketAccept(TNetSocket s, std::string& peerIP, int32_t& peerPort) {
    sockaddr_in a{};
    socklen_t len = sizeof(a);
    auto fn = Lib().Fn<int (*)(int, sockaddr*, socklen_t*, int)>(W::accept4);
    int r;
    do {
        r = fn(s, reinterpret_cast<sockaddr*>(&a), &len, SOCK_CLOEXEC);
    } while (r < 0 && errno == ECONNABORTED); // a connection gone before accept: wait for the next
    if (r < 0) {
        // Linux reports a listening socket shut down under a waiting accept as
        // EINVAL; callers know that case as an interruption.
        if (errno == EINVAL) errno = EINTR;
        return NetInvalidSocket;
    }
    AddressOf(*this, a, peerIP, peerPort);
    return r;
}

int32_t TNetStackWindows::SocketBind(TNetSocket s, int32_t family, int32_t port,
                                     const std::string& ip) {
    const sockaddr_in a = MakeAddress(*this, family, port, ip);
    return Lib().Fn<int (*)(int, const sockaddr*, socklen_t)>(W::bind)(
        s, reinterpret_cast<const sockaddr*>(&a), sizeof(a));
}

int32_t TNetStackWindows::SocketClose(TNetSocket s) {
    return Lib().Fn<int (*)(int)>(W::close)(s);
}

int32_t TNetStackWindows::SocketConnect(TNetSocket s, int32_t family, int32_t port,
                                        const std::string& ip) {
    const sockaddr_in a = MakeAddress(*this, family, port, ip);
    return Lib().Fn<int (*)(int, const sockaddr*, socklen_t)>(W::connect)(
        s, reinterpret_cast<const sockaddr*>(&a), sizeof(a));
}

std::string TNetStackWindows::HostByName(const std::string& hostName) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    const int rc = Lib().Fn<int (*)(const char*, const char*, const addrinfo*, addrinfo**)>(
        W::getaddrinfo)(hostName.c_str(), nullptr, &hints, &res);
    if (rc != 0 || res == nullptr) RaiseLookup(*this, rc != 0 ? rc : EAI_NONAME, errno);
    std::string ip;
    int32_t port = 0;
    AddressOf(*this, *reinterpret_cast<const sockaddr_in*>(res->ai_addr), ip, port);
    Lib().Fn<void (*)(addrinfo*)>(W::freeaddrinfo)(res);
    return ip;
}

std::string TNetStackWindows::LocalHostName() {
    char buf[251] = {};
    if (Lib().Fn<int (*)(char*, size_t)>(W::gethostname)(buf, 250) != 0)
        CheckSocketResult(NetSocketError);
    return std::string(buf, strnlen(buf, 250));
}

std::string TNetStackWindows::HostByAddress(const std::string& ip) {
    const TNetIPv4 p = ParseIPv4(ip);
    if (!p.Valid) RaiseSocketError(NetWSAHOST_NOT_FOUND);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    std::memcpy(&a.sin_addr, p.Bytes.data(), 4);
    char host[NI_MAXHOST] = {};
    const int rc =
        Lib().Fn<int (*)(const sockaddr*, socklen_t, char*, socklen_t, char*, socklen_t, int)>(
            W::getnameinfo)(reinterpret_cast<const sockaddr*>(&a), sizeof(a), host, sizeof(host),
                            nullptr, 0, NI_NAMEREQD);
    if (rc != 0) RaiseLookup(*this, rc, errno);
    return host;
}

int32_t TNetStackWindows::ServiceByName(const std::string& name) {
    servent se{};
    servent* res = nullptr;
    char buf[1024];
    Lib().Fn<int (*)(const char*, const char*, servent*, char*, size_t, servent**)>(
        W::getservbyname_r)(name.c_str(), nullptr, &se, buf, sizeof(buf), &res);
    if (res != nullptr) return ntohs(static_cast<uint16_t>(res->s_port));
    int32_t port = 0;
    if (!TryStrToInt(name, port)) throw ENetInvalidServiceName(name);
    return port;
}

std::unique_ptr<TStringList> TNetStackWindows::ServiceByPort(int32_t port) {
    auto list = std::make_unique<TStringList>();
    servent se{};
    servent* res = nullptr;
    char buf[1024];
    Lib().Fn<int (*)(int, const char*, servent*, char*, size_t, servent**)>(W::getservbyport_r)(
        htons(static_cast<uint16_t>(port)), nullptr, &se, buf, sizeof(buf), &res);
    if (res != nullptr) {
        list->Add(res->s_name);
        for (char** a = res->s_aliases; a != nullptr && *a != nullptr; ++a)
            list->Add(*a);
    }
    return list;
}

uint16_t TNetStackWindows::HostToNetShort(uint16_t v) {
    return htons(v);
}
uint16_t TNetStackWindows::NetToHostShort(uint16_t v) {
    return ntohs(v);
}
uint32_t TNetStackWindows::HostToNetLong(uint32_t v) {
    return htonl(v);
}
uint32_t TNetStackWindows::NetToHostLong(uint32_t v) {
    return ntohl(v);
}

int32_t TNetStackWindows::SocketListen(TNetSocket s, int32_t backlog) {
    return Lib().Fn<int (*)(int, int)>(W::listen)(s, backlog);
}

int32_t TNetStackWindows::SocketRecv(TNetSocket s, void* buffer, int32_t flags, int32_t length) {
    auto fn = Lib().Fn<ssize_t (*)(int, void*, size_t, int)>(W::recv);
    ssize_t r;
    do {
        r = fn(s, buffer, static_cast<size_t>(length < 0 ? 0 : length), flags);
    } while (r < 0 && errno == EINTR);
    return static_cast<int32_t>(r);
}

int32_t TNetStackWindows::SocketRecvFrom(TNetSocket s, void* buffer, int32_t flags, int32_t length,
                                         std::string& peerIP, int32_t& peerPort) {
    sockaddr_in a{};
    socklen_t len = sizeof(a);
    auto fn = Lib().Fn<ssize_t (*)(int, void*, size_t, int, sockaddr*, socklen_t*)>(W::recvfrom);
    ssize_t r;
    do {
        r = fn(s, buffer, static_cast<size_t>(length < 0 ? 0 : length), flags,
               reinterpret_cast<sockaddr*>(&a), &len);
    } while (r < 0 && errno == EINTR);
    if (r >= 0) AddressOf(*this, a, peerIP, peerPort);
    return static_cast<int32_t>(r);
}

int32_t TNetStackWindows::SocketSelect(TNetSocketList* readList, TNetSocketList* writeList,
                                       int32_t timeoutMs, TNetSocketList* errorList) {
    TNetSocketList* lists[3] = {readList, writeList, errorList};
    const short wanted[3] = {POLLIN, POLLOUT, POLLPRI};
    std::array<pollfd, 3 * 64> fds{};
    nfds_t n = 0;
    for (int l = 0; l < 3; ++l) {
        if (lists[l] == nullptr) continue;
        if (lists[l]->Count() > 64) throw ENetStackSetSizeExceeded();
        for (int i = 0; i < lists[l]->Count(); ++i) {
            const TNetSocket s = lists[l]->Item(i);
            nfds_t k = 0;
            while (k < n && fds[k].fd != s)
                ++k;
            if (k == n) {
                fds[n].fd = s;
                fds[n].events = 0;
                ++n;
            }
            fds[k].events |= wanted[l];
        }
    }

    // A signal must not cut the wait short: retry with what remains of it.
    auto poll = Lib().Fn<int (*)(pollfd*, nfds_t, int)>(W::poll);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int r;
    int wait = timeoutMs == NetInfiniteTimeout ? -1 : (timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        r = poll(fds.data(), n, wait);
        if (r >= 0 || errno != EINTR) break;
        if (wait > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
    }
    if (r < 0) return NetSocketError;
    for (nfds_t k = 0; k < n; ++k) {
        if (fds[k].revents & POLLNVAL) { // as select does for a closed descriptor
            errno = EBADF;
            return NetSocketError;
        }
    }
    // select's meaning: end of stream and errors count as readable/writable.
    const short found[3] = {POLLIN | POLLHUP | POLLERR, POLLOUT | POLLHUP | POLLERR, POLLPRI};
    int32_t count = 0;
    for (int l = 0; l < 3; ++l) {
        if (lists[l] == nullptr) continue;
        TNetSocketListWindows ready;
        for (int i = 0; i < lists[l]->Count(); ++i) {
            const TNetSocket s = lists[l]->Item(i);
            for (nfds_t k = 0; k < n; ++k) {
                if (fds[k].fd == s && (fds[k].revents & found[l]) && (fds[k].events & wanted[l])) {
                    ready.Add(s);
                    break;
                }
            }
        }
        lists[l]->Clear();
        for (int i = 0; i < ready.Count(); ++i)
            lists[l]->Add(ready.Item(i));
        count += ready.Count();
    }
    return count;
}

int32_t TNetStackWindows::SocketSend(TNetSocket s, const void* buffer, int32_t flags,
                                     int32_t length) {
    auto fn = Lib().Fn<ssize_t (*)(int, const void*, size_t, int)>(W::send);
    ssize_t r;
    do {
        r = fn(s, buffer, static_cast<size_t>(length < 0 ? 0 : length), flags | MSG_NOSIGNAL);
    } while (r < 0 && errno == EINTR);
    return static_cast<int32_t>(r);
}

int32_t TNetStackWindows::SocketSendTo(TNetSocket s, const void* buffer, int32_t flags,
                                       int32_t length, const std::string& ip, int32_t port) {
    const sockaddr_in a = MakeAddress(*this, NetAF_INET, port, ip);
    auto fn =
        Lib().Fn<ssize_t (*)(int, const void*, size_t, int, const sockaddr*, socklen_t)>(W::sendto);
    ssize_t r;
    do {
        r = fn(s, buffer, static_cast<size_t>(length < 0 ? 0 : length), flags | MSG_NOSIGNAL,
               reinterpret_cast<const sockaddr*>(&a), sizeof(a));
    } while (r < 0 && errno == EINTR);
    return static_cast<int32_t>(r);
}

int32_t TNetStackWindows::SocketSetOption(TNetSocket s, int32_t level, int32_t option,
                                          const void* value, int32_t valueLength) {
    int hostLevel = 0, hostOption = 0;
    if (!MapOption(level, option, hostLevel, hostOption)) {
        errno = ENOPROTOOPT;
        return NetSocketError;
    }
    linger l{};
    if (hostOption == SO_LINGER && hostLevel == SOL_SOCKET && valueLength == 4) {
        // The callers' linger record is two 16-bit fields.
        uint16_t w[2];
        std::memcpy(w, value, 4);
        l.l_onoff = w[0];
        l.l_linger = w[1];
        value = &l;
        valueLength = sizeof(l);
    }
    return Lib().Fn<int (*)(int, int, int, const void*, socklen_t)>(W::setsockopt)(
        s, hostLevel, hostOption, value, static_cast<socklen_t>(valueLength));
}

int32_t TNetStackWindows::SocketGetOption(TNetSocket s, int32_t level, int32_t option, void* value,
                                          int32_t& valueLength) {
    int hostLevel = 0, hostOption = 0;
    if (!MapOption(level, option, hostLevel, hostOption)) {
        errno = ENOPROTOOPT;
        return NetSocketError;
    }
    socklen_t len = static_cast<socklen_t>(valueLength);
    const int r = Lib().Fn<int (*)(int, int, int, void*, socklen_t*)>(W::getsockopt)(
        s, hostLevel, hostOption, value, &len);
    valueLength = static_cast<int32_t>(len);
    if (r == 0 && hostOption == SO_ERROR && valueLength >= 4) {
        int e = 0;
        std::memcpy(&e, value, sizeof(e));
        e = NetTranslateErrno(e);
        std::memcpy(value, &e, sizeof(e));
    }
    return r;
}

TNetSocket TNetStackWindows::SocketCreate(int32_t family, int32_t type, int32_t protocol) {
    return Lib().Fn<int (*)(int, int, int)>(W::socket)(family == NetAF_INET ? AF_INET : family,
                                                       type | SOCK_CLOEXEC, protocol);
}

int32_t TNetStackWindows::SocketShutdown(TNetSocket s, int32_t how) {
    return Lib().Fn<int (*)(int, int)>(W::shutdown)(s, how);
}

std::string TNetStackWindows::SocketErrorText(int32_t code) {
    if (code == NetWSAHOST_NOT_FOUND)
        return Format("Socket Error # %d\r\n%s", code, "Host not found.");
    return TNetStack::SocketErrorText(code);
}

int32_t TNetStackWindows::LastSocketError() {
    return NetTranslateErrno(errno);
}

void TNetStackWindows::SocketPeerName(TNetSocket s, int32_t& family, std::string& ip,
                                      int32_t& port) {
    sockaddr_in a{};
    socklen_t len = sizeof(a);
    CheckSocketResult(Lib().Fn<int (*)(int, sockaddr*, socklen_t*)>(W::getpeername)(
        s, reinterpret_cast<sockaddr*>(&a), &len));
    family = a.sin_family == AF_INET ? NetAF_INET : a.sin_family;
    AddressOf(*this, a, ip, port);
}

void TNetStackWindows::SocketLocalName(TNetSocket s, int32_t& family, std::string& ip,
                                       int32_t& port) {
    sockaddr_in a{};
    socklen_t len = sizeof(a);
    CheckSocketResult(Lib().Fn<int (*)(int, sockaddr*, socklen_t*)>(W::getsockname)(
        s, reinterpret_cast<sockaddr*>(&a), &len));
    family = a.sin_family == AF_INET ? NetAF_INET : a.sin_family;
    AddressOf(*this, a, ip, port);
}

std::string TNetStackWindows::AddressToText(const std::array<uint8_t, 4>& address) {
    return Format("%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
}

std::array<uint8_t, 4> TNetStackWindows::TextToAddress(const std::string& ip) {
    const TNetIPv4 p = ParseIPv4(ip);
    if (!p.Valid) throw ENetInvalidIPAddress(ip);
    return p.Bytes;
}

int32_t TNetStackWindows::SocketSetNonBlocking(TNetSocket s, bool nonBlocking) {
    auto fcntl = Lib().Fn<int (*)(int, int, ...)>(W::fcntl);
    const int flags = fcntl(s, F_GETFL, 0);
    if (flags < 0) return NetSocketError;
    return fcntl(s, F_SETFL, nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
}

// --- TNetSocketListWindows ---

void TNetSocketListWindows::Add(TNetSocket s) {
    if (count_ >= sockets_.size()) throw ENetStackSetSizeExceeded();
    sockets_[count_++] = s;
}

TNetSocket TNetSocketListWindows::Item(int index) const {
    if (index < 0 || static_cast<uint32_t>(index) >= count_) throw ENetStackSetSizeExceeded();
    return sockets_[static_cast<size_t>(index)];
}

void TNetSocketListWindows::Remove(TNetSocket s) {
    for (uint32_t i = 0; i < count_; ++i) {
        if (sockets_[i] == s) {
            sockets_[i] = sockets_[count_ - 1];
            --count_;
            return;
        }
    }
}

std::unique_ptr<TNetSocketList> TNetSocketList::CreateSocketList() {
    return std::make_unique<TNetSocketListWindows>();
}

std::unique_ptr<TNetStack> CreateNetStack() {
    return std::make_unique<TNetStackWindows>();
}
