#include "platform/gst/GstWebRtcViewer.h"

#include "platform/WhepSdp.h"

#define GST_USE_UNSTABLE_API // webrtc's headers ask for it
#include <gst/rtp/gstrtpbuffer.h>
#include <gst/sdp/sdp.h>
#include <gst/webrtc/webrtc.h>

#include <chrono>
#include <memory>

namespace {

// A promise webrtcbin answers on its own thread, waited for with a bound:
// a webrtcbin going away must not hang the caller.
class TPromiseWait {
  public:
    TPromiseWait() {
        auto* state = new std::shared_ptr<TState>(state_);
        promise_ = gst_promise_new_with_change_func(
            [](GstPromise*, gpointer data) {
                auto& s = **static_cast<std::shared_ptr<TState>*>(data);
                std::lock_guard lock(s.Lock);
                s.Done = true;
                s.Changed.notify_all();
            },
            state, [](gpointer data) { delete static_cast<std::shared_ptr<TState>*>(data); });
    }
    ~TPromiseWait() { gst_promise_unref(promise_); }
    GstPromise* Get() { return promise_; }
    // Whether a reply came in time; reply: its structure (owned by the
    // promise; null for a plain success).
    bool Wait(int ms, const GstStructure*& reply) {
        reply = nullptr;
        std::unique_lock lock(state_->Lock);
        if (!state_->Changed.wait_for(lock, std::chrono::milliseconds(ms),
                                      [&] { return state_->Done; })) {
            lock.unlock();
            gst_promise_interrupt(promise_);
            return false;
        }
        if (gst_promise_wait(promise_) != GST_PROMISE_RESULT_REPLIED) return false;
        reply = gst_promise_get_reply(promise_);
        return true;
    }
    // Empty when the operation succeeded in time; else what went wrong.
    std::string Error(int ms, const char* what) {
        const GstStructure* reply = nullptr;
        if (!Wait(ms, reply)) return std::string(what) + " timed out";
        GError* error = nullptr;
        if (reply && gst_structure_has_field(reply, "error"))
            gst_structure_get(reply, "error", G_TYPE_ERROR, &error, nullptr);
        if (!error) return {};
        std::string text = std::string(what) + ": " + (error->message ? error->message : "failed");
        g_error_free(error);
        return text;
    }

