#include "net/NetStack.h"

#include "common/Text.h"
#include "net/NetStackWindows.h"

#include <mutex>

namespace {
// Guards the component count and the creation and freeing of the stack.
std::mutex gStackLock;
int32_t gComponentCount = 0;                   // guarded by gStackLock
std::unique_ptr<TNetStack> gStackOwner;        // guarded by gStackLock
std::atomic<TNetStack*> gSocketStack{nullptr}; // published copy for lock-free reads

const char* BaseErrorText(int32_t code) {
    switch (code) {
    case 10004:
        return "Interrupted system call.";
    case 10009:
        return "Bad file number.";
    case 10013:
        return "Access denied.";
    case 10014:
        return "Bad address.";
    case 10022:
        return "Invalid argument.";
    case 10024:
        return "Too many open files.";
    case 10035:
        return "Operation would block. ";
    case 10036:
        return "Operation now in progress.";
    case 10037:
        return "Operation already in progress.";
    case 10038:
        return "Socket operation on non-socket.";
    case 10039:
        return "Destination address required.";
    case 10040:
        return "Message too long.";
    case 10041:
        return "Protocol wrong type for socket.";
    case 10042:
        return "Bad protocol option.";
    case 10043:
        return "Protocol not supported.";
    case 10044:
        return "Socket type not supported.";
    case 10045:
        return "Operation not supported on socket.";
    case 10046:
        return "Protocol family not supported.";
    case 10047:
        return "Address family not supported by protocol family.";
    case 10048:
        return "Address already in use.";
    case 10049:
        return "Cannot assign requested address.";
    case 10050:
        return "Network is down.";
    case 10051:
        return "Network is unreachable.";
    case 10052:
        return "Net dropped connection or reset.";
    case 10053:
        return "Software caused connection abort.";
    case 10054:
        return "Connection reset by peer.";
    case 10055:
        return "No buffer space available.";
    case 10056:
        return "Socket is already connected.";
    case 10057:
        return "Socket is not connected.";
    case 10058:
        return "Cannot send or receive after socket is closed.";
    case 10059:
        return "Too many references, cannot splice.";
    case 10060:
        return "Connection timed out.";
    case 10061:
        return "Connection refused.";
    case 10062:
        return "Too many levels of symbolic links.";
    case 10063:
        return "File name too long.";
    case 10064:
        return "Host is down.";
    case 10065:
        return "No route to host.";
    case 10066:
        return "Directory not empty";
    default:
        return "";
    }
}

// A decimal part of an address: digits only, at most max.
bool ParsePart(std::string_view s, uint64_t max, uint64_t& out) {
    if (s.empty() || s.size() > 10) return false;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > max) return false;
    out = v;
    return true;
}
} // namespace

bool TNetSocketList::Contains(TNetSocket s) const {
    for (int i = 0; i < Count(); ++i)
        if (Item(i) == s) return true;
    return false;
}

TNetStack::TNetStack() = default;
TNetStack::~TNetStack() = default;

std::string TNetStack::LocalAddress() {
    const TStringList& list = LocalAddresses();
    return list.Count() > 0 ? list[0] : std::string();
}

const TStringList& TNetStack::LocalAddresses() {
    if (!localAddresses_) localAddresses_ = std::make_unique<TStringList>();
    FillLocalAddresses();
    return *localAddresses_;
}

std::string TNetStack::SocketErrorText(int32_t code) {
    return Format("Socket Error # %d\r\n%s", code, BaseErrorText(code));
}

TNetSocket TNetStack::NewSocket(int32_t type, int32_t protocol) {
    const TNetSocket s = SocketCreate(NetAF_INET, type, protocol);
    if (s == NetInvalidSocket) throw ENetInvalidSocket();
    return s;
}

bool TNetStack::CheckSocketResult(int32_t result, std::initializer_list<int32_t> ignored) {
    if (result != NetSocketError) return false;
    const int32_t code = LastSocketError();
    lastError_.store(code, std::memory_order_relaxed);
    for (int32_t c : ignored)
        if (c == code) return true;
    RaiseSocketError(code);
}

void TNetStack::RaiseSocketError(int32_t code) {
    lastError_.store(code, std::memory_order_relaxed);
    throw ENetSocketError(code, SocketErrorText(code));
}

std::string TNetStack::ResolveHost(const std::string& host) {
    if (SameText(host, "LOCALHOST")) return "127.0.0.1";
    if (IsIP(host)) return host;
    return HostByName(host);
}

TNetIPv4 TNetStack::ParseIPv4(std::string_view text) {
    TNetIPv4 r;
    // Up to four parts; the fourth keeps any further dots and then fails.
    std::string_view parts[4];
    int n = 0;
    std::string_view rest = text;
    while (n < 3) {
        const size_t dot = rest.find('.');
        if (dot == std::string_view::npos) break;
        parts[n++] = rest.substr(0, dot);
        rest = rest.substr(dot + 1);
    }
    parts[n++] = rest;

    uint64_t v[4] = {};
    switch (n) {
    case 4:
        for (int i = 0; i < 4; ++i)
            if (!ParsePart(parts[i], 255, v[i])) return {};
        r.Bytes = {uint8_t(v[0]), uint8_t(v[1]), uint8_t(v[2]), uint8_t(v[3])};
        r.Form = 1;
        r.Class = v[0] < 128 ? 1 : v[0] < 192 ? 2 : v[0] < 224 ? 3 : v[0] < 240 ? 4 : 5;
        break;
    case 3:
        if (!ParsePart(parts[0], 255, v[0]) || !ParsePart(parts[1], 255, v[1]) ||
            !ParsePart(parts[2], 65535, v[2]))
            return {};
        r.Bytes = {uint8_t(v[0]), uint8_t(v[1]), uint8_t(v[2] >> 8), uint8_t(v[2])};
        r.Form = 1;
        r.Class = 2;
        break;
    case 2:
        if (!ParsePart(parts[0], 255, v[0]) || !ParsePart(parts[1], 16777215, v[1])) return {};
        r.Bytes = {uint8_t(v[0]), uint8_t(v[1] >> 16), uint8_t(v[1] >> 8), uint8_t(v[1])};
        r.Form = 1;
        r.Class = 1;
        break;
    default:
        if (!ParsePart(parts[0], 4294967295ULL, v[0])) return {};
        r.Bytes = {uint8_t(v[0] >> 24), uint8_t(v[0] >> 16), uint8_t(v[0] >> 8), uint8_t(v[0])};
        r.Form = 2;
        r.Class = 0;
        break;
    }
    r.Valid = true;
    return r;
}

TNetStack& SocketStack() {
    TNetStack* s = gSocketStack.load(std::memory_order_acquire);
    if (s == nullptr) throw ENetStackError("No socket stack: no network component exists.");
    return *s;
}

TNetStack* SocketStackOrNull() noexcept {
    return gSocketStack.load(std::memory_order_acquire);
}

void NetStackAddRef() {
    std::lock_guard<std::mutex> lock(gStackLock);
    if (gComponentCount == 0) {
        gStackOwner = CreateNetStack(); // may raise; the count stays 0 then
        gSocketStack.store(gStackOwner.get(), std::memory_order_release);
    }
    ++gComponentCount;
}

void NetStackRelease() {
    std::lock_guard<std::mutex> lock(gStackLock);
    if (gComponentCount <= 0) return;
    if (--gComponentCount == 0) {
        gSocketStack.store(nullptr, std::memory_order_release);
        gStackOwner.reset();
    }
}
