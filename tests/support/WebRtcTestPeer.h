#pragma once
// A WebRTC viewer in the test's own GStreamer: a webrtcbin that offers to
// receive H.264 and Opus, as a browser's WHEP client does, decodes what
// comes and records when.
#define GST_USE_UNSTABLE_API
#include "platform/gst/GstUtil.h"

#include <gst/sdp/sdp.h>
#include <gst/video/video-event.h>
#include <gst/webrtc/webrtc.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

namespace webrtctest {

using Clock = std::chrono::steady_clock;

class TBrowserPeer {
  public:
    explicit TBrowserPeer(bool audio = true) {
        pipeline_ = gst_pipeline_new(nullptr);
        webrtc_ = MakeGstElement("webrtcbin");
        gst_util_set_object_arg(G_OBJECT(webrtc_), "bundle-policy", "max-bundle");
        gst_bin_add(GST_BIN(pipeline_), webrtc_);
        GstWebRTCICE* ice = nullptr;
        g_object_get(webrtc_, "ice-agent", &ice, nullptr);
        gboolean added = FALSE;
        g_signal_emit_by_name(ice, "add-local-ip-address", "127.0.0.1", &added);
        GObject* agent = nullptr;
        g_object_get(ice, "agent", &agent, nullptr);
        g_object_set(agent, "upnp", FALSE, nullptr);
        g_object_unref(agent);
        gst_object_unref(ice);
        // The formats a browser offers first, with its keyframe requests.
        AddReceiver("application/x-rtp,media=video,encoding-name=H264,payload=100,"
                    "clock-rate=90000,packetization-mode=(string)1,"
                    "profile-level-id=(string)640032,rtcp-fb-nack-pli=(boolean)true;"
                    "application/x-rtp,media=video,encoding-name=H264,payload=102,"
                    "clock-rate=90000,packetization-mode=(string)1,"
                    "profile-level-id=(string)42e01f,rtcp-fb-nack-pli=(boolean)true,"
                    "rtcp-fb-ccm-fir=(boolean)true");
        if (audio)
            AddReceiver("application/x-rtp,media=audio,encoding-name=OPUS,payload=109,"
                        "clock-rate=48000,encoding-params=(string)2");
        g_signal_connect(webrtc_, "pad-added", G_CALLBACK(&OnPad), this);
        g_signal_connect(webrtc_, "notify::ice-gathering-state", G_CALLBACK(&OnGathering), this);
        gst_element_set_state(pipeline_, GST_STATE_PLAYING);
    }
    ~TBrowserPeer() {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        gst_object_unref(pipeline_);
    }

    // The offer with every candidate, as a non-trickle client sends it.
    std::string Offer() {
        GstPromise* p = gst_promise_new();
        g_signal_emit_by_name(webrtc_, "create-offer", nullptr, p);
        gst_promise_wait(p);
        GstWebRTCSessionDescription* offer = nullptr;
        gst_structure_get(gst_promise_get_reply(p), "offer", GST_TYPE_WEBRTC_SESSION_DESCRIPTION,
                          &offer, nullptr);
        gst_promise_unref(p);
        g_signal_emit_by_name(webrtc_, "set-local-description", offer, nullptr);
        gst_webrtc_session_description_free(offer);
        {
            std::unique_lock lock(lock_);
            changed_.wait_for(lock, std::chrono::seconds(3), [&] { return gathered_; });
        }
        GstWebRTCSessionDescription* local = nullptr;
        g_object_get(webrtc_, "local-description", &local, nullptr);
        gchar* text = gst_sdp_message_as_text(local->sdp);
        std::string out = text;
        g_free(text);
        gst_webrtc_session_description_free(local);
        return out;
    }
    bool Answer(const std::string& sdp) {
        GstSDPMessage* message = nullptr;
        if (gst_sdp_message_new_from_text(sdp.c_str(), &message) != GST_SDP_OK) return false;
        GstWebRTCSessionDescription* answer =
            gst_webrtc_session_description_new(GST_WEBRTC_SDP_TYPE_ANSWER, message);
        GstPromise* p = gst_promise_new();
        g_signal_emit_by_name(webrtc_, "set-remote-description", answer, p);
        gst_promise_wait(p);
        gst_promise_unref(p);
        gst_webrtc_session_description_free(answer);
        answeredAt_ = Clock::now();
        return true;
    }
    // How long its jitter buffer holds packets (webrtcbin's default: 200 ms;
    // a browser on a clean link starts far lower). Before the answer.
    void SetLatency(unsigned ms) { g_object_set(webrtc_, "latency", ms, nullptr); }
    // Asks the sender for a keyframe, as a decoder that lost a packet does.
    void RequestKeyframe() {
        std::lock_guard lock(lock_);
        if (videoDepay_) {
            TGstRef<GstPad> pad(gst_element_get_static_pad(videoDepay_, "sink"));
            gst_pad_push_event(pad.get(), gst_video_event_new_upstream_force_key_unit(
                                              GST_CLOCK_TIME_NONE, TRUE, 0));
        }
    }

