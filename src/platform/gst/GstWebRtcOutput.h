#pragma once
// The WebRTC output: one encode shared by every WebRTC viewer, and a
// webrtcbin per viewer hung off it while the encode runs (WHEP: the viewer
// offers, we answer). It encodes only while a viewer is there.
//
//   appsrc ! picture ! x264enc ! h264parse ! rtph264pay ! tee ! <viewers>
//   appsrc ! audioconvert ! audioresample ! opusenc ! rtpopuspay ! tee ! <viewers>
//
// H.264 constrained baseline with its parameter sets at every keyframe and
// Opus: what every browser, iPhone Safari included, plays. A viewer's
// keyframe request (PLI/FIR) reaches the encoder through the tee, at most
// one every kKeyframeEvery; a new viewer gets one as it links and as it
// connects. A viewer that fails is dropped alone; the encode goes on.
//
// Threads: the endpoint is called from the server's threads; the runner's
// thread builds the encode; webrtcbin reports from its own; the reaper
// thread drops viewers that failed or never connected. Locks, in order:
// branchLock_ (changes to the pipeline's viewer branches) before lock_
// (run_, viewers_, pending_, admission, network_, drops_).
#include "platform/WhepInterfaces.h"
#include "platform/gst/GstSideOutput.h"
#include "platform/gst/GstWebRtcViewer.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class TGstWebRtcOutput : public TGstSideOutput<IWhepEndpoint> {
  public:
    TGstWebRtcOutput();

    // IWhepEndpoint
    TWhepOfferResult Offer(const std::string& sdp, const std::string& peer) override;
    int Patch(const std::string& sessionId, const std::string& fragment) override;
    int Delete(const std::string& sessionId) override;
    HRESULT GetViewers(std::vector<TStreamViewer>& viewers) override;
    HRESULT DisconnectViewer(uint64_t id) override;
    HRESULT SetAdmission(std::function<bool()> mayAdmit, std::function<void()> released) override;
    HRESULT SetNetwork(const TWhepNetwork& network) override;

    static constexpr int kMaxWidth = 640, kMaxHeight = 480;
    static constexpr int kVideoKbps = 900, kAudioBitRate = 64000;
    static constexpr auto kKeyframeEvery = std::chrono::milliseconds(500);
    // A run that was asked for gets this long to deliver its first packet.
    static constexpr auto kStartWait = std::chrono::seconds(5);

    // How many keyframes the encoder was asked for (for tests and stats).
    uint64_t KeyframesForced() const { return keyframes_.load(); }

  protected:
    ~TGstWebRtcOutput() override;
    GstElement* AddChain(GstElement* pipeline, GstElement* video, GstElement* audio,
                         const TGstSideTaps& taps, std::string& error) override;
    bool TakesError(GstObject* source) override;
    void RunStopping() override;
    void RunEnded() override;
    std::string StateText(const TSideOutputStatus& status) override;

  private:
    struct TViewer {
        uint64_t Id = 0;
        std::string SessionId, Peer;
        std::chrono::system_clock::time_point Since;
        std::chrono::steady_clock::time_point Started;
        std::vector<std::string> Mids;
        std::chrono::milliseconds ConnectTimeout{}, SilenceTimeout{};
        bool Connected = false;
        bool Ready = false; // answered (or failed to): others may drop it
        std::shared_ptr<TGstWebRtcViewer> Branch;
        uint64_t Generation = 0; // the run its branch is in
    };
    struct TRun {
        GstElement* Pipeline = nullptr; // not held: the runner holds it while it runs
        GstElement *VideoTee = nullptr, *AudioTee = nullptr, *Encoder = nullptr;
        unsigned VideoSsrc = 0, AudioSsrc = 0; // what the payloaders stamp
        bool Flowing = false;                  // its first packet reached the tee
        uint64_t Generation = 0;
    };

    // A place for one more viewer (the owner's cap and ours); counted in pending_.
    bool Reserve(std::string& reason);
    void Unreserve();
    // Ends a ready viewer: its branch out of the pipeline, its place freed.
    bool Drop(uint64_t id);
    bool Listed(uint64_t id);
    void UpdateWanted(); // lock_ held
    void OnViewerState(uint64_t id, bool connected, bool failed);
    void RequestKeyframe(bool forNewViewer);
    void ReaperLoop();
    static GstPadProbeReturn ThrottleKeyframes(GstPad*, GstPadProbeInfo* info, gpointer self);
    static GstPadProbeReturn FirstPacket(GstPad*, GstPadProbeInfo*, gpointer self);

    std::mutex branchLock_;
    std::mutex lock_;
    std::condition_variable changed_;
    TRun run_;
    uint64_t generations_ = 0;
    std::vector<TViewer> viewers_;
    int pending_ = 0; // admitted, being answered
    uint64_t nextId_ = kFirstWhepViewerId;
    std::function<bool()> mayAdmit_;
    std::function<void()> released_;
    TWhepNetwork network_;
    std::deque<uint64_t> drops_; // for the reaper
    bool quit_ = false;
    std::thread reaper_;

    // The keyframe throttle, on the encoder's streaming side.
    std::atomic<int64_t> lastKeyframeNs_{0};
    std::atomic<bool> joinKeyframe_{false};
    std::atomic<uint64_t> keyframes_{0};
};

// Registers the WebRTC output's class (CLSID_WebRtcOutput).
void RegisterWebRtcOutput();
// Makes the process's DTLS certificate, which every viewer's connection
// shares, unless it is made already. Blocks while it is made; any thread.
void PrepareDtlsCertificate();
