#pragma once
// The socket stack: the one process-wide object through which every socket call
// of the network library passes, the translation of socket error numbers into
// texts, and the text forms of IPv4 addresses.
#include "common/StringList.h"
#include "net/NetException.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

using TNetSocket = int32_t;
constexpr TNetSocket NetInvalidSocket = -1;
constexpr int32_t NetSocketError = -1;

// Socket-call constants in the numbering the library's callers use; the stack
// maps them to the host's values.
constexpr int32_t NetAF_INET = 2;
constexpr int32_t NetSOCK_STREAM = 1;
constexpr int32_t NetSOCK_DGRAM = 2;
constexpr int32_t NetSOL_SOCKET = 0xFFFF;
constexpr int32_t NetSO_REUSEADDR = 0x0004;
constexpr int32_t NetSO_KEEPALIVE = 0x0008;
constexpr int32_t NetSO_LINGER = 0x0080;
constexpr int32_t NetSO_SNDBUF = 0x1001;
constexpr int32_t NetSO_RCVBUF = 0x1002;
constexpr int32_t NetSO_ERROR = 0x1007;
constexpr int32_t NetIPPROTO_TCP = 6;
constexpr int32_t NetTCP_NODELAY = 1;
constexpr int32_t NetSD_RECEIVE = 0;
constexpr int32_t NetSD_SEND = 1;
constexpr int32_t NetSD_BOTH = 2;
// A select time-out that waits without limit.
constexpr int32_t NetInfiniteTimeout = -2;

// Error numbers the callers test for.
constexpr int32_t NetWSAEINTR = 10004;
constexpr int32_t NetWSAEBADF = 10009;
constexpr int32_t NetWSAEMFILE = 10024;
constexpr int32_t NetWSAEWOULDBLOCK = 10035;
constexpr int32_t NetWSAEINPROGRESS = 10036;
constexpr int32_t NetWSAENOTSOCK = 10038;
constexpr int32_t NetWSAEADDRINUSE = 10048;
constexpr int32_t NetWSAECONNABORTED = 10053;
constexpr int32_t NetWSAECONNRESET = 10054;
constexpr int32_t NetWSAESHUTDOWN = 10058;
constexpr int32_t NetWSAHOST_NOT_FOUND = 11001;

// A socket set of at most 64 sockets, as select takes them.
class TNetSocketList {
  public:
    virtual ~TNetSocketList() = default;
    // A 65th socket raises ENetStackSetSizeExceeded "Set Size Exceeded.".
    virtual void Add(TNetSocket s) = 0;
    virtual int Count() const = 0;
    // An index outside 0..Count()-1 raises ENetStackSetSizeExceeded.
    virtual TNetSocket Item(int index) const = 0;
    // The last entry moves into the freed place; an absent socket is ignored.
    virtual void Remove(TNetSocket s) = 0;
    virtual void Clear() = 0;
    bool Contains(TNetSocket s) const;

    // A new list of the configured list class.
    static std::unique_ptr<TNetSocketList> CreateSocketList();
};

// Result of ParseIPv4: Form 0 invalid, 1 dotted, 2 a single number; Class 1..5
// for four-part addresses by their first byte (0 for the single number).
struct TNetIPv4 {
    bool Valid = false;
    std::array<uint8_t, 4> Bytes{}; // most significant first
    int Form = 0;
    int Class = 0;
};

class TNetStack {
  public:
    TNetStack();
    virtual ~TNetStack();
    TNetStack(const TNetStack&) = delete;
    TNetStack& operator=(const TNetStack&) = delete;

    // 1..3: local host addresses
    virtual void FillLocalAddresses() = 0;
    virtual std::string LocalAddress();
    // Refilled on every call; the list belongs to the stack.
    virtual const TStringList& LocalAddresses();

