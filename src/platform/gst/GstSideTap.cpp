#include "platform/gst/GstSideTap.h"

#include <gst/app/gstappsink.h>

namespace {

// Answered by this platform's taps only: side outputs read them back by it.
constexpr GUID kGstSideTapIid{
    0x3F1D7C27, 0x8A4B, 0x4E61, {0x9B, 0x0C, 0x52, 0x7E, 0x1A, 0x94, 0xD3, 0x17}};

} // namespace

ComPtr<TGstSideTap> TGstSideTap::From(IUnknown* tap) {
    ComPtr<TGstSideTap> out;
    if (tap) tap->QueryInterface(kGstSideTapIid, out.PutVoid());
    return out;
}

HRESULT TGstSideTap::QueryOtherInterface(REFIID iid, void** out) {
    if (iid != kGstSideTapIid) return E_NOINTERFACE;
    AddRef();
    *out = this;
    return S_OK;
}

ComPtr<TGstSideTap> TGstSideTap::Open(GstElement* bin, GstElement* tee) {
    GstElement* queue = MakeGstElement("queue");
    GstElement* sink = MakeGstElement("appsink");
    if (!queue || !sink) {
        if (queue) gst_object_unref(gst_object_ref_sink(queue));
        if (sink) gst_object_unref(gst_object_ref_sink(sink));
        return nullptr;
    }
    ComPtr<TGstSideTap> tap(new TGstSideTap);
    // A few frames of slack; what the side pipeline cannot take is dropped here.
    g_object_set(queue, "leaky", 2, "max-size-buffers", 3u, "max-size-bytes", 0u, "max-size-time",
                 guint64(0), nullptr);
    g_object_set(sink, "sync", FALSE, "async", FALSE, "drop", TRUE, "max-buffers", 2u,
                 "enable-last-sample", FALSE, "emit-signals", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink* s, gpointer self) {
        return NewSample(GST_ELEMENT(s), self);
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, tap.Get(), nullptr);
    gst_bin_add_many(GST_BIN(bin), queue, sink, nullptr);
    gst_element_link(queue, sink);
    GstPad* teePad = gst_element_request_pad_simple(tee, "src_%u");
    {
        std::lock_guard lock(tap->lock_);
        tap->bin_ = GST_ELEMENT(gst_object_ref(bin));
        tap->tee_ = GST_ELEMENT(gst_object_ref(tee));
        tap->queue_ = queue;
        tap->sink_ = GST_ELEMENT(gst_object_ref(sink));
        tap->teePad_ = teePad;
    }
    TGstRef<GstPad> queueSink(gst_element_get_static_pad(queue, "sink"));
    if (!teePad || gst_pad_link(teePad, queueSink.get()) != GST_PAD_LINK_OK) {
        tap->Close();
        return nullptr;
    }
    gst_pad_add_probe(teePad,
                      GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                      &TGstSideTap::Gate, tap.Get(), nullptr);
    gst_element_sync_state_with_parent(sink);
    gst_element_sync_state_with_parent(queue);
    return tap;
}

TGstSideTap::~TGstSideTap() {
    Close();
}

void TGstSideTap::Close() {
    GstElement *bin, *tee, *queue, *sink;
    GstPad* teePad;
    {
        // The elements leave the fields first; stopping them below waits for
        // the streaming thread, which may be waiting for this lock.
        std::lock_guard lock(lock_);
        consumers_.clear();
        active_ = false;
        bin = std::exchange(bin_, nullptr);
        tee = std::exchange(tee_, nullptr);
        queue = std::exchange(queue_, nullptr);
        sink = std::exchange(sink_, nullptr);
        teePad = std::exchange(teePad_, nullptr);
    }
    if (!bin) return;
    if (teePad) {
        if (GstPad* peer = gst_pad_get_peer(teePad)) {
            gst_pad_unlink(teePad, peer);
            gst_object_unref(peer);
        }
        gst_element_release_request_pad(tee, teePad);
        gst_object_unref(teePad);
    }
    for (GstElement* e : {queue, sink}) {
        gst_element_set_state(e, GST_STATE_NULL);
        gst_bin_remove(GST_BIN(bin), e);
    }
    gst_object_unref(sink);
    gst_object_unref(tee);
    gst_object_unref(bin);
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
    std::lock_guard lock(lock_);
    if (!sink_) return nullptr;
    TGstRef<GstPad> pad(gst_element_get_static_pad(sink_, "sink"));
    return TGstCapsRef(gst_pad_get_current_caps(pad.get()));
}

TGstRef<GstClock> TGstSideTap::Clock() {
    std::lock_guard lock(lock_);
    return TGstRef<GstClock>(sink_ ? gst_element_get_clock(sink_) : nullptr);
}

GstClockTime TGstSideTap::BaseTime() {
    std::lock_guard lock(lock_);
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
