#include "app/Broadcast.h"

#include "app/AccessSettings.h"
#include "app/AddressList.h"
#include "app/CaptureMode.h"
#include "app/CaptureSteps.h"
#include "common/Text.h"
#include "platform/RelayTarget.h"

#include <algorithm>
#include <filesystem>

namespace {

std::string StreamPortError(int port, HRESULT result) {
    const std::string number = IntToStr(port);
    if (result == HRESULT_ADDRESS_IN_USE)
        return "Stream port " + number + " is in use: choose another port.";
    return "The stream cannot be served on port " + number + " (" + MediaErrorText(result) +
           "): choose another port.";
}

// The running archive's path once the folder is known to take it and an
// earlier archive there has been kept; empty without an archive.
std::string PrepareArchive(const TArchiveSettings& archive) {
    if (!archive.Enabled) return {};
    if (!archive.Folder.empty()) {
        std::error_code ignored; // a folder that cannot be made is reported below
        std::filesystem::create_directories(archive.Folder, ignored);
    }
    if (const std::string problem = FolderWriteProblem(archive.Folder); !problem.empty())
        throw ECaptureError(problem);
    const std::string file = archive.File();
    std::error_code ec;
    KeepArchive(file, ec);
    if (ec)
        throw ECaptureError("The earlier archive \"" + file + "\" could not be kept (" +
                            ec.message() + "): move it away and start again.");
    PruneArchives(file, archive.Retention);
    return file;
}

} // namespace

TBroadcast::TBroadcast(TFilterGraph& graph, TLandingSite& site) : graph_(graph), site_(site) {
    writer_.SetProfile(wmp_V80_56VideoOnly);
    writer_.SetFileName(kBroadcastArchive);
    writer_.SetPort(kDefaultStreamPort);
    writer_.SetMaxUsers(kMaxViewers);
    // Both servers ask the site's gate; only the site's own pages may read
    // the browser stream from another origin.
    TViewerGate& gate = site_.Gate();
    writer_.SetViewerAccess([&gate](const TViewerRequest& r) { return gate.Check(r); },
                            [&site](const std::string& origin) { return site.OwnOrigin(origin); });
}

void TBroadcast::Prepare(const TBroadcastSettings& settings, bool withAudio) {
    CheckListenAddress(settings.ListenAddress);
    // Blocks and failed tries last for one broadcast.
    site_.Gate().Rules().ClearBlocks();
    site_.Gate().ClearFailedTries();
    listenAddress_ = settings.ListenAddress;
    writer_.SetListenAddress(settings.ListenAddress);
    archive_ = PrepareArchive(settings.Archive);
    writer_.SetFileName(archive_);
    writer_.SetArchiveSegmentSeconds(settings.Archive.Enabled ? settings.Archive.SegmentSeconds
                                                              : 0);
    writer_.SetArchiveRetention(settings.Archive.Retention);
    writer_.SetPort(static_cast<uint32_t>(settings.StreamPort));
    SetRelay(settings.Relay);
    // WebRTC viewers reach us at the announced address (the one the pages
    // and the QR code give) or, listening everywhere, at our others, from
    // the given UDP ports.
    TWhepNetwork network;
    const std::vector<std::string> addresses =
        WebRtcAddresses(site_.Texts().Snapshot().Address, settings.ListenAddress);
    network.Address = addresses.front();
    network.MoreAddresses.assign(addresses.begin() + 1, addresses.end());
    network.MinPort = settings.WebRtcMinPort;
    network.MaxPort = settings.WebRtcMaxPort;
    outputs_.SetWebRtcNetwork(network);
    Join();
    writer_.SetProfile(withAudio ? wmp_V80_56Video : wmp_V80_56VideoOnly);
}

void TBroadcast::CheckStreamPort(int askedPort) const {
    // Without its port the stream reaches nobody: a broadcast that cannot
    // serve must not look like one.
    if (const HRESULT sink = writer_.NetworkSinkResult(); FAILED(sink))
        throw ECaptureError(StreamPortError(askedPort, sink));
}

ComPtr<IBaseFilter> TBroadcast::WriterFilter() {
    return FilterOf(writer_);
}

TBroadcastPorts TBroadcast::Serve(int httpPort) {
    // The writer's sink bound its port on activation (a free one for port 0)
    // and wrote it back; the page advertises that one.
    const int streamPort = static_cast<int>(writer_.Port());
    site_.Texts().SetStreamPort(streamPort);
    return {streamPort, site_.Serve(httpPort, listenAddress_)};
}

void TBroadcast::StartOutputs(TFilter& video, TFilter* audio) {
    outputs_.Start(video, audio, writer_.NetworkSink().Get());
    site_.SetWhep(outputs_.Whep(), "WebRTC is not available in this broadcast");
}

void TBroadcast::StopOutputs() {
    site_.SetWhep(nullptr);
    outputs_.Stop();
}

void TBroadcast::SetRelay(std::optional<TRelaySettings> relay) {
    outputs_.SetRelay(std::move(relay));
}

std::string TBroadcast::RelayStatusText() {
    return ::RelayStatusText(outputs_.RelayStatus());
}

ComPtr<IStreamViewers> TBroadcast::ViewerList() const {
    ComPtr<IWMWriterNetworkSink> sink = writer_.NetworkSink();
    return sink ? QueryAs<IStreamViewers>(sink.Get()) : ComPtr<IStreamViewers>();
}

std::vector<TStreamViewer> TBroadcast::Viewers() const {
    std::vector<TStreamViewer> viewers;
    if (ComPtr<IStreamViewers> list = ViewerList()) list->GetViewers(viewers);
    std::vector<TStreamViewer> webRtc;
    if (IWhepEndpoint* whep = outputs_.Whep(); whep && SUCCEEDED(whep->GetViewers(webRtc)))
        viewers.insert(viewers.end(), webRtc.begin(), webRtc.end());
    return viewers;
}

bool TBroadcast::DisconnectViewer(uint64_t id) {
    // The ids of the two lists never meet (kFirstWhepViewerId).
    if (IWhepEndpoint* whep = outputs_.Whep(); whep && id >= kFirstWhepViewerId)
        return whep->DisconnectViewer(id) == S_OK;
    ComPtr<IStreamViewers> list = ViewerList();
    return list && list->DisconnectViewer(id) == S_OK;
}

bool TBroadcast::BlockViewer(uint64_t id) {
    const std::vector<TStreamViewer> viewers = Viewers();
    const auto it = std::find_if(viewers.begin(), viewers.end(),
                                 [id](const TStreamViewer& v) { return v.Id == id; });
    if (it == viewers.end()) return false;
    site_.Gate().Rules().Block(it->Address);
    // Every connection of that address goes, not only the one chosen.
    const auto peer = ParsePeerAddress(it->Address);
    for (const TStreamViewer& v : viewers)
        if (ParsePeerAddress(v.Address) == peer) DisconnectViewer(v.Id);
    return true;
}

void TBroadcast::DisconnectAll() {
    if (ComPtr<IWMWriterNetworkSink> sink = writer_.NetworkSink()) sink->Disconnect();
}
