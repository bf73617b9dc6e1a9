#include "platform/gst/GstSideTap.h"

#include <gst/app/gstappsink.h>

std::shared_ptr<TGstSideTap> TGstSideTap::Open(GstElement* bin, GstElement* tee) {
    GstElement* queue = MakeGstElement("queue");
    GstElement* sink = MakeGstElement("appsink");
    if (!queue || !sink) {
        if (queue) gst_object_unref(gst_object_ref_sink(queue));
        if (sink) gst_object_unref(gst_object_ref_sink(sink));
        return nullptr;
    }
    std::shared_ptr<TGstSideTap> tap(new TGstSideTap);
    // A few frames of slack; what the side pipeline cannot take is dropped here.
    g_object_set(queue, "leaky", 2, "max-size-buffers", 3u, "max-size-bytes", 0u, "max-size-time",
                 guint64(0), nullptr);
    g_object_set(sink, "sync", FALSE, "async", FALSE, "drop", TRUE, "max-buffers", 2u,
                 "enable-last-sample", FALSE, "emit-signals", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink* s, gpointer self) {
        return NewSample(GST_ELEMENT(s), self);
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, tap.get(), nullptr);
    gst_bin_add_many(GST_BIN(bin), queue, sink, nullptr);
    gst_element_link(queue, sink);
    tap->bin_ = GST_ELEMENT(gst_object_ref(bin));
    tap->tee_ = GST_ELEMENT(gst_object_ref(tee));
    tap->queue_ = queue;
    tap->sink_ = GST_ELEMENT(gst_object_ref(sink));
    tap->teePad_ = gst_element_request_pad_simple(tee, "src_%u");
    TGstRef<GstPad> queueSink(gst_element_get_static_pad(queue, "sink"));
    if (!tap->teePad_ || gst_pad_link(tap->teePad_, queueSink.get()) != GST_PAD_LINK_OK) {
        tap->Close();
        return nullptr;
    }
    gst_pad_add_probe(tap->teePad_,
                      GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                      &TGstSideTap::Gate, tap.get(), nullptr);
    gst_element_sync_state_with_parent(sink);
    gst_element_sync_state_with_parent(queue);
    return tap;
}

TGstSideTap::~TGstSideTap() {
    Close();
}

void TGstSideTap::Close() {
    {
        std::lock_guard lock(lock_);
        consumers_.clear();
        active_ = false;
    }
    if (!bin_) return;
    if (teePad_) {
        if (GstPad* peer = gst_pad_get_peer(teePad_)) {
            gst_pad_unlink(teePad_, peer);
            gst_object_unref(peer);
        }
        gst_element_release_request_pad(tee_, teePad_);
        gst_object_unref(teePad_);
        teePad_ = nullptr;
    }
    for (GstElement* e : {queue_, sink_}) {
        gst_element_set_state(e, GST_STATE_NULL);
        gst_bin_remove(GST_BIN(bin_), e);
    }
    gst_object_unref(sink_);
    gst_object_unref(tee_);
    gst_object_unref(bin_);
    sink_ = queue_ = tee_ = bin_ = nullptr;
}

TGstSideTap::ConsumerId TGstSideTap::AddConsumer(Consumer consumer) {
    std::lock_guard lock(lock_);
    const ConsumerId id = nextId_++;
    consumers_.emplace_back(id, std::move(consumer));
    active_ = true;
    return id;
}

void TGstSideTap::RemoveConsumer(ConsumerId id) {
    std::lock_guard lock(lock_);
    std::erase_if(consumers_, [id](const auto& c) { return c.first == id; });
    active_ = !consumers_.empty();
}

TGstCapsRef TGstSideTap::CurrentCaps() {
    if (!sink_) return nullptr;
    TGstRef<GstPad> pad(gst_element_get_static_pad(sink_, "sink"));
    return TGstCapsRef(gst_pad_get_current_caps(pad.get()));
}

TGstRef<GstClock> TGstSideTap::Clock() {
    return TGstRef<GstClock>(sink_ ? gst_element_get_clock(sink_) : nullptr);
}

GstClockTime TGstSideTap::BaseTime() {
    return sink_ ? gst_element_get_base_time(sink_) : 0;
}

GstPadProbeReturn TGstSideTap::Gate(GstPad*, GstPadProbeInfo*, gpointer self) {
    return static_cast<TGstSideTap*>(self)->active_ ? GST_PAD_PROBE_OK : GST_PAD_PROBE_DROP;
}

GstFlowReturn TGstSideTap::NewSample(GstElement* sink, gpointer self) {
    auto* tap = static_cast<TGstSideTap*>(self);
    GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink));
    if (!sample) return GST_FLOW_OK;
    {
        std::lock_guard lock(tap->lock_);
        for (auto& consumer : tap->consumers_)
            consumer.second(sample);
    }
    gst_sample_unref(sample);
    // Whatever the side pipeline does, the capture goes on.
    return GST_FLOW_OK;
}