    std::atomic<int> Frames{0}, AudioBuffers{0};
    // Called with each decoded picture (I420) on the decoder's thread; set
    // before the answer.
    std::function<void(GstBuffer* picture, GstPad* pad)> OnPicture;
    Clock::time_point AnsweredAt() const { return answeredAt_; }
    Clock::time_point FirstPacketAt() {
        std::lock_guard lock(lock_);
        return firstPacket_;
    }
    Clock::time_point FirstKeyframeAt() {
        std::lock_guard lock(lock_);
        return firstKeyframe_;
    }
    Clock::time_point FirstFrameAt() {
        std::lock_guard lock(lock_);
        return firstFrame_;
    }

  private:
    void AddReceiver(const char* caps) {
        TGstCapsRef c(gst_caps_from_string(caps));
        GstWebRTCRTPTransceiver* t = nullptr;
        g_signal_emit_by_name(webrtc_, "add-transceiver",
                              GST_WEBRTC_RTP_TRANSCEIVER_DIRECTION_RECVONLY, c.get(), &t);
        if (t) gst_object_unref(t);
    }
    static void OnGathering(GstElement* webrtc, GParamSpec*, gpointer self) {
        auto* peer = static_cast<TBrowserPeer*>(self);
        GstWebRTCICEGatheringState state;
        g_object_get(webrtc, "ice-gathering-state", &state, nullptr);
        std::lock_guard lock(peer->lock_);
        peer->gathered_ = state == GST_WEBRTC_ICE_GATHERING_STATE_COMPLETE;
        peer->changed_.notify_all();
    }
    static void OnPad(GstElement*, GstPad* pad, gpointer self) {
        auto* peer = static_cast<TBrowserPeer*>(self);
        if (GST_PAD_DIRECTION(pad) != GST_PAD_SRC) return;
        TGstCapsRef caps(gst_pad_get_current_caps(pad));
        const char* media =
            gst_structure_get_string(gst_caps_get_structure(caps.get(), 0), "media");
        const bool video = media && std::string(media) == "video";
        GstElement* bin = gst_parse_bin_from_description(
            video ? "rtph264depay name=depay ! h264parse name=parse ! avdec_h264 ! "
                    "fakesink name=out signal-handoffs=true sync=false"
                  : "rtpopusdepay ! opusdec ! fakesink name=out signal-handoffs=true sync=false",
            TRUE, nullptr);
        gst_bin_add(GST_BIN(peer->pipeline_), bin);
        GstElement* out = gst_bin_get_by_name(GST_BIN(bin), "out");
        g_signal_connect(out, "handoff", G_CALLBACK(video ? &OnFrame : &OnAudio), peer);
        gst_object_unref(out);
        if (video) {
            std::lock_guard lock(peer->lock_);
            peer->firstPacket_ = Clock::now();
            peer->videoDepay_ = gst_bin_get_by_name(GST_BIN(bin), "depay");
            gst_object_unref(peer->videoDepay_); // the bin holds it
            GstElement* parse = gst_bin_get_by_name(GST_BIN(bin), "parse");
            TGstRef<GstPad> parsed(gst_element_get_static_pad(parse, "src"));
            gst_pad_add_probe(parsed.get(), GST_PAD_PROBE_TYPE_BUFFER, &OnParsed, peer, nullptr);
            gst_object_unref(parse);
        }
        gst_element_sync_state_with_parent(bin);
        TGstRef<GstPad> sink(gst_element_get_static_pad(bin, "sink"));
        gst_pad_link(pad, sink.get());
    }
    static GstPadProbeReturn OnParsed(GstPad*, GstPadProbeInfo* info, gpointer self) {
        auto* peer = static_cast<TBrowserPeer*>(self);
        GstBuffer* b = GST_PAD_PROBE_INFO_BUFFER(info);
        if (b && !GST_BUFFER_FLAG_IS_SET(b, GST_BUFFER_FLAG_DELTA_UNIT)) {
            std::lock_guard lock(peer->lock_);
            if (peer->firstKeyframe_ == Clock::time_point{}) peer->firstKeyframe_ = Clock::now();
        }
        return GST_PAD_PROBE_OK;
    }
    static void OnFrame(GstElement*, GstBuffer* picture, GstPad* pad, gpointer self) {
        auto* peer = static_cast<TBrowserPeer*>(self);
        if (peer->OnPicture) peer->OnPicture(picture, pad);
        if (peer->Frames++ == 0) {
            std::lock_guard lock(peer->lock_);
            peer->firstFrame_ = Clock::now();
        }
    }
    static void OnAudio(GstElement*, GstBuffer*, GstPad*, gpointer self) {
        ++static_cast<TBrowserPeer*>(self)->AudioBuffers;
    }

    GstElement* pipeline_;
    GstElement* webrtc_;
    std::mutex lock_;
    std::condition_variable changed_;
    bool gathered_ = false;
    GstElement* videoDepay_ = nullptr; // in pipeline_
    Clock::time_point answeredAt_, firstPacket_, firstKeyframe_, firstFrame_;
};

} // namespace webrtctest
