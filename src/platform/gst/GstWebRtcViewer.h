#pragma once
// One WebRTC viewer's branch of the shared encode, in the running pipeline:
//
//   video tee ! queue ! webrtcbin      (sendonly, max-bundle)
//   audio tee ! queue ! webrtcbin
//
// The viewer's offer is answered before the branch is linked, so that
// nothing reaches webrtcbin before it knows the payload types the viewer
// chose; the queues' output is stamped with those (the encode is shared,
// each browser numbers its formats its own way). The answer names the
// encode's SSRCs: a browser that cannot tell the streams apart by payload
// type (Chromium, when the sound section is inactive) drops what it cannot
// place.
//
// Threads: Answer, Link, AddCandidate and Remove from the owner's threads,
// one at a time per viewer; state changes are reported from webrtcbin's
// threads. lock_ guards gatherDone_.
#include "platform/WhepInterfaces.h"
#include "platform/gst/GstUtil.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

typedef struct _GstWebRTCSessionDescription GstWebRTCSessionDescription;

class TGstWebRtcViewer {
  public:
    // The peer connection's state changed (webrtcbin's threads; must not block).
    using StateHook = std::function<void(bool connected, bool failed)>;

    // What the viewer is fed from: a tee and the SSRC its packets carry.
    struct TSource {
        GstElement* Tee = nullptr;
        unsigned Ssrc = 0;
    };
    // audio.Tee may be null (no sound). Holds a reference to the pipeline;
    // the tees live as long as it.
    TGstWebRtcViewer(GstElement* pipeline, TSource video, TSource audio, StateHook hook);
    ~TGstWebRtcViewer();
    TGstWebRtcViewer(const TGstWebRtcViewer&) = delete;
    TGstWebRtcViewer& operator=(const TGstWebRtcViewer&) = delete;

    // Adds webrtcbin to the pipeline and answers the offer with all our
    // candidates (gathering bounded by kGatherWaitMs). False with a reason for
    // the viewer when the offer cannot be answered.
    bool Answer(const std::string& offer, const TWhepNetwork& network, std::string& answer,
                std::string& reason);
    // Feeds the branch from the tees.
    bool Link();
    // A trickled candidate for the media section mline.
    void AddCandidate(unsigned mline, const std::string& candidate);
    // Takes the branch out of the running pipeline (the encode goes on).
    void Remove();
    // The pipeline was torn down with the branch in it: only let go.
    void Forget();

    GstElement* Element() const { return webrtc_; }
    uint64_t BytesSent() const { return bytes_.load(); }
    // When the viewer's last receiver report came (the epoch: none yet).
    std::chrono::steady_clock::time_point HeardAt() const {
        return std::chrono::steady_clock::time_point(
            std::chrono::steady_clock::duration(heardAt_.load()));
    }

    static constexpr int kGatherWaitMs = 2000;
    static constexpr int kNegotiateWaitMs = 3000;

  private:
    struct TBranch {
        TGstWebRtcViewer* Owner = nullptr;
        GstElement* Tee = nullptr; // not held: the output holds it
        GstElement* Queue = nullptr;
        GstPad* TeePad = nullptr; // requested
        int Pt = -1;              // what the viewer chose; -1: not answered
        unsigned MLine = 0;
        unsigned Ssrc = 0;
    };
    bool Negotiate(GstWebRTCSessionDescription* offer, int videoPt, std::string& reason);
    bool LinkBranch(TBranch& branch);
    void Disconnect();
    static void OnGathering(GstElement*, GParamSpec*, gpointer self);
    static void OnConnection(GstElement*, GParamSpec*, gpointer self);
    static void OnReport(GstElement*, guint session, guint ssrc, gpointer self);
    static void OnBye(GstElement*, guint session, guint ssrc, gpointer self);
    static GstPadProbeReturn Stamp(GstPad*, GstPadProbeInfo* info, gpointer branch);

    GstElement* pipeline_;         // one reference
    GstElement* webrtc_ = nullptr; // one reference, made first; in pipeline_ once Answer ran
    GstElement* rtpbin_ = nullptr; // webrtc_'s, one reference
    TBranch video_, audio_;
    StateHook hook_;
    std::atomic<uint64_t> bytes_{0}; // counted at the queues' output
    std::atomic<std::chrono::steady_clock::rep> heardAt_{0};
    std::mutex lock_;
    std::condition_variable gathered_;
    bool gatherDone_ = false;
    bool signals_ = false; // our handlers are connected to webrtc_
};
