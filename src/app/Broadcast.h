#pragma once
// TBroadcast: what a broadcast serves besides the capture graph's picture:
// the ASF writer (the archive, the stream port), the side outputs beside it
// (the browser stream, the relay) and the landing site, with what the window
// asks of them while the broadcast runs (who watches, what the relay does).
// The capture session drives it in order: Prepare before the graph is built,
// StartOutputs once the sources are wired, Serve once the graph runs,
// StopOutputs before the graph stops, EndServing after it stopped.
#include "app/BroadcastSettings.h"
#include "app/LandingSite.h"
#include "media/ASFWriter.h"
#include "media/FilterGraph.h"
#include "media/SideOutputs.h"
#include "platform/StreamViewerInterfaces.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class TBroadcast {
  public:
    TBroadcast(TFilterGraph& graph, TLandingSite& site);

    // The writer becomes a member of the graph, so that the graph builds it too.
    void Join() { writer_.SetFilterGraph(&graph_); }
    // The writer joins the next graph with the asked port, relay and archive,
    // and a profile with audio when there is an audio device. Raises when the
    // archive's folder cannot be written or an earlier archive cannot be kept.
    void Prepare(const TBroadcastSettings& settings, bool withAudio);
    // The next graph is a preview or a recording: no writer in it.
    void Leave() { writer_.SetFilterGraph(nullptr); }
    // In the active graph: raises with the port's message when the stream
    // cannot be served there.
    void CheckStreamPort(int askedPort) const;
    // Where the capture streams are wired to.
    ComPtr<IBaseFilter> WriterFilter();
    // Once the graph runs: the landing site serves on httpPort, its player
    // pointed at the port the stream is served on; returns both.
    TBroadcastPorts Serve(int httpPort);
    // The side outputs are fed from the capture filters (audio: none) and
    // the browser stream served by the writer's sink; stopped again before
    // the graph stops (harmless when none runs).
    // The landing site answers WebRTC viewers while they run.
    void StartOutputs(TFilter& video, TFilter* audio);
    void StopOutputs();
    // After the graph stopped: the site stops serving.
    void EndServing() { site_.Deactivate(); }

    // The relay starts over with these settings (none: it stops).
    void SetRelay(std::optional<TRelaySettings> relay);
    // The relay's state for the status bar ("relay: live, 1500 kbit/s", ...),
    // the stream key or password masked; empty without a relay.
    std::string RelayStatusText();
    // Who watches (the stream's viewers, then WebRTC's), and closing one
    // viewer's connection or session (false: not there).
    std::vector<TStreamViewer> Viewers() const;
    bool DisconnectViewer(uint64_t id);
    // Disconnects every viewer from that viewer's address and keeps the
    // address out until the next broadcast (false: not there).
    bool BlockViewer(uint64_t id);
    // Every viewer goes (a new password ends the sessions of the old).
    void DisconnectAll();
    int MaxViewers() const { return static_cast<int>(writer_.MaxUsers()); }
    // The archive the last Prepare chose (empty: none).
    const std::string& ArchiveFile() const { return archive_; }

  private:
    ComPtr<IStreamViewers> ViewerList() const;

    TFilterGraph& graph_;
    TLandingSite& site_;
    TASFWriter writer_{"brimASF"};
    std::string listenAddress_; // of the broadcast being prepared or served
    TSideOutputs outputs_;
    std::string archive_;
};
