#include "platform/gst/GstWebRtcOutput.h"

#include "platform/ClassRegistry.h"
#include "platform/WhepSdp.h"

#include <gst/video/video-event.h>

#include <algorithm>
#include <random>

namespace {

// What the output needs that may not be installed: named for the user.
std::string MissingFactory(bool audio) {
    std::vector<const char*> needed{"x264enc",   "h264parse", "rtph264pay", "tee",
                                    "webrtcbin", "nicesrc",   "dtlssrtpenc"};
    if (audio) needed.insert(needed.end(), {"opusenc", "rtpopuspay"});
    for (const char* factory : needed)
        if (TGstRef<GstElementFactory> found(gst_element_factory_find(factory)); !found)
            return MissingElementText(factory);
    return {};
}

// A session's name in its address: not guessable, letters and digits.
std::string NewSessionId() {
    static constexpr char kChars[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::string id(24, ' ');
    for (char& c : id)
        c = kChars[random() % (sizeof kChars - 1)];
    return id;
}

// An SSRC for one of the encode's streams: random, as RTP asks.
unsigned NewSsrc() {
    std::random_device random;
    return std::max(1u, unsigned(random()));
}

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

void PrepareDtlsCertificate() {
    // The first DTLS element of a process makes the certificate every later
    // one shares (an RSA key: half a second of a core here).
    if (GstElement* dtls = MakeGstElement("dtlssrtpdec")) {
        gst_object_ref_sink(dtls);
        gchar* pem = nullptr;
        g_object_get(dtls, "pem", &pem, nullptr);
        g_free(pem);
        gst_object_unref(dtls);
    }
}

TGstWebRtcOutput::TGstWebRtcOutput() : TGstSideOutput("WebRTC") {
    reaper_ = std::thread([this] {
        // Made now, so that the first viewer does not wait for it.
        PrepareDtlsCertificate();
        ReaperLoop();
    });
}

TGstWebRtcOutput::~TGstWebRtcOutput() {
    runner_.Stop(); // every viewer goes with the run
    {
        std::lock_guard lock(lock_);
        quit_ = true;
        changed_.notify_all();
    }
    reaper_.join();
}

std::string TGstWebRtcOutput::StateText(const TSideOutputStatus& status) {
    return SideOutputStatusText("WebRTC", status);
}

GstElement* TGstWebRtcOutput::AddChain(GstElement* pipeline, GstElement* video, GstElement* audio,
                                       const TGstSideTaps& taps, std::string& error) {
    error = MissingFactory(audio != nullptr);
    if (!error.empty()) return nullptr;
    const TTapVideo capture = TapVideo(*taps.Video);
    int width = 0, height = 0;
    FitPictureSize(capture.Width, capture.Height, kMaxWidth, kMaxHeight, width, height);
    const TFrameRate rate = EncodeRate(capture);
    if (audio) gst_bin_add(GST_BIN(pipeline), audio);
    GstElement* last = AddPictureChain(pipeline, video, width, height, rate.Num, rate.Den);
    GstElement *venc, *profile, *parse, *pay, *vtee;
    if (!last || !MakeGstElements({{&venc, "x264enc"},
                                   {&profile, "capsfilter"},
                                   {&parse, "h264parse"},
                                   {&pay, "rtph264pay"},
                                   {&vtee, "tee"}}))
        return nullptr;
    // Nothing held back (no B-frames, no lookahead); a keyframe every two
    // seconds besides those viewers ask for.
    g_object_set(venc, "tune", 0x4 /* zerolatency */, "bitrate", guint(kVideoKbps), "key-int-max",
                 guint(rate.FramesIn(2)), "bframes", 0u, nullptr);
    gst_util_set_object_arg(G_OBJECT(venc), "speed-preset", "veryfast");
    TGstCapsRef h264(gst_caps_from_string("video/x-h264,profile=constrained-baseline"));
    g_object_set(profile, "caps", h264.get(), nullptr);
    // Parameter sets before every keyframe: a viewer may start at any of them.
    g_object_set(parse, "config-interval", -1, nullptr);
    const unsigned videoSsrc = NewSsrc();
    g_object_set(pay, "config-interval", -1, "pt", 96u, "mtu", 1200u, "ssrc", videoSsrc, nullptr);
    gst_util_set_object_arg(G_OBJECT(pay), "aggregate-mode", "zero-latency");
    g_object_set(vtee, "allow-not-linked", TRUE, nullptr);
    if (!LinkChain(pipeline, {venc, profile, parse, pay, vtee}) || !gst_element_link(last, venc))
        return nullptr;
    GstElement* atee = nullptr;
    unsigned audioSsrc = 0;
    if (audio) {
        GstElement *convert, *resample, *rate, *aenc, *apay;
        if (!MakeGstElements({{&convert, "audioconvert"},
                              {&resample, "audioresample"},
                              {&rate, "capsfilter"},
                              {&aenc, "opusenc"},
                              {&apay, "rtpopuspay"},
                              {&atee, "tee"}}))
            return nullptr;
        TGstCapsRef raw(gst_caps_from_string("audio/x-raw,rate=48000"));
        g_object_set(rate, "caps", raw.get(), nullptr);
        g_object_set(aenc, "bitrate", kAudioBitRate, nullptr);
        audioSsrc = NewSsrc();
        g_object_set(apay, "pt", 111u, "ssrc", audioSsrc, nullptr);
        g_object_set(atee, "allow-not-linked", TRUE, nullptr);
        if (!LinkChain(pipeline, {convert, resample, rate, aenc, apay, atee}) ||
            !gst_element_link(audio, convert))
            return nullptr;
    }
    TGstRef<GstPad> encoded(gst_element_get_static_pad(venc, "src"));
    gst_pad_add_probe(encoded.get(), GST_PAD_PROBE_TYPE_EVENT_UPSTREAM, &ThrottleKeyframes, this,
                      nullptr);
    TGstRef<GstPad> teeIn(gst_element_get_static_pad(vtee, "sink"));
    gst_pad_add_probe(teeIn.get(),
                      GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                      &FirstPacket, this, nullptr);
    std::lock_guard lock(lock_);
    run_ = {pipeline, vtee, atee, venc, videoSsrc, audioSsrc, false, ++generations_};
    return vtee;
}

GstPadProbeReturn TGstWebRtcOutput::FirstPacket(GstPad*, GstPadProbeInfo*, gpointer self) {
    auto* output = static_cast<TGstWebRtcOutput*>(self);
    std::lock_guard lock(output->lock_);
    output->run_.Flowing = true;
    output->changed_.notify_all();
    return GST_PAD_PROBE_REMOVE;
}

GstPadProbeReturn TGstWebRtcOutput::ThrottleKeyframes(GstPad*, GstPadProbeInfo* info,
                                                      gpointer self) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (!event || !gst_video_event_is_force_key_unit(event)) return GST_PAD_PROBE_OK;
    auto* output = static_cast<TGstWebRtcOutput*>(self);
    const int64_t now = NowNs();
    const bool join = output->joinKeyframe_.exchange(false);
    const int64_t every = std::chrono::nanoseconds(kKeyframeEvery).count();
    // Every viewer that lost a packet asks; one keyframe serves them all.
    if (!join && now - output->lastKeyframeNs_.load() < every) return GST_PAD_PROBE_DROP;
    output->lastKeyframeNs_ = now;
    ++output->keyframes_;
    return GST_PAD_PROBE_OK;
}

void TGstWebRtcOutput::RequestKeyframe(bool forNewViewer) {
    GstElement* encoder = nullptr;
    {
        std::lock_guard lock(lock_);
        if (run_.Encoder) encoder = GST_ELEMENT(gst_object_ref(run_.Encoder));
    }
    if (!encoder) return;
    if (forNewViewer) joinKeyframe_ = true;
    TGstRef<GstPad> pad(gst_element_get_static_pad(encoder, "src"));
    gst_pad_send_event(pad.get(),
                       gst_video_event_new_upstream_force_key_unit(GST_CLOCK_TIME_NONE, TRUE, 0));
    gst_object_unref(encoder);
}

bool TGstWebRtcOutput::Listed(uint64_t id) {
    std::lock_guard lock(lock_);
    return std::any_of(viewers_.begin(), viewers_.end(),
                       [&](const TViewer& v) { return v.Id == id; });
}

bool TGstWebRtcOutput::TakesError(GstObject* source) {
    uint64_t id = 0;
    {
        std::lock_guard lock(lock_);
        for (const TViewer& v : viewers_)
            if (GstElement* webrtc = v.Branch->Element();
                webrtc && (source == GST_OBJECT(webrtc) ||
                           gst_object_has_as_ancestor(source, GST_OBJECT(webrtc))))
                id = v.Id;
        if (id) {
            drops_.push_back(id);
            changed_.notify_all();
        }
    }
    return id != 0;
}

void TGstWebRtcOutput::RunStopping() {
    // No branch changes from here on: the pipeline takes every branch down with it.
    std::lock_guard branches(branchLock_);
    std::lock_guard lock(lock_);
    run_ = {};
}

void TGstWebRtcOutput::RunEnded() {
    std::vector<TViewer> gone;
    std::function<void()> released;
    {
        std::lock_guard branches(branchLock_);
        std::lock_guard lock(lock_);
        gone.swap(viewers_);
        released = released_;
        UpdateWanted();
    }
    for (TViewer& v : gone) {
        // One still being answered is let go by its offer's thread.
        if (v.Ready) v.Branch->Forget();
        if (released) released();
    }
}

void TGstWebRtcOutput::UpdateWanted() {
    runner_.SetWanted(!viewers_.empty() || pending_ > 0);
}

bool TGstWebRtcOutput::Reserve(std::string& reason) {
    std::function<bool()> mayAdmit;
    {
        std::lock_guard lock(lock_);
        // One UDP port a viewer and address (bundled, RTCP muxed).
        const int ports = std::max(0, network_.MaxPort - network_.MinPort + 1) /
                          int(1 + network_.MoreAddresses.size());
        if (int(viewers_.size()) + pending_ >= ports) {
            reason = "no more WebRTC viewers can be taken";
            return false;
        }
        mayAdmit = mayAdmit_;
    }
    if (mayAdmit && !mayAdmit()) {
        reason = "full: the stream has as many viewers as it takes";
        return false;
    }
    std::lock_guard lock(lock_);
    ++pending_;
    UpdateWanted();
    return true;
}

void TGstWebRtcOutput::Unreserve() {
    std::function<void()> released;
    {
        std::lock_guard lock(lock_);
        --pending_;
        UpdateWanted();
        released = released_;
    }
    if (released) released();
}

TWhepOfferResult TGstWebRtcOutput::Offer(const std::string& sdp, const std::string& peer) {
    TWhepOfferResult result;
    if (std::string problem = WhepOfferProblem(sdp); !problem.empty()) {
        result.Status = 400;
        result.Reason = problem;
        return result;
    }
    if (!Reserve(result.Reason)) {
        result.Status = 503;
        return result;
    }
    // The encode starts with the first viewer: wait for its first packet
    // (not for an encode that cannot be made).
    std::unique_lock lock(lock_);
    const auto until = std::chrono::steady_clock::now() + kStartWait;
    TSideOutputStatus status;
    while (!run_.Flowing && !quit_ && std::chrono::steady_clock::now() < until &&
           (status = runner_.Status()).State != TSideOutputState::Refused)
        changed_.wait_for(lock, std::chrono::milliseconds(100));
    if (!run_.Flowing || quit_) {
        lock.unlock();
        Unreserve();
        result.Status = 503;
        result.Reason =
            status.State == TSideOutputState::Refused ? status.Reason : "the stream is not running";
        return result;
    }
    const TWhepNetwork network = network_;
    const uint64_t id = nextId_++, generation = run_.Generation;
    // Listed before it answers, so that an error of its webrtcbin drops it
    // alone; dropped by others only once it is ready.
    TViewer v;
    v.Id = id;
    v.SessionId = NewSessionId();
    v.Peer = peer;
    v.Since = std::chrono::system_clock::now();
    v.Started = std::chrono::steady_clock::now();
    v.Mids = SdpMids(sdp);
    v.ConnectTimeout = network.ConnectTimeout;
    v.SilenceTimeout = network.SilenceTimeout;
    v.Generation = generation;
    v.Branch = std::make_shared<TGstWebRtcViewer>(
        run_.Pipeline, TGstWebRtcViewer::TSource{run_.VideoTee, run_.VideoSsrc},
        TGstWebRtcViewer::TSource{run_.AudioTee, run_.AudioSsrc},
        [this, id](bool connected, bool failed) { OnViewerState(id, connected, failed); });
    std::shared_ptr<TGstWebRtcViewer> branch = v.Branch;
    result.SessionId = v.SessionId;
    viewers_.push_back(std::move(v));
    --pending_;
    lock.unlock();

    std::string answer;
    bool answered = branch->Answer(WithoutMdnsCandidates(sdp), network, answer, result.Reason);
    if (answered) {
        std::lock_guard branches(branchLock_);
        bool current = false;
        {
            std::lock_guard l(lock_);
            current = run_.Generation == generation;
        }
        answered = current && branch->Link();
        if (!current) result.Reason = "the stream started over";
    }
    {
        std::lock_guard l(lock_);
        for (TViewer& listed : viewers_)
            if (listed.Id == id) listed.Ready = true;
    }
    if (!answered) {
        Drop(id);
        result.Status = result.Reason == "the stream started over" ? 503 : 400;
        if (result.Reason.empty()) result.Reason = "the offer could not be answered";
        result.SessionId.clear();
        return result;
    }
    RequestKeyframe(true);
    result.Status = 201;
    result.AnswerSdp = std::move(answer);
    return result;
}

bool TGstWebRtcOutput::Drop(uint64_t id) {
    std::shared_ptr<TGstWebRtcViewer> branch;
    std::function<void()> released;
    {
        std::lock_guard branches(branchLock_);
        bool current = false;
        {
            std::lock_guard lock(lock_);
            auto it = std::find_if(viewers_.begin(), viewers_.end(),
                                   [&](const TViewer& v) { return v.Id == id && v.Ready; });
            if (it == viewers_.end()) return false;
            branch = it->Branch;
            current = it->Generation == run_.Generation;
            viewers_.erase(it);
            released = released_;
        }
        // A branch of a run being torn down goes with it.
        if (current)
            branch->Remove();
        else
            branch->Forget();
        std::lock_guard lock(lock_);
        UpdateWanted();
    }
    if (released) released();
    return true;
}

int TGstWebRtcOutput::Patch(const std::string& sessionId, const std::string& fragment) {
    std::vector<TSdpCandidate> candidates;
    if (!FragmentCandidates(fragment, candidates)) return 400;
    std::shared_ptr<TGstWebRtcViewer> branch;
    std::vector<std::string> mids;
    {
        std::lock_guard lock(lock_);
        auto it = std::find_if(viewers_.begin(), viewers_.end(),
                               [&](const TViewer& v) { return v.SessionId == sessionId; });
        if (it == viewers_.end()) return 404;
        branch = it->Branch;
        mids = it->Mids;
    }
    for (const TSdpCandidate& c : candidates) {
        if (c.Candidate.empty() || WithoutMdnsCandidates("a=" + c.Candidate).empty()) continue;
        // Bundled: a section the offer did not name gets the first one's.
        auto mid = std::find(mids.begin(), mids.end(), c.Mid);
        branch->AddCandidate(mid == mids.end() ? 0u : unsigned(mid - mids.begin()), c.Candidate);
    }
    return 204;
}

int TGstWebRtcOutput::Delete(const std::string& sessionId) {
    uint64_t id = 0;
    {
        std::lock_guard lock(lock_);
        for (const TViewer& v : viewers_)
            if (v.SessionId == sessionId) id = v.Id;
    }
    return id && Drop(id) ? 200 : 404;
}

HRESULT TGstWebRtcOutput::GetViewers(std::vector<TStreamViewer>& viewers) {
    std::lock_guard lock(lock_);
    viewers.clear();
    for (const TViewer& v : viewers_) {
        TStreamViewer s;
        s.Id = v.Id;
        s.Address = v.Peer;
        s.Kind = TStreamViewerKind::WebRtc;
        s.ConnectedSince = v.Since;
        s.BytesSent = v.Branch->BytesSent();
        viewers.push_back(std::move(s));
    }
    return S_OK;
}

HRESULT TGstWebRtcOutput::DisconnectViewer(uint64_t id) {
    return Drop(id) ? S_OK : S_FALSE;
}

HRESULT TGstWebRtcOutput::SetAdmission(std::function<bool()> mayAdmit,
                                       std::function<void()> released) {
    std::lock_guard lock(lock_);
    mayAdmit_ = std::move(mayAdmit);
    released_ = std::move(released);
    return S_OK;
}

HRESULT TGstWebRtcOutput::SetNetwork(const TWhepNetwork& network) {
    if (network.MinPort < 1 || network.MaxPort > 65535 || network.MinPort > network.MaxPort)
        return E_INVALIDARG;
    std::lock_guard lock(lock_);
    network_ = network;
    return S_OK;
}

void TGstWebRtcOutput::OnViewerState(uint64_t id, bool connected, bool failed) {
    bool keyframe = false;
    {
        std::lock_guard lock(lock_);
        for (TViewer& v : viewers_)
            if (v.Id == id) {
                keyframe = connected && !v.Connected;
                // One that lost its connection gets the same time to come back.
                if (v.Connected && !connected) v.Started = std::chrono::steady_clock::now();
                v.Connected = connected;
            }
        if (failed) {
            drops_.push_back(id);
            changed_.notify_all();
        }
    }
    // Its first picture: what it got before DTLS was up is lost.
    if (keyframe) RequestKeyframe(true);
}

void TGstWebRtcOutput::ReaperLoop() {
    std::unique_lock lock(lock_);
    while (!quit_) {
        const auto now = std::chrono::steady_clock::now();
        for (const TViewer& v : viewers_) {
            if (!v.Ready || std::find(drops_.begin(), drops_.end(), v.Id) != drops_.end()) continue;
            const auto heard = std::max(v.Started, v.Branch->HeardAt());
            if (v.Connected ? now - heard > v.SilenceTimeout : now - v.Started > v.ConnectTimeout)
                drops_.push_back(v.Id);
        }
        if (drops_.empty()) {
            changed_.wait_for(lock, std::chrono::milliseconds(250));
            continue;
        }
        std::deque<uint64_t> drops;
        drops.swap(drops_);
        lock.unlock();
        std::deque<uint64_t> later; // still being answered
        for (uint64_t id : drops)
            if (!Drop(id) && Listed(id)) later.push_back(id);
        lock.lock();
        drops_.insert(drops_.end(), later.begin(), later.end());
        if (!later.empty()) changed_.wait_for(lock, std::chrono::milliseconds(100));
    }
}

void RegisterWebRtcOutput() {
    RegisterClassFactory(CLSID_WebRtcOutput, MakeClassFactory<TGstWebRtcOutput>());
}
