#include "platform/stream/WMWriterNetworkSink.h"

#include "platform/ClassRegistry.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace {

// Until the stream's rate is known, and the least any viewer may have queued.
constexpr size_t kInitialQueueBytes = 256 * 1024;
constexpr size_t kMinQueueBytes = 32 * 1024;
constexpr size_t kMinSendBufferBytes = 16 * 1024;
constexpr size_t kInitialSendBufferBytes = 64 * 1024;

} // namespace

TWMWriterNetworkSink::TWMWriterNetworkSink() {
    server_.SetMaxQueueBytes(kInitialQueueBytes);
    server_.SetSendBufferBytes(kInitialSendBufferBytes);
    server_.SetWebmDemandHandler([this](bool wanted) {
        std::lock_guard lock(sourceLock_);
        if (source_) source_->SetWanted(wanted ? 1 : 0);
    });
}

TWMWriterNetworkSink::~TWMWriterNetworkSink() {
    // The server's threads call the demand handler: stop them while this is whole.
    server_.Close();
}

HRESULT TWMWriterNetworkSink::OnHeader(std::span<const uint8_t> header) {
    server_.SetHeader(AsfStreamServer::Bytes(header.begin(), header.end()));
    return S_OK;
}

HRESULT TWMWriterNetworkSink::IsRealTime(BOOL* realTime) {
    if (!realTime) return E_POINTER;
    *realTime = 1;
    return S_OK;
}

HRESULT TWMWriterNetworkSink::OnDataUnit(std::span<const uint8_t> packet) {
    const auto now = std::chrono::steady_clock::now();
    if (rateStart_ == std::chrono::steady_clock::time_point{}) rateStart_ = now;
    rateBytes_ += packet.size();
    const double seconds = std::chrono::duration<double>(now - rateStart_).count();
    if (seconds >= 2.0) {
        // A low-rate stream would take minutes to fill a fixed byte bound:
        // bound the queue by time instead, so a stuck viewer goes within seconds.
        const auto perSecond = size_t(double(rateBytes_) / seconds);
        server_.SetMaxQueueBytes(std::max(kMinQueueBytes, kBehindSeconds * perSecond));
        // About a second of stream in the socket: enough for a distant
        // viewer's round trips, little enough to notice a stuck one.
        server_.SetSendBufferBytes(std::max(kMinSendBufferBytes, perSecond));
        rateStart_ = now;
        rateBytes_ = 0;
    }
    server_.PushPacket(AsfStreamServer::Bytes(packet.begin(), packet.end()));
    return S_OK;
}

HRESULT TWMWriterNetworkSink::OnEndWriting() {
    server_.EndOfStream();
    return S_OK;
}

HRESULT TWMWriterNetworkSink::SetMaximumClients(DWORD maxClients) {
    server_.SetMaximumClients(maxClients);
    return S_OK;
}

HRESULT TWMWriterNetworkSink::GetMaximumClients(DWORD* maxClients) {
    if (!maxClients) return E_POINTER;
    *maxClients = server_.MaximumClients();
    return S_OK;
}

HRESULT TWMWriterNetworkSink::SetNetworkProtocol(WMT_NET_PROTOCOL protocol) {
    return protocol == WMT_PROTOCOL_HTTP ? S_OK : E_INVALIDARG;
}

HRESULT TWMWriterNetworkSink::GetNetworkProtocol(WMT_NET_PROTOCOL* protocol) {
    if (!protocol) return E_POINTER;
    *protocol = WMT_PROTOCOL_HTTP;
    return S_OK;
}

HRESULT TWMWriterNetworkSink::GetHostURL(std::string& url) {
    if (!server_.IsOpen()) return E_UNEXPECTED;
    char host[256] = "localhost";
    if (::gethostname(host, sizeof host - 1) != 0) std::snprintf(host, sizeof host, "localhost");
    url = "http://" + std::string(host) + ":" + std::to_string(server_.Port()) + "/";
    return S_OK;
}

HRESULT TWMWriterNetworkSink::Open(DWORD* port) {
    if (!port) return E_POINTER;
    uint32_t p = *port;
    if (const auto opened = server_.Open(p); !opened)
        return opened.Error == EADDRINUSE ? HRESULT_ADDRESS_IN_USE
                                          : (opened.Error == EACCES ? E_ACCESSDENIED : E_FAIL);
    *port = p;
    return S_OK;
}

HRESULT TWMWriterNetworkSink::Disconnect() {
    server_.Disconnect();
    return S_OK;
}

HRESULT TWMWriterNetworkSink::Close() {
    server_.Close();
    return S_OK;
}

HRESULT TWMWriterNetworkSink::SetWebmSource(IWebmStreamSource* source) {
    std::lock_guard lock(sourceLock_);
    source_ = source;
    if (source_ && server_.WebmViewerCount() > 0) source_->SetWanted(1);
    return S_OK;
}

HRESULT TWMWriterNetworkSink::OnWebmData(std::span<const uint8_t> bytes) {
    server_.FeedWebm(bytes.data(), bytes.size());
    return S_OK;
}

HRESULT TWMWriterNetworkSink::OnWebmReset() {
    server_.ResetWebm();
    return S_OK;
}

HRESULT TWMWriterNetworkSink::GetViewers(std::vector<TStreamViewer>& viewers) {
    viewers = server_.Viewers();
    return S_OK;
}

HRESULT TWMWriterNetworkSink::DisconnectViewer(uint64_t id) {
    return server_.DisconnectViewer(id) ? S_OK : S_FALSE;
}

HRESULT TWMWriterNetworkSink::SetBindAddress(const std::string& address) {
    if (server_.IsOpen()) return E_UNEXPECTED;
    server_.SetBindAddress(address);
    return S_OK;
}

HRESULT TWMWriterNetworkSink::SetAccessCheck(TViewerAccessCheck check) {
    server_.SetAccessCheck(std::move(check));
    return S_OK;
}

HRESULT TWMWriterNetworkSink::SetOriginCheck(TOriginCheck check) {
    server_.SetOriginCheck(std::move(check));
    return S_OK;
}

void RegisterWriterNetworkSink() {
    RegisterClassFactory(CLSID_WMWriterNetworkSink, MakeClassFactory<TWMWriterNetworkSink>());
}
