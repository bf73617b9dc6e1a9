#include "platform/gst/GstWebmStream.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <algorithm>
#include <chrono>

namespace {

constexpr auto kFirstBackOff = std::chrono::milliseconds(500);
constexpr auto kLastBackOff = std::chrono::milliseconds(8000);

// Pushes the tap's samples into an app source in the capture's running time,
// so that both pipelines, on one clock, agree on every timestamp.
struct TFeeder {
    GstAppSrc* Source; // one reference
    GstCaps* LastCaps = nullptr;
    explicit TFeeder(GstElement* source) : Source(GST_APP_SRC(gst_object_ref(source))) {}
    ~TFeeder() {
        if (LastCaps) gst_caps_unref(LastCaps);
        gst_object_unref(Source);
    }
    void operator()(GstSample* sample) {
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        GstCaps* caps = gst_sample_get_caps(sample);
        const GstSegment* segment = gst_sample_get_segment(sample);
        if (!buffer || !caps) return;
        if (!LastCaps || !gst_caps_is_equal(LastCaps, caps)) {
            gst_app_src_set_caps(Source, caps);
            gst_caps_replace(&LastCaps, caps);
        }
        GstBuffer* out = gst_buffer_copy(buffer); // shares the memory
        if (segment && GST_BUFFER_PTS_IS_VALID(buffer))
            GST_BUFFER_PTS(out) =
                gst_segment_to_running_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
        GST_BUFFER_DTS(out) = GST_CLOCK_TIME_NONE;
        gst_app_src_push_buffer(Source, out); // never blocks: the source leaks the oldest
    }
};

GstElement* Chain(GstElement* pipeline, std::initializer_list<GstElement*> elements) {
    GstElement* prev = nullptr;
    for (GstElement* e : elements) {
        gst_bin_add(GST_BIN(pipeline), e);
        if (prev && !gst_element_link(prev, e)) return nullptr;
        prev = e;
    }
    return prev;
}

GstElement* LiveSource(const char* name) {
    GstElement* src = MakeGstElement("appsrc", name);
    if (src)
        g_object_set(src, "is-live", TRUE, "format", GST_FORMAT_TIME, "do-timestamp", FALSE,
                     "max-bytes", guint64(0), "max-time", guint64(GST_SECOND / 2), "leaky-type",
                     2 /* downstream: drop the oldest */, nullptr);
    return src;
}

} // namespace

struct TGstWebmStream::TRun {
    GstElement* Pipeline = nullptr; // one reference
    std::unique_ptr<TFeeder> Video, Audio;
};

TGstWebmStream::TGstWebmStream() {
    control_ = std::thread([this] { ControlLoop(); });
}

TGstWebmStream::~TGstWebmStream() {
    Shutdown();
}

void TGstWebmStream::Shutdown() {
    {
        std::lock_guard lock(lock_);
        quit_ = true;
        changed_.notify_all();
    }
    if (control_.joinable()) control_.join();
    SetSink(nullptr);
}

void TGstWebmStream::SetVideoTap(std::shared_ptr<TGstSideTap> tap) {
    std::lock_guard lock(lock_);
    videoTap_ = std::move(tap);
    // A stream running without the new tap would stall: start it over.
    failed_ = true;
    changed_.notify_all();
}

void TGstWebmStream::SetAudioTap(std::shared_ptr<TGstSideTap> tap) {
    std::lock_guard lock(lock_);
    audioTap_ = std::move(tap);
    failed_ = true;
    changed_.notify_all();
}

void TGstWebmStream::SetSink(IWebmStreamSink* sink) {
    std::lock_guard lock(sinkLock_);
    sink_ = sink;
}

HRESULT TGstWebmStream::SetWanted(BOOL wanted) {
    std::lock_guard lock(lock_);
    wanted_ = wanted != 0;
    changed_.notify_all();
    return S_OK;
}

void TGstWebmStream::FitSize(int width, int height, int& outWidth, int& outHeight) {
    if (width <= 0 || height <= 0) {
        outWidth = 320;
        outHeight = 240;
        return;
    }
    const double scale = std::min({1.0, 320.0 / width, 240.0 / height});
    // Even sizes: the encoder's 4:2:0 planes need them.
    outWidth = std::max(2, int(width * scale) & ~1);
    outHeight = std::max(2, int(height * scale) & ~1);
}

