#include "GstReferenceRelay.h"

#include "BenchSupport.h"
#include "platform/RelayTarget.h"

#include <gst/app/gstappsink.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

std::string RelayReferenceBranches(const std::string& url, int width, int height, int fps,
                                   int videoKbps, int audioKbps, bool audio) {
    std::string error;
    const auto target = ParseRelayUrl(url, error);
    if (!target) return {};
    char picture[256];
    std::snprintf(
        picture, sizeof picture,
        " vt. ! queue leaky=2 max-size-buffers=3 ! videorate ! videoscale ! videoconvert "
        "! video/x-raw,format=I420,width=%d,height=%d,framerate=%d/1,pixel-aspect-ratio=1/1",
        width, height, fps);
    const std::string sound =
        " at. ! queue leaky=2 max-size-buffers=3 ! audioconvert ! audioresample";
    std::string d;
    if (target->Protocol == TRelayProtocol::Rtmp) {
        d = " flvmux name=fmux streamable=true ! rtmp2sink async=false location=\"" +
            target->Location() + "\"" + picture +
            " ! x264enc tune=zerolatency speed-preset=veryfast bitrate=" +
            std::to_string(videoKbps) + " key-int-max=" + std::to_string(2 * fps) +
            " ! video/x-h264,profile=main ! h264parse ! queue ! fmux.video";
        if (audio)
            d += sound + " ! audio/x-raw,rate=44100 ! avenc_aac bitrate=" +
                 std::to_string(audioKbps * 1000) + " ! queue ! fmux.audio";
    } else {
        d = " webmmux name=fmux streamable=true ! shout2send async=false ip=" + target->Host +
            " port=" + std::to_string(target->Port) + " username=" + target->User + " password=\"" +
            target->Password + "\" mount=\"" + target->Mount + "\"" + picture +
            " ! vp8enc deadline=1 cpu-used=8 threads=1 lag-in-frames=0 end-usage=cbr "
            "target-bitrate=" +
            std::to_string(videoKbps * 1000) + " keyframe-max-dist=" + std::to_string(fps) +
            " ! queue ! fmux.";
        if (audio) d += sound + " ! vorbisenc quality=0.1 ! queue ! fmux.";
    }
    return d;
}

namespace {

void SetCallback(GstElement* pipeline, const char* name,
                 GstFlowReturn (*callback)(GstElement*, gpointer), gpointer self) {
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), name);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = reinterpret_cast<GstFlowReturn (*)(GstAppSink*, gpointer)>(callback);
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, self, nullptr);
    gst_object_unref(sink);
}

} // namespace

TRelayViewer::TRelayViewer(const std::string& url) {
    std::string error;
    const auto target = ParseRelayUrl(url, error);
    if (!target) return;
    const bool rtmp = target->Protocol == TRelayProtocol::Rtmp;
    const std::string description =
        (rtmp ? "rtmp2src location=\"" + target->Location() + "\" ! flvdemux name=d"
              : "souphttpsrc is-live=true location=http://" + target->Host + ":" +
                    std::to_string(target->Port) + target->Mount + " ! matroskademux name=d") +
        " queue name=vq ! appsink name=video sync=false"
        " queue name=aq ! decodebin ! audioconvert ! audio/x-raw,format=S16LE,channels=1"
        " ! appsink name=audio sync=false";
    GError* gerror = nullptr;
    pipeline_ = gst_parse_launch(description.c_str(), &gerror);
    if (!pipeline_) {
        std::fprintf(stderr, "relay viewer: %s\n", gerror ? gerror->message : "?");
        return;
    }
    // A pad made again (a new header) replaces the old one.
    GstElement* demux = gst_bin_get_by_name(GST_BIN(pipeline_), "d");
    g_signal_connect(demux, "pad-added", G_CALLBACK(+[](GstElement*, GstPad* pad, gpointer bin) {
                         const bool video = std::string(GST_PAD_NAME(pad)).rfind("video", 0) == 0;
                         GstElement* queue = gst_bin_get_by_name(GST_BIN(bin), video ? "vq" : "aq");
                         GstPad* sink = gst_element_get_static_pad(queue, "sink");
                         if (GstPad* old = gst_pad_get_peer(sink)) {
                             gst_pad_unlink(old, sink);
                             gst_object_unref(old);
                         }
                         gst_pad_link(pad, sink);
                         gst_object_unref(sink);
                         gst_object_unref(queue);
                     }),
                     pipeline_);
    gst_object_unref(demux);
    SetCallback(pipeline_, "video", &TRelayViewer::OnVideo, this);
    SetCallback(pipeline_, "audio", &TRelayViewer::OnAudio, this);
    gst_element_set_state(pipeline_, GST_STATE_PLAYING);
}

TRelayViewer::~TRelayViewer() {
    if (!pipeline_) return;
    GstBus* bus = gst_element_get_bus(pipeline_);
    while (GstMessage* m = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
        GError* error = nullptr;
        gst_message_parse_error(m, &error, nullptr);
        std::fprintf(stderr, "relay viewer: %s\n", error ? error->message : "error");
        if (error) g_error_free(error);
        gst_message_unref(m);
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    gst_object_unref(pipeline_);
}

void TRelayViewer::SoundStarted() {
    std::lock_guard lock(lock_);
    waiting_ = true;
    startedAt_ = Clock::now();
}

GstFlowReturn TRelayViewer::OnVideo(GstElement* sink, gpointer self) {
    auto* viewer = static_cast<TRelayViewer*>(self);
    if (GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink))) {
        std::lock_guard lock(viewer->lock_);
        ++viewer->frames_;
        gst_sample_unref(sample);
    }
    return GST_FLOW_OK;
}

GstFlowReturn TRelayViewer::OnAudio(GstElement* sink, gpointer self) {
    auto* viewer = static_cast<TRelayViewer*>(self);
    GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink));
    if (!sample) return GST_FLOW_OK;
    const auto arrived = Clock::now();
    int peak = 0;
    GstMapInfo map;
    if (GstBuffer* b = gst_sample_get_buffer(sample); b && gst_buffer_map(b, &map, GST_MAP_READ)) {
        const auto* s = reinterpret_cast<const int16_t*>(map.data);
        for (size_t i = 0; i < map.size / 2; ++i)
            peak = std::max(peak, std::abs(int(s[i])));
        gst_buffer_unmap(b, &map);
    }
    gst_sample_unref(sample);
    std::lock_guard lock(viewer->lock_);
    // The tone is loud; the codec's rest after silence is not.
    if (viewer->waiting_ && peak > 4000) {
        viewer->waiting_ = false;
        viewer->latencies_.push_back(
            std::chrono::duration<double, std::milli>(arrived - viewer->startedAt_).count());
    }
    return GST_FLOW_OK;
}

double TRelayViewer::MedianLatencyMs() {
    std::lock_guard lock(lock_);
    return latencies_.empty() ? -1 : Median(latencies_);
}

size_t TRelayViewer::Timed() {
    std::lock_guard lock(lock_);
    return latencies_.size();
}

size_t TRelayViewer::Frames() {
    std::lock_guard lock(lock_);
    return frames_;
}
