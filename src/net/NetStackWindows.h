#pragma once
// TNetStackWindows: the socket stack that speaks the Windows Sockets error
// numbering (10054, 11001, ...) over the POSIX socket calls of the C library,
// bound lazily by name (NetWinSock2). Waits use poll(), so descriptor numbers
// above 1023 are safe; sends never raise SIGPIPE.
#include "net/NetStack.h"

#include <array>

class TNetStackWindows : public TNetStack {
  public:
    // Loads the socket library on the first construction in the process only.
    // Raises ENetStackInitializationFailed "Winsock Initialization Error." for a
    // non-zero start-up result, ENetWS2StubError when the library cannot load.
    TNetStackWindows();

    void FillLocalAddresses() override;
    TNetSocket SocketAccept(TNetSocket s, std::string& peerIP, int32_t& peerPort) override;
    int32_t SocketBind(TNetSocket s, int32_t family, int32_t port, const std::string& ip) override;
    int32_t SocketClose(TNetSocket s) override;
    int32_t SocketConnect(TNetSocket s, int32_t family, int32_t port,
                          const std::string& ip) override;
    std::string HostByName(const std::string& hostName) override;
    std::string LocalHostName() override;
    std::string HostByAddress(const std::string& ip) override;
    int32_t ServiceByName(const std::string& name) override;
    std::unique_ptr<TStringList> ServiceByPort(int32_t port) override;
    uint16_t HostToNetShort(uint16_t v) override;
    int32_t SocketListen(TNetSocket s, int32_t backlog) override;
    uint16_t NetToHostShort(uint16_t v) override;
    uint32_t HostToNetLong(uint32_t v) override;
    uint32_t NetToHostLong(uint32_t v) override;
    int32_t SocketRecv(TNetSocket s, void* buffer, int32_t flags, int32_t length) override;
    int32_t SocketRecvFrom(TNetSocket s, void* buffer, int32_t flags, int32_t length,
                           std::string& peerIP, int32_t& peerPort) override;
    int32_t SocketSelect(TNetSocketList* readList, TNetSocketList* writeList, int32_t timeoutMs,
                         TNetSocketList* errorList) override;
    int32_t SocketSend(TNetSocket s, const void* buffer, int32_t flags, int32_t length) override;
    int32_t SocketSendTo(TNetSocket s, const void* buffer, int32_t flags, int32_t length,
                         const std::string& ip, int32_t port) override;
    int32_t SocketSetOption(TNetSocket s, int32_t level, int32_t option, const void* value,
                            int32_t valueLength) override;
    TNetSocket SocketCreate(int32_t family, int32_t type, int32_t protocol) override;
    int32_t SocketShutdown(TNetSocket s, int32_t how) override;
    std::string SocketErrorText(int32_t code) override;
    int32_t LastSocketError() override;
    void SocketPeerName(TNetSocket s, int32_t& family, std::string& ip, int32_t& port) override;
    void SocketLocalName(TNetSocket s, int32_t& family, std::string& ip, int32_t& port) override;
    int32_t SocketGetOption(TNetSocket s, int32_t level, int32_t option, void* value,
                            int32_t& valueLength) override;
    std::string AddressToText(const std::array<uint8_t, 4>& address) override;
    std::array<uint8_t, 4> TextToAddress(const std::string& ip) override;

    int32_t SocketSetNonBlocking(TNetSocket s, bool nonBlocking) override;

    // How many times the socket library start-up ran in this process.
    static int StartupCount() noexcept;
};

// The fd_set-shaped list: a count and room for 64 sockets.
class TNetSocketListWindows : public TNetSocketList {
  public:
    void Add(TNetSocket s) override;
    int Count() const override { return static_cast<int>(count_); }
    TNetSocket Item(int index) const override;
    void Remove(TNetSocket s) override;
    void Clear() override { count_ = 0; }

  private:
    uint32_t count_ = 0;
    std::array<TNetSocket, 64> sockets_{};
};

// The stack class instantiated as SocketStack.
std::unique_ptr<TNetStack> CreateNetStack();