void TGstWebmStream::ControlLoop() {
    std::unique_ptr<TRun> run;
    auto backOff = kFirstBackOff;
    auto builtAt = std::chrono::steady_clock::now();
    std::unique_lock lock(lock_);
    for (;;) {
        if (quit_) break;
        if (run && (!wanted_ || failed_)) {
            const bool failed = failed_ && wanted_;
            // A run that held for a while starts the back-off from the beginning.
            if (std::chrono::steady_clock::now() - builtAt > kLastBackOff) backOff = kFirstBackOff;
            lock.unlock();
            TearDown(std::move(run));
            lock.lock();
            if (failed) {
                // Wait before building again, longer after each failure in a row.
                changed_.wait_for(lock, backOff, [&] { return quit_ || !wanted_; });
                backOff = std::min(backOff * 2,
                                   std::chrono::duration_cast<decltype(backOff)>(kLastBackOff));
            }
            failed_ = false;
            continue;
        }
        if (!run && wanted_ && videoTap_) {
            failed_ = false;
            lock.unlock();
            run = Build();
            builtAt = std::chrono::steady_clock::now();
            lock.lock();
            if (!run) {
                failed_ = true;
                changed_.wait_for(lock, backOff, [&] { return quit_ || !wanted_; });
                backOff = std::min(backOff * 2,
                                   std::chrono::duration_cast<decltype(backOff)>(kLastBackOff));
            }
            continue;
        }
        if (!wanted_) backOff = kFirstBackOff;
        changed_.wait(lock);
    }
    lock.unlock();
    if (run) TearDown(std::move(run));
}

