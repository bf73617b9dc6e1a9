#pragma once
// The transport under a connection: TNetIOHandler declares it, and
// TNetIOHandlerSocket carries it over one TNetSocketHandle.
#include "net/NetComponent.h"
#include "net/NetSocketHandle.h"

#include <memory>
#include <string>

class TNetIOHandler : public TNetComponent {
  public:
    TNetIOHandler() = default;
    // Derived handlers close themselves in their own destructors.
    ~TNetIOHandler() override = default;

    virtual void AfterAccept() {}
    virtual void CloseHandler() {}
    // Client connect; timeoutMs 0 or -1 blocks until the system gives up.
    virtual void ConnectToHost(const std::string& /*host*/, int32_t /*port*/,
                               int32_t /*timeoutMs*/ = 0) {}
    virtual bool IsConnected() = 0;
    virtual void OpenHandler() {}
    virtual bool WaitReadable(int32_t timeoutMs) = 0;
    // Raw results: bytes moved, 0 on the peer's close (receive), -1 on failure.
    virtual int32_t ReceiveBytes(void* buffer, int32_t length) = 0;
    virtual int32_t SendBytes(const void* buffer, int32_t length) = 0;
    // Whether ReceiveBytes itself waits until bytes arrive or the transport
    // closes (then a read without a time limit needs no WaitReadable first).
    virtual bool ReceiveWaits() const { return false; }
    // The peer's address, when the transport has one.
    virtual std::string PeerIP() const { return {}; }
};

class TNetIOHandlerSocket : public TNetIOHandler {
  public:
    TNetIOHandlerSocket() = default;
    ~TNetIOHandlerSocket() override;

    // Creates the binding if absent, else resets it (local part too).
    void OpenHandler() override;
    // Closes the binding's socket; safe from another thread than the owner's.
    void CloseHandler() override;
    // A binding exists and its socket is allocated.
    bool IsConnected() override;
    bool WaitReadable(int32_t timeoutMs) override;
    // Not connected: raise ENetClosedSocket "Disconnected.".
    int32_t ReceiveBytes(void* buffer, int32_t length) override;
    int32_t SendBytes(const void* buffer, int32_t length) override;
    bool ReceiveWaits() const override { return true; }
    std::string PeerIP() const override;

    // Allocates a stream socket, binds it (boundIP/boundPort, or the port range),
    // resolves host, connects. With a time-out other than 0 and -1 a connect
    // that does not finish in time raises ENetConnectTimeout "Connect timed
    // out." and a failing one ENetConnectException with its socket error text;
    // without, a failure raises ENetSocketError.
    void ConnectToHost(const std::string& host, int32_t port, int32_t timeoutMs = 0) override;
    void ConnectToHost(const std::string& host, int32_t port, int32_t timeoutMs,
                       const std::string& boundIP, int32_t boundPort, int32_t boundPortMin,
                       int32_t boundPortMax);

    TNetSocketHandle* Binding() const noexcept { return binding_.get(); }
    bool UseNagle() const noexcept { return useNagle_; }
    void SetUseNagle(bool v) noexcept { useNagle_ = v; }

  private:
    std::unique_ptr<TNetSocketHandle> binding_;
    bool useNagle_ = true;
};
