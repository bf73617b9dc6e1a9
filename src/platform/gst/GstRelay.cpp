#include "platform/gst/GstRelay.h"

#include "platform/gst/GstSidePipeline.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include <signal.h>

namespace {

constexpr auto kFirstBackOff = std::chrono::milliseconds(500);
constexpr auto kLastBackOff = std::chrono::milliseconds(8000);
// How often a running relay measures what the server takes.
constexpr auto kSampleEvery = std::chrono::milliseconds(500);
// While the capture is not running yet, how often to look again.
constexpr auto kCaptureWait = std::chrono::milliseconds(200);

bool Has(const std::string& text, const char* what) {
    return text.find(what) != std::string::npos;
}

// libshout writes to its socket without MSG_NOSIGNAL: an Icecast server
// that goes away mid-stream would end the program with SIGPIPE. Writes to a
// closed socket fail with EPIPE instead (a handler someone set is kept).
void IgnoreBrokenPipes() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            sigemptyset(&ignore.sa_mask);
            ::sigaction(SIGPIPE, &ignore, nullptr);
        }
    });
}

// The text naming the first element of the relay that is not installed.
std::string MissingFactory(TRelayProtocol protocol, bool audio) {
    std::vector<const char*> needed{"appsrc",       "videorate",  "videoscale",
                                    "videoconvert", "capsfilter", "queue"};
    if (protocol == TRelayProtocol::Rtmp)
        needed.insert(needed.end(), {"x264enc", "h264parse", "flvmux", "rtmp2sink"});
    else
        needed.insert(needed.end(), {"vp8enc", "webmmux", "shout2send"});
    if (audio) needed.insert(needed.end(), {"audioconvert", "audioresample"});
    if (audio && protocol == TRelayProtocol::Icecast) needed.push_back("vorbisenc");
    for (const char* factory : needed)
        if (TGstRef<GstElementFactory> found(gst_element_factory_find(factory)); !found)
            return MissingElementText(factory);
    if (audio && protocol == TRelayProtocol::Rtmp) {
        TGstRef<GstElementFactory> aac(gst_element_factory_find("avenc_aac"));
        TGstRef<GstElementFactory> vo(gst_element_factory_find("voaacenc"));
        if (!aac && !vo) return MissingElementText("avenc_aac");
    }
    return {};
}

} // namespace

struct TGstRelay::TRun : TSidePipelineRun {
    std::atomic<uint64_t>* Bytes = nullptr;
    uint64_t Pending =
        0; // the last buffer's size, counted once the sink took it (streaming thread)
    Clock::time_point BuiltAt;
    uint64_t SampledBytes = 0; // control thread
    Clock::time_point SampledAt;
};

TGstRelay::TGstRelay() {
    control_ = std::thread([this] { ControlLoop(); });
}

TGstRelay::~TGstRelay() {
    Shutdown();
}

void TGstRelay::Shutdown() {
    {
        std::lock_guard lock(lock_);
        quit_ = true;
        changed_.notify_all();
    }
    if (control_.joinable()) control_.join();
}

void TGstRelay::SetVideoTap(std::shared_ptr<TGstSideTap> tap) {
    std::lock_guard lock(lock_);
    videoTap_ = std::move(tap);
    restart_ = true;
    changed_.notify_all();
}

void TGstRelay::SetAudioTap(std::shared_ptr<TGstSideTap> tap) {
    std::lock_guard lock(lock_);
    audioTap_ = std::move(tap);
    restart_ = true;
    changed_.notify_all();
}

void TGstRelay::SetSettings(const TRelaySettings* settings) {
    std::lock_guard lock(lock_);
    settings_.reset();
    target_.reset();
    status_ = {};
    if (settings) {
        settings_ = *settings;
        std::string error;
        target_ = ParseRelayUrl(settings->Url, error);
        status_.State = target_ ? TRelayState::Connecting : TRelayState::Refused;
        status_.Reason = error;
    }
    retryAt_ = Clock::now();
    restart_ = true;
    changed_.notify_all();
}

TRelayStatus TGstRelay::Status() {
    std::lock_guard lock(lock_);
    TRelayStatus status = status_;
    if (status.State == TRelayState::Retrying) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(retryAt_ - Clock::now()).count();
        status.RetryInSeconds = int(std::max<int64_t>(0, (left + 999) / 1000));
    }
    return status;
}

