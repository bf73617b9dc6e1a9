#include "platform/gst/GstWebmStream.h"

#include "platform/gst/GstSidePipeline.h"

#include <gst/app/gstappsink.h>

#include <algorithm>
#include <chrono>

namespace {

constexpr auto kFirstBackOff = std::chrono::milliseconds(500);
constexpr auto kLastBackOff = std::chrono::milliseconds(8000);

} // namespace

struct TGstWebmStream::TRun : TSidePipelineRun {};

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
    FitPictureSize(width, height, 320, 240, outWidth, outHeight);
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

    const TTapVideo capture = TapVideo(*videoTap);
    int width = 320, height = 240;
    FitSize(capture.Width, capture.Height, width, height);
    const int fps = capture.Fps > 0 ? std::min(capture.Fps, kMaxFrameRate) : kMaxFrameRate;

    GstElement* vsrc = MakeLiveSource("video");
    GstElement* asrc = audioTap ? MakeLiveSource("audio") : nullptr;
    if (!vsrc || (audioTap && !asrc)) {
        DropLooseElement(vsrc);
        DropLooseElement(asrc);
        return fail();
    }
    TSideEncoding encoding;
    encoding.Width = width;
    encoding.Height = height;
    encoding.Fps = fps;
    encoding.VideoBitRate = kVideoBitRate;
    GstElement* mux = AddWebmEncoding(run->Pipeline, vsrc, asrc, encoding);
    GstElement* out = MakeGstElement("appsink");
    if (!mux || !out || !gst_bin_add(GST_BIN(run->Pipeline), out) || !gst_element_link(mux, out)) {
        DropLooseElement(out);
        return fail();
    }
    g_object_set(out, "sync", FALSE, "async", FALSE, "enable-last-sample", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink* s, gpointer self) {
        return OnMuxSample(GST_ELEMENT(s), self);
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(out), &callbacks, this, nullptr);
    run->Video = std::make_unique<TGstFeeder>(vsrc);
    if (TGstCapsRef caps = videoTap->CurrentCaps())
        gst_app_src_set_caps(GST_APP_SRC(vsrc), caps.get());
    if (asrc) {
        run->Audio = std::make_unique<TGstFeeder>(asrc);
        if (TGstCapsRef caps = audioTap->CurrentCaps())
            gst_app_src_set_caps(GST_APP_SRC(asrc), caps.get());
    }

    TGstRef<GstBus> bus(gst_element_get_bus(run->Pipeline));
    gst_bus_set_sync_handler(bus.get(), &TGstWebmStream::OnBusMessage, this, nullptr);
    FollowCaptureClock(run->Pipeline, *videoTap, clock.get());
    {
        std::lock_guard lock(sinkLock_);
        if (sink_) sink_->OnWebmReset();
    }
    if (gst_element_set_state(run->Pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return fail();
    run->StartFeeding(*videoTap, audioTap.get());
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
    run->Stop(videoTap.get(), audioTap.get());
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
