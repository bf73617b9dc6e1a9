#pragma once
// TSideOutputs: what a broadcast feeds beside its ASF stream, each one a
// platform side output of its own: the browser stream (served by the
// network sink at /live.webm while a browser watches), the relay
// (published to a streaming server while relay settings are set) and WebRTC
// (for viewers that come through its WHEP endpoint). They are
// fed from the capture filters' side taps, so that none of them can hold the
// capture up, and each is built again on its own when it fails.
//
// Everything here runs on the thread that drives the graph.
#include "media/Filter.h"
#include "platform/AsfInterfaces.h"
#include "platform/RelayInterfaces.h"
#include "platform/WebmStreamInterfaces.h"
#include "platform/WhepInterfaces.h"

#include <optional>
#include <vector>

class TSideOutputs {
  public:
    TSideOutputs() = default;
    ~TSideOutputs();
    TSideOutputs(const TSideOutputs&) = delete;
    TSideOutputs& operator=(const TSideOutputs&) = delete;

    // Where the broadcast is relayed to (none: nowhere); a running relay
    // starts over with it.
    const std::optional<TRelaySettings>& Relay() const noexcept { return relaySettings_; }
    void SetRelay(std::optional<TRelaySettings> settings);
    // Off while stopped or without a relay.
    TRelayStatus RelayStatus();

    // Once the capture filters are live in the active graph: the outputs
    // are made, fed from the video filter's tap (and the audio filter's, when
    // it is given and live) and started; the browser stream is served by
    // sink (null: none). A capture without taps feeds no side output.
    void Start(TFilter& video, TFilter* audio, IWMWriterNetworkSink* sink);
    // Before the capture stops: nothing is fed or served any more.
    void Stop();
    bool Running() const noexcept { return !outputs_.empty(); }
    // The WebRTC viewers' endpoint while running (null otherwise). Its
    // viewers take their places from the stream sink's client limit.
    IWhepEndpoint* Whep() const noexcept { return whep_.Get(); }
    // Where WebRTC viewers' media goes out; for the next Start.
    void SetWebRtcNetwork(const TWhepNetwork& network) { webRtcNetwork_ = network; }

  private:
    // Made, fed and started; null when the class is not there.
    ComPtr<ISideOutput> Add(const GUID& clsid, ISideTap* video, ISideTap* audio);

    std::optional<TRelaySettings> relaySettings_;
    TWhepNetwork webRtcNetwork_;
    std::vector<ComPtr<ISideOutput>> outputs_; // all of them, for starting and stopping
    ComPtr<IRelayOutput> relay_;
    ComPtr<IWhepEndpoint> whep_;
    ComPtr<IWebmStreamSource> webmSource_;
    ComPtr<IWebmStreamSink> webmSink_;
};