std::unique_ptr<TGstWebmStream::TRun> TGstWebmStream::Build() {
    std::shared_ptr<TGstSideTap> videoTap, audioTap;
    {
        std::lock_guard lock(lock_);
        videoTap = videoTap_;
        audioTap = audioTap_;
    }
    TGstRef<GstClock> clock = videoTap->Clock();
    if (!clock) return nullptr; // the capture is not running (yet)

    auto run = std::make_unique<TRun>();
    run->Pipeline = GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new("browser-stream")));
    auto fail = [&]() -> std::unique_ptr<TRun> {
        TearDown(std::move(run));
        return nullptr;
    };

    int width = 320, height = 240, fps = kMaxFrameRate;
    if (TGstCapsRef caps = videoTap->CurrentCaps(); caps && gst_caps_get_size(caps.get()) > 0) {
        const GstStructure* s = gst_caps_get_structure(caps.get(), 0);
        int w = 0, h = 0, num = 0, den = 1;
        gst_structure_get_int(s, "width", &w);
        gst_structure_get_int(s, "height", &h);
        FitSize(w, h, width, height);
        if (gst_structure_get_fraction(s, "framerate", &num, &den) && num > 0 && den > 0)
            fps = std::clamp(num / den, 1, kMaxFrameRate);
    }

    GstElement* mux = MakeGstElement("webmmux");
    GstElement* out = MakeGstElement("appsink");
    GstElement* vsrc = LiveSource("video");
    GstElement* rate = MakeGstElement("videorate");
    GstElement* scale = MakeGstElement("videoscale");
    GstElement* convert = MakeGstElement("videoconvert");
    GstElement* vcaps = MakeGstElement("capsfilter");
    GstElement* venc = MakeGstElement("vp8enc");
    GstElement* vqueue = MakeGstElement("queue");
    for (GstElement* e : {mux, out, vsrc, rate, scale, convert, vcaps, venc, vqueue})
        if (!e) {
            for (GstElement* made : {mux, out, vsrc, rate, scale, convert, vcaps, venc, vqueue})
                if (made) gst_object_unref(gst_object_ref_sink(made));
            return fail();
        }
    g_object_set(mux, "streamable", TRUE, nullptr);
    g_object_set(out, "sync", FALSE, "async", FALSE, "enable-last-sample", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink* s, gpointer self) {
        return OnMuxSample(GST_ELEMENT(s), self);
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(out), &callbacks, this, nullptr);
    TGstCapsRef frame(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", "width",
                                          G_TYPE_INT, width, "height", G_TYPE_INT, height,
                                          "framerate", GST_TYPE_FRACTION, fps, 1,
                                          "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr));
    g_object_set(vcaps, "caps", frame.get(), nullptr);
    // Real-time settings: cheap, no frames held back, a keyframe every second
    // so that a late joiner waits at most that long.
    g_object_set(venc, "deadline", gint64(1), "cpu-used", 8, "threads", 1, "lag-in-frames", 0,
                 "end-usage", 1 /* cbr */, "target-bitrate", kVideoBitRate, "keyframe-max-dist",
                 fps, nullptr);
    if (!Chain(run->Pipeline, {vsrc, rate, scale, convert, vcaps, venc, vqueue}) ||
        !Chain(run->Pipeline, {mux, out}) || !gst_element_link_pads(vqueue, "src", mux, "video_%u"))
        return fail();
    run->Video = std::make_unique<TFeeder>(vsrc);
    if (TGstCapsRef caps = videoTap->CurrentCaps())
        gst_app_src_set_caps(GST_APP_SRC(vsrc), caps.get());

    if (audioTap) {
        GstElement* asrc = LiveSource("audio");
        GstElement* aconvert = MakeGstElement("audioconvert");
        GstElement* resample = MakeGstElement("audioresample");
        GstElement* aenc = MakeGstElement("vorbisenc");
        GstElement* aqueue = MakeGstElement("queue");
        for (GstElement* e : {asrc, aconvert, resample, aenc, aqueue})
            if (!e) {
                for (GstElement* made : {asrc, aconvert, resample, aenc, aqueue})
                    if (made) gst_object_unref(gst_object_ref_sink(made));
                return fail();
            }
        g_object_set(aenc, "quality", 0.1f, nullptr);
        if (!Chain(run->Pipeline, {asrc, aconvert, resample, aenc, aqueue}) ||
            !gst_element_link_pads(aqueue, "src", mux, "audio_%u"))
            return fail();
        run->Audio = std::make_unique<TFeeder>(asrc);
        if (TGstCapsRef caps = audioTap->CurrentCaps())
            gst_app_src_set_caps(GST_APP_SRC(asrc), caps.get());
    }

    TGstRef<GstBus> bus(gst_element_get_bus(run->Pipeline));
    gst_bus_set_sync_handler(bus.get(), &TGstWebmStream::OnBusMessage, this, nullptr);
    // One clock and one base time with the capture: the taps' running times
    // are this pipeline's running times.
    gst_pipeline_use_clock(GST_PIPELINE(run->Pipeline), clock.get());
    gst_element_set_start_time(run->Pipeline, GST_CLOCK_TIME_NONE);
    gst_element_set_base_time(run->Pipeline, videoTap->BaseTime());
    {
        std::lock_guard lock(sinkLock_);
        if (sink_) sink_->OnWebmReset();
    }
    if (gst_element_set_state(run->Pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return fail();
    TFeeder* video = run->Video.get();
    videoTap->SetConsumer([video](GstSample* s) { (*video)(s); });
    videoTap->SetActive(true);
    if (audioTap) {
        TFeeder* audio = run->Audio.get();
        audioTap->SetConsumer([audio](GstSample* s) { (*audio)(s); });
        audioTap->SetActive(true);
    }
    return run;
}

void TGstWebmStream::TearDown(std::unique_ptr<TRun> run) {
    if (!run) return;
    std::shared_ptr<TGstSideTap> videoTap, audioTap;
    {
        std::lock_guard lock(lock_);
        videoTap = videoTap_;
        audioTap = audioTap_;
    }
    // The taps stop feeding first: no sample reaches a source being torn down.
    for (auto& tap : {videoTap, audioTap})
        if (tap) {
            tap->SetActive(false);
            tap->SetConsumer(nullptr);
        }
    if (run->Pipeline) {
        gst_element_set_state(run->Pipeline, GST_STATE_NULL);
        TGstRef<GstBus> bus(gst_element_get_bus(run->Pipeline));
        gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
        gst_object_unref(run->Pipeline);
    }
    run->Video.reset();
    run->Audio.reset();
    std::lock_guard lock(sinkLock_);
    if (sink_) sink_->OnWebmReset();
}

GstBusSyncReply TGstWebmStream::OnBusMessage(GstBus*, GstMessage* message, gpointer self) {
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        auto* stream = static_cast<TGstWebmStream*>(self);
        std::lock_guard lock(stream->lock_);
        stream->failed_ = true;
        stream->changed_.notify_all();
    }
    gst_message_unref(message);
    return GST_BUS_DROP;
}

GstFlowReturn TGstWebmStream::OnMuxSample(GstElement* sink, gpointer self) {
    auto* stream = static_cast<TGstWebmStream*>(self);
    GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink));
    if (!sample) return GST_FLOW_OK;
    if (GstBuffer* buffer = gst_sample_get_buffer(sample)) {
        GstMapInfo map;
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            std::lock_guard lock(stream->sinkLock_);
            if (stream->sink_) stream->sink_->OnWebmData({map.data, map.size});
            gst_buffer_unmap(buffer, &map);
        }
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}
