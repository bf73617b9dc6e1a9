#include "platform/gst/GstSidePipeline.h"

#include <algorithm>

TGstFeeder::TGstFeeder(GstElement* source, TGstCapsRef caps)
    : source_(GST_APP_SRC(gst_object_ref(source))) {
    if (caps) {
        gst_app_src_set_caps(source_, caps.get());
        lastCaps_ = caps.release();
    }
}

TGstFeeder::~TGstFeeder() {
    if (lastCaps_) gst_caps_unref(lastCaps_);
    gst_object_unref(source_);
}

void TGstFeeder::Push(GstSample* sample) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstCaps* caps = gst_sample_get_caps(sample);
    const GstSegment* segment = gst_sample_get_segment(sample);
    if (!buffer || !caps) return;
    if (!lastCaps_ || !gst_caps_is_equal(lastCaps_, caps)) {
        gst_app_src_set_caps(source_, caps);
        gst_caps_replace(&lastCaps_, caps);
    }
    GstBuffer* out = gst_buffer_copy(buffer); // shares the memory
    if (segment && GST_BUFFER_PTS_IS_VALID(buffer))
        GST_BUFFER_PTS(out) =
            gst_segment_to_running_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
    GST_BUFFER_DTS(out) = GST_CLOCK_TIME_NONE;
    gst_app_src_push_buffer(source_, out); // never blocks: the source leaks the oldest
}

GstElement* MakeLiveSource(const char* name) {
    GstElement* src = MakeGstElement("appsrc", name);
    if (src)
        g_object_set(src, "is-live", TRUE, "format", GST_FORMAT_TIME, "do-timestamp", FALSE,
                     "max-bytes", guint64(0), "max-time", guint64(GST_SECOND / 2), "leaky-type",
                     2 /* downstream: drop the oldest */, nullptr);
    return src;
}

GstElement* LinkChain(GstElement* pipeline, std::initializer_list<GstElement*> elements) {
    GstElement* prev = nullptr;
    for (GstElement* e : elements) {
        gst_bin_add(GST_BIN(pipeline), e);
        if (prev && !gst_element_link(prev, e)) return nullptr;
        prev = e;
    }
    return prev;
}

bool MakeGstElements(std::initializer_list<std::pair<GstElement**, const char*>> slots) {
    bool all = true;
    for (auto& [slot, factory] : slots)
        all = (*slot = MakeGstElement(factory)) && all;
    if (all) return true;
    for (auto& slot : slots)
        if (GstElement* e = std::exchange(*slot.first, nullptr))
            gst_object_unref(gst_object_ref_sink(e));
    return false;
}

TTapVideo TapVideo(TGstSideTap& tap) {
    TTapVideo v;
    TGstCapsRef caps = tap.CurrentCaps();
    if (!caps || gst_caps_get_size(caps.get()) == 0) return v;
    const GstStructure* s = gst_caps_get_structure(caps.get(), 0);
    int num = 0, den = 1;
    gst_structure_get_int(s, "width", &v.Width);
    gst_structure_get_int(s, "height", &v.Height);
    if (gst_structure_get_fraction(s, "framerate", &num, &den) && num > 0 && den > 0)
        v.FpsNum = num, v.FpsDen = den;
    return v;
}

TFrameRate EncodeRate(const TTapVideo& capture) {
    if (capture.FpsNum > 0 && capture.FpsDen > 0) return {capture.FpsNum, capture.FpsDen};
    return {};
}

int TFrameRate::FramesIn(int seconds) const {
    return std::max(1, int((int64_t(seconds) * Num + Den - 1) / Den));
}

void FitPictureSize(int width, int height, int maxWidth, int maxHeight, int& outWidth,
                    int& outHeight) {
    if (width <= 0 || height <= 0) {
        width = maxWidth;
        height = maxHeight;
    }
    const double scale = std::min({1.0, double(maxWidth) / width, double(maxHeight) / height});
    outWidth = std::max(2, int(width * scale) & ~1);
    outHeight = std::max(2, int(height * scale) & ~1);
}