  private:
    struct TState {
        std::mutex Lock;
        std::condition_variable Changed;
        bool Done = false;
    };
    std::shared_ptr<TState> state_ = std::make_shared<TState>();
    GstPromise* promise_;
};

std::string SdpText(const GstSDPMessage* sdp) {
    gchar* text = gst_sdp_message_as_text(sdp);
    std::string out = text ? text : "";
    g_free(text);
    return out;
}

GstWebRTCSessionDescription* LocalDescription(GstElement* webrtc) {
    GstWebRTCSessionDescription* desc = nullptr;
    g_object_get(webrtc, "local-description", &desc, nullptr);
    return desc;
}

// No UPnP port mapping (it would search the network for a router): host
// candidates on the configured address are all we offer.
void QuietAgent(GstWebRTCICE* ice) {
    if (!g_object_class_find_property(G_OBJECT_GET_CLASS(ice), "agent")) return;
    GObject* agent = nullptr;
    g_object_get(ice, "agent", &agent, nullptr);
    if (agent && g_object_class_find_property(G_OBJECT_GET_CLASS(agent), "upnp"))
        g_object_set(agent, "upnp", FALSE, nullptr);
    if (agent) g_object_unref(agent);
}

// The sink pad that feeds the transceiver of media section mline: one
// webrtcbin made for it, else a new one by that number.
GstPad* SinkPadFor(GstElement* webrtc, unsigned mline) {
    GstPad* found = nullptr;
    GstIterator* it = gst_element_iterate_sink_pads(webrtc);
    GValue item = G_VALUE_INIT;
    while (!found && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto* pad = GST_PAD(g_value_get_object(&item));
        GstWebRTCRTPTransceiver* trans = nullptr;
        g_object_get(pad, "transceiver", &trans, nullptr);
        guint index = G_MAXUINT;
        if (trans) g_object_get(trans, "mlineindex", &index, nullptr);
        if (index == mline && !gst_pad_is_linked(pad)) found = GST_PAD(gst_object_ref(pad));
        if (trans) gst_object_unref(trans);
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    if (found) return found;
    const std::string name = "sink_" + std::to_string(mline);
    return gst_element_request_pad_simple(webrtc, name.c_str());
}

} // namespace

TGstWebRtcViewer::TGstWebRtcViewer(GstElement* pipeline, TSource video, TSource audio,
                                   StateHook hook)
    : pipeline_(GST_ELEMENT(gst_object_ref(pipeline))), hook_(std::move(hook)) {
    video_.Owner = audio_.Owner = this;
    video_.Tee = video.Tee;
    video_.Ssrc = video.Ssrc;
    audio_.Tee = audio.Tee;
    audio_.Ssrc = audio.Ssrc;
    if ((webrtc_ = MakeGstElement("webrtcbin"))) gst_object_ref_sink(webrtc_);
}

TGstWebRtcViewer::~TGstWebRtcViewer() {
    Disconnect();
    for (TBranch* b : {&video_, &audio_}) {
        if (b->TeePad) gst_object_unref(b->TeePad);
        if (b->Queue) gst_object_unref(b->Queue);
    }
    if (rtpbin_) gst_object_unref(rtpbin_);
    if (webrtc_) gst_object_unref(webrtc_);
    gst_object_unref(pipeline_);
}

bool TGstWebRtcViewer::Answer(const std::string& offerText, const TWhepNetwork& network,
                              std::string& answer, std::string& reason) {
    GstSDPMessage* sdp = nullptr;
    if (gst_sdp_message_new_from_text(offerText.c_str(), &sdp) != GST_SDP_OK || !sdp) {
        reason = "the offer is not SDP";
        return false;
    }
    GstWebRTCSessionDescription* offer =
        gst_webrtc_session_description_new(GST_WEBRTC_SDP_TYPE_OFFER, sdp);
    if (!webrtc_) {
        gst_webrtc_session_description_free(offer);
        reason = MissingElementText("webrtcbin");
        return false;
    }
    gst_util_set_object_arg(G_OBJECT(webrtc_), "bundle-policy", "max-bundle");
    GstWebRTCICE* ice = nullptr;
    g_object_get(webrtc_, "ice-agent", &ice, nullptr);
    if (ice) {
        if (g_object_class_find_property(G_OBJECT_GET_CLASS(ice), "ice-tcp"))
            g_object_set(ice, "ice-tcp", FALSE, nullptr);
        QuietAgent(ice);
        g_object_set(ice, "min-rtp-port", guint(network.MinPort), "max-rtp-port",
                     guint(network.MaxPort), nullptr);
        // Candidates for those addresses only (otherwise every interface's).
        gboolean added = FALSE;
        if (!network.Address.empty())
            g_signal_emit_by_name(ice, "add-local-ip-address", network.Address.c_str(), &added);
        for (const std::string& more : network.MoreAddresses)
            g_signal_emit_by_name(ice, "add-local-ip-address", more.c_str(), &added);
        gst_object_unref(ice);
    }
    g_signal_connect(webrtc_, "notify::ice-gathering-state", G_CALLBACK(&OnGathering), this);
    g_signal_connect(webrtc_, "notify::connection-state", G_CALLBACK(&OnConnection), this);
    g_signal_connect(webrtc_, "notify::ice-connection-state", G_CALLBACK(&OnConnection), this);
    // The viewer's receiver reports say it is still there; its BYE that it left.
    rtpbin_ = gst_bin_get_by_name(GST_BIN(webrtc_), "rtpbin");
    if (rtpbin_) {
        g_signal_connect(rtpbin_, "on-ssrc-active", G_CALLBACK(&OnReport), this);
        g_signal_connect(rtpbin_, "on-bye-ssrc", G_CALLBACK(&OnBye), this);
    }
    signals_ = true;
    gst_bin_add(GST_BIN(pipeline_), webrtc_);
    gst_element_sync_state_with_parent(webrtc_);
    const bool ok = Negotiate(offer, WhepVideoFormat(offerText).Pt, reason);
    gst_webrtc_session_description_free(offer);
    if (!ok) return false;

    {
        std::unique_lock lock(lock_);
        gathered_.wait_for(lock, std::chrono::milliseconds(kGatherWaitMs),
                           [&] { return gatherDone_; });
    }
    GstWebRTCSessionDescription* local = LocalDescription(webrtc_);
    if (!local) {
        reason = "no answer was made";
        return false;
    }
    answer = SdpText(local->sdp);
    gst_webrtc_session_description_free(local);
    return true;
}

bool TGstWebRtcViewer::Negotiate(GstWebRTCSessionDescription* offer, int videoPt,
                                 std::string& reason) {
    // What we send. The video is the offer's constrained baseline format
    // (by its number: a browser offers High and Main profiles too); the
    // audio's number is read from the answer.
    const std::string video = "application/x-rtp,media=video,encoding-name=H264,clock-rate=90000,"
                              "payload=" +
                              std::to_string(videoPt);
    struct {
        TBranch* Branch;
        const char* Caps;
    } kinds[] = {
        {&video_, video.c_str()},
        {&audio_, "application/x-rtp,media=audio,encoding-name=OPUS,clock-rate=48000"},
    };
    for (auto& kind : kinds) {
        if (!kind.Branch->Tee) continue;
        TGstCapsRef caps(gst_caps_from_string(kind.Caps));
        GstWebRTCRTPTransceiver* trans = nullptr;
        g_signal_emit_by_name(webrtc_, "add-transceiver",
                              GST_WEBRTC_RTP_TRANSCEIVER_DIRECTION_SENDONLY, caps.get(), &trans);
        if (trans) gst_object_unref(trans);
    }
    {
        TPromiseWait wait;
        g_signal_emit_by_name(webrtc_, "set-remote-description", offer, wait.Get());
        reason = wait.Error(kNegotiateWaitMs, "the offer was not taken");
        if (!reason.empty()) return false;
    }
    GstWebRTCSessionDescription* answer = nullptr;
    {
        TPromiseWait wait;
        g_signal_emit_by_name(webrtc_, "create-answer", nullptr, wait.Get());
        reason = wait.Error(kNegotiateWaitMs, "no answer was made");
        const GstStructure* reply = nullptr;
        if (!reason.empty()) return false;
        if (!wait.Wait(0, reply) || !reply ||
            !gst_structure_get(reply, "answer", GST_TYPE_WEBRTC_SESSION_DESCRIPTION, &answer,
                               nullptr) ||
            !answer) {
            reason = "no answer was made";
            return false;
        }
    }
    // The formats the answer picked: the first of each accepted section.
    for (unsigned i = 0; i < gst_sdp_message_medias_len(answer->sdp); ++i) {
        const GstSDPMedia* media = gst_sdp_message_get_media(answer->sdp, i);
        const std::string kind = gst_sdp_media_get_media(media);
        TBranch* branch = kind == "video" ? &video_ : kind == "audio" ? &audio_ : nullptr;
        if (!branch || !branch->Tee || branch->Pt >= 0 || gst_sdp_media_get_port(media) == 0 ||
            gst_sdp_media_formats_len(media) == 0)
            continue;
        branch->Pt = std::atoi(gst_sdp_media_get_format(media, 0));
        branch->MLine = i;
        // The answer is our own copy.
        if (branch->Ssrc)
            gst_sdp_media_add_attribute(const_cast<GstSDPMedia*>(media), "ssrc",
                                        (std::to_string(branch->Ssrc) + " cname:kavaroxp").c_str());
    }
    if (video_.Pt < 0) {
        gst_webrtc_session_description_free(answer);
        reason = "the offer's video cannot be sent H.264 constrained baseline";
        return false;
    }
    TPromiseWait wait;
    g_signal_emit_by_name(webrtc_, "set-local-description", answer, wait.Get());
    gst_webrtc_session_description_free(answer);
    reason = wait.Error(kNegotiateWaitMs, "the answer was not taken");
    return reason.empty();
}

bool TGstWebRtcViewer::Link() {
    return LinkBranch(video_) && (audio_.Pt < 0 || LinkBranch(audio_));
}

bool TGstWebRtcViewer::LinkBranch(TBranch& branch) {
    branch.Queue = MakeGstElement("queue");
    if (!branch.Queue) return false;
    gst_object_ref_sink(branch.Queue);
    // A viewer that cannot keep up loses its oldest packets, never holds the tee.
    g_object_set(branch.Queue, "leaky", 2 /* downstream */, "max-size-buffers", 0u,
                 "max-size-bytes", 0u, "max-size-time", guint64(GST_SECOND / 2), nullptr);
    gst_bin_add(GST_BIN(pipeline_), branch.Queue);
    TGstRef<GstPad> sink(SinkPadFor(webrtc_, branch.MLine));
    TGstRef<GstPad> queueSrc(gst_element_get_static_pad(branch.Queue, "src"));
    if (!sink || gst_pad_link(queueSrc.get(), sink.get()) != GST_PAD_LINK_OK) return false;
    gst_pad_add_probe(queueSrc.get(),
                      GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST |
                                      GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                      &Stamp, &branch, nullptr);
    gst_element_sync_state_with_parent(branch.Queue);
    branch.TeePad = gst_element_request_pad_simple(branch.Tee, "src_%u");
    TGstRef<GstPad> queueSink(gst_element_get_static_pad(branch.Queue, "sink"));
    return branch.TeePad && gst_pad_link(branch.TeePad, queueSink.get()) == GST_PAD_LINK_OK;
}

// The packet's payload type set (the buffer made writable: the tee shares it).
static GstBuffer* StampPacket(GstBuffer* buffer, int pt, std::atomic<uint64_t>& bytes) {
    buffer = gst_buffer_make_writable(buffer);
    GstRTPBuffer rtp = GST_RTP_BUFFER_INIT;
    if (gst_rtp_buffer_map(buffer, GST_MAP_WRITE, &rtp)) {
        gst_rtp_buffer_set_payload_type(&rtp, guint8(pt));
        gst_rtp_buffer_unmap(&rtp);
    }
    bytes += gst_buffer_get_size(buffer);
    return buffer;
}

GstPadProbeReturn TGstWebRtcViewer::Stamp(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* branch = static_cast<TBranch*>(data);
    auto& bytes = branch->Owner->bytes_;
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        GST_PAD_PROBE_INFO_DATA(info) =
            StampPacket(GST_PAD_PROBE_INFO_BUFFER(info), branch->Pt, bytes);
        return GST_PAD_PROBE_OK;
    }
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
        GstBufferList* list = gst_buffer_list_make_writable(GST_PAD_PROBE_INFO_BUFFER_LIST(info));
        GST_PAD_PROBE_INFO_DATA(info) = list;
        for (guint i = 0; i < gst_buffer_list_length(list); ++i) {
            GstBuffer* packet = gst_buffer_list_get_writable(list, i);
            GstRTPBuffer rtp = GST_RTP_BUFFER_INIT;
            if (gst_rtp_buffer_map(packet, GST_MAP_WRITE, &rtp)) {
                gst_rtp_buffer_set_payload_type(&rtp, guint8(branch->Pt));
                gst_rtp_buffer_unmap(&rtp);
            }
            bytes += gst_buffer_get_size(packet);
        }
        return GST_PAD_PROBE_OK;
    }
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (event && GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
        GstCaps* caps = nullptr;
        gst_event_parse_caps(event, &caps);
        GstCaps* stamped = gst_caps_copy(caps);
        gst_caps_set_simple(stamped, "payload", G_TYPE_INT, branch->Pt, nullptr);
        GST_PAD_PROBE_INFO_DATA(info) = gst_event_new_caps(stamped);
        gst_caps_unref(stamped);
        gst_event_unref(event);
    }
    return GST_PAD_PROBE_OK;
}

