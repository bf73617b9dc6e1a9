#include "platform/gst/GstWebmStream.h"

#include "platform/ClassRegistry.h"

#include <gst/app/gstappsink.h>

#include <algorithm>

TGstWebmStream::TGstWebmStream() : TGstSideOutput("browser stream") {}

TGstWebmStream::~TGstWebmStream() {
    runner_.Stop();
}

HRESULT TGstWebmStream::SetWebmSink(IWebmStreamSink* sink) {
    std::lock_guard lock(sinkLock_);
    sink_ = sink;
    return S_OK;
}

void TGstWebmStream::FitSize(int width, int height, int& outWidth, int& outHeight) {
    FitPictureSize(width, height, 320, 240, outWidth, outHeight);
}

std::string TGstWebmStream::StateText(const TSideOutputStatus& status) {
    return SideOutputStatusText("browser stream", status);
}

GstElement* TGstWebmStream::AddChain(GstElement* pipeline, GstElement* video, GstElement* audio,
                                     const TGstSideTaps& taps, std::string&) {
    const TTapVideo capture = TapVideo(*taps.Video);
    TSideEncoding encoding;
    FitSize(capture.Width, capture.Height, encoding.Width, encoding.Height);
    // The capture's rate when it is slower than the browser stream's (7.5 stays 15/2).
    const bool slower = capture.FpsNum > 0 && capture.FpsDen > 0 &&
                        capture.FpsNum < int64_t(kMaxFrameRate) * capture.FpsDen;
    encoding.Fps = slower ? capture.FpsNum : kMaxFrameRate;
    encoding.FpsDen = slower ? capture.FpsDen : 1;
    encoding.VideoBitRate = kVideoBitRate;
    GstElement* mux = AddWebmEncoding(pipeline, video, audio, encoding);
    GstElement* out = mux ? MakeGstElement("appsink") : nullptr;
    if (!out) return nullptr;
    gst_bin_add(GST_BIN(pipeline), out);
    if (!gst_element_link(mux, out)) return nullptr;
    g_object_set(out, "sync", FALSE, "async", FALSE, "enable-last-sample", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink* s, gpointer self) {
        return OnMuxSample(GST_ELEMENT(s), self);
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(out), &callbacks, this, nullptr);
    return out;
}

void TGstWebmStream::ResetSink() {
    std::lock_guard lock(sinkLock_);
    if (sink_) sink_->OnWebmReset();
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

void RegisterWebmStream() {
    RegisterClassFactory(CLSID_WebmStreamOutput, MakeClassFactory<TGstWebmStream>());
}