bool TGstRelay::IsRefusal(const std::string& message, const std::string& debug,
                          std::string& reason) {
    // rtmp2sink: a server that turns the publisher away closes the connection
    // in answer to "connect" (application) or "publish" (stream key), or
    // answers with an error status. A stream already published (our own
    // earlier connection, not yet noticed gone) is worth another try.
    if (Has(message, "'publish' cmd failed") || Has(message, "'connect' cmd failed") ||
        (Has(message, "publish denied") && !Has(message, "already"))) {
        reason = Has(message, "'connect'")
                     ? "the server does not take this application (check the address)"
                     : "the server does not take this stream key";
        return true;
    }
    // shout2send: the source login was answered 401 (or 403).
    if (Has(debug, "Login failed")) {
        reason = "the server does not take this source password or mount";
        return true;
    }
    return false;
}

void TGstRelay::Failed(const std::string& message, const std::string& debug) {
    std::lock_guard lock(lock_);
    if (failed_) return; // the first error of a run says why
    failed_ = true;
    const std::string secret = target_ ? target_->Secret() : std::string();
    std::string reason;
    refusedNow_ = IsRefusal(message, debug, reason);
    failure_ = HideSecret(refusedNow_ ? reason : message, secret);
    changed_.notify_all();
}

void TGstRelay::ControlLoop() {
    std::unique_ptr<TRun> run;
    auto backOff = kFirstBackOff;
    std::unique_lock lock(lock_);
    while (!quit_) {
        if (run && (restart_ || failed_ || !settings_)) {
            lock.unlock();
            TearDown(std::move(run));
            lock.lock();
            if (restart_) {
                backOff = kFirstBackOff;
            } else if (failed_ && refusedNow_) {
                status_ = {TRelayState::Refused, 0, 0, failure_};
            } else if (failed_) {
                // Wait before building again, longer after each failure in a row.
                status_ = {TRelayState::Retrying, 0, 0, failure_};
                retryAt_ = Clock::now() + backOff;
                backOff = std::min(backOff * 2,
                                   std::chrono::duration_cast<decltype(backOff)>(kLastBackOff));
            }
            failed_ = false;
            continue;
        }
        restart_ = false;
        const auto now = Clock::now();
        if (!run && settings_ && target_ && videoTap_ && status_.State != TRelayState::Refused &&
            now >= retryAt_) {
            if (TGstRef<GstClock> clock = videoTap_->Clock(); !clock) {
                // The capture is not running (yet): nothing to publish.
                changed_.wait_for(lock, kCaptureWait);
                continue;
            }
            const TRelayTarget target = *target_;
            const TRelaySettings settings = *settings_;
            failed_ = false;
            status_ = {TRelayState::Connecting, 0, 0, {}};
            lock.unlock();
            std::string error;
            run = Build(target, settings, error);
            lock.lock();
            // An encoder that cannot be made will not be there on the next try
            // either; a capture that stopped meanwhile may run again.
            if (!run && !error.empty())
                status_ = {TRelayState::Refused, 0, 0, HideSecret(error, target.Secret())};
            else if (!run)
                changed_.wait_for(lock, kCaptureWait);
            continue;
        }
        if (run && now - run->SampledAt >= kSampleEvery) {
            const uint64_t bytes = bytes_.load();
            const double seconds = std::chrono::duration<double>(now - run->SampledAt).count();
            const int kbps = int(double(bytes - run->SampledBytes) * 8 / 1000 / seconds + 0.5);
            run->SampledBytes = bytes;
            run->SampledAt = now;
            // Live once the server has taken data for a while; a relay that
            // stops taking anything (a stuck link) no longer says it is.
            if (kbps > 0 && now - run->BuiltAt >= std::chrono::seconds(1)) {
                status_ = {TRelayState::Live, kbps, 0, {}};
                backOff = kFirstBackOff;
            } else if (status_.State == TRelayState::Live) {
                status_ = {TRelayState::Connecting, 0, 0, {}};
            }
        }
        if (run)
            changed_.wait_for(lock, kSampleEvery);
        else if (status_.State == TRelayState::Retrying)
            changed_.wait_until(lock, retryAt_);
        else
            changed_.wait(lock);
    }
    lock.unlock();
    if (run) TearDown(std::move(run));
}