void TGstWebRtcViewer::AddCandidate(unsigned mline, const std::string& candidate) {
    if (webrtc_) g_signal_emit_by_name(webrtc_, "add-ice-candidate", mline, candidate.c_str());
}

void TGstWebRtcViewer::Remove() {
    // The tees stop pushing to this viewer first; the others go on.
    for (TBranch* b : {&video_, &audio_})
        if (b->TeePad) {
            gst_element_release_request_pad(b->Tee, b->TeePad);
            gst_object_unref(std::exchange(b->TeePad, nullptr));
        }
    // Then webrtcbin, which may hold a queue's push (no peer yet to send
    // to); stopped, it lets the queues' threads go.
    if (webrtc_ && GST_OBJECT_PARENT(webrtc_)) gst_element_set_state(webrtc_, GST_STATE_NULL);
    Disconnect();
    for (TBranch* b : {&video_, &audio_})
        if (b->Queue && GST_OBJECT_PARENT(b->Queue)) {
            gst_element_set_state(b->Queue, GST_STATE_NULL);
            gst_bin_remove(GST_BIN(pipeline_), b->Queue);
        }
    if (webrtc_ && GST_OBJECT_PARENT(webrtc_)) gst_bin_remove(GST_BIN(pipeline_), webrtc_);
}

