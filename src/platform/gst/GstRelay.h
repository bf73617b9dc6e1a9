#pragma once
// The relay's publisher: a side pipeline, apart from the capture pipeline,
// that encodes what the capture side taps deliver and publishes it to a
// streaming server, for as long as the capture runs:
//
//   RTMP:    appsrc ! picture ! x264enc ! h264parse ! queue ! flvmux ! rtmp2sink
//            appsrc ! audioconvert ! audioresample ! AAC ! queue ! flvmux
//   Icecast: the browser stream's WebM encoding ! shout2send
//
// A server that is absent or goes away posts an ERROR: the pipeline is torn
// down and built again after a back-off (0.5 s doubling to 8 s, from the
// start again once the server took the stream). A server that turns the
// stream away (stream key, password) is not asked again. The capture is
// never held: the taps drop what the relay cannot take.
//
// Threads: the owner sets taps and settings and reads the status from any
// thread; one control thread builds, watches and tears down the pipeline;
// the pipeline's streaming threads count the bytes the server took.
// lock_ guards every field below it but bytes_ (atomic).
#include "platform/RelayTarget.h"
#include "platform/gst/GstSideTap.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class TGstRelay {
  public:
    TGstRelay();
    ~TGstRelay();
    TGstRelay(const TGstRelay&) = delete;
    TGstRelay& operator=(const TGstRelay&) = delete;

    void SetVideoTap(std::shared_ptr<TGstSideTap> tap);
    void SetAudioTap(std::shared_ptr<TGstSideTap> tap);
    // Null: no relay. New settings start over (also after a refusal).
    void SetSettings(const TRelaySettings* settings);
    TRelayStatus Status();
    // Stops the pipeline and the control thread; nothing is published after it.
    void Shutdown();

    // Whether an error a sink posted means the server turned the stream away
    // (then reason says why), rather than that it could not be reached.
    static bool IsRefusal(const std::string& message, const std::string& debug,
                          std::string& reason);

  private:
    using Clock = std::chrono::steady_clock;
    struct TRun;
    void ControlLoop();
    std::unique_ptr<TRun> Build(const TRelayTarget& target, const TRelaySettings& settings,
                                std::string& error);
    GstElement* AddRtmpOutput(TRun& run, GstElement* video, GstElement* audio,
                              const TRelayTarget& target, const TRelaySettings& settings);
    GstElement* AddIcecastOutput(TRun& run, GstElement* video, GstElement* audio,
                                 const TRelayTarget& target, const TRelaySettings& settings);
    void TearDown(std::unique_ptr<TRun> run);
    void Failed(const std::string& message, const std::string& debug);
    static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* message, gpointer self);
    static GstPadProbeReturn CountBytes(GstPad*, GstPadProbeInfo* info, gpointer self);

    std::mutex lock_;
    std::condition_variable changed_;
    std::shared_ptr<TGstSideTap> videoTap_, audioTap_;
    std::optional<TRelaySettings> settings_;
    std::optional<TRelayTarget> target_;
    bool restart_ = false; // settings or taps changed: build again at once
    bool failed_ = false;  // the running pipeline posted an error
    std::string failure_;  // what it said, the secret masked
    bool refusedNow_ = false;
    TRelayStatus status_;
    Clock::time_point retryAt_;
    bool quit_ = false;
    std::thread control_;

    std::atomic<uint64_t> bytes_{0}; // taken by the server, this run
};