    // Raw results (-1 for failure with the error in LastSocketError) unless said.
    virtual TNetSocket SocketAccept(TNetSocket s, std::string& peerIP, int32_t& peerPort) = 0;
    // Empty ip binds to every interface.
    virtual int32_t SocketBind(TNetSocket s, int32_t family, int32_t port,
                               const std::string& ip) = 0;
    virtual int32_t SocketClose(TNetSocket s) = 0;
    virtual int32_t SocketConnect(TNetSocket s, int32_t family, int32_t port,
                                  const std::string& ip) = 0;
    // Look-ups raise ENetSocketError when there is no entry.
    virtual std::string HostByName(const std::string& hostName) = 0;
    virtual std::string LocalHostName() = 0;
    virtual std::string HostByAddress(const std::string& ip) = 0;
    // A name the services database lacks is read as a decimal port; anything else
    // raises ENetInvalidServiceName "<name> is not a valid service.".
    virtual int32_t ServiceByName(const std::string& name) = 0;
    // Service name then aliases; empty when the port has no entry.
    virtual std::unique_ptr<TStringList> ServiceByPort(int32_t port) = 0;
    virtual uint16_t HostToNetShort(uint16_t v) = 0;
    virtual int32_t SocketListen(TNetSocket s, int32_t backlog) = 0;
    virtual uint16_t NetToHostShort(uint16_t v) = 0;
    virtual uint32_t HostToNetLong(uint32_t v) = 0;
    virtual uint32_t NetToHostLong(uint32_t v) = 0;
    virtual int32_t SocketRecv(TNetSocket s, void* buffer, int32_t flags, int32_t length) = 0;
    virtual int32_t SocketRecvFrom(TNetSocket s, void* buffer, int32_t flags, int32_t length,
                                   std::string& peerIP, int32_t& peerPort) = 0;
    // Any list may be null. Each given list is refilled with the sockets found
    // ready. timeoutMs NetInfiniteTimeout waits without limit. Returns the count
    // of ready entries, 0 on time-out, -1 on failure.
    virtual int32_t SocketSelect(TNetSocketList* readList, TNetSocketList* writeList,
                                 int32_t timeoutMs, TNetSocketList* errorList) = 0;
    virtual int32_t SocketSend(TNetSocket s, const void* buffer, int32_t flags, int32_t length) = 0;
    virtual int32_t SocketSendTo(TNetSocket s, const void* buffer, int32_t flags, int32_t length,
                                 const std::string& ip, int32_t port) = 0;
    virtual int32_t SocketSetOption(TNetSocket s, int32_t level, int32_t option, const void* value,
                                    int32_t valueLength) = 0;
    virtual TNetSocket SocketCreate(int32_t family, int32_t type, int32_t protocol) = 0;
    virtual int32_t SocketShutdown(TNetSocket s, int32_t how) = 0;
    // Non-blocking mode, for a time-limited connect.
    virtual int32_t SocketSetNonBlocking(TNetSocket s, bool nonBlocking) = 0;
    // "Socket Error # <code>\r\n<text>"; an unknown code has an empty second line.
    virtual std::string SocketErrorText(int32_t code);
    virtual int32_t LastSocketError() = 0;
    // Failures raise ENetSocketError.
    virtual void SocketPeerName(TNetSocket s, int32_t& family, std::string& ip, int32_t& port) = 0;
    virtual void SocketLocalName(TNetSocket s, int32_t& family, std::string& ip, int32_t& port) = 0;
    virtual int32_t SocketGetOption(TNetSocket s, int32_t level, int32_t option, void* value,
                                    int32_t& valueLength) = 0;
    virtual std::string AddressToText(const std::array<uint8_t, 4>& address) = 0;
    // Raises ENetInvalidIPAddress "<ip> is not a valid IP address.".
    virtual std::array<uint8_t, 4> TextToAddress(const std::string& ip) = 0;

    // Stream/datagram IPv4 socket; -1 raises ENetInvalidSocket.
    TNetSocket NewSocket(int32_t type, int32_t protocol);
    // false when result is not -1. Otherwise records the error and returns true
    // when it is in ignored, or raises ENetSocketError.
    bool CheckSocketResult(int32_t result, std::initializer_list<int32_t> ignored = {});
    [[noreturn]] void RaiseSocketError(int32_t code);
    // "localhost" in any case -> "127.0.0.1"; addresses unchanged; else HostByName.
    std::string ResolveHost(const std::string& host);
    static TNetIPv4 ParseIPv4(std::string_view text);
    static bool IsIP(std::string_view text) { return ParseIPv4(text).Valid; }
    static bool IPIsType(std::string_view text, int form) { return ParseIPv4(text).Form == form; }

    // Error of the last failed check on any thread.
    int32_t LastError() const noexcept { return lastError_.load(std::memory_order_relaxed); }

  protected:
    std::unique_ptr<TStringList> localAddresses_; // owner thread of the address query only

  private:
    std::atomic<int32_t> lastError_{0};
};

// The live stack; valid while at least one network component exists (it is
// created by the first and freed with the last). Raises ENetStackError when
// there is none.
TNetStack& SocketStack();
TNetStack* SocketStackOrNull() noexcept;

// Process-wide component reference count (stack lock held inside).
void NetStackAddRef();
void NetStackRelease();