GstElement* AddPictureChain(GstElement* pipeline, GstElement* source, int width, int height,
                            int fps, int fpsDen) {
    gst_bin_add(GST_BIN(pipeline), source);
    GstElement *rate, *scale, *convert, *caps;
    if (!MakeGstElements({{&rate, "videorate"},
                          {&scale, "videoscale"},
                          {&convert, "videoconvert"},
                          {&caps, "capsfilter"}}))
        return nullptr;
    TGstCapsRef frame(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", "width",
                                          G_TYPE_INT, width, "height", G_TYPE_INT, height,
                                          "framerate", GST_TYPE_FRACTION, fps, fpsDen,
                                          "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr));
    g_object_set(caps, "caps", frame.get(), nullptr);
    // A run that starts long after the capture begins at the first frame it
    // gets, not with copies of it back to the capture's start.
    g_object_set(rate, "skip-to-first", TRUE, nullptr);
    return LinkChain(pipeline, {rate, scale, convert, caps}) && gst_element_link(source, rate)
               ? caps
               : nullptr;
}

void FollowCaptureClock(GstElement* pipeline, TGstSideTap& tap, GstClock* clock) {
    gst_pipeline_use_clock(GST_PIPELINE(pipeline), clock);
    gst_element_set_start_time(pipeline, GST_CLOCK_TIME_NONE);
    gst_element_set_base_time(pipeline, tap.BaseTime());
}

void DropLooseElement(GstElement* element) {
    if (element && !GST_OBJECT_PARENT(element)) gst_object_unref(gst_object_ref_sink(element));
}

GstElement* AddWebmEncoding(GstElement* pipeline, GstElement* video, GstElement* audio,
                            const TSideEncoding& encoding) {
    if (audio) gst_bin_add(GST_BIN(pipeline), audio);
    GstElement* last = AddPictureChain(pipeline, video, encoding.Width, encoding.Height,
                                       encoding.Fps, encoding.FpsDen);
    GstElement *venc, *vqueue, *mux;
    if (!last || !MakeGstElements({{&venc, "vp8enc"}, {&vqueue, "queue"}, {&mux, "webmmux"}}))
        return nullptr;
    g_object_set(venc, "deadline", gint64(1), "cpu-used", 8, "threads", 1, "lag-in-frames", 0,
                 "end-usage", 1 /* cbr */, "target-bitrate", encoding.VideoBitRate,
                 "keyframe-max-dist",
                 std::max(1, (encoding.Fps + encoding.FpsDen - 1) / encoding.FpsDen), nullptr);
    g_object_set(mux, "streamable", TRUE, nullptr);
    gst_bin_add(GST_BIN(pipeline), mux);
    if (!LinkChain(pipeline, {venc, vqueue}) || !gst_element_link(last, venc) ||
        !gst_element_link_pads(vqueue, "src", mux, "video_%u"))
        return nullptr;
    if (!audio) return mux;
    GstElement *convert, *resample, *aenc, *aqueue;
    if (!MakeGstElements({{&convert, "audioconvert"},
                          {&resample, "audioresample"},
                          {&aenc, "vorbisenc"},
                          {&aqueue, "queue"}}))
        return nullptr;
    g_object_set(aenc, "quality", 0.1f, nullptr);
    if (!LinkChain(pipeline, {convert, resample, aenc, aqueue}) ||
        !gst_element_link(audio, convert) || !gst_element_link_pads(aqueue, "src", mux, "audio_%u"))
        return nullptr;
    return mux;
}

void TSidePipelineRun::CountAt(GstElement* sink) {
    auto count = [](GstPad*, GstPadProbeInfo* info, gpointer data) {
        auto* run = static_cast<TSidePipelineRun*>(data);
        uint64_t size = 0;
        if (GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
            buffer && (info->type & GST_PAD_PROBE_TYPE_BUFFER))
            size = gst_buffer_get_size(buffer);
        else if (GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info))
            size = gst_buffer_list_calculate_size(list);
        // A buffer reaches here before the sink takes it; the one before it was taken.
        run->Bytes += run->Pending;
        run->Pending = size;
        return GST_PAD_PROBE_OK;
    };
    TGstRef<GstPad> pad(gst_element_get_static_pad(sink, "sink"));
    gst_pad_add_probe(pad.get(),
                      GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                      count, this, nullptr);
}

void TSidePipelineRun::StartFeeding(TGstSideTap& videoTap, TGstSideTap* audioTap) {
    TGstFeeder* video = Video.get();
    VideoConsumer = videoTap.AddConsumer([video](GstSample* s) { video->Push(s); });
    if (audioTap && Audio) {
        TGstFeeder* audio = Audio.get();
        AudioConsumer = audioTap->AddConsumer([audio](GstSample* s) { audio->Push(s); });
    }
}

void TSidePipelineRun::Stop(TGstSideTap* videoTap, TGstSideTap* audioTap) {
    if (videoTap && VideoConsumer) videoTap->RemoveConsumer(VideoConsumer);
    if (audioTap && AudioConsumer) audioTap->RemoveConsumer(AudioConsumer);
    VideoConsumer = AudioConsumer = 0;
    if (Pipeline) {
        TGstRef<GstBus> bus(gst_element_get_bus(Pipeline));
        gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
        gst_element_set_state(Pipeline, GST_STATE_NULL);
        gst_object_unref(Pipeline);
        Pipeline = nullptr;
    }
}