std::unique_ptr<TGstRelay::TRun>
TGstRelay::Build(const TRelayTarget& target, const TRelaySettings& settings, std::string& error) {
    std::shared_ptr<TGstSideTap> videoTap, audioTap;
    {
        std::lock_guard lock(lock_);
        videoTap = videoTap_;
        audioTap = audioTap_;
    }
    TGstRef<GstClock> clock = videoTap->Clock();
    if (!clock) return nullptr; // the capture stopped: no error of the relay's
    auto run = std::make_unique<TRun>();
    run->Pipeline = GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new("relay")));
    run->Bytes = &bytes_;
    bytes_ = 0;
    GstElement* vsrc = MakeLiveSource("video");
    GstElement* asrc = audioTap ? MakeLiveSource("audio") : nullptr;
    GstElement* sink = nullptr;
    if (vsrc && (asrc || !audioTap))
        sink = target.Protocol == TRelayProtocol::Rtmp
                   ? AddRtmpOutput(*run, vsrc, asrc, target, settings)
                   : AddIcecastOutput(*run, vsrc, asrc, target, settings);
    if (!sink) {
        DropLooseElement(vsrc);
        DropLooseElement(asrc);
        error = MissingFactory(target.Protocol, audioTap != nullptr);
        if (error.empty()) error = "the relay's encoders could not be linked";
        TearDown(std::move(run));
        return nullptr;
    }
    TGstRef<GstPad> sinkPad(gst_element_get_static_pad(sink, "sink"));
    gst_pad_add_probe(sinkPad.get(),
                      GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                      &TGstRelay::CountBytes, run.get(), nullptr);
    run->Video = std::make_unique<TGstFeeder>(vsrc);
    if (TGstCapsRef caps = videoTap->CurrentCaps())
        gst_app_src_set_caps(GST_APP_SRC(vsrc), caps.get());
    if (asrc) {
        run->Audio = std::make_unique<TGstFeeder>(asrc);
        if (TGstCapsRef caps = audioTap->CurrentCaps())
            gst_app_src_set_caps(GST_APP_SRC(asrc), caps.get());
    }
    TGstRef<GstBus> bus(gst_element_get_bus(run->Pipeline));
    gst_bus_set_sync_handler(bus.get(), &TGstRelay::OnBusMessage, this, nullptr);
    FollowCaptureClock(run->Pipeline, *videoTap, clock.get());
    run->BuiltAt = run->SampledAt = Clock::now();
    if (gst_element_set_state(run->Pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        Failed("the relay pipeline did not start", {}); // retried like a lost server
    run->StartFeeding(*videoTap, asrc ? audioTap.get() : nullptr);
    return run;
}

GstElement* TGstRelay::AddRtmpOutput(TRun& run, GstElement* video, GstElement* audio,
                                     const TRelayTarget& target, const TRelaySettings& settings) {
    GstElement* pipeline = run.Pipeline;
    const TTapVideo capture = TapVideo(*videoTap_);
    int width = 0, height = 0;
    FitPictureSize(capture.Width, capture.Height, settings.Width, settings.Height, width, height);
    const int fps = capture.Fps > 0 ? capture.Fps : 30;
    GstElement* last = AddPictureChain(pipeline, video, width, height, fps);
    GstElement *venc, *profile, *parse, *vqueue, *mux, *sink;
    if (!last || !MakeGstElements({{&venc, "x264enc"},
                                   {&profile, "capsfilter"},
                                   {&parse, "h264parse"},
                                   {&vqueue, "queue"},
                                   {&mux, "flvmux"},
                                   {&sink, "rtmp2sink"}}))
        return nullptr;
    // The picture is I420 already (8-bit 4:2:0); Main profile and a keyframe
    // every 2 s, so that a joining viewer waits at most that long.
    g_object_set(venc, "tune", 0x4 /* zerolatency */, "bitrate", guint(settings.VideoKbps),
                 "key-int-max", guint(2 * fps), nullptr);
    gst_util_set_object_arg(G_OBJECT(venc), "speed-preset", "veryfast");
    TGstCapsRef h264(gst_caps_from_string("video/x-h264,profile=main"));
    g_object_set(profile, "caps", h264.get(), nullptr);
    // The taps' samples reach this pipeline after their capture time, the
    // video later than the sound (the encoder): the multiplexer waits for it
    // rather than time out and write the sound first, which would put the
    // video behind it. The sink sends as data comes (the capture paces it),
    // so that waiting adds no delay of its own.
    g_object_set(mux, "streamable", TRUE, "latency", guint64(300 * GST_MSECOND), nullptr);
    g_object_set(sink, "location", target.Location().c_str(), "async", FALSE, "sync", FALSE,
                 nullptr);
    gst_bin_add_many(GST_BIN(pipeline), mux, sink, nullptr);
    if (!LinkChain(pipeline, {venc, profile, parse, vqueue}) || !gst_element_link(last, venc) ||
        !gst_element_link_pads(vqueue, "src", mux, "video") || !gst_element_link(mux, sink))
        return nullptr;
    if (!audio) return sink;
    gst_bin_add(GST_BIN(pipeline), audio);
    GstElement *convert, *resample, *rate, *aqueue;
    if (!MakeGstElements({{&convert, "audioconvert"},
                          {&resample, "audioresample"},
                          {&rate, "capsfilter"},
                          {&aqueue, "queue"}}))
        return nullptr;
    GstElement* aenc = MakeGstElement("avenc_aac");
    if (!aenc) aenc = MakeGstElement("voaacenc");
    if (!aenc) {
        for (GstElement* e : {convert, resample, rate, aqueue})
            DropLooseElement(e);
        return nullptr;
    }
    g_object_set(aenc, "bitrate", settings.AudioKbps * 1000, nullptr);
    TGstCapsRef raw(gst_caps_from_string("audio/x-raw,rate=44100"));
    g_object_set(rate, "caps", raw.get(), nullptr);
    if (!LinkChain(pipeline, {convert, resample, rate, aenc, aqueue}) ||
        !gst_element_link(audio, convert) || !gst_element_link_pads(aqueue, "src", mux, "audio"))
        return nullptr;
    return sink;
}

GstElement* TGstRelay::AddIcecastOutput(TRun& run, GstElement* video, GstElement* audio,
                                        const TRelayTarget& target,
                                        const TRelaySettings& settings) {
    const TTapVideo capture = TapVideo(*videoTap_);
    TSideEncoding encoding;
    FitPictureSize(capture.Width, capture.Height, settings.Width, settings.Height, encoding.Width,
                   encoding.Height);
    encoding.Fps = capture.Fps > 0 ? capture.Fps : 30;
    encoding.VideoBitRate = settings.VideoKbps * 1000;
    GstElement* mux = AddWebmEncoding(run.Pipeline, video, audio, encoding);
    GstElement* sink = mux ? MakeGstElement("shout2send") : nullptr;
    if (!sink) return nullptr;
    IgnoreBrokenPipes();
    g_object_set(sink, "ip", target.Host.c_str(), "port", target.Port, "username",
                 target.User.c_str(), "password", target.Password.c_str(), "mount",
                 target.Mount.c_str(), "async", FALSE, nullptr);
    gst_bin_add(GST_BIN(run.Pipeline), sink);
    return gst_element_link(mux, sink) ? sink : nullptr;
}

void TGstRelay::TearDown(std::unique_ptr<TRun> run) {
    if (!run) return;
    std::shared_ptr<TGstSideTap> videoTap, audioTap;
    {
        std::lock_guard lock(lock_);
        videoTap = videoTap_;
        audioTap = audioTap_;
    }
    run->Stop(videoTap.get(), audioTap.get());
}

GstBusSyncReply TGstRelay::OnBusMessage(GstBus*, GstMessage* message, gpointer self) {
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        GError* error = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_error(message, &error, &debug);
        const std::string text = error && error->message ? error->message : "relay error";
        static_cast<TGstRelay*>(self)->Failed(text, debug ? debug : "");
        if (error) g_error_free(error);
        g_free(debug);
    }
    gst_message_unref(message);
    return GST_BUS_DROP;
}

GstPadProbeReturn TGstRelay::CountBytes(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* run = static_cast<TRun*>(data);
    uint64_t size = 0;
    if (GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        buffer && (info->type & GST_PAD_PROBE_TYPE_BUFFER))
        size = gst_buffer_get_size(buffer);
    else if (GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info))
        size = gst_buffer_list_calculate_size(list);
    // A buffer reaches here before the sink writes it; the one before it was written.
    *run->Bytes += run->Pending;
    run->Pending = size;
    return GST_PAD_PROBE_OK;
}