void TGstWebRtcViewer::Forget() {
    Disconnect();
}

void TGstWebRtcViewer::Disconnect() {
    if (signals_ && webrtc_) g_signal_handlers_disconnect_by_data(webrtc_, this);
    if (signals_ && rtpbin_) g_signal_handlers_disconnect_by_data(rtpbin_, this);
    signals_ = false;
}

void TGstWebRtcViewer::OnGathering(GstElement* webrtc, GParamSpec*, gpointer self) {
    GstWebRTCICEGatheringState state = GST_WEBRTC_ICE_GATHERING_STATE_NEW;
    g_object_get(webrtc, "ice-gathering-state", &state, nullptr);
    auto* viewer = static_cast<TGstWebRtcViewer*>(self);
    std::lock_guard lock(viewer->lock_);
    viewer->gatherDone_ = state == GST_WEBRTC_ICE_GATHERING_STATE_COMPLETE;
    viewer->gathered_.notify_all();
}

void TGstWebRtcViewer::OnReport(GstElement*, guint, guint, gpointer self) {
    static_cast<TGstWebRtcViewer*>(self)->heardAt_ =
        std::chrono::steady_clock::now().time_since_epoch().count();
}

void TGstWebRtcViewer::OnBye(GstElement*, guint, guint, gpointer self) {
    auto* viewer = static_cast<TGstWebRtcViewer*>(self);
    if (viewer->hook_) viewer->hook_(false, true);
}

void TGstWebRtcViewer::OnConnection(GstElement* webrtc, GParamSpec*, gpointer self) {
    GstWebRTCPeerConnectionState peer = GST_WEBRTC_PEER_CONNECTION_STATE_NEW;
    GstWebRTCICEConnectionState ice = GST_WEBRTC_ICE_CONNECTION_STATE_NEW;
    g_object_get(webrtc, "connection-state", &peer, "ice-connection-state", &ice, nullptr);
    const bool failed = peer == GST_WEBRTC_PEER_CONNECTION_STATE_FAILED ||
                        peer == GST_WEBRTC_PEER_CONNECTION_STATE_CLOSED ||
                        ice == GST_WEBRTC_ICE_CONNECTION_STATE_FAILED;
    const bool connected = peer == GST_WEBRTC_PEER_CONNECTION_STATE_CONNECTED;
    auto* viewer = static_cast<TGstWebRtcViewer*>(self);
    if (viewer->hook_) viewer->hook_(connected, failed);
}
