#pragma once
// The relay: a side output that encodes the capture and publishes it to a
// streaming server, for as long as the broadcast runs:
//
//   RTMP:    appsrc ! picture ! x264enc ! h264parse ! queue ! flvmux ! rtmp2sink
//            appsrc ! audioconvert ! audioresample ! AAC ! queue ! flvmux
//   Icecast: the browser stream's WebM encoding ! shout2send
//
// A server that is absent or goes away posts an ERROR and the runner builds
// the relay again after a back-off; a server that turns the stream away
// (stream key, password) is not asked again until the settings change.
//
// Threads: SetRelay from the owner's thread; the runner's thread builds.
// lock_ guards settings_ and target_.
#include "platform/RelayTarget.h"
#include "platform/gst/GstSideOutput.h"

#include <mutex>
#include <optional>

class TGstRelay : public TGstSideOutput<IRelayOutput> {
  public:
    TGstRelay();

    // IRelayOutput: null stops relaying; new settings start over.
    HRESULT SetRelay(const TRelaySettings* settings) override;

  protected:
    ~TGstRelay() override;
    GstElement* AddChain(GstElement* pipeline, GstElement* video, GstElement* audio,
                         const TGstSideTaps& taps, std::string& error) override;
    // Whether an error a sink posted means the server turned the stream away
    // (then reason says why), rather than that it could not be reached.
    bool IsRefusal(const std::string& message, const std::string& debug,
                   std::string& reason) override;
    std::string Hide(std::string text) override;
    std::string StateText(const TSideOutputStatus& status) override {
        return RelayStatusText(status);
    }

  private:
    GstElement* AddRtmpOutput(GstElement* pipeline, GstElement* video, GstElement* audio,
                              const TTapVideo& capture, const TRelayTarget& target,
                              const TRelaySettings& settings);
    GstElement* AddIcecastOutput(GstElement* pipeline, GstElement* video, GstElement* audio,
                                 const TTapVideo& capture, const TRelayTarget& target,
                                 const TRelaySettings& settings);

    std::mutex lock_;
    std::optional<TRelaySettings> settings_;
    std::optional<TRelayTarget> target_;
};

// Registers the relay's class (CLSID_RelayOutput).
void RegisterRelay();
