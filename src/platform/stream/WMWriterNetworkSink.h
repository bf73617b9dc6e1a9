#pragma once
// The network sink that serves the writer's live stream to viewers over HTTP:
// the stand-in for the Windows Media runtime's writer network sink, on our own
// live ASF stream server. The writer hands it the ASF header and data
// packets from its streaming thread; viewers are served on the server's threads.
// It also serves the browser stream (IWebmStreamSink) and asks the writer's
// browser-stream source for it while browsers watch, and lists its viewers
// (IStreamViewers).
#include "platform/AsfInterfaces.h"
#include "platform/StreamAccessInterfaces.h"
#include "platform/StreamViewerInterfaces.h"
#include "platform/WebmStreamInterfaces.h"
#include "platform/stream/AsfStreamServer.h"

#include <chrono>
#include <mutex>

class TWMWriterNetworkSink
    : public TComObject<IWMWriterNetworkSink, IWebmStreamSink, IStreamViewers, IStreamAccess> {
  public:
    TWMWriterNetworkSink();

    // IWMWriterSink
    HRESULT OnHeader(std::span<const uint8_t> header) override;
    HRESULT IsRealTime(BOOL* realTime) override;
    HRESULT OnDataUnit(std::span<const uint8_t> packet) override;
    HRESULT OnEndWriting() override;

    // IWMWriterNetworkSink
    HRESULT SetMaximumClients(DWORD maxClients) override;
    HRESULT GetMaximumClients(DWORD* maxClients) override;
    HRESULT SetNetworkProtocol(WMT_NET_PROTOCOL protocol) override;
    HRESULT GetNetworkProtocol(WMT_NET_PROTOCOL* protocol) override;
    // "http://<host name>:<port>/" while open; NS_E_... style E_UNEXPECTED otherwise.
    HRESULT GetHostURL(std::string& url) override;
    // HRESULT_ADDRESS_IN_USE when the port is taken; E_FAIL for other refusals.
    HRESULT Open(DWORD* port) override;
    HRESULT Disconnect() override;
    HRESULT Close() override;

    // IWebmStreamSink
    HRESULT SetWebmSource(IWebmStreamSource* source) override;
    HRESULT OnWebmData(std::span<const uint8_t> bytes) override;
    HRESULT OnWebmReset() override;

    // IStreamViewers
    HRESULT GetViewers(std::vector<TStreamViewer>& viewers) override;
    HRESULT DisconnectViewer(uint64_t id) override;

    // IStreamAccess
    HRESULT SetBindAddress(const std::string& address) override;
    HRESULT SetAccessCheck(TViewerAccessCheck check) override;
    HRESULT SetOriginCheck(TOriginCheck check) override;

    // The server behind the sink (tests and measurements).
    AsfStreamServer& Server() { return server_; }

  protected:
    ~TWMWriterNetworkSink() override;

  private:
    AsfStreamServer server_; // thread-safe on its own

    // sourceLock_ guards source_ and every call made on it.
    std::mutex sourceLock_;
    IWebmStreamSource* source_ = nullptr; // not counted: the source's owner clears it

    // A viewer may fall this many seconds of stream behind before it is
    // dropped; the byte bound follows the measured rate. Streaming thread only.
    static constexpr int kBehindSeconds = 4;
    std::chrono::steady_clock::time_point rateStart_{};
    size_t rateBytes_ = 0;
};

// Registers TWMWriterNetworkSink as the class WMCreateWriterNetworkSink creates.
void RegisterWriterNetworkSink();
