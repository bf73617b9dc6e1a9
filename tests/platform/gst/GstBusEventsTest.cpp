// Bus messages of the elements inside our filters, as graph events: a capture
// source that loses its device, and a filter announcing a new picture size.
#include "GstTestSupport.h"

#include "platform/gst/GstFilter.h"

#include <gtest/gtest.h>

using namespace gsttest;

namespace {

struct TEvent {
    LONG code;
    LONG_PTR param1, param2;
};

std::vector<TEvent> Drain(IMediaEventEx* events) {
    std::vector<TEvent> out;
    TEvent e;
    while (events->GetEvent(&e.code, &e.param1, &e.param2, 0) == S_OK)
        out.push_back(e);
    return out;
}

// The first element inside a filter's bin (the capture source).
GstElement* SourceOf(IBaseFilter* filter) {
    GstElement* bin = QueryAs<IGstFilter>(filter)->Element();
    GstElement* found = nullptr;
    GstIterator* it = gst_bin_iterate_sources(GST_BIN(bin));
    GValue item = G_VALUE_INIT;
    if (gst_iterator_next(it, &item) == GST_ITERATOR_OK)
        found = GST_ELEMENT(g_value_get_object(&item));
    g_value_unset(&item);
    gst_iterator_free(it);
    return found;
}

} // namespace

TEST(GstBusEvents, ALostDeviceIsAnnouncedWithItsFilterThenTheAbort) {
    ComPtr<IFilterGraph2> graph;
    ASSERT_EQ(S_OK, CreateInstance(CLSID_FilterGraph, graph));
    ComPtr<IBaseFilter> video = BindDevice(CLSID_VideoInputDeviceCategory, "Test Pattern");
    graph->AddFilter(video.Get(), "Video");
    auto events = graph.Query<IMediaEventEx>();
    GstElement* source = SourceOf(video.Get());
    ASSERT_TRUE(source);

    GError* error = g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ, "device gone");
    gst_element_post_message(source, gst_message_new_error(GST_OBJECT(source), error, "unplugged"));
    g_error_free(error);
    auto got = Drain(events.Get());
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ(EC_DEVICE_LOST, got[0].code);
    EXPECT_EQ(1, got[0].param2);
    ComPtr<IBaseFilter> lost = QueryAs<IBaseFilter>(reinterpret_cast<IUnknown*>(got[0].param1));
    EXPECT_EQ(video.Get(), lost.Get());
    EXPECT_EQ(EC_ERRORABORT, got[1].code);
    EXPECT_EQ(VFW_E_NO_CAPTURE_HARDWARE, HRESULT(got[1].param1));
    for (const auto& e : got)
        events->FreeEventParams(e.code, e.param1, e.param2);

    // The elements failing along with it add nothing more.
    error = g_error_new_literal(GST_CORE_ERROR, GST_CORE_ERROR_FAILED, "follow-up");
    gst_element_post_message(source, gst_message_new_error(GST_OBJECT(source), error, nullptr));
    g_error_free(error);
    EXPECT_TRUE(Drain(events.Get()).empty());
}

TEST(GstBusEvents, AfterALostCameraTheRecordingIsStillFinished) {
    TScratchDir dir;
    const std::string file = dir.File("lost.avi");
    TGraph g;
    auto& graph = g.graph;
    auto& builder = g.builder;
    ComPtr<IBaseFilter> video = g.Add(CLSID_VideoInputDeviceCategory, "Test Pattern", "Video");
    ComPtr<IBaseFilter> audio = g.Add(CLSID_AudioInputDeviceCategory, "Test Tone", "Audio");
    ComPtr<IBaseFilter> mux;
    builder->SetOutputFileName(&MEDIASUBTYPE_Avi, file, mux.Put(), nullptr);
    ASSERT_EQ(S_OK, builder->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, video.Get(), nullptr,
                                          mux.Get()));
    ASSERT_EQ(S_OK, builder->RenderStream(nullptr, nullptr, audio.Get(), nullptr, mux.Get()));
    auto control = graph.Query<IMediaControl>();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    PumpFor(500);

    // What a camera source does when its device goes: it reports the read
    // failure and ends its own stream; the sound goes on.
    GstElement* camera = SourceOf(video.Get());
    GError* error = g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ, "device gone");
    gst_element_post_message(camera, gst_message_new_error(GST_OBJECT(camera), error, "unplugged"));
    g_error_free(error);
    gst_element_send_event(camera, gst_event_new_eos());
    PumpFor(300);
    EXPECT_EQ(S_OK, control->Stop());

    const std::string probe = Probe(file);
    EXPECT_EQ(1, CountOf(probe, "codec_type=video")) << probe;
    EXPECT_EQ(1, CountOf(probe, "codec_type=audio")) << probe;
    EXPECT_GT(ProbeDuration(probe), 0.4) << probe;
    EXPECT_EQ("", DecodeErrors(file));
}

TEST(GstBusEvents, APictureSizeMessageBecomesVideoSizeChanged) {
    ComPtr<IFilterGraph2> graph;
    ASSERT_EQ(S_OK, CreateInstance(CLSID_FilterGraph, graph));
    ComPtr<IBaseFilter> video = BindDevice(CLSID_VideoInputDeviceCategory, "Test Pattern");
    graph->AddFilter(video.Get(), "Video");
    GstElement* source = SourceOf(video.Get());
    ASSERT_TRUE(source);
    GstStructure* s = gst_structure_new("kx-video-size", "width", G_TYPE_INT, 352, "height",
                                        G_TYPE_INT, 288, nullptr);
    gst_element_post_message(source, gst_message_new_element(GST_OBJECT(source), s));
    auto got = Drain(graph.Query<IMediaEventEx>().Get());
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(EC_VIDEO_SIZE_CHANGED, got[0].code);
    EXPECT_EQ(352, got[0].param1 & 0xFFFF);
    EXPECT_EQ(288, (got[0].param1 >> 16) & 0xFFFF);
}
